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

// Runs a data-link notice, which the dataset sends from inside its own operations and from the
// destructors of scopes that suspend the bound controls, often while an error unwinds: nothing
// may leave it. A silent stop ends it quietly; any other error goes to `report` (which should
// show it once the event loop is back).
void RunNoticeGuarded(const std::function<void()>& notice,
                      const std::function<void(const std::string&)>& report);

// The general error report's text: the message with "." appended when its last byte sorts
// after "." (a multi-byte last character counts by its bytes, which all do).
QString ErrorReportText(const std::string& message_utf8);
// Shows the general error report: ErrorReportText, application title, flags 16.
void ShowErrorReport(Dialogs& dialogs, const std::string& message_utf8);

}  // namespace mirestal
