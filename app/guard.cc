#include "app/guard.h"

#include "app/dialogs.h"
#include "app/gbk_qt.h"

namespace mirestal {

void SilentStop() { throw ESilentStop(); }

QString ErrorReportText(const std::string& message_utf8) {
  std::string text = message_utf8;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return Utf8ToQString(text);
}

void ShowErrorReport(Dialogs& dialogs, const std::string& message_utf8) {
  dialogs.MessageBox(ErrorReportText(message_utf8), QString::fromUtf8(kApplicationTitle), kMbStop);
}

GuardResult RunGuarded(Dialogs& dialogs, const std::function<void()>& handler) {
  try {
    handler();
    return GuardResult::kDone;
  } catch (const ESilentStop&) {
    return GuardResult::kSilentStop;
  } catch (const std::exception& e) {
    try {
      ShowErrorReport(dialogs, e.what());
    } catch (...) {  // a report that cannot be shown must not take the event loop down
    }
    return GuardResult::kError;
  } catch (...) {
    try {
      ShowErrorReport(dialogs, "Unknown error");
    } catch (...) {
    }
    return GuardResult::kError;
  }
}

void RunNoticeGuarded(const std::function<void()>& notice,
                      const std::function<void(const std::string&)>& report) {
  try {
    notice();
  } catch (const ESilentStop&) {
  } catch (const std::exception& e) {
    try {
      report(e.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      report("Unknown error");
    } catch (...) {
    }
  }
}

}  // namespace mirestal
