// The find dialog: a small window above the main window that keeps its field list, search text
// and choices between searches. Created hidden at start-up; opening a roster hides it and
// refills its field list.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class TFormFind;
}

namespace mirestal {

class TFormFind : public QDialog {
  Q_OBJECT

 public:
  explicit TFormFind(QWidget* parent = nullptr);
  ~TFormFind() override;

  // Field names (UTF-8) in table order; `selected` is the entry to select.
  void FillFieldList(const std::vector<std::string>& names, int selected);
  QStringList FieldList() const;
  int SelectedField() const;

  void UiBitBtnCloseClick();

  Ui::TFormFind* ui() const { return ui_.get(); }

 private:
  std::unique_ptr<Ui::TFormFind> ui_;
};

}  // namespace mirestal
