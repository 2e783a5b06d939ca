#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/mirestal-cli/command.h"

namespace mirestal::cli {

namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace

CommandRegistrar::CommandRegistrar(const Command& command) { Registry().push_back(command); }

const std::vector<Command>& Commands() { return Registry(); }

}  // namespace mirestal::cli

namespace {

void PrintUsage() {
  auto commands = mirestal::cli::Commands();
  std::sort(commands.begin(), commands.end(),
            [](const auto& a, const auto& b) { return std::string(a.name) < b.name; });
  std::fprintf(stderr, "usage:\n");
  for (const auto& c : commands) std::fprintf(stderr, "  mirestal-cli %s\n", c.usage);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage();
    return 2;
  }
  std::string name = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& command : mirestal::cli::Commands()) {
    if (name != command.name) continue;
    try {
      return command.run(args);
    } catch (const mirestal::cli::UsageError& e) {
      std::fprintf(stderr, "mirestal-cli: %s\nusage: mirestal-cli %s\n", e.what(), command.usage);
      return 2;
    } catch (const std::exception& e) {
      std::fflush(stdout);
      // Messages shared with the windows break lines with '\r'.
      std::string text = e.what();
      for (char& c : text) {
        if (c == '\r') c = '\n';
      }
      std::fprintf(stderr, "%s\n", text.c_str());
      return 1;
    }
  }
  std::fprintf(stderr, "mirestal-cli: unknown command '%s'\n", name.c_str());
  PrintUsage();
  return 2;
}
