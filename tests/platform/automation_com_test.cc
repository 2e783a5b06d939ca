// COM automation under wine: a built-in server (Scripting.Dictionary) stands in for the
// spreadsheet application, and a server of the test's own records what Invoke receives.
#include <gtest/gtest.h>

#include "platform/automation.h"
#include "platform/automation_com_win32.h"

namespace mirestal {
namespace {

using Args = std::vector<AutoArg>;

AutoValue Call(AutoObject& o, const std::string& member, AutoInvoke flags, Args args = {}) {
  return o.Invoke(member, flags, args);
}

std::string FailureText(AutoObject& o, const std::string& member, AutoInvoke flags, Args args) {
  try {
    o.Invoke(member, flags, args);
  } catch (const AutomationError& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

class ComDictionary : public ::testing::Test {
 protected:
  ScopedAutomationInit com_;
};

TEST_F(ComDictionary, PutGetCallAndFailingCalls) {
  std::shared_ptr<AutoObject> d = CreateAutoObject("Scripting.Dictionary");
  Args add{AutoValue::TextRef("考籍号"), AutoValue::Text("张三")};
  d->Invoke("Add", AutoInvoke::kMethod, add);
  EXPECT_EQ(add[0].text, "考籍号");  // copied back as the server left it
  EXPECT_EQ(Call(*d, "Count", AutoInvoke::kMethodOrGet).int_value, 1);
  EXPECT_EQ(Call(*d, "Item", AutoInvoke::kPropertyGet, {AutoValue::Text("考籍号")}).text, "张三");
  Call(*d, "Item", AutoInvoke::kPropertyPut, {AutoValue::Text("考籍号"), AutoValue::Text("李四")});
  EXPECT_EQ(Call(*d, "Item", AutoInvoke::kPropertyGet, {AutoValue::Text("考籍号")}).text, "李四");
  // Refused: the comparison cannot change once the dictionary holds something.
  EXPECT_NE(FailureText(*d, "CompareMode", AutoInvoke::kPropertyPut, {AutoValue::Int(1)}),
            "(nothing thrown)");
  // Wine's server raises "key exists" without a text: the code then stands in for it.
  EXPECT_NE(FailureText(*d, "Add", AutoInvoke::kMethod,
                        {AutoValue::Text("考籍号"), AutoValue::Int(2)}).find("Add"),
            std::string::npos);
  EXPECT_NE(FailureText(*d, "Frobnicate", AutoInvoke::kMethod, {}).find("Frobnicate"),
            std::string::npos);
  EXPECT_THROW(CreateAutoObject("EXCEL.application"), AutomationCreateError);
}

// Records the names looked up and what each Invoke receives; "SaveAs" fails with a text.
class RecordingDispatch : public IDispatch {
 public:
  std::vector<std::wstring> names;
  std::vector<std::string> calls;  // "flags id lcid [result]: vt=value ... named=id"
  ULONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* n, UINT, LCID, DISPID* id) override {
    names.push_back(n[0]);
    *id = static_cast<DISPID>(names.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* p,
                                   VARIANT* result, EXCEPINFO* e, UINT*) override {
    std::string line = std::to_string(flags) + " " + std::to_string(id) + " " +
                       std::to_string(lcid) + (result ? " result" : "") + ":";
    for (UINT i = p->cArgs; i-- > 0;) {  // rgvarg holds the last argument first
      VARIANT& v = p->rgvarg[i];
      line += " " + std::to_string(v.vt) + "=";
      if (v.vt == (VT_BSTR | VT_BYREF)) {
        line += std::to_string(::SysStringLen(*v.pbstrVal));
        ::SysReAllocString(v.pbstrVal, L"changed");  // the server may change a by-ref text
      }
      if (v.vt == VT_BSTR) line += std::to_string(::SysStringLen(v.bstrVal));
      if (v.vt == VT_I4) line += std::to_string(v.lVal);
      if (v.vt == VT_BOOL) line += std::to_string(v.boolVal);
    }
    for (UINT i = 0; i < p->cNamedArgs; ++i) {
      line += " named=" + std::to_string(p->rgdispidNamedArgs[i]);
    }
    calls.push_back(line);
    if (names[id - 1] == L"SaveAs") {
      e->scode = E_FAIL;
      e->bstrDescription = ::SysAllocString(L"无法保存 C:\\a.dbf");
      return DISP_E_EXCEPTION;
    }
    if (result) {
      result->vt = VT_DISPATCH;
      result->pdispVal = this;
      AddRef();
    }
    return S_OK;
  }
};

TEST(ComInvoke, FlagsArgumentKindsResultsAndTheServerTextOfAFailure) {
  RecordingDispatch server;
  {
    std::shared_ptr<AutoObject> app = WrapDispatch(&server);
    AutoValue books = Call(*app, "WorkBooks", AutoInvoke::kMethodOrGet);
    ASSERT_TRUE(books.IsObject());
    Call(*books.object, "Open", AutoInvoke::kMethod, {AutoValue::TextRef("C:/a.xls")});
    Call(*app, "Visible", AutoInvoke::kPropertyPut, {AutoValue::Bool(true)});
    Call(*app, "WorkSheets", AutoInvoke::kPropertyGet, {AutoValue::Int(1)});
    Args save{AutoValue::TextRef("C:/a.dbf"), AutoValue::Int(11)};
    EXPECT_EQ(FailureText(*app, "SaveAs", AutoInvoke::kMethod, save), "无法保存 C:\\a.dbf");
    Args fill{AutoValue::TextRef("abc"), AutoValue::Text("de")};
    app->Invoke("goto", AutoInvoke::kMethod, fill);
    EXPECT_EQ(fill[0].text, "changed");
    EXPECT_EQ(fill[1].text, "de");
  }
  EXPECT_EQ(server.refs, 1u);  // every reference taken, results included, was given back
  EXPECT_EQ(server.names, (std::vector<std::wstring>{L"WorkBooks", L"Open", L"Visible",
                                                     L"WorkSheets", L"SaveAs", L"goto"}));
  EXPECT_EQ(server.calls, (std::vector<std::string>{
                              "3 1 0 result:", "1 2 0: 16392=8", "4 3 0: 11=-1 named=-3",
                              "2 4 0 result: 3=1", "1 5 0: 16392=8 3=11",
                              "1 6 0: 16392=3 8=2"}));
}

}  // namespace
}  // namespace mirestal
