// The three writers fed with random results: random column types, declared sizes and names,
// random values (markup, separators, line breaks, control bytes, broken UTF-8, values at
// the String cell limit), with and without fixed width. Every workbook must be well-formed
// XML (xmllint) whose table declares the rows and cells it holds; every delimited line must
// hold exactly one separator per column; every HTML page must be one table of the rows
// written; and every cell must hold what the rules of its output type make of its value.
// Standard CSV and TSV (with NULLs, now and then a byte order mark) must read back with
// Python's csv module as exactly the names and values written. Text escaped for the terminal
// must read back as exactly the text it stands for, with no control left in it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "export/delimited_writer.h"
#include "export/html_writer.h"
#include "export/output_file.h"
#include "export/spreadsheetml_writer.h"
#include "export/text_rules.h"
#include "job/shown_text.h"
#include "tests/fuzz/random_input.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"
#include "tests/support/xml_check.h"

namespace rowpress {
namespace {

using support::RandomInput;
using support::withCrLf;

struct Result {
  std::vector<ColumnInfo> columns;
  std::vector<std::vector<std::string>> rows;
  bool forceFullLength = false;
  // Which values are NULL (their text is then empty); none when empty.
  std::vector<std::vector<bool>> nulls;
};

bool isBinary(int type) { return type == -2 || type == -3 || type == -4; }
bool isNumeric(int type) {
  return type == 2 || type == 3 || type == 4 || type == 5 || type == 6 || type == 7 || type == 8 ||
         type == -6 || type == -5;
}
// A Number cell's text: an optional sign, digits with at most one full stop, one digit at
// least; but not a whole number of more than 15 digits after the leading zeros.
bool isNumberText(const std::string& text) {
  std::size_t i = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  int digits = 0;
  int significant = 0;
  int stops = 0;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
      if (significant > 0 || text[i] != '0') ++significant;
    } else if (text[i] == '.') {
      ++stops;
    } else {
      return false;
    }
  }
  return digits > 0 && stops <= 1 && (stops == 1 || significant <= 15);
}
// Printable ASCII: text whose every rule is plain to state.
bool isPlain(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 32 && c < 127; });
}
std::size_t widthOf(const ColumnInfo& column) {
  return column.declaredSize <= 0 ? 0 : std::min<std::size_t>(column.declaredSize, 65536);
}

Result randomResult(RandomInput& random) {
  static const std::vector<std::int16_t> types = {2,  3,  4,  5,   6,  7,  8,  -6, -5, 1, 12,
                                                  -1, -9, -8, -10, -7, -2, -3, -4, 91, 93};
  static const std::vector<std::int32_t> sizes = {-1, 0, 1, 2, 5, 8, 40, 255};
  static const std::vector<std::int32_t> wideSizes = {70000, INT_MAX};
  static const std::vector<std::string> numberLike = {"0",     "-12",   "3.25", "+.5", "7.", "1-2",
                                                      "1.2.3", "1E+10", "-",    ".",   " 1", ""};
  Result result;
  result.forceFullLength = random.chance(0.3);
  const auto columnCount = random.between(1, random.chance(0.05) ? 300 : 12);
  bool wide = false;
  for (long long k = 0; k < columnCount; ++k) {
    ColumnInfo column;
    column.name = random.awkwardText(5);
    column.sqlType = random.pick(types);
    column.declaredSize = random.chance(0.03) ? random.pick(wideSizes) : random.pick(sizes);
    wide = wide || column.declaredSize > 255;
    result.columns.push_back(column);
  }
  // Wide fixed-width columns make big files: few rows of them.
  const long long rowCount = random.between(0, result.forceFullLength && wide ? 2
                                               : columnCount > 12             ? 3
                                                                              : 25);
  for (long long r = 0; r < rowCount; ++r) {
    std::vector<std::string> row;
    for (const ColumnInfo& column : result.columns) {
      if (isBinary(column.sqlType)) {
        row.push_back("<BINARY>");  // what the export run hands over for a binary column
      } else if (isNumeric(column.sqlType) && random.chance(0.6)) {
        row.push_back(random.pick(numberLike));
      } else {
        row.push_back(random.awkwardText(8));
      }
    }
    result.rows.push_back(row);
  }
  // Now and then one value at the String cell limit, over it, or as long as a value can be.
  if (!result.rows.empty() && random.chance(0.08)) {
    static const std::vector<long long> lengths = {32765, 32766, 65536};
    auto& row = result.rows[static_cast<std::size_t>(random.between(0, rowCount - 1))];
    auto& value = row[static_cast<std::size_t>(random.between(0, columnCount - 1))];
    if (value != "<BINARY>") value = random.from("ab <&>'\"z", random.pick(lengths));
  }
  return result;
}

