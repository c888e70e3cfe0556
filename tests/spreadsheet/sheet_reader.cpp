#include "tests/spreadsheet/sheet_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/support/child_process.h"
#include "tests/support/test_files.h"

namespace rowpress::support {

namespace {

std::string unescape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    switch (text[++i]) {
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      default:
        out += text[i];
        break;
    }
  }
  return out;
}

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  while (true) {
    std::size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab == std::string::npos ? tab : tab - from));
    if (tab == std::string::npos) return fields;
    from = tab + 1;
  }
}

// Seconds since midnight of "HH:MM:SS[.fraction]" or of LibreOffice's "PTHHHMMMSS[.f]S".
bool secondsOf(const std::string& text, double& seconds) {
  int hours = 0, minutes = 0;
  double secs = 0;
  if (std::sscanf(text.c_str(), "PT%dH%dM%lfS", &hours, &minutes, &secs) == 3 ||
      std::sscanf(text.c_str(), "%d:%d:%lf", &hours, &minutes, &secs) == 3) {
    seconds = hours * 3600.0 + minutes * 60.0 + secs;
    return true;
  }
  return false;
}

// A date and a time "YYYY-MM-DDTHH:MM:SS[.f]" (or a date alone, at midnight) as the date and
// the seconds of its day.
bool dateTimeOf(const std::string& text, std::string& date, double& seconds) {
  if (text.size() < 10) return false;
  date = text.substr(0, 10);
  seconds = 0;
  return text.size() == 10 || (text[10] == 'T' && secondsOf(text.substr(11), seconds));
}

bool sameDateTime(const std::string& actual, const std::string& expected, double tolerance) {
  std::string actualDate, expectedDate;
  double actualSeconds = 0, expectedSeconds = 0;
  return dateTimeOf(actual, actualDate, actualSeconds) &&
         dateTimeOf(expected, expectedDate, expectedSeconds) && actualDate == expectedDate &&
         std::abs(actualSeconds - expectedSeconds) <= tolerance;
}

}  // namespace

bool sameXlsxCell(const SheetCell& actual, const SheetCell& expected, bool libreOffice) {
  const std::string& kind = expected.kind;
  // LibreOffice writes the seconds of a date and time in hundredths, cut (59.999 as 59.99).
  const double tolerance = libreOffice ? 0.01 : 0.001;
  if (kind.empty()) return actual == SheetCell{};
  if (kind == "text") {
    // LibreOffice reads a string cell that holds the empty text as an empty cell.
    return actual == SheetCell{libreOffice ? "string" : "text", expected.text} ||
           (libreOffice && expected.text.empty() && actual == SheetCell{});
  }
  if (kind == "number") {
    return actual.kind == (libreOffice ? "float" : "number") && !actual.text.empty() &&
           std::strtod(actual.text.c_str(), nullptr) == std::strtod(expected.text.c_str(), nullptr);
  }
  if (kind == "bool") {
    return libreOffice ? actual == SheetCell{"boolean", expected.text == "TRUE" ? "true" : "false"}
                       : actual == SheetCell{"bool", expected.text};
  }
  if (kind == "time") {
    double a = 0, e = 0;
    return actual.kind == "time" && secondsOf(actual.text, a) && secondsOf(expected.text, e) &&
           std::abs(a - e) <= tolerance;
  }
  // A date alone is a date-time at midnight to openpyxl.
  if (kind == "date" || kind == "datetime") {
    return actual.kind == (libreOffice ? "date" : "datetime") &&
           sameDateTime(actual.text, expected.text, tolerance);
  }
  return false;
}

