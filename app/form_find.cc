#include "app/form_find.h"

#include "app/gbk_qt.h"
#include "ui_form_find.h"

namespace mirestal {

TFormFind::TFormFind(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ui_(std::make_unique<Ui::TFormFind>()) {
  ui_->setupUi(this);
  setFixedSize(size());
  setModal(false);
  connect(ui_->UiBitBtnFind, &QPushButton::clicked, this, &TFormFind::UiBitBtnFindClick);
  connect(ui_->UiBitBtnClose, &QPushButton::clicked, this, &TFormFind::UiBitBtnCloseClick);
}

TFormFind::~TFormFind() = default;

void TFormFind::FillFieldList(const std::vector<std::string>& names, int selected) {
  ui_->ComboBoxField->clear();
  for (const std::string& name : names) ui_->ComboBoxField->addItem(Utf8ToQString(name));
  if (!names.empty()) ui_->ComboBoxField->setCurrentIndex(selected);
}

QStringList TFormFind::FieldList() const {
  QStringList out;
  for (int i = 0; i < ui_->ComboBoxField->count(); ++i) out << ui_->ComboBoxField->itemText(i);
  return out;
}

int TFormFind::SelectedField() const { return ui_->ComboBoxField->currentIndex(); }

QString TFormFind::SearchText() const { return ui_->EditContext->text(); }

int TFormFind::MatchMode() const {
  if (ui_->RadioMatch1->isChecked()) return 1;
  if (ui_->RadioMatch2->isChecked()) return 2;
  return 0;
}

int TFormFind::Direction() const { return ui_->RadioDirection1->isChecked() ? 1 : 0; }

void TFormFind::UiBitBtnFindClick() {
  if (find_handler_) find_handler_();
}

void TFormFind::UiBitBtnCloseClick() { hide(); }

}  // namespace mirestal
