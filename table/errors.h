// Exceptions of the table engine and the dataset. Every message is UTF-8; GBK field names and
// values are converted when they appear in one.
#pragma once

#include <stdexcept>
#include <string>

namespace mirestal {

// File and format errors of the table engine.
class ETableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Password errors (enciphered tables).
class ETableEncryption : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Errors of the generic dataset operations. Those raised through DatabaseError() carry the
// dataset's component name and ": " in front of the text ("Dbf: Field 'X' not found").
class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Replaces each "%s" / "%d" in `format` in turn with the next argument (already text).
std::string FormatMessage(const char* format, std::initializer_list<std::string> args);

}  // namespace mirestal
