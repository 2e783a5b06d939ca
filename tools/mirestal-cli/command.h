// Sub-commands of mirestal-cli. Each cmd_*.cc file registers its commands with a static
// CommandRegistrar; main() dispatches on the first argument.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace mirestal::cli {

// Thrown for wrong arguments: main() prints the usage and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Command {
  const char* name;
  const char* usage;  // e.g. "info FILE"
  // Arguments after the command name. Returns the exit status; errors are thrown (main prints
  // what() to standard error and exits with 1).
  int (*run)(const std::vector<std::string>& args);
};

class CommandRegistrar {
 public:
  explicit CommandRegistrar(const Command& command);
};

const std::vector<Command>& Commands();

}  // namespace mirestal::cli
