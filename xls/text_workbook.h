// A one-sheet workbook of text cells written straight from rows of strings, for reports that do
// not come from a dataset (the photo check's report, for example).
#pragma once

#include <string>
#include <vector>

#include "platform/file.h"

namespace mirestal {

struct TextWorkbook {
  std::string sheet_title = "Sheet 1";         // UTF-8
  std::vector<std::string> captions;           // bold first row (UTF-8); none when empty
  std::vector<std::vector<std::string>> rows;  // text cells (UTF-8); empty texts stay blank
  std::vector<int> column_widths;              // characters; missing ones take the default
};

// Writes `book` as a BIFF8 workbook at `path`, replacing it. Refused (EExportError) beyond the
// sheet's 65,536 rows or 256 columns before the file is touched; any later failure deletes the
// partial file and rethrows.
void WriteTextWorkbook(const TextWorkbook& book, const std::string& path,
                       FileSystem& fs = FileSystem::Default());

}  // namespace mirestal