// A copy of `result` in which some values are NULL.
Result withNulls(const Result& result, RandomInput& random) {
  Result copy = result;
  for (auto& row : copy.rows) {
    copy.nulls.emplace_back();
    for (std::string& value : row) {
      copy.nulls.back().push_back(random.chance(0.15));
      if (copy.nulls.back().back()) value.clear();
    }
  }
  return copy;
}

// The writers' options for `result`: its values fixed-width or not.
WriterOptions optionsOf(const Result& result) {
  WriterOptions options;
  options.forceFullLength = result.forceFullLength;
  return options;
}

void writeWith(OutputWriter& writer, const Result& result, const std::vector<ColumnInfo>& columns,
               const std::string& path) {
  OutputFile file = OutputFile::create(path, false);
  ASSERT_TRUE(file.isOpen()) << path;
  writer.begin(file);
  writer.header(columns);
  for (std::size_t r = 0; r < result.rows.size(); ++r) {
    writer.beginRow();
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const bool null = !result.nulls.empty() && result.nulls[r][k];
      writer.cell({result.rows[r][k], null});
    }
    writer.endRow();
  }
  writer.finish(static_cast<int>(columns.size()), static_cast<long long>(result.rows.size()) + 1);
  ASSERT_TRUE(file.close()) << path;
}

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string fixed(const std::string& value, std::size_t width) {
  return value.substr(0, width) + std::string(width - std::min(width, value.size()), ' ');
}

// The cells a workbook must hold, as check_outputs.py reads them.
std::string expectedWorkbook(const Result& result) {
  std::string out;
  auto cell = [&out](const std::string& kind, const std::string& text, bool plain) {
    out += (out.empty() || out.back() == '\n' ? "" : "\t") + kind +
           (plain ? ":" + escaped(text) : "?:");
  };
  for (const ColumnInfo& column : result.columns) cell("String", column.name, isPlain(column.name));
  out += "\n";
  for (const auto& row : result.rows) {
    for (std::size_t k = 0; k < row.size(); ++k) {
      const ColumnInfo& column = result.columns[k];
      const std::string& value = row[k];
      if (isBinary(column.sqlType)) {
        cell("String", "<BINARY>", true);
      } else if (isNumeric(column.sqlType) && isNumberText(value)) {
        cell("Number", value, true);
      } else if (value.size() > 32765) {
        cell("String", "<Too Large>", true);
      } else {
        cell("String", result.forceFullLength ? fixed(value, widthOf(column)) : value,
             isPlain(value));
      }
    }
    out += "\n";
  }
  return out;
}

std::string expectedHtml(const Result& result) {
  std::string out;
  for (const ColumnInfo& column : result.columns) {
    out +=
        (&column == &result.columns.front() ? "" : "\t") + ("th:" + escaped(withCrLf(column.name)));
  }
  out += "\n";
  for (const auto& row : result.rows) {
    for (std::size_t k = 0; k < row.size(); ++k) {
      const std::string& value = row[k];
      out += k == 0 ? "" : "\t";
      if (!result.forceFullLength) {
        out += "td:" + escaped(withCrLf(value));
      } else if (isPlain(value)) {
        out += "td:" + escaped(fixed(value, widthOf(result.columns[k])));
      } else {
        out += "td?:";
      }
    }
    out += "\n";
  }
  return out;
}

// The fields of standard CSV or TSV, as check_outputs.py reads them: names and values as
// they are, NULL as the empty string; fixed-width values of plain text exactly, others by
// kind only.
std::string expectedStandard(const Result& result) {
  std::string out;
  for (const ColumnInfo& column : result.columns) {
    out += (&column == &result.columns.front() ? "" : "\t") + ("text:" + escaped(column.name));
  }
  out += "\n";
  for (const auto& row : result.rows) {
    for (std::size_t k = 0; k < row.size(); ++k) {
      const std::string& value = row[k];
      out += k == 0 ? "" : "\t";
      // NULL and the empty string are not padded: they stay an empty field and "".
      if (!result.forceFullLength || value.empty()) {
        out += "text:" + escaped(value);
      } else if (isPlain(value)) {
        out += "text:" + escaped(fixed(value, widthOf(result.columns[k])));
      } else {
        out += "text?:";
      }
    }
    out += "\n";
  }
  return out;
}

