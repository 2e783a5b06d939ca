// A push button bound to the roster dataset with a table action and a set of disable reasons.
// A click runs the button's handler first (through the guard) and then the action, unless the
// handler ended with a silent stop or an error.
#pragma once

#include <QPushButton>
#include <functional>

#include "core/roster_session.h"

namespace mirestal {

class Dialogs;

class DataButton : public QPushButton {
  Q_OBJECT

 public:
  explicit DataButton(QWidget* parent = nullptr);

  // Must be called before the first click.
  void Bind(TTableDataSet* dataset, Dialogs* dialogs, DataAction action, unsigned disable_reasons);
  void SetHandler(std::function<void()> handler) { handler_ = std::move(handler); }
  // Runs first on every press, before the handler and the action.
  void SetBeforePress(std::function<void()> before) { before_ = std::move(before); }
  // Held down, the button repeats its click after 400 ms and then every 100 ms.
  void SetRepeating(bool on);

  DataAction action() const { return action_; }
  unsigned disable_reasons() const { return reasons_; }

  // Enables the button exactly when none of its disable reasons holds now.
  void UpdateEnabled();
  // The click: handler, then the table action.
  void Press();

 private:
  TTableDataSet* dataset_ = nullptr;
  Dialogs* dialogs_ = nullptr;
  DataAction action_ = DataAction::kFirst;
  unsigned reasons_ = 0;
  std::function<void()> handler_;
  std::function<void()> before_;
};

}  // namespace mirestal
