// Runs the independent readers (Debian's python3-xlrd and python3-olefile, through
// tests/xls/xls_dump.py) on a workbook and collects what they report.
#pragma once

#include <string>
#include <vector>

#include "tests/testutil/testutil.h"

namespace mirestal::xls::testing {

struct ReaderReport {
  int status = -1;
  std::vector<std::string> lines;  // stdout, one entry per line
  std::string errors;              // stderr: reader errors and warnings
  // Lines starting with `prefix` + TAB, without the prefix.
  std::vector<std::string> With(const std::string& prefix) const;
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// mode: "" (everything), "--ole" (streams only) or "--hex" (the Workbook stream in hex).
inline ReaderReport ReadWithReaders(const std::string& path, const std::string& mode = "") {
  mirestal::testing::TempDir scratch;
  std::string err_file = scratch.File("stderr.txt");
  std::string out;
  ReaderReport report;
  report.status = mirestal::testing::RunCommand(
      "/usr/bin/python3 " + ShellQuote(mirestal::testing::SourceDir() + "/tests/xls/xls_dump.py") +
          " " + mode + " " + ShellQuote(path) + " 2>" + ShellQuote(err_file),
      &out);
  report.errors = mirestal::testing::ReadFile(err_file);
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    report.lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return report;
}

inline std::vector<std::string> ReaderReport::With(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.rfind(prefix + "\t", 0) == 0) found.push_back(line.substr(prefix.size() + 1));
  }
  return found;
}

inline std::string Hex(const std::string& bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

}  // namespace mirestal::xls::testing