namespace {

// The rows of `sheet` are `rows`, typed cells as sameXlsxCell takes them, and the sheet holds
// no further non-empty row or cell.
void expectXlsxRows(const Sheet& sheet, const std::vector<SheetRow>& rows, bool libreOffice) {
  EXPECT_EQ(usedRows(sheet), rows.size());
  int mismatches = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const SheetRow none;
    const SheetRow& actual = r < sheet.rows.size() ? sheet.rows[r] : none;
    EXPECT_LE(usedCells(actual), rows[r].size()) << "row " << r + 1;
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      const SheetCell cell = cellAt(actual, c);
      if (sameXlsxCell(cell, rows[r][c], libreOffice) || ++mismatches > 10) continue;
      ADD_FAILURE() << "row " << r + 1 << ", column " << c + 1 << ": expected " << rows[r][c].kind
                    << " \"" << rows[r][c].text.substr(0, 80) << "\", read " << cell.kind << " \""
                    << cell.text.substr(0, 80) << "\"";
    }
  }
}

// Reads the workbook with LibreOffice and with openpyxl and hands each reading to `expect`;
// returns what openpyxl read.
SheetDump readXlsxByBoth(const std::string& path, const std::string& scratchDirectory,
                         const std::function<void(const SheetDump&, bool)>& expect) {
  const std::string converted = scratchDirectory + "/converted";
  std::filesystem::create_directories(converted);
  std::string log;
  EXPECT_EQ(convertWithLibreOffice({path}, converted, scratchDirectory, log), 0) << log;
  SheetDump read;
  for (const bool libreOffice : {true, false}) {
    SCOPED_TRACE(libreOffice ? "LibreOffice" : "openpyxl");
    read = libreOffice
               ? readWithPython("fods", converted + "/" + stemOf(path) + ".fods", scratchDirectory)
               : readWithPython("xlsx", path, scratchDirectory);
    EXPECT_EQ(read.errors, std::vector<std::string>{}) << read.log;
    expect(read, libreOffice);
  }
  return read;
}

}  // namespace

SheetDump expectXlsxReadByBoth(const std::string& path, const std::vector<SheetRow>& rows,
                               const std::string& scratchDirectory) {
  return readXlsxByBoth(path, scratchDirectory, [&](const SheetDump& read, bool libreOffice) {
    if (read.sheets.empty()) {
      ADD_FAILURE() << "no sheet";
      return;
    }
    expectXlsxRows(read.sheets[0], rows, libreOffice);
  });
}

SheetDump expectXlsxSheetsReadByBoth(const std::string& path, const std::vector<NamedRows>& sheets,
                                     const std::string& scratchDirectory) {
  return readXlsxByBoth(path, scratchDirectory, [&](const SheetDump& read, bool libreOffice) {
    std::vector<std::string> names, expectedNames;
    for (const Sheet& sheet : read.sheets) names.push_back(sheet.name);
    for (const NamedRows& sheet : sheets) expectedNames.push_back(sheet.name);
    EXPECT_EQ(names, expectedNames);
    for (std::size_t k = 0; k < sheets.size() && k < read.sheets.size(); ++k) {
      SCOPED_TRACE("sheet " + sheets[k].name);
      expectXlsxRows(read.sheets[k], sheets[k].rows, libreOffice);
    }
  });
}

SheetDump parseSheetDump(const std::string& text) {
  SheetDump dump;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields = splitTabs(line);
    if (fields[0] == "S") {
      dump.sheets.push_back(Sheet{fields.size() > 1 ? unescape(fields[1]) : "", {}, {}});
    } else if (fields[0] == "R" && !dump.sheets.empty()) {
      SheetRow row;
      for (std::size_t i = 1; i < fields.size(); ++i) {
        std::size_t colon = fields[i].find(':');
        if (colon == std::string::npos) {
          dump.errors.push_back("a cell without a kind: " + fields[i]);
          continue;
        }
        row.push_back({fields[i].substr(0, colon), unescape(fields[i].substr(colon + 1))});
      }
      dump.sheets.back().rows.push_back(std::move(row));
    } else if (fields[0] == "I" && !dump.sheets.empty()) {
      for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::size_t colon = fields[i].find(':');
        dump.sheets.back().info.emplace_back(
            fields[i].substr(0, colon),
            colon == std::string::npos ? std::string() : unescape(fields[i].substr(colon + 1)));
      }
    } else if (fields[0] == "E") {
      dump.errors.push_back(fields.size() > 1 ? unescape(fields[1]) : "");
    } else {
      dump.errors.push_back("a line the reader should not print: " + line);
    }
  }
  return dump;
}

