// The cells of a workbook's first worksheet that the converter's CSV cannot carry whole, read
// from the workbook file itself: numbers with all their digits, Booleans, and the zero-padded
// number formats of registration numbers. Only the records that hold such cells are read; the
// converter stays the reader of everything else.
#pragma once

#include <string_view>

#include "import/sheet.h"

namespace mirestal::import {

// The facts of the first worksheet of a BIFF8 workbook (`bytes`: the whole compound file).
// Never throws: a file it cannot follow gives fewer facts or none, and the converter's text is
// taken as it is for the rest.
CellFacts ReadWorkbookFacts(std::string_view bytes);

}  // namespace mirestal::import
