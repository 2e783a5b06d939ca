#include "app/form_import_photos.h"

#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidgetItem>

#include "app/gbk_qt.h"
#include "core/window_texts.h"
#include "ui_form_import_photos.h"

namespace mirestal {
namespace {

enum Column { kPicture, kFile, kStudent, kCrop, kOutcome, kColumns };

// The thumbnail with the crop drawn on it in red.
QPixmap Thumbnail(const ImportPicture& p) {
  const Bitmap& t = p.thumbnail;
  if (t.empty()) return {};
  QImage image(t.pixels.data(), t.width, t.height, t.width * 3, QImage::Format_RGB888);
  QPixmap pixmap = QPixmap::fromImage(image.copy());
  if (p.framed && p.height > 0) {
    const double s = static_cast<double>(t.height) / p.height;
    QPainter painter(&pixmap);
    painter.setPen(QPen(Qt::red, 2));
    painter.drawRect(QRectF(p.crop.x * s, p.crop.y * s, p.crop.w * s, p.crop.h * s).adjusted(1, 1, -1, -1));
  }
  return pixmap;
}

}  // namespace

TFormImportPhotos::TFormImportPhotos(const QString& folder, std::vector<ImportPicture>& pictures,
                                     const std::vector<RosterStudent>& students,
                                     const StudentMatcher& matcher,
                                     std::function<void(const std::vector<int>&)> redecide,
                                     QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::TFormImportPhotos>()),
      pictures_(pictures),
      students_(students),
      matcher_(matcher),
      redecide_(std::move(redecide)) {
  ui_->setupUi(this);
  ui_->UiLabelFolder->setText(folder);
  ui_->UiLabelHint->setText(QString::fromUtf8(kImportHint));
  QTableWidget* grid = ui_->UiGridPictures;
  grid->setColumnCount(kColumns);
  grid->setHorizontalHeaderLabels({QString::fromUtf8(kImportColumnPicture), QString::fromUtf8(kImportColumnFile),
                                   QString::fromUtf8(kImportColumnStudent), QString::fromUtf8(kImportColumnCrop),
                                   QString::fromUtf8(kImportColumnOutcome)});
  grid->verticalHeader()->setVisible(false);
  grid->setIconSize(QSize(kImportThumbnailHeight * 4 / 3, kImportThumbnailHeight));
  grid->horizontalHeader()->setStretchLastSection(true);
  grid->setColumnWidth(kPicture, kImportThumbnailHeight * 4 / 3 + 8);
  grid->setColumnWidth(kFile, 170);
  grid->setColumnWidth(kStudent, 190);
  grid->setColumnWidth(kCrop, 150);
  Fill();
  connect(grid, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (filling_ || done_) return;
    if (item->column() == kStudent) StudentEdited(item->row());
    if (item->column() == kFile) UpdateSummary();
  });
  connect(ui_->UiBitBtnStore, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->UiBitBtnClose, &QPushButton::clicked, this, &QDialog::reject);
}

TFormImportPhotos::~TFormImportPhotos() = default;

void TFormImportPhotos::Fill() {
  QTableWidget* grid = ui_->UiGridPictures;
  filling_ = true;
  grid->setRowCount(static_cast<int>(pictures_.size()));
  for (int row = 0; row < grid->rowCount(); ++row) {
    for (int c = 0; c < kColumns; ++c) {
      auto* item = new QTableWidgetItem();
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      grid->setItem(row, c, item);
    }
    grid->item(row, kPicture)->setData(Qt::DecorationRole, Thumbnail(pictures_[static_cast<size_t>(row)]));
    grid->item(row, kFile)->setText(Utf8ToQString(pictures_[static_cast<size_t>(row)].name));
    grid->setRowHeight(row, kImportThumbnailHeight + 6);
    FillRow(row);
  }
  filling_ = false;
  UpdateSummary();
}

void TFormImportPhotos::FillRow(int row) {
  const ImportPicture& p = pictures_.at(static_cast<size_t>(row));
  QTableWidget* grid = ui_->UiGridPictures;
  const bool was_filling = filling_;
  filling_ = true;
  QTableWidgetItem* file = grid->item(row, kFile);
  if (done_) {
    file->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    file->setData(Qt::CheckStateRole, QVariant());
  } else if (WillStore(p)) {
    file->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    file->setCheckState(Qt::Checked);
  } else {
    file->setFlags(Qt::ItemIsSelectable);
    file->setCheckState(Qt::Unchecked);
  }
  QTableWidgetItem* student = grid->item(row, kStudent);
  student->setText(Utf8ToQString(StudentText(p, students_)));
  // A picture that names no one, or shares a student, is where the operator types.
  const bool editable = !done_ && !p.outside_link && p.regular && p.outcome != ImportOutcome::kNotPicture;
  student->setFlags(editable ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable
                             : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  grid->item(row, kCrop)->setText(Utf8ToQString(CropText(p)));
  QTableWidgetItem* outcome = grid->item(row, kOutcome);
  outcome->setText(Utf8ToQString(OutcomeText(p, pictures_, done_)));
  const bool good = p.outcome == ImportOutcome::kStored;
  outcome->setForeground(good ? QColor(0, 128, 0) : p.outcome == ImportOutcome::kHasPhoto ? QColor(80, 80, 80)
                                                                                         : QColor(200, 0, 0));
  filling_ = was_filling;
}

void TFormImportPhotos::StudentEdited(int row) {
  const QString text = ui_->UiGridPictures->item(row, kStudent)->text();
  // The pictures whose claim changes: this one, and those that shared a student with it before
  // or share one now.
  std::vector<int> before;
  for (const ImportPicture& p : pictures_) before.push_back(p.duplicate_of);
  AssignStudent(pictures_, row, QStringToUtf8(text).c_str(), matcher_);
  std::vector<int> changed{row};
  for (int i = 0; i < static_cast<int>(pictures_.size()); ++i) {
    if (i != row && (before[static_cast<size_t>(i)] >= 0) != (pictures_[static_cast<size_t>(i)].duplicate_of >= 0)) {
      changed.push_back(i);
    }
  }
  if (redecide_) redecide_(changed);
  for (int i : changed) FillRow(i);
  UpdateSummary();
}

void TFormImportPhotos::UpdateSummary() {
  if (done_) {
    ui_->UiLabelSummary->setText(Utf8ToQString(ImportSummaryText(pictures_)));
    return;
  }
  ui_->UiLabelSummary->setText(
      QString::fromUtf8(kImportWillStore).arg(static_cast<int>(Accepted().size())));
}

std::vector<int> TFormImportPhotos::Accepted() const {
  std::vector<int> out;
  for (int row = 0; row < ui_->UiGridPictures->rowCount(); ++row) {
    if (WillStore(pictures_.at(static_cast<size_t>(row))) &&
        ui_->UiGridPictures->item(row, kFile)->checkState() == Qt::Checked) {
      out.push_back(row);
    }
  }
  return out;
}

void TFormImportPhotos::ShowResults() {
  done_ = true;
  setWindowTitle(QString::fromUtf8(kImportDoneTitle));
  ui_->UiLabelHint->hide();
  ui_->UiBitBtnStore->hide();
  ui_->UiBitBtnClose->setText(QString::fromUtf8(kImportClose));
  ui_->UiBitBtnClose->setDefault(true);
  for (int row = 0; row < ui_->UiGridPictures->rowCount(); ++row) FillRow(row);
  UpdateSummary();
}

}  // namespace mirestal
