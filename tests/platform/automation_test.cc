#include "platform/automation.h"

#include <gtest/gtest.h>

namespace mirestal {
namespace {

// Answers "Name" with the text it was put, and rewrites a by-reference text argument of "Fill".
class Echo : public AutoObject {
 public:
  AutoValue Invoke(const std::string& member, AutoInvoke flags,
                   std::vector<AutoArg>& args) override {
    if (member == "Name" && flags == AutoInvoke::kPropertyPut) {
      name_ = args.at(0).text;
      return {};
    }
    if (member == "Name" && flags == AutoInvoke::kMethodOrGet) return AutoValue::Text(name_);
    if (member == "Fill" && flags == AutoInvoke::kMethod) {
      for (AutoArg& arg : args) {
        if (arg.kind == AutoKind::kText && arg.by_ref) arg.text += "!";
      }
      return {};
    }
    throw AutomationError("Unknown name " + member);
  }

 private:
  std::string name_;
};

TEST(AutomationTest, RegisteredServerIsFoundWithoutRegardToCaseAndCanBeRemoved) {
  RegisterAutoServer("Test.Echo", [] { return std::make_unique<Echo>(); });
  auto echo = CreateAutoObject("TEST.echo");
  std::vector<AutoArg> put{AutoValue::Text("甲")};
  echo->Invoke("Name", AutoInvoke::kPropertyPut, put);
  EXPECT_EQ(echo->Invoke("Name", AutoInvoke::kMethodOrGet).text, "甲");

  std::vector<AutoArg> fill{AutoValue::TextRef("a"), AutoValue::Text("b")};
  echo->Invoke("Fill", AutoInvoke::kMethod, fill);
  EXPECT_EQ(fill[0].text, "a!");
  EXPECT_EQ(fill[1].text, "b");
  EXPECT_THROW(echo->Invoke("Nope", AutoInvoke::kMethod), AutomationError);

  RegisterAutoServer("test.echo", nullptr);
#ifndef _WIN32
  EXPECT_THROW(CreateAutoObject("Test.Echo"), AutomationCreateError);
#endif
}

TEST(AutomationTest, FactoryWithoutObjectIsACreationError) {
  RegisterAutoServer("Test.Null", [] { return std::unique_ptr<AutoObject>(); });
  EXPECT_THROW(CreateAutoObject("Test.Null"), AutomationCreateError);
  RegisterAutoServer("Test.Null", nullptr);
}

}  // namespace
}  // namespace mirestal
