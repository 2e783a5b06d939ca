// The converter's CSV of a worksheet into table fields and values.
#include "import/sheet.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

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
      {Gbk("混合"), 'C', 1, 0},    {Gbk("大"), 'C', 21, 0},  {"F6", 'C', 1, 0},
      {Gbk("时刻"), 'C', 18, 0},   {Gbk("空"), 'C', 1, 0},
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
  EXPECT_EQ(first[4].text, "100000000000000000000");  // never scientific
  EXPECT_EQ(first[6].text, "2008/5/20 13:45:07");
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

namespace mirestal::import {
namespace {

CellFact Number(double value, int zero_pad = 0) {
  CellFact fact;
  fact.number = value;
  fact.zero_pad = zero_pad;
  return fact;
}
CellFact Boolean(bool value) {
  CellFact fact;
  fact.kind = CellFact::Kind::kBoolean;
  fact.boolean = value;
  return fact;
}

// One column per case: the converter's text of the cell, what the workbook file says about it,
// and the field and value that come out (D values as yyyymmdd).
TEST(SheetValueTest, EveryValueKeepsWhatTheCellHolds) {
  struct Case {
    const char* csv;
    std::optional<CellFact> fact;
    char type;
    std::string value;
  } cases[] = {
      {"12/31/1899", Number(1), 'D', "19000101"},  // the 1900 convention: one day early
      {"02/27/1900", Number(59), 'D', "19000228"},
      {"02/28/1900", Number(60), 'C', "1900/2/29"},  // the workbook's own 1900-02-29
      {"03/01/1900", Number(61), 'D', "19000301"},
      {"12/31/9999", std::nullopt, 'D', "99991231"},
      {"12/31/9999 13:05:00", Number(2958465 + 47100.0 / 86400), 'C', "9999/12/31 13:05:00"},
      {"1234567890123456", Number(1234567890123456), 'N', "1234567890123456"},
      {"1.10100520261E+016", Number(11010052026100038.0), 'N', "11010052026100038"},
      {"1.23456789012346E+023", Number(123456789012345678901234.0), 'C', "123456789012345690000000"},
      {"-0.0000001", Number(-1e-7), 'N', "-0.0000001"},
      {"95.5", std::nullopt, 'N', "95.5"},
      {"123", Number(123, 17), 'C', "00000000000000123"},  // a key shown with leading zeros
      {"1", Boolean(true), 'L', "T"},
      {"FALSE", std::nullopt, 'L', "F"},
      {"0", std::nullopt, 'N', "0"},
      {"5", Number(7), 'N', "5"},  // a fact that does not agree belongs to another cell
  };
  std::string header, row;
  CellFacts facts;
  for (size_t c = 0; c < std::size(cases); ++c) {
    header += (c ? ",\"F" : "\"F") + std::to_string(c) + "\"";
    row += (c ? "," : "") + std::string(cases[c].csv);
    if (cases[c].fact) facts[{1, static_cast<uint32_t>(c)}] = *cases[c].fact;
  }
  SheetTable table = BuildSheetTable(ParseCsv(header + "\n" + row + "\n"), facts);
  ASSERT_EQ(table.fields.size(), std::size(cases));
  for (size_t c = 0; c < std::size(cases); ++c) {
    EXPECT_EQ(table.fields[c].type, cases[c].type) << cases[c].csv;
    const SheetValue& v = table.records[0][c];
    char date[9] = "";
    if (v.date) std::snprintf(date, sizeof date, "%04d%02d%02d", v.date->year, v.date->month, v.date->day);
    EXPECT_EQ(v.date ? std::string(date) : v.text, cases[c].value) << cases[c].csv;
  }
}

// Booleans and dates in a text column keep their look, blank numbers stay blank, and the texts
// that did not fit are counted with their places.
TEST(SheetValueTest, MixedColumnsAndLossesAreReported) {
  const std::string long_text(300, 'a');
  std::string csv = "\"在校\",\"备注\",\"成绩\"\n";
  csv += "1,\"€\",\n\"是\",\"" + long_text + "\",95\n0,\"好😀\",\n";
  CellFacts facts = {{{1, 0}, Boolean(true)}, {{3, 0}, Boolean(false)}};
  SheetTable table = BuildSheetTable(ParseCsv(csv), facts);
  ASSERT_EQ(table.records.size(), 3u);
  EXPECT_EQ(table.fields[0].type, 'C');
  EXPECT_EQ(table.records[0][0].text, "TRUE");
  EXPECT_EQ(table.records[2][0].text, "FALSE");
  EXPECT_EQ(table.records[0][1].text, "?");  // never GBK's single byte 0x80
  EXPECT_EQ(table.records[1][1].text.size(), 254u);
  EXPECT_EQ(table.fields[2].type, 'N');
  EXPECT_TRUE(table.records[0][2].blank);
  EXPECT_EQ(table.losses.Note(),
            "有1个单元格的文字超过254字节，已截断：第3行B列\r"
            "有2个单元格含有GBK不能表示的字符，已换成“?”：第2行B列、第4行B列");
}

}  // namespace
}  // namespace mirestal::import
