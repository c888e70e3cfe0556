// Shared by the workbook writer's tests: the workbook's fixed lines written out independently
// of the writer, the cells it writes, and a fixture that writes workbooks into a temporary
// directory.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "export/output_file.h"
#include "export/spreadsheetml_writer.h"
#include "tests/support/xml_check.h"

namespace rowpress::support {

inline constexpr std::int16_t kVarchar = 12;
inline constexpr std::int16_t kInteger = 4;
inline constexpr std::int16_t kDouble = 8;

inline std::string crlfLines(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (std::string_view line : lines) {
    out.append(line);
    out.append("\r\n");
  }
  return out;
}

// Lines 1 to 31 of the workbook, before its first sheet, written out independently of the
// writer.
inline const std::string& workbookHead() {
  static const std::string text = crlfLines({
      R"(<?xml version="1.0"?>)",
      R"(<?mso-application progid="Excel.Sheet"?>)",
      R"(<Workbook xmlns="urn:schemas-microsoft-com:office:spreadsheet")",
      R"(xmlns:o="urn:schemas-microsoft-com:office:office")",
      R"(xmlns:x="urn:schemas-microsoft-com:office:excel")",
      R"(xmlns:ss="urn:schemas-microsoft-com:office:spreadsheet")",
      R"(xmlns:html="http://www.w3.org/TR/REC-html40">)",
      R"(<DocumentProperties xmlns="urn:schemas-microsoft-com:office:office">)",
      R"(<LastAuthor> </LastAuthor>)",
      R"(<Created>1996-10-14T23:33:28Z</Created>)",
      R"(<Version>11.5606</Version>)",
      R"(</DocumentProperties>)",
      R"(<ExcelWorkbook xmlns="urn:schemas-microsoft-com:office:excel">)",
      R"(<WindowHeight>9300</WindowHeight>)",
      R"(<WindowWidth>15135</WindowWidth>)",
      R"(<WindowTopX>120</WindowTopX>)",
      R"(<WindowTopY>120</WindowTopY>)",
      R"(<AcceptLabelsInFormulas/>)",
      R"(<ProtectStructure>False</ProtectStructure>)",
      R"(<ProtectWindows>False</ProtectWindows>)",
      R"(</ExcelWorkbook>)",
      R"(<Styles>)",
      R"(<Style ss:ID="Default" ss:Name="Normal">)",
      R"(<Alignment ss:Vertical="Bottom"/>)",
      R"(<Borders/>)",
      R"(<Font/>)",
      R"(<Interior/>)",
      R"(<NumberFormat/>)",
      R"(<Protection/>)",
      R"(</Style>)",
      R"(</Styles>)",
  });
  return text;
}

// Lines 1 to 32 of the workbook of a job with one result.
inline const std::string& header() {
  static const std::string text = workbookHead() + "<Worksheet ss:Name=\"rowpress\">\r\n";
  return text;
}

const std::string kPlaceholder =
    R"(<Table ss:ExpandedColumnCount="0" ss:ExpandedRowCount="1" x:FullColumns="1" x:FullRows="1">)"
    "      \r\n";

// The lines that end a sheet's table and the sheet; only the first sheet is `selected`.
inline std::string sheetEnd(bool selected) {
  return crlfLines(
             {"</Table>", R"(<WorksheetOptions xmlns="urn:schemas-microsoft-com:office:excel">)"}) +
         (selected ? "<Selected/>\r\n" : "") +
         crlfLines({
             "<Panes>",
             "<Pane>",
             "     <Number>3</Number>",
             "<ActiveRow>1</ActiveRow>",
             "<ActiveCol>1</ActiveCol>",
             "</Pane>",
             "</Panes>",
             "<ProtectObjects>False</ProtectObjects>",
             "<ProtectScenarios>False</ProtectScenarios>",
             " </WorksheetOptions>",
             "</Worksheet>",
         });
}

inline const std::string& trailer() {
  static const std::string text = sheetEnd(true) + crlfLines({"</Workbook>"});
  return text;
}

inline std::string tag(long long columns, long long rows) {
  return R"(<Table ss:ExpandedColumnCount=")" + std::to_string(columns) +
         R"(" ss:ExpandedRowCount=")" + std::to_string(rows) +
         R"(" x:FullColumns="1" x:FullRows="1">)";
}

inline std::string stringCell(std::string_view content) {
  return R"(    <Cell><Data ss:Type="String">)" + std::string(content) + "</Data></Cell>\r\n";
}

inline std::string numberCell(std::string_view content) {
  return R"(    <Cell><Data ss:Type="Number">)" + std::string(content) + "</Data></Cell>\r\n";
}

inline const std::string kBinaryCell =
    "<Cell><Data ss:Type=\"String\">&lt;BINARY&gt;</Data></Cell>\r\n";

inline ColumnInfo column(std::string name, std::int16_t sqlType, std::int32_t declaredSize = 10) {
  ColumnInfo c;
  c.name = std::move(name);
  c.sqlType = sqlType;
  c.declaredSize = declaredSize;
  return c;
}

class SpreadsheetMlWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "rowpress-xml-XXXXXX");
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Runs `body` against a fresh writer on a new file and returns the file's bytes.
  std::string write(const std::function<void(SpreadsheetMlWriter&)>& body,
                    const std::string& name = "", bool forceFullLength = false) {
    path_ = dir_ / (name.empty() ? "out" + std::to_string(++files_) + ".xls" : name);
    OutputFile out = OutputFile::create(path_, true);
    EXPECT_TRUE(out.isOpen()) << path_;
    if (!out.isOpen()) return {};
    WriterOptions options;
    options.forceFullLength = forceFullLength;
    SpreadsheetMlWriter writer(options);
    writer.begin(out);
    body(writer);
    EXPECT_TRUE(out.close());
    return read(path_);
  }

  // A complete workbook: the columns as header, then the rows.
  std::string workbook(const std::vector<ColumnInfo>& columns,
                       const std::vector<std::vector<std::string>>& rows, bool forceFullLength,
                       const std::string& name = "") {
    return write(
        [&](SpreadsheetMlWriter& w) {
          w.header(columns);
          for (const auto& row : rows) {
            w.beginRow();
            for (const std::string& value : row) w.cell({value});
            w.endRow();
          }
          w.finish(static_cast<int>(columns.size()), static_cast<long long>(rows.size()) + 1);
        },
        name, forceFullLength);
  }

  // The data cell lines of a one-column, one-row workbook.
  std::string oneCell(const ColumnInfo& c, std::string_view value, bool forceFullLength) {
    const std::string file = workbook({c}, {{std::string(value)}}, forceFullLength);
    const std::string before =
        header() + tag(1, 2) + "      \r\n<Row>\r\n" + stringCell(c.name) + "</Row>\r\n<Row>\r\n";
    const std::string after = "</Row>\r\n" + trailer();
    EXPECT_EQ(file.substr(0, before.size()), before);
    EXPECT_GE(file.size(), before.size() + after.size());
    if (file.size() < before.size() + after.size()) return {};
    EXPECT_EQ(file.substr(file.size() - after.size()), after);
    return file.substr(before.size(), file.size() - before.size() - after.size());
  }

  static void expectWellFormed(const std::string& path) { EXPECT_TRUE(wellFormedXml({path})); }

  std::filesystem::path dir_;
  std::string path_;
  int files_ = 0;
};

}  // namespace rowpress::support
