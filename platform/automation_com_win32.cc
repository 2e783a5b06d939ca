// Automation through COM: objects made with CoCreateInstance from a programmatic identifier and
// called late-bound through IDispatch (GetIDsOfNames, then Invoke with locale 0).
#include <objbase.h>
#include <oleauto.h>

#include "platform/automation_com_win32.h"
#include "platform/win32_util.h"

namespace mirestal {
namespace {

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p) : p_(p) {}  // takes over the reference
  ~ComPtr() { Reset(); }
  ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      Reset();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** Receive() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// Owns a VARIANT (cleared, with whatever it holds, on destruction).
class ScopedVariant {
 public:
  ScopedVariant() { ::VariantInit(&v_); }
  ~ScopedVariant() { ::VariantClear(&v_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &v_; }
  const VARIANT& operator*() const { return v_; }

 private:
  VARIANT v_;
};

// Owns a BSTR; `address()` lets a by-reference argument point at it, so that a text the server
// puts in its place is freed as well.
class ScopedBstr {
 public:
  explicit ScopedBstr(const std::string& utf8) {
    std::wstring w = win32::Widen(utf8);
    b_ = ::SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  }
  ~ScopedBstr() { ::SysFreeString(b_); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* address() { return &b_; }

 private:
  BSTR b_ = nullptr;
};

// Owns the texts of an EXCEPINFO filled in by a failing Invoke.
class ScopedExcepInfo {
 public:
  ScopedExcepInfo() : e_{} {}
  ~ScopedExcepInfo() {
    ::SysFreeString(e_.bstrSource);
    ::SysFreeString(e_.bstrDescription);
    ::SysFreeString(e_.bstrHelpFile);
  }
  ScopedExcepInfo(const ScopedExcepInfo&) = delete;
  ScopedExcepInfo& operator=(const ScopedExcepInfo&) = delete;
  EXCEPINFO* get() { return &e_; }

  std::string Description() {
    if (e_.pfnDeferredFillIn) e_.pfnDeferredFillIn(&e_);
    if (!e_.bstrDescription) return {};
    return win32::Narrow(std::wstring_view(e_.bstrDescription, ::SysStringLen(e_.bstrDescription)));
  }
  HRESULT Code() const { return e_.scode ? e_.scode : e_.wCode; }

 private:
  EXCEPINFO e_;
};

std::string HresultText(HRESULT hr) { return win32::ErrorText(static_cast<DWORD>(hr)); }

// The arguments of one Invoke, in the reverse order that DISPPARAMS wants. Texts by reference
// point at BSTRs owned here, which CopyBack reads after the call.
class InvokeArgs {
 public:
  explicit InvokeArgs(const std::vector<AutoArg>& args) : variants_(args.size()) {
    const size_t n = args.size();
    texts_.resize(n);
    for (size_t i = 0; i < n; ++i) {
      const AutoArg& a = args[i];
      VARIANT& v = variants_[n - 1 - i];
      ::VariantInit(&v);
      switch (a.kind) {
        case AutoKind::kText:
          texts_[i] = std::make_unique<ScopedBstr>(a.text);
          if (a.by_ref) {
            v.vt = VT_BSTR | VT_BYREF;
            v.pbstrVal = texts_[i]->address();
          } else {
            v.vt = VT_BSTR;
            v.bstrVal = texts_[i]->get();
          }
          break;
        case AutoKind::kInt:
          v.vt = VT_I4;
          v.lVal = a.int_value;
          break;
        case AutoKind::kBool:
          v.vt = VT_BOOL;
          v.boolVal = a.bool_value ? VARIANT_TRUE : VARIANT_FALSE;
          break;
        case AutoKind::kEmpty:
          v.vt = VT_ERROR;  // an omitted optional argument
          v.scode = DISP_E_PARAMNOTFOUND;
          break;
        case AutoKind::kObject:
          throw AutomationError("an automation object cannot be passed as an argument");
      }
    }
  }
  // The variants only point at texts owned by texts_; nothing to clear here.
  VARIANTARG* data() { return variants_.empty() ? nullptr : variants_.data(); }
  UINT size() const { return static_cast<UINT>(variants_.size()); }

  // Texts passed by reference, as the server left them.
  void CopyBack(std::vector<AutoArg>& args) const {
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i].kind != AutoKind::kText || !args[i].by_ref || !texts_[i]) continue;
      BSTR b = texts_[i]->get();
      args[i].text = b ? win32::Narrow(std::wstring_view(b, ::SysStringLen(b))) : std::string();
    }
  }

