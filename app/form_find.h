// The find dialog: a small window above the main window that keeps its field list, search text
// and choices between searches. Created hidden at start-up; opening a roster hides it and
// refills its field list.
#pragma once

#include <QDialog>
#include <functional>
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

  // The search text as typed, the match mode (0 exact, 1 prefix, 2 contains) and the direction
  // (0 from the first record, 1 from the record after the current one).
  QString SearchText() const;
  int MatchMode() const;
  int Direction() const;

  // The search itself belongs to the main window, which owns the roster.
  void SetFindHandler(std::function<void()> handler) { find_handler_ = std::move(handler); }
  void UiBitBtnFindClick();
  void UiBitBtnCloseClick();

  Ui::TFormFind* ui() const { return ui_.get(); }

 private:
  std::unique_ptr<Ui::TFormFind> ui_;
  std::function<void()> find_handler_;
};

}  // namespace mirestal
