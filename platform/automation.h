// Late-bound automation: an object made by programmatic identifier whose members are reached by
// name with positional arguments, as a spreadsheet application is driven to convert a workbook.
//
// On Windows the objects are COM servers reached through IDispatch. Elsewhere (and in tests) a
// server is whatever factory was registered for the identifier with RegisterAutoServer; the
// Linux build registers its own adapter for the spreadsheet application.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace mirestal {

class AutoObject;

// The kinds of value that cross an automation call. Texts are UTF-8.
enum class AutoKind {
  kEmpty,    // no value (a call without a result)
  kText,     // BSTR; by reference when `by_ref` (the callee may change it; copied back)
  kInt,      // 32-bit integer (VT_I4)
  kBool,     // VARIANT_BOOL (true is -1 on the wire)
  kObject,   // another automation object (IDispatch)
};

struct AutoValue {
  AutoKind kind = AutoKind::kEmpty;
  std::string text;
  bool by_ref = false;
  int32_t int_value = 0;
  bool bool_value = false;
  std::shared_ptr<AutoObject> object;

  static AutoValue Text(std::string value) { return {AutoKind::kText, std::move(value)}; }
  static AutoValue TextRef(std::string value) {
    AutoValue v{AutoKind::kText, std::move(value)};
    v.by_ref = true;
    return v;
  }
  static AutoValue Int(int32_t value) {
    AutoValue v{AutoKind::kInt};
    v.int_value = value;
    return v;
  }
  static AutoValue Bool(bool value) {
    AutoValue v{AutoKind::kBool};
    v.bool_value = value;
    return v;
  }
  static AutoValue Object(std::shared_ptr<AutoObject> value) {
    AutoValue v{AutoKind::kObject};
    v.object = std::move(value);
    return v;
  }
  bool IsObject() const { return kind == AutoKind::kObject && object != nullptr; }
};
using AutoArg = AutoValue;

// Invoke flags, with the values the platform's IDispatch::Invoke takes.
enum class AutoInvoke : uint16_t {
  kMethod = 1,         // call; the result is not kept
  kPropertyGet = 2,    // get with an index argument
  kMethodOrGet = 3,    // get without arguments
  kPropertyPut = 4,    // put: one argument, passed as the named DISPID_PROPERTYPUT argument
};

// A failed call. what() is the server's exception text when it supplied one, otherwise a
// description of the failure (UTF-8).
class AutomationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The object could not be created: no server is installed or registered for the identifier.
class AutomationCreateError : public AutomationError {
 public:
  using AutomationError::AutomationError;
};

class AutoObject {
 public:
  virtual ~AutoObject() = default;
  // Looks `member` up by name and invokes it with `args` in positional order (first argument
  // first). Text arguments passed by reference are updated in `args` after the call. Throws
  // AutomationError when the name is unknown or the call fails.
  virtual AutoValue Invoke(const std::string& member, AutoInvoke flags,
                           std::vector<AutoArg>& args) = 0;

  AutoValue Invoke(const std::string& member, AutoInvoke flags) {
    std::vector<AutoArg> none;
    return Invoke(member, flags, none);
  }
};

using AutoServerFactory = std::function<std::unique_ptr<AutoObject>()>;

// Makes CreateAutoObject(prog_id) answer with the factory's objects, ahead of the platform's own
// servers (identifiers compare without regard to ASCII case). An empty factory removes the
// registration. A factory may throw AutomationCreateError.
void RegisterAutoServer(const std::string& prog_id, AutoServerFactory factory);

// Creates the object registered for `prog_id`, else (Windows) the COM server of that
// programmatic identifier. Throws AutomationCreateError when there is none.
std::shared_ptr<AutoObject> CreateAutoObject(const std::string& prog_id);

// Initialises automation for the calling thread for its lifetime (COM on Windows; nothing
// elsewhere). The program holds one around its whole run.
class ScopedAutomationInit {
 public:
  ScopedAutomationInit();
  ~ScopedAutomationInit();
  ScopedAutomationInit(const ScopedAutomationInit&) = delete;
  ScopedAutomationInit& operator=(const ScopedAutomationInit&) = delete;

 private:
  bool initialised_ = false;
};

}  // namespace mirestal
