// The converter's CSV of a worksheet into table fields and values.
#include "import/sheet.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "table/errors.h"

namespace mirestal::import {
namespace {

std::string Gbk(const std::string& utf8) { return Utf8ToGbk(utf8).value(); }

// Cells written as text, quoted ones marked with a leading '"'.
std::vector<std::vector<std::string>> Shape(const std::vector<CsvRow>& rows) {
  std::vector<std::vector<std::string>> shape;
  for (const CsvRow& row : rows) {
    shape.emplace_back();
    for (const CsvCell& cell : row) shape.back().push_back((cell.quoted ? "\"" : "") + cell.text);
  }
  return shape;
}

TEST(CsvTest, QuotesLineBreaksAndEmptyCells) {
  struct Case {
    const char* csv;
    std::vector<std::vector<std::string>> rows;
  } cases[] = {
      {"", {}},
      {"\"a\",1,,\"\"\n", {{"\"a", "1", "", "\""}}},
      {"\"say \"\"hi\"\"\",x\r\n,\n", {{"\"say \"hi\"", "x"}, {"", ""}}},
      {"\"two\nlines\",2\n3", {{"\"two\nlines", "2"}, {"3"}}},
      {"\"a,b\",\"\"\"\"", {{"\"a,b", "\"\""}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Shape(ParseCsv(c.csv)), c.rows) << c.csv;
}

TEST(CellTextTest, NumbersToPlainDecimals) {
  struct Case {
    const char* text;
    const char* plain;  // null: not a number
  } cases[] = {
      {"42", "42"},          {"-7.5", "-7.5"},           {"0.50", "0.5"},
      {"007", "7"},          {"1E+020", "100000000000000000000"},
      {"1.23456789012346E+017", "123456789012346000"},   {"1E-07", "0.0000001"},
      {"-0", "0"},           {"2.5e1", "25"},            {"12345678901234.5", "12345678901234.5"},
      {"", nullptr},         {"-", nullptr},             {"1e", nullptr},
      {"1.2.3", nullptr},    {"05/20/2008", nullptr},    {"1E+999", nullptr},
      {" 1", nullptr},
  };
  for (const Case& c : cases) {
    std::optional<std::string> plain = PlainDecimal(c.text);
    if (c.plain) {
      EXPECT_EQ(plain, std::optional<std::string>(c.plain)) << c.text;
    } else {
      EXPECT_FALSE(plain) << c.text;
    }
  }
}

TEST(CellTextTest, DatesInTheConvertersForms) {
  struct Case {
    const char* text;
    int y, m, d;  // y == 0: not a date
  } cases[] = {
      {"05/20/2008", 2008, 5, 20}, {"2008-05-20", 2008, 5, 20}, {"2008/5/2", 2008, 5, 2},
      {"20.05.2008", 2008, 5, 20}, {"02/29/2024", 2024, 2, 29}, {"02/29/2023", 0, 0, 0},
      {"13/01/2008", 0, 0, 0},     {"05/20/08", 0, 0, 0},       {"2008-05-20 13:45:07", 0, 0, 0},
      {"20080520", 0, 0, 0},       {"5-20-2008", 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::optional<TDate> date = ParseSheetDate(c.text);
    if (c.y) {
      EXPECT_EQ(date, (TDate{c.y, c.m, c.d})) << c.text;
    } else {
      EXPECT_FALSE(date) << c.text;
    }
  }
}

TEST(SheetTableTest, FieldsTakeTheirKindAndSizeFromTheValues) {
  // Column by column: text; numbers; dates; numbers beside a text; an over-long number; a
  // column without a name; a date with a time; nothing at all (left out); a name only.
  std::vector<CsvRow> rows = ParseCsv(
      "\"考籍号\",\"成\n绩\",\"出生\",\"混合\",\"大\",,\"时刻\",,\"空\"\n"
      "\"11010052026100037\",623.2,05/20/2008,1,1E+020,x,2008-05-20 13:45:07,,\n"
      ",,,,,,,,\n"
      "\"  肖雨\",-7.25,,\"a\",1,,,,\n");
  SheetTable table = BuildSheetTable(rows);
  struct Expected {
    std::string name;
    char type;
    int length, decimals;
  } expected[] = {
      {Gbk("考籍号"), 'C', 17, 0}, {Gbk("成_绩"), 'N', 6, 2}, {Gbk("出生"), 'D', 8, 0},
      {Gbk("混合"), 'C', 1, 0},    {Gbk("大"), 'C', 6, 0},   {"F6", 'C', 1, 0},
      {Gbk("时刻"), 'C', 19, 0},   {Gbk("空"), 'C', 1, 0},
  };
  ASSERT_EQ(table.fields.size(), std::size(expected));
  for (size_t i = 0; i < table.fields.size(); ++i) {
    const SheetField& f = table.fields[i];
    EXPECT_EQ(f.name, expected[i].name) << i;
    EXPECT_EQ(f.type, expected[i].type) << i;
    EXPECT_EQ(f.length, expected[i].length) << i;
    EXPECT_EQ(f.decimals, expected[i].decimals) << i;
  }
  ASSERT_EQ(table.records.size(), 2u);  // the row without values is left out
  const auto& first = table.records[0];
  EXPECT_EQ(first[1].text, "623.2");
  EXPECT_EQ(first[2].date, (TDate{2008, 5, 20}));
  EXPECT_EQ(first[4].text, "1E+020");
  EXPECT_TRUE(first[7].blank);
  const auto& second = table.records[1];
  EXPECT_EQ(second[0].text, Gbk("  肖雨"));
  EXPECT_TRUE(second[2].blank);
  EXPECT_EQ(second[3].text, "a");
}

TEST(SheetTableTest, TextsOutsideGbkAndOverLongTextsStillFit) {
  std::string long_text;
  for (int i = 0; i < 200; ++i) long_text += "字";
  SheetTable table = BuildSheetTable(ParseCsv("\"名😀\"\n\"" + long_text + "\"\n\"a😀\"\n"));
  ASSERT_EQ(table.fields.size(), 1u);
  EXPECT_EQ(table.fields[0].name, Gbk("名") + "?");
  EXPECT_EQ(table.fields[0].length, 254);
  EXPECT_EQ(table.records[0][0].text.size(), 254u);
  EXPECT_EQ(table.records[1][0].text, "a?");
}

TEST(SheetTableTest, SheetWithoutAnyColumnIsRefused) {
  for (const char* csv : {"", ",,\n,\n"}) {
    try {
      BuildSheetTable(ParseCsv(csv));
      ADD_FAILURE() << csv;
    } catch (const ETableError& e) {
      EXPECT_STREQ(e.what(), "The first worksheet has no column to convert");
    }
  }
}

}  // namespace
}  // namespace mirestal::import