// Delimited output, checked here: lines, separators, and every field against its value.
void checkDelimited(const std::string& path, const Result& result,
                    const std::vector<ColumnInfo>& columns, char separator) {
  const std::string text = support::readFile(path);
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
    lines.push_back(text.substr(from, end - from));
  }
  EXPECT_EQ(from, text.size()) << path << ": the file does not end with CR LF";
  ASSERT_EQ(lines.size(), result.rows.size() + 1) << path;
  for (std::size_t r = 0; r < lines.size(); ++r) {
    const std::string& line = lines[r];
    ASSERT_EQ(std::count(line.begin(), line.end(), separator), static_cast<long>(columns.size()))
        << path << " line " << r + 1;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << path << " line " << r + 1;
    std::size_t start = 0;
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const std::size_t stop = line.find(separator, start);
      const std::string field = line.substr(start, stop - start);
      start = stop + 1;
      std::string value = r == 0 ? columns[k].name : result.rows[r - 1][k];
      for (char& c : value) {
        if (c == separator) c = ';';
        if (r > 0 && (c == '\r' || c == '\n')) c = '|';
      }
      if (r == 0 || !result.forceFullLength) {
        EXPECT_EQ(field, value) << path << " line " << r + 1 << " field " << k + 1;
        continue;
      }
      // Fixed width: exactly the width, the value's first bytes (cut back to a whole UTF-8
      // character, so by at most three bytes) and spaces.
      const std::size_t width = widthOf(columns[k]);
      ASSERT_EQ(field.size(), width) << path << " line " << r + 1 << " field " << k + 1;
      const std::size_t most = std::min(width, value.size());
      bool found = false;
      for (std::size_t taken = most; !found && taken + 3 >= most; --taken) {
        found = field.compare(0, taken, value, 0, taken) == 0 &&
                field.find_first_not_of(' ', taken) == std::string::npos;
        if (taken == 0) break;
      }
      EXPECT_TRUE(found) << path << " line " << r + 1 << " field " << k + 1;
    }
  }
}

// Writes `result`, with NULLs drawn from `extras`, as standard CSV and TSV (a byte order mark
// now and then) and its expected values beside them; returns their lines of the manifest.
std::string writeStandard(const Result& result, RandomInput& extras, const std::string& base) {
  std::string manifest;
  const Result standard = withNulls(result, extras);
  support::writeFile(base + ".standard.expected", expectedStandard(standard));
  for (char separator : {',', '\t'}) {
    WriterOptions options = optionsOf(result);
    options.quoteFields = true;
    options.byteOrderMark = extras.chance(0.3);
    DelimitedWriter delimited(separator, options);
    const std::string path = base + (separator == ',' ? ".s.csv" : ".s.tsv");
    writeWith(delimited, standard, standard.columns, path);
    manifest += std::string(separator == ',' ? "csv" : "tsv") +
                (options.byteOrderMark ? "-bom\t" : "\t") + path + "\t" + base +
                ".standard.expected\n";
  }
  return manifest;
}

TEST(WritersFuzzTest, RandomResultsGiveWellFormedFilesWithTheirCells) {
  ASSERT_FALSE(support::findProgram("python3").empty()) << "python3 is missing";
  RandomInput random(99);
  // NULLs and byte order marks come from a generator of their own, so that the results
  // above are the ones every earlier run of the test checked. It starts from the same value,
  // so that ROWPRESS_FUZZ_START repeats a run whole.
  RandomInput extras(random.start());
  const int inputs = RandomInput::count(800);
  support::TempDir temp;
  std::string manifest;
  std::vector<std::string> workbooks;
  for (int i = 0; i < inputs && !::testing::Test::HasFatalFailure(); ++i) {
    SCOPED_TRACE("input " + std::to_string(i) + " of start value " +
                 std::to_string(random.start()));
    const Result result = randomResult(random);
    const std::string base = temp / ("r" + std::to_string(i));

    SpreadsheetMlWriter workbook(optionsOf(result));
    writeWith(workbook, result, result.columns, base + ".xls");
    support::writeFile(base + ".xls.expected", expectedWorkbook(result));
    manifest += "workbook\t" + base + ".xls\t" + base + ".xls.expected\n";
    workbooks.push_back(base + ".xls");

    HtmlWriter html(optionsOf(result));
    writeWith(html, result, result.columns, base + ".html");
    support::writeFile(base + ".html.expected", expectedHtml(result));
    manifest += "html\t" + base + ".html\t" + base + ".html.expected\n";

    // Line breaks in column names are the one thing delimited output keeps as they are.
    std::vector<ColumnInfo> columns = result.columns;
    for (ColumnInfo& column : columns)
      std::replace_if(
          column.name.begin(), column.name.end(), [](char c) { return c == '\r' || c == '\n'; },
          '_');
    for (char separator : {',', '\t'}) {
      DelimitedWriter delimited(separator, optionsOf(result));
      const std::string path = base + (separator == ',' ? ".csv" : ".tsv");
      writeWith(delimited, result, columns, path);
      checkDelimited(path, result, columns, separator);
    }

    manifest += writeStandard(result, extras, base);
  }

  EXPECT_TRUE(support::wellFormedXml(workbooks));
  support::writeFile(temp / "manifest", manifest);
  const std::string script = std::string(ROWPRESS_SOURCE_DIR) + "/tests/fuzz/check_outputs.py";
  const std::string report = temp / "report";
  EXPECT_EQ(support::runShell("python3 " + support::shellQuote(script) + " " +
                              support::shellQuote(temp / "manifest") + " > " + report + " 2>&1"),
            0)
      << support::readFile(report).substr(0, 3000);
  EXPECT_THAT(support::readFile(report),
              ::testing::HasSubstr("CHECKED\t" + std::to_string(4 * inputs) + "\n"));
  std::cout << "[ fuzz     ] " << inputs
            << " random results, each written as workbook, CSV, TSV, standard CSV and TSV, and "
               "HTML\n";
}

