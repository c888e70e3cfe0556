// The .xlsx writer: typed cells, the header row, sheets, the locale of numbers and failures,
// each workbook read back with openpyxl.
#include "export/xlsx_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>

#include "export/text_rules.h"
#include "tests/spreadsheet/sheet_reader.h"
#include "tests/support/child_process.h"
#include "tests/support/writer_test_support.h"

namespace rowpress::support {
namespace {

using Row = std::vector<std::optional<std::string>>;  // nothing: NULL

constexpr std::int16_t kVarchar = 12, kInteger = 4, kDecimal = 3, kDouble = 8, kBigint = -5,
                       kBit = -7, kDate = 91, kTime = 92, kTimestamp = 93, kVarbinary = -3;

class XlsxWriterTest : public ::testing::Test {
 protected:
  // Writes the rows through `writer` in the export run's order and reads the workbook back.
  SheetDump write(XlsxWriter& writer, const std::vector<ColumnInfo>& columns,
                  const std::vector<Row>& rows) {
    OutputFile out = OutputFile::create(path_, true);
    EXPECT_TRUE(out.isOpen());
    writer.begin(out);
    writer.header(columns);
    for (const Row& row : rows) {
      writer.beginRow();
      for (const auto& value : row) {
        changes_.push_back(writer.cell(value ? CellValue{*value} : CellValue{{}, true}));
      }
      writer.endRow();
    }
    writer.finish(static_cast<int>(columns.size()), static_cast<long long>(rows.size()) + 1);
    EXPECT_TRUE(out.close()) << std::strerror(out.error());
    SheetDump dump = readWithPython("xlsx", path_, temp_.path());
    EXPECT_EQ(dump.errors, std::vector<std::string>{}) << dump.log;
    return dump;
  }

  SheetDump write(const std::vector<ColumnInfo>& columns, const std::vector<Row>& rows) {
    XlsxWriter writer;
    return write(writer, columns, rows);
  }

  // The cells of one column below the header, as "kind:text".
  static std::vector<std::string> columnCells(const Sheet& sheet, std::size_t k) {
    std::vector<std::string> cells;
    for (std::size_t r = 1; r < sheet.rows.size(); ++r) {
      const SheetCell cell = cellAt(sheet.rows[r], k);
      cells.push_back(cell.kind + ":" + cell.text);
    }
    return cells;
  }

