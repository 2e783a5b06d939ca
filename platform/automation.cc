#include "platform/automation.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

namespace mirestal {
namespace {

std::string FoldAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, AutoServerFactory> servers;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

// The platform's own servers: COM on Windows (automation_com.cc), none elsewhere.
std::shared_ptr<AutoObject> CreatePlatformAutoObject(const std::string& prog_id);

void RegisterAutoServer(const std::string& prog_id, AutoServerFactory factory) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (factory) {
    registry.servers[FoldAscii(prog_id)] = std::move(factory);
  } else {
    registry.servers.erase(FoldAscii(prog_id));
  }
}

std::shared_ptr<AutoObject> CreateAutoObject(const std::string& prog_id) {
  AutoServerFactory factory;
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.servers.find(FoldAscii(prog_id));
    if (it != registry.servers.end()) factory = it->second;
  }
  if (factory) {
    std::unique_ptr<AutoObject> object = factory();
    if (!object) throw AutomationCreateError("Cannot create the automation object " + prog_id);
    return std::shared_ptr<AutoObject>(std::move(object));
  }
  return CreatePlatformAutoObject(prog_id);
}

#ifndef _WIN32
std::shared_ptr<AutoObject> CreatePlatformAutoObject(const std::string& prog_id) {
  throw AutomationCreateError("Invalid class string: no automation server is installed for " +
                              prog_id);
}

ScopedAutomationInit::ScopedAutomationInit() = default;
ScopedAutomationInit::~ScopedAutomationInit() = default;
#endif

}  // namespace mirestal