// Reads text that escapeControls wrote back into the text it stands for: "\\", "\n", "\r",
// "\t" and "\xNN" are escapes, any other backslash is itself; a final line feed is itself.
std::string readEscaped(std::string_view shown) {
  auto hex = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  std::string text;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const char c = shown[i];
    const char next = i + 1 < shown.size() ? shown[i + 1] : '\0';
    if (c != '\\' || (next != '\\' && next != 'n' && next != 'r' && next != 't' && next != 'x')) {
      text += c;
    } else if (next == 'x') {
      text += static_cast<char>(hex(shown[i + 2]) * 16 + hex(shown[i + 3]));
      i += 3;
    } else {
      text += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : '\\';
      ++i;
    }
  }
  return text;
}

// Whether `text` is well-formed UTF-8 (Unicode table 3-7).
bool wellFormedUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    const std::size_t length = c < 0x80   ? 1
                               : c < 0xC2 ? 0
                               : c < 0xE0 ? 2
                               : c < 0xF0 ? 3
                               : c < 0xF5 ? 4
                                          : 0;
    if (length == 0 || i + length > n) return false;
    const unsigned char lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    for (std::size_t k = 1; k < length; ++k) {
      if (p[i + k] < (k == 1 ? lo : 0x80) || p[i + k] > (k == 1 ? hi : 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

TEST(WritersFuzzTest, EscapedTextReadsBackAsTheTextItShowsAndHoldsNoControl) {
  RandomInput random(7);
  const int inputs = RandomInput::count(20000);
  const std::vector<std::string> escapeLike = {"\\", "\\n",      "\\x",      "\\x1b",   "x",
                                               "n",  "\xC2\x9B", "\xC2\xA0", "\x1B[2K", "\n"};
  for (int i = 0; i < inputs && !::testing::Test::HasFailure(); ++i) {
    SCOPED_TRACE("input " + std::to_string(i) + " of start value " +
                 std::to_string(random.start()));
    std::string text = random.awkwardText(12);
    for (long long k = random.between(0, 6); k > 0; --k) {
      text.insert(static_cast<std::size_t>(random.between(0, static_cast<long long>(text.size()))),
                  random.pick(escapeLike));
    }
    const std::string shown = escapeControls(text);
    EXPECT_EQ(readEscaped(shown), text) << shown;
    EXPECT_TRUE(wellFormedUtf8(shown)) << shown;
    // Nothing a terminal acts on: no C0 control but a final line feed, no DEL, no C1 control.
    for (std::size_t k = 0; k < shown.size(); ++k) {
      const auto c = static_cast<unsigned char>(shown[k]);
      const bool lineEnd = c == '\n' && k + 1 == shown.size();
      EXPECT_TRUE((c >= 0x20 && c != 0x7F) || lineEnd) << shown;
      if (c == 0xC2 && k + 1 < shown.size()) {
        EXPECT_FALSE(static_cast<unsigned char>(shown[k + 1]) < 0xA0) << shown;
      }
    }
  }
}

}  // namespace
}  // namespace rowpress