  TempDir temp_;
  std::string path_ = temp_ / "out.xlsx";
  std::vector<ValueChanges> changes_;  // of each cell written, row by row
};

TEST_F(XlsxWriterTest, NumericColumnsHoldNumbersOnlyWhereTheyAreRealNumbers) {
  const SheetDump dump = write({column("n", 10, kDecimal), column("big", 19, kBigint)},
                               {{"3.25", "9007199254740993"},
                                {"-0.5", "123456789012345"},
                                {"+.5", "-1234567890123456"},
                                {"7.", "000000000000000001"},
                                {"1-2", "12345678901234567.5"},
                                {"", "1E+10"},
                                {std::nullopt, " 12"},
                                {"0.12345678901234567", "1.50000000000000000000"}});
  ASSERT_EQ(dump.sheets.size(), 1u);
  EXPECT_EQ(columnCells(dump.sheets[0], 0),
            (std::vector<std::string>{"number:3.25", "number:-0.5", "number:0.5", "number:7",
                                      "text:1-2", "text:", ":", "text:0.12345678901234567"}));
  // More than 15 significant digits, whole or decimal, would be rounded by the spreadsheet:
  // text. Zeros at the end of a decimal are no digits of it.
  EXPECT_EQ(columnCells(dump.sheets[0], 1),
            (std::vector<std::string>{
                "text:9007199254740993", "number:123456789012345", "text:-1234567890123456",
                "number:1", "text:12345678901234567.5", "text:1E+10", "text: 12", "number:1.5"}));
}

// A double is a number cell in its exponent form too, and one that needs 17 significant
// digits is said: the library writes 16. NaN, infinities and what no double holds stay text.
TEST_F(XlsxWriterTest, DoublesAreNumbersAndThoseThatNeed17DigitsAreCounted) {
  const std::vector<std::string> values = {
      "0.30000000000000004", "0.1", "1e-300", "1.6777216e+07", "-0", "5e-324", "1e400", "NaN",
      "-Infinity",           "1e+"};
  std::vector<Row> rows;
  for (const std::string& value : values) rows.push_back({value});
  const SheetDump dump = write({column("d", 15, kDouble)}, rows);
  ASSERT_EQ(dump.sheets.size(), 1u);
  EXPECT_EQ(columnCells(dump.sheets[0], 0),
            (std::vector<std::string>{"number:0.3", "number:0.1", "number:1e-300",
                                      "number:16777216", "number:0", "number:5e-324", "text:1e400",
                                      "text:NaN", "text:-Infinity", "text:1e+"}));
  std::vector<ValueChanges> digits(values.size(), 0);
  digits[0] = changeOf(ValueRule::Digits);
  EXPECT_EQ(changes_, digits);
}

TEST_F(XlsxWriterTest, DatesTimesAndTimestampsAreDateCellsWithinTheSpreadsheetsCalendar) {
  const SheetDump dump =
      write({column("d", 10, kDate), column("t", 8, kTime), column("ts", 26, kTimestamp)},
            {{"2024-02-29", "23:59:59", "2024-01-02 03:04:05"},
             {"1900-03-01", "00:00:00", "2024-01-02 03:04:05.250"},
             {"9999-12-31", "12:30:00.5", "2024-01-02T03:04:05"},
             {"1900-02-28", "24:00:00", "2024-01-02 03:04:05+01"},
             {"0000-00-00", "-01:00:00", "0000-00-00 00:00:00"},
             {"2023-02-29", "12:60:00", "10000-01-01 00:00:00"},
             {"2024-1-2", "838:59:59", "2024-01-02 03:04"},
             // A date before Christ is no date of the spreadsheet's era.
             {"4713-01-01 BC", "10:00:00 BC", "4713-01-01 10:00:00 BC"},
             // A fraction past the millisecond is cut, never rounded into the next day.
             {"2024-02-29", "23:59:59.9999", "9999-12-31 23:59:59.99999"}});
  ASSERT_EQ(dump.sheets.size(), 1u);
  const Sheet& sheet = dump.sheets[0];
  EXPECT_EQ(
      columnCells(sheet, 0),
      (std::vector<std::string>{"datetime:2024-02-29T00:00:00", "datetime:1900-03-01T00:00:00",
                                "datetime:9999-12-31T00:00:00", "text:1900-02-28",
                                "text:0000-00-00", "text:2023-02-29", "text:2024-1-2",
                                "text:4713-01-01 BC", "datetime:2024-02-29T00:00:00"}));
  EXPECT_EQ(
      columnCells(sheet, 1),
      (std::vector<std::string>{"time:23:59:59", "time:00:00:00", "time:12:30:00.500000",
                                "text:24:00:00", "text:-01:00:00", "text:12:60:00",
                                "text:838:59:59", "text:10:00:00 BC", "time:23:59:59.999000"}));
  EXPECT_EQ(columnCells(sheet, 2),
            (std::vector<std::string>{
                "datetime:2024-01-02T03:04:05", "datetime:2024-01-02T03:04:05.250000",
                "datetime:2024-01-02T03:04:05", "text:2024-01-02 03:04:05+01",
                "text:0000-00-00 00:00:00", "text:10000-01-01 00:00:00", "text:2024-01-02 03:04",
                "text:4713-01-01 10:00:00 BC", "datetime:9999-12-31T23:59:59.999000"}));
}

// NULL is no cell; the empty text is a string cell holding it.
TEST_F(XlsxWriterTest, BitsAreBooleansBinaryIsMarkedAndNullIsAnEmptyCell) {
  const SheetDump dump = write({column("b", 1, kBit), column("bin", 16, kVarbinary),
                                column("s", 10, kVarchar), column("i", 10, kInteger)},
                               {{"1", "<BINARY>", "", "42"},
                                {"0", "<BINARY>", std::nullopt, std::nullopt},
                                {"t", "<BINARY>", "x", "-7"},
                                {std::nullopt, "<BINARY>", "NULL", "0"}});
  ASSERT_EQ(dump.sheets.size(), 1u);
  const Sheet& sheet = dump.sheets[0];
  EXPECT_EQ(columnCells(sheet, 0),
            (std::vector<std::string>{"bool:TRUE", "bool:FALSE", "text:t", ":"}));
  EXPECT_EQ(columnCells(sheet, 1), std::vector<std::string>(4, "text:<BINARY>"));
  EXPECT_EQ(columnCells(sheet, 2), (std::vector<std::string>{"text:", ":", "text:x", "text:NULL"}));
  EXPECT_EQ(columnCells(sheet, 3),
            (std::vector<std::string>{"number:42", ":", "number:-7", "number:0"}));
}

TEST_F(XlsxWriterTest, TextKeepsUtf8AndMarkupAndDropsWhatTheWorkbookDrops) {
  const std::string twoUnits = "\xF0\x9F\x98\x80";  // U+1F600: two UTF-16 units
  const std::string fits = std::string(32765, 'a') + twoUnits;
  const std::string over = std::string(32766, 'a') + twoUnits;
  const SheetDump dump =
      write({column("Größe <&>", 10, kVarchar)}, {{"Zürich \xE2\x82\xAC <b>&amp;</b> \"q\" 'a'"},
                                                  {"a\tb\r\nc\x01\x7F"},
                                                  {"bad \xC3 \xFF \xED\xA0\x80 end"},
                                                  {"\x01\x02"},
                                                  {fits},
                                                  {over},
                                                  {std::string(32767, 'x')}});
  ASSERT_EQ(dump.sheets.size(), 1u);
  const Sheet& sheet = dump.sheets[0];
  EXPECT_EQ(cellAt(sheet.rows[0], 0), (SheetCell{"text", "Größe <&>"}));
  const std::vector<std::string> cells = columnCells(sheet, 0);
  ASSERT_EQ(cells.size(), 7u);
  EXPECT_EQ(cells[0], "text:Zürich \xE2\x82\xAC <b>&amp;</b> \"q\" 'a'");
  EXPECT_EQ(cells[1], "text:abc\x7F");
  EXPECT_EQ(cells[2], "text:bad    end");
  EXPECT_EQ(cells[3], "text:");  // nothing is left of it but a value
  // 32,767 characters as the spreadsheet counts them fit; one more is too large. (Compared
  // without printing: a failure would show 32 KiB of text.)
  EXPECT_TRUE(cells[4] == "text:" + fits) << cells[4].size();
  EXPECT_EQ(cells[5], "text:<Too Large>");
  EXPECT_TRUE(cells[6] == "text:" + std::string(32767, 'x')) << cells[6].size();
}

TEST_F(XlsxWriterTest, HeaderIsBoldAndFrozenWithAnAutofilterAndCappedWidths) {
  const SheetDump dump =
      write({column("id", 10, kInteger), column("name", 30, kVarchar),
             column("notes", 2147483647, kVarchar), column("a_long_column_name", 2, kVarchar),
             column("d", 10, kDate)},
            {{"1", "x", "y", "z", "2024-01-02"}, {"2", "x", "y", "z", "2024-01-03"}});
  ASSERT_EQ(dump.sheets.size(), 1u);
  const Sheet& sheet = dump.sheets[0];
  EXPECT_EQ(sheet.name, "Sheet1");
  EXPECT_EQ(sheet.rows[0], (SheetRow{{"text", "id"},
                                     {"text", "name"},
                                     {"text", "notes"},
                                     {"text", "a_long_column_name"},
                                     {"text", "d"}}));
  EXPECT_EQ(sheet.infoOf("bold"), "11111");
  EXPECT_EQ(sheet.infoOf("freeze"), "A2");
  EXPECT_EQ(sheet.infoOf("filter"), "A1:E3");
  // The declared size, the header's name beside its filter button, at most 50 characters;
  // the spreadsheet adds a little padding to each.
  const std::string widths = sheet.infoOf("widths");
  std::vector<double> w;
  for (std::size_t from = 0; from <= widths.size();) {
    const std::size_t comma = std::min(widths.find(',', from), widths.size());
    w.push_back(std::stod(widths.substr(from, comma - from)));
    from = comma + 1;
  }
  ASSERT_EQ(w.size(), 5u) << widths;
  EXPECT_NEAR(w[0], 12, 1);
  EXPECT_NEAR(w[1], 30, 1);
  EXPECT_NEAR(w[2], 50, 1);
  EXPECT_NEAR(w[3], 21, 1);
  EXPECT_NEAR(w[4], 10, 1);
}

TEST_F(XlsxWriterTest, RowsGoOnInTheNextSheetBelowItsOwnHeaderRow) {
  XlsxWriter writer(3);
  std::vector<Row> rows;
  for (int i = 1; i <= 7; ++i) rows.push_back({std::to_string(i), "r" + std::to_string(i)});
  const SheetDump dump = write(writer, {column("n", 10, kInteger), column("s")}, rows);
  ASSERT_EQ(dump.sheets.size(), 3u);
  const std::vector<std::vector<std::string>> expected = {
      {"number:1", "number:2", "number:3"}, {"number:4", "number:5", "number:6"}, {"number:7"}};
  for (std::size_t s = 0; s < 3; ++s) {
    const Sheet& sheet = dump.sheets[s];
    EXPECT_EQ(sheet.name, "Sheet" + std::to_string(s + 1));
    EXPECT_EQ(sheet.rows[0], (SheetRow{{"text", "n"}, {"text", "s"}}));
    EXPECT_EQ(columnCells(sheet, 0), expected[s]);
    EXPECT_EQ(sheet.infoOf("freeze"), "A2");
    EXPECT_EQ(sheet.infoOf("bold"), "11");
    EXPECT_EQ(sheet.infoOf("filter"), "A1:B" + std::to_string(expected[s].size() + 1));
  }
}

// A report: one worksheet per sheet, named by it, each with its header row, frozen pane and
// autofilter. A full sheet goes on in "NAME (2)", "NAME (3)", ..., clear of the names of the
// report's other sheets (a later sheet's included, compared without case) and cut to 31
// UTF-16 code units.
TEST_F(XlsxWriterTest, AReportWritesNamedSheetsAndFullOnesGoOnInNumberedSheets) {
  const std::string longName = "Zürich quarterly orders 2024 €€";  // 31 code units
  ASSERT_EQ(utf16Length(longName), 31u);
  ReportSheet orders{"Orders", {column("n", 10, kInteger), column("s")}, {}};
  for (int i = 1; i <= 5; ++i) orders.rows.push_back({std::to_string(i), "r" + std::to_string(i)});
  const ReportSheet given{"orders (3)", {column("d", 10, kDate)}, {{"2024-02-29"}}};
  const ReportSheet empty{"empty", {column("e")}, {}};
  const ReportSheet wide{longName, {column("x", 10, kInteger)}, {{"1"}, {"2"}, {"3"}}};
  XlsxWriter writer(2);
  writeReport(writer, path_, {orders, given, empty, wide});
  const SheetDump dump = readWithPython("xlsx", path_, temp_.path());
  EXPECT_EQ(dump.errors, std::vector<std::string>{}) << dump.log;

  struct Expected {
    std::string name;
    SheetRow header;
    std::vector<std::string> cells;  // of the first column below the header
  };
  const SheetRow nsHeader{{"text", "n"}, {"text", "s"}};
  const std::vector<Expected> expected{
      {"Orders", nsHeader, {"number:1", "number:2"}},
      {"Orders (2)", nsHeader, {"number:3", "number:4"}},
      {"Orders (4)", nsHeader, {"number:5"}},
      {"orders (3)", {{"text", "d"}}, {"datetime:2024-02-29T00:00:00"}},
      {"empty", {{"text", "e"}}, {}},
      {longName, {{"text", "x"}}, {"number:1", "number:2"}},
      {"Zürich quarterly orders 202 (2)", {{"text", "x"}}, {"number:3"}},
  };
  ASSERT_EQ(dump.sheets.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const Sheet& sheet = dump.sheets[k];
    SCOPED_TRACE(expected[k].name);
    EXPECT_EQ(sheet.name, expected[k].name);
    ASSERT_FALSE(sheet.rows.empty());
    EXPECT_EQ(sheet.rows[0], expected[k].header);
    EXPECT_EQ(columnCells(sheet, 0), expected[k].cells);
    EXPECT_EQ(sheet.infoOf("freeze"), "A2");
    EXPECT_EQ(sheet.infoOf("bold"), std::string(expected[k].header.size(), '1'));
    // The header row and the sheet's rows; a range of one cell is named by that cell.
    const std::string corner =
        std::string(1, static_cast<char>('A' + expected[k].header.size() - 1)) +
        std::to_string(expected[k].cells.size() + 1);
    EXPECT_EQ(sheet.infoOf("filter"), corner == "A1" ? corner : "A1:" + corner);
  }
}

// A job that never starts a sheet keeps the names it always had, whatever it plans.
TEST_F(XlsxWriterTest, AJobWithOneResultKeepsSheet1AndSheet2) {
  XlsxWriter writer(1);
  const SheetDump dump = write(writer, {column("n", 10, kInteger)}, {{"1"}, {"2"}});
  ASSERT_EQ(dump.sheets.size(), 2u);
  EXPECT_EQ(dump.sheets[0].name, "Sheet1");
  EXPECT_EQ(dump.sheets[1].name, "Sheet2");
  EXPECT_EQ(columnCells(dump.sheets[1], 0), std::vector<std::string>{"number:2"});
}

// A locale with a decimal comma, made for the test in a directory of its own.
std::string commaLocaleDirectory(const std::string& directory) {
  const std::string localedef = findProgram("localedef");
  EXPECT_FALSE(localedef.empty()) << "localedef is missing (Debian libc-bin)";
  const int status = runShell(shellQuote(localedef) + " -i de_DE -f UTF-8 " +
                              shellQuote(directory + "/de_DE.UTF-8") + " > /dev/null 2>&1");
  EXPECT_TRUE(status == 0 || status == 1) << "localedef failed: " << status;
  return directory;
}

TEST_F(XlsxWriterTest, NumbersAreWrittenInTheCLocaleUnderACommaDecimalLocale) {
  const std::string saved = setlocale(LC_ALL, nullptr);
  setenv("LOCPATH", commaLocaleDirectory(temp_.path()).c_str(), 1);
  ASSERT_NE(setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "the comma locale could not be made";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.2f", 3.25);
  EXPECT_STREQ(probe, "3,25");  // the locale is the one that would break the file
  SheetDump dump;
  {
    XlsxWriter writer;
    OutputFile out = OutputFile::create(path_, true);
    writer.begin(out);
    writer.header({column("n", 10, kDouble), column("t", 8, kTime)});
    writer.beginRow();
    writer.cell({"3.25"});
    writer.cell({"12:00:00.5"});
    writer.endRow();
    writer.finish(2, 2);
    EXPECT_TRUE(out.close());
  }
  setlocale(LC_ALL, saved.c_str());
  unsetenv("LOCPATH");
  dump = readWithPython("xlsx", path_, temp_.path());
  ASSERT_EQ(dump.sheets.size(), 1u) << dump.log;
  EXPECT_EQ(dump.errors, std::vector<std::string>{});
  EXPECT_EQ(columnCells(dump.sheets[0], 0), std::vector<std::string>{"number:3.25"});
  EXPECT_EQ(columnCells(dump.sheets[0], 1), std::vector<std::string>{"time:12:00:00.500000"});
}

// The library opens the workbook by name only when it is finished. The name it gets is the
// descriptor's, so a link put in place of the file's name by then (by someone who may write
// the directory) leads it nowhere else; its own temporary files go to the work directory.
TEST_F(XlsxWriterTest, TheWorkbookIsWrittenThroughTheDescriptorWhateverBecomesOfItsName) {
  const std::string work = temp_ / "work";
  ASSERT_EQ(::mkdir(work.c_str(), 0700), 0);
  const int workFd = ::open(work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(workFd, 0);
  const std::string victim = temp_ / "victim";
  writeFile(victim, "not the workbook's to overwrite");
  {
    XlsxWriter writer;
    OutputFile out = OutputFile::create(path_, true);
    out.setWorkDirectory(workFd);
    writer.begin(out);
    writer.header({column("s")});
    writer.beginRow();
    writer.cell({"x"});
    writer.endRow();
    std::filesystem::rename(path_, temp_ / "moved.xlsx");
    std::filesystem::create_symlink(victim, path_);
    writer.finish(1, 2);
    EXPECT_TRUE(out.close()) << out.errorText();
  }
  ::close(workFd);
  EXPECT_EQ(readFile(victim), "not the workbook's to overwrite");
  EXPECT_EQ(listDirectory(work), std::vector<std::string>{});
  EXPECT_EQ(listDirectory(temp_.path()),
            (std::vector<std::string>{"moved.xlsx", "out.xlsx", "victim", "work"}));
  const SheetDump dump = readWithPython("xlsx", temp_ / "moved.xlsx", temp_.path());
  ASSERT_EQ(dump.sheets.size(), 1u) << dump.log;
  EXPECT_EQ(columnCells(dump.sheets[0], 0), std::vector<std::string>{"text:x"});
}

// The library writes the finished rows to the sheet's temporary file and does not look at
// the result. A file size limit stands for a disk that fills up: the rows stop there, and
// the file fails with the reason instead of losing them without a word. Run in a child
// process, so that the limit holds for nothing else.
TEST_F(XlsxWriterTest, ARowThatCannotBeWrittenFailsTheFileWithTheReason) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{256 * 1024, 256 * 1024};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(100);
    XlsxWriter writer;
    OutputFile out = OutputFile::create(path_, true);
    writer.begin(out);
    writer.header({column("s", 80)});
    const std::string text(60, 'r');
    int rows = 0;
    // As the export run does: it stops fetching once the file has failed.
    for (; rows < 100000 && out.error() == 0; ++rows) {
      writer.beginRow();
      writer.cell({text});
      writer.endRow();
    }
    writer.finish(1, rows + 1);
    const int error = out.error();
    ::_exit(out.close() ? 101 : rows == 100000 ? 102 : error);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), EFBIG) << "101: kept, 102: every row went through";
}

}  // namespace
}  // namespace rowpress::support