SheetDump readWithPython(const std::string& mode, const std::string& file,
                         const std::string& scratchDirectory) {
  const std::string python = "/usr/bin/python3";
  if (::access(python.c_str(), X_OK) != 0) {
    SheetDump missing;
    missing.errors.push_back(python + " is missing: install python3 (scripts/install-deps.sh)");
    return missing;
  }
  const std::string script = std::string(ROWPRESS_SOURCE_DIR) + "/tests/spreadsheet/sheet_dump.py";
  const std::string out = scratchDirectory + "/sheet-dump.out";
  const std::string err = scratchDirectory + "/sheet-dump.err";
  const int status =
      runShell(shellQuote(python) + " " + shellQuote(script) + " " + mode + " " + shellQuote(file) +
               " > " + shellQuote(out) + " 2> " + shellQuote(err) + " < /dev/null");
  SheetDump dump = parseSheetDump(readFile(out));
  dump.exitStatus = status;
  dump.log = readFile(err);
  if (status != 0 && dump.errors.empty()) {
    dump.errors.push_back("sheet_dump.py ended with status " + std::to_string(status) + ": " +
                          dump.log);
  }
  return dump;
}

int convertWithLibreOffice(const std::vector<std::string>& files,
                           const std::string& outputDirectory, const std::string& scratchDirectory,
                           std::string& log, const std::string& locale,
                           const std::string& inputFilter) {
  const std::string soffice = findProgram("soffice");
  if (soffice.empty()) {
    log =
        "soffice is missing: scripts/install-deps.sh installs LibreOffice Calc, or says which "
        "packages installing it would remove";
    return -1;
  }
  const std::string home = scratchDirectory + "/lo-home";
  const std::string profile = scratchDirectory + "/lo-profile";
  std::filesystem::create_directories(home);
  // Set before the profile's first run; a later run keeps what that one made of it.
  if (!locale.empty() && !std::filesystem::exists(profile + "/user/registrymodifications.xcu")) {
    std::filesystem::create_directories(profile + "/user");
    std::ofstream(profile + "/user/registrymodifications.xcu")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
        << "<item oor:path=\"/org.openoffice.Setup/L10N\"><prop oor:name=\"ooSetupSystemLocale\" "
           "oor:op=\"fuse\"><value>"
        << locale << "</value></prop></item>\n"
        << "<item oor:path=\"/org.openoffice.Setup/L10N\"><prop oor:name=\"ooLocale\" "
           "oor:op=\"fuse\"><value>"
        << locale << "</value></prop></item>\n</oor:items>\n";
  }
  std::string command =
      "env -u DISPLAY -u WAYLAND_DISPLAY HOME=" + shellQuote(home) + " timeout 300 " +
      shellQuote(soffice) + " --headless --norestore --nolockcheck -env:UserInstallation=file://" +
      profile + (inputFilter.empty() ? "" : " " + shellQuote("--infilter=" + inputFilter)) +
      " --convert-to fods --outdir " + shellQuote(outputDirectory);
  for (const std::string& file : files) command += " " + shellQuote(file);
  const std::string logFile = scratchDirectory + "/soffice.log";
  const int status = runShell(command + " > " + shellQuote(logFile) + " 2>&1 < /dev/null");
  log = readFile(logFile);
  return status;
}

std::string stemOf(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

SheetCell cellAt(const SheetRow& row, std::size_t column) {
  return column < row.size() ? row[column] : SheetCell{};
}

std::size_t usedCells(const SheetRow& row) {
  std::size_t n = row.size();
  while (n > 0 && row[n - 1] == SheetCell{}) --n;
  return n;
}

std::size_t usedRows(const Sheet& sheet) {
  std::size_t n = sheet.rows.size();
  while (n > 0 && usedCells(sheet.rows[n - 1]) == 0) --n;
  return n;
}

}  // namespace rowpress::support
