#include "app/data_button.h"

#include "app/guard.h"

namespace mirestal {

DataButton::DataButton(QWidget* parent) : QPushButton(parent) {
  setCursor(Qt::PointingHandCursor);
  connect(this, &QPushButton::clicked, this, &DataButton::Press);
}

void DataButton::Bind(TTableDataSet* dataset, Dialogs* dialogs, DataAction action,
                      unsigned disable_reasons) {
  dataset_ = dataset;
  dialogs_ = dialogs;
  action_ = action;
  reasons_ = disable_reasons;
  UpdateEnabled();
}

void DataButton::SetRepeating(bool on) {
  setAutoRepeat(on);
  setAutoRepeatDelay(400);
  setAutoRepeatInterval(100);
}

void DataButton::UpdateEnabled() {
  if (!dataset_) return;
  setEnabled(DataButtonEnabled(reasons_, DataConditions(*dataset_)));
}

void DataButton::Press() {
  if (!dataset_ || !dialogs_) return;
  if (before_ && RunGuarded(*dialogs_, before_) != GuardResult::kDone) return;
  if (handler_ && RunGuarded(*dialogs_, handler_) != GuardResult::kDone) return;
  RunGuarded(*dialogs_, [this] { PerformDataAction(*dataset_, action_); });
}

}  // namespace mirestal