 private:
  std::vector<VARIANTARG> variants_;
  std::vector<std::unique_ptr<ScopedBstr>> texts_;
};

class ComObject : public AutoObject {
 public:
  explicit ComObject(ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

  AutoValue Invoke(const std::string& member, AutoInvoke flags,
                   std::vector<AutoArg>& args) override {
    std::wstring name = win32::Widen(member);
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) throw AutomationError(HresultText(hr) + ": " + member);

    const bool put = flags == AutoInvoke::kPropertyPut;
    if (put && args.empty()) throw AutomationError("no value to put: " + member);
    InvokeArgs list(args);
    DISPID put_id = DISPID_PROPERTYPUT;
    // A put passes its value (the last argument, first in DISPPARAMS) as the named argument.
    DISPPARAMS params{list.data(), put ? &put_id : nullptr, list.size(), put ? 1u : 0u};
    const bool keep_result = flags == AutoInvoke::kPropertyGet || flags == AutoInvoke::kMethodOrGet;
    ScopedVariant result;
    ScopedExcepInfo exception;
    UINT bad_arg = 0;
    hr = dispatch_->Invoke(id, IID_NULL, 0, static_cast<WORD>(flags), &params,
                           keep_result ? result.get() : nullptr, exception.get(), &bad_arg);
    if (hr == DISP_E_EXCEPTION) {
      std::string text = exception.Description();
      HRESULT code = exception.Code();
      if (text.empty()) text = HresultText(code ? code : hr) + ": " + member;
      throw AutomationError(text);
    }
    if (FAILED(hr)) throw AutomationError(HresultText(hr) + ": " + member);
    list.CopyBack(args);
    return Value(*result);
  }

 private:
  static AutoValue Value(const VARIANT& v) {
    switch (v.vt) {
      case VT_EMPTY:
      case VT_NULL:
        return AutoValue();
      case VT_BOOL:
        return AutoValue::Bool(v.boolVal != VARIANT_FALSE);
      case VT_BSTR:
        return AutoValue::Text(
            win32::Narrow(std::wstring_view(v.bstrVal, ::SysStringLen(v.bstrVal))));
      case VT_DISPATCH: {
        if (!v.pdispVal) return AutoValue();
        v.pdispVal->AddRef();
        return AutoValue::Object(std::make_shared<ComObject>(ComPtr<IDispatch>(v.pdispVal)));
      }
      default:
        break;
    }
    // Numbers of other widths as 32-bit integers, anything else as its text.
    ScopedVariant converted;
    if (SUCCEEDED(::VariantChangeType(converted.get(), const_cast<VARIANT*>(&v), 0, VT_I4))) {
      return AutoValue::Int((*converted).lVal);
    }
    if (SUCCEEDED(::VariantChangeType(converted.get(), const_cast<VARIANT*>(&v), 0, VT_BSTR))) {
      return Value(*converted);
    }
    throw AutomationError("a result of an unsupported kind (" + std::to_string(v.vt) + ")");
  }

  ComPtr<IDispatch> dispatch_;
};

}  // namespace

std::shared_ptr<AutoObject> WrapDispatch(IDispatch* dispatch) {
  dispatch->AddRef();
  return std::make_shared<ComObject>(ComPtr<IDispatch>(dispatch));
}

// The program's COM servers: the class of the programmatic identifier, created in process or
// as a local server, asked for IDispatch.
std::shared_ptr<AutoObject> CreatePlatformAutoObject(const std::string& prog_id) {
  std::wstring wide = win32::Widen(prog_id);
  CLSID clsid;
  HRESULT hr = ::CLSIDFromProgID(wide.c_str(), &clsid);
  if (FAILED(hr)) throw AutomationCreateError(HresultText(hr) + ": " + prog_id);
  ComPtr<IDispatch> dispatch;
  hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(dispatch.Receive()));
  if (FAILED(hr)) throw AutomationCreateError(HresultText(hr) + ": " + prog_id);
  return std::make_shared<ComObject>(std::move(dispatch));
}

// Apartment-threaded, as the window thread that holds it needs.
ScopedAutomationInit::ScopedAutomationInit() {
  initialised_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

ScopedAutomationInit::~ScopedAutomationInit() {
  if (initialised_) ::CoUninitialize();
}

}  // namespace mirestal
