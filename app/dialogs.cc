#include "app/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace mirestal {
namespace {

QString ForDisplay(QString text) { return text.replace(QLatin1Char('\r'), QLatin1Char('\n')); }

QString WithDefaultExtension(const QString& path, const QString& extension) {
  if (extension.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
  return path + QLatin1Char('.') + extension;
}

}  // namespace

QStringList QtNameFilters(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString pattern = parts[i + 1];
    out << parts[i] + QStringLiteral(" (") + pattern.replace(QLatin1Char(';'), QLatin1Char(' ')) +
               QLatin1Char(')');
  }
  return out;
}

// --- QtDialogs ---

QWidget* QtDialogs::Owner() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (!parent_) return nullptr;
  for (QWidget* child : parent_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->isWindow() && child->isVisible() &&
        child->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
      return child;
    }
  }
  return parent_;
}

void QtDialogs::ShowMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), ForDisplay(text),
                  QMessageBox::Ok, Owner());
  box.exec();
}

int QtDialogs::MessageBox(const QString& text, const QString& caption, int flags) {
  const int buttons = flags & 0x0F;
  const int icon = flags & 0xF0;
  const bool second_default = (flags & 0x100) != 0;
  QMessageBox box(Owner());
  box.setWindowTitle(caption);
  box.setText(ForDisplay(text));
  box.setIcon(icon == 0x10   ? QMessageBox::Critical
              : icon == 0x30 ? QMessageBox::Warning
              : icon == 0x40 ? QMessageBox::Information
              : icon == 0x20 ? QMessageBox::Question
                             : QMessageBox::NoIcon);
  if (buttons == 4) {  // Yes and No
    QPushButton* yes = box.addButton(QMessageBox::Yes);
    QPushButton* no = box.addButton(QMessageBox::No);
    box.setDefaultButton(second_default ? no : yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? kIdYes : kIdNo;
  }
  box.addButton(QMessageBox::Ok);
  box.exec();
  return kIdOk;
}

std::optional<QString> QtDialogs::OpenFile(const FileDialogSpec& spec) {
  QFileDialog dialog(Owner(), spec.title, spec.initial_folder);
  dialog.setFileMode(QFileDialog::AnyFile);  // a typed name that does not exist is still taken
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters(QtNameFilters(spec.filter));
  dialog.setDefaultSuffix(spec.default_extension);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QFileInfo(WithDefaultExtension(dialog.selectedFiles().first(), spec.default_extension))
      .absoluteFilePath();
}

std::optional<QString> QtDialogs::SaveFile(const FileDialogSpec& spec) {
  QFileDialog dialog(Owner(), spec.title, spec.initial_folder);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  // The commands ask their own question about an existing file.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (!spec.file_name.isEmpty()) {
    dialog.setDirectory(QFileInfo(spec.file_name).absolutePath());
    dialog.selectFile(spec.file_name);
  }
  dialog.setNameFilters(QtNameFilters(spec.filter));
  dialog.setDefaultSuffix(spec.default_extension);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

std::optional<QString> QtDialogs::ChooseFolder(const QString& title) {
  QFileDialog dialog(Owner(), title);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

std::optional<int> QtDialogs::Choose(const ChoiceSpec& spec) {
  bool ok = false;
  const QString chosen =
      QInputDialog::getItem(Owner(), spec.title, spec.label, spec.items, spec.current, false, &ok);
  if (!ok) return std::nullopt;
  const qsizetype index = spec.items.indexOf(chosen);
  if (index < 0) return std::nullopt;
  return static_cast<int>(index);
}

// --- ScriptedDialogs ---

QStringList ScriptedDialogs::Texts() const {
  QStringList out;
  for (const Shown& s : log_) {
    if (s.kind == Kind::kMessage || s.kind == Kind::kMessageBox) out << s.text;
  }
  return out;
}

void ScriptedDialogs::ShowMessage(const QString& text) {
  log_.push_back({Kind::kMessage, text, QString::fromUtf8(kApplicationTitle), kMbOk});
}

int ScriptedDialogs::MessageBox(const QString& text, const QString& caption, int flags) {
  log_.push_back({Kind::kMessageBox, text, caption, flags});
  if ((flags & 0x0F) == 0) return kIdOk;  // an OK-only box needs no answer
  if (answers_.empty()) {
    unexpected_ << QStringLiteral("message box: ") + text;
    return kIdNo;
  }
  const int answer = answers_.front();
  answers_.pop_front();
  return answer;
}

std::optional<QString> ScriptedDialogs::OpenFile(const FileDialogSpec& spec) {
  log_.push_back({Kind::kOpenFile, spec.title, spec.filter, 0});
  if (files_.empty()) {
    unexpected_ << QStringLiteral("open dialog");
    return std::nullopt;
  }
  std::optional<QString> path = files_.front();
  files_.pop_front();
  if (path) *path = QFileInfo(WithDefaultExtension(*path, spec.default_extension)).absoluteFilePath();
  return path;
}

std::optional<QString> ScriptedDialogs::SaveFile(const FileDialogSpec& spec) {
  log_.push_back({Kind::kSaveFile, spec.title, spec.filter, 0, spec.file_name});
  if (files_.empty()) {
    unexpected_ << QStringLiteral("save dialog");
    return std::nullopt;
  }
  std::optional<QString> path = files_.front();
  files_.pop_front();
  return path;
}

std::optional<QString> ScriptedDialogs::ChooseFolder(const QString& title) {
  log_.push_back({Kind::kFolder, title, {}, 0});
  if (files_.empty()) {
    unexpected_ << QStringLiteral("folder dialog");
    return std::nullopt;
  }
  std::optional<QString> path = files_.front();
  files_.pop_front();
  return path;
}

std::optional<int> ScriptedDialogs::Choose(const ChoiceSpec& spec) {
  log_.push_back({Kind::kChoice, spec.title, spec.label, 0});
  if (choices_.empty()) {
    unexpected_ << QStringLiteral("choice: ") + spec.title;
    return std::nullopt;
  }
  std::optional<int> index = choices_.front();
  choices_.pop_front();
  if (index && (*index < 0 || *index >= spec.items.size())) return std::nullopt;
  return index;
}

}  // namespace mirestal
