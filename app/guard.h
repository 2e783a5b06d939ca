// The guard every event handler of the windows runs through. A handler ends in one of three
// ways: normally, with a silent stop (nothing shown), or with an error, which is shown as the
// general error report. Nothing escapes into Qt's event loop.
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <string>

namespace mirestal {

class Dialogs;

// Ends a command early without any message. On a data button it also cancels the button's
// table action.
class ESilentStop : public std::exception {
 public:
  const char* what() const noexcept override { return "silent stop"; }
};

// Throws ESilentStop.
[[noreturn]] void SilentStop();

enum class GuardResult { kDone, kSilentStop, kError };

// Runs `handler`; an error other than a silent stop is shown with ShowErrorReport.
GuardResult RunGuarded(Dialogs& dialogs, const std::function<void()>& handler);

// The general error report's text: the message with "." appended when its last byte sorts
// after "." (a multi-byte last character counts by its bytes, which all do).
QString ErrorReportText(const std::string& message_utf8);
// Shows the general error report: ErrorReportText, application title, flags 16.
void ShowErrorReport(Dialogs& dialogs, const std::string& message_utf8);

}  // namespace mirestal
