// Mirestal: the main window on the desktop.
#include <QApplication>
#include <memory>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "import/spreadsheet_adapter.h"
#include "platform/automation.h"

int main(int argc, char** argv) {
  // Automation (the spreadsheet application that converts workbooks) for the whole run.
  mirestal::ScopedAutomationInit automation;
  mirestal::RegisterSpreadsheetAdapter();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(mirestal::kApplicationTitle));
  mirestal::QtDialogs dialogs;
  int status = 0;
  {
    mirestal::TFormMain::Options options;
    options.dialogs = &dialogs;
    // School IT staff reach the maintenance mode with this start option.
    options.maintenance = QApplication::arguments().contains(QStringLiteral("--maintenance"));
    // The window (and with it the camera objects) ends before the application object.
    auto window = std::make_unique<mirestal::TFormMain>(std::move(options));
    dialogs.SetParent(window.get());
    // Fixed to the work area before it is shown, so the window manager frames a window that
    // cannot be resized; once framed, it is fitted again by its frame.
    window->FitToWorkArea();
    window->show();
    status = QApplication::exec();
  }
  return status;
}
