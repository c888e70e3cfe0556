#include "app/command_line.h"

#include <optional>
#include <string_view>

namespace rowpress {

namespace {

// The switches without a value: the argument is the switch itself.
constexpr std::string_view kBareSwitches[] = {"-silent", "-quiet",    "-noautoopen",
                                              "-strict", "-manifest", "-h",
                                              "--help",  "--version", "-decimalcomma"};
// The switches with a value: the argument begins with the switch, "=" included.
constexpr std::string_view kValueSwitches[] = {
    "-file=",  "-outfile=",  "-openwith=",  "-passwordfile=", "-timeout=",
    "-param=", "-manifest=", "-separator=", "-encoding=",     "-timezone="};

// The switch that takes a value which `arg` begins with, or nothing.
std::optional<std::string_view> valueSwitchOf(std::string_view arg) {
  for (std::string_view name : kValueSwitches) {
    if (arg.starts_with(name)) return name;
  }
  return std::nullopt;
}

bool isBareSwitch(std::string_view arg) {
  for (std::string_view name : kBareSwitches) {
    if (arg == name) return true;
  }
  return false;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  // Settings files are collected in order and read before any switch applies, so that a
  // switch beats a settings file wherever it stands.
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (const auto name = valueSwitchOf(arg)) {
      const std::string value(arg.substr(name->size()));
      if (value.empty() && (*name == "-file=" || *name == "-manifest=" || *name == "-separator=" ||
                            *name == "-encoding=" || *name == "-timezone=")) {
        line.emptyValues.emplace_back(*name);
        continue;
      }
      if (*name == "-file=") line.settingsFiles.push_back(value);
      if (*name == "-outfile=") line.outFile = value;
      if (*name == "-openwith=") line.openWith = value;
      if (*name == "-passwordfile=") line.passwordFile = value;
      if (*name == "-timeout=") line.timeout = value;
      if (*name == "-param=") line.parameters.push_back(value);
      if (*name == "-manifest=") line.manifest = value;
      if (*name == "-separator=") line.separator = value;
      if (*name == "-encoding=") line.encoding = value;
      if (*name == "-timezone=") line.timeZone = value;
    } else if (isBareSwitch(arg)) {
      if (arg == "-silent") line.silent = true;
      if (arg == "-quiet") line.quiet = true;
      if (arg == "-strict") line.strict = true;
      if (arg == "-manifest") line.manifest = "";
      if (arg == "-noautoopen") line.noAutoOpen = true;
      if (arg == "-decimalcomma") line.decimalComma = true;
      if (arg == "-h" || arg == "--help") line.help = true;
      if (arg == "--version") line.version = true;
    } else {
      line.refused.push_back(std::string(arg));
    }
  }
  return line;
}

std::string refusedArgumentLine(const std::string& argument) {
  return argument + ": not a switch of rowpress (see rowpress --help)";
}

std::string emptyValueLine(const std::string& name) {
  return name + ": the switch needs a value; an empty one is refused";
}

std::string helpText(const std::string& defaultDirectory) {
  return "Usage: rowpress [-file=JOB.DIRU ...] [-outfile=PATH] [-openwith=APPLICATION]\n"
         "                [-noautoopen] [-silent] [-quiet] [-passwordfile=PATH]\n"
         "                [-timeout=SECONDS] [-param=NAME=VALUE ...] [-strict]\n"
         "                [-manifest[=values]] ['-separator=;'] [-decimalcomma]\n"
         "                [-encoding=NAME] [-timezone=NAME]\n"
         "\n"
         "Pulls the result of one SQL query out of an ODBC data source into an Excel XML\n"
         "workbook, an .xlsx workbook, a CSV, TSV or HTML file. Without -silent the window\n"
         "opens with the job that the settings files and switches describe.\n"
         "\n"
         "Output types (the window's boxes, or a settings file's keys):\n"
         "  XML workbook   the default: Excel 2003 XML, .xls (.xml with 2007); numbers and\n"
         "                 text, at most 65,534 rows (1,048,576 with 2007)\n"
         "  XLSX=1         Office Open XML workbook, .xlsx: numbers, dates, times and\n"
         "                 booleans as typed cells, a frozen header with a filter, further\n"
         "                 sheets past 1,048,575 rows\n"
         "  CSV=1, TSV=1   comma- or tab-separated text, .csv, for other programs;\n"
         "                 QuoteFields=1 writes standard quoted CSV, ByteOrderMark=1 starts\n"
         "                 the file with a UTF-8 byte order mark\n"
         "  HTML=1         a bare HTML table for a browser, .html\n"
         "\n"
         "CSV and TSV write a separator in a value as \";\" and CR and LF as \"|\" unless the\n"
         "settings key QuoteFields is 1 (\"Quote Fields\"): standard CSV, every value as it\n"
         "is, quoted when it holds the separator, a double quote, CR or LF; NULL an empty\n"
         "field, the empty string \"\". The key ByteOrderMark at 1 (\"UTF-8 Byte Order\n"
         "Mark\") starts CSV and TSV files with a UTF-8 byte order mark. For a spreadsheet\n"
         "program in a locale with a decimal comma: QuoteFields=1, Separator=\";\" and\n"
         "DecimalComma=1 (text columns are never touched).\n"
         "\n"
         "  -file=JOB.DIRU       read a settings file (several are read in order)\n"
         "  -outfile=PATH        write the output to PATH (empty: a new name each run)\n"
         "  -openwith=APP        open the result with APP (words split as a shell would)\n"
         "  -noautoopen          do not open the result when the run is done\n"
         "  -silent              run the job unattended, without a window, and exit\n"
         "  -quiet               unattended: no progress line and no summary line on\n"
         "                       standard error (failures are still reported there)\n"
         "  -passwordfile=PATH   the password is the first line of PATH, a file that only\n"
         "                       its owner may read (mode 600)\n"
         "  -timeout=SECONDS     give up when connecting, executing the statement or waiting\n"
         "                       for the next row takes longer (0: never; settings key Timeout)\n"
         "  -param=NAME=VALUE    the value of the marker :NAME in the SQL (repeatable; beats\n"
         "                       the settings key Param=\"NAME=VALUE\";)\n"
         "  -strict              fail (status 8) rather than change a value to fit the\n"
         "                       output: cut, dropped or replaced characters, <Too Large>,\n"
         "                       <BINARY>, ... (settings key Strict); each change is\n"
         "                       otherwise counted in a line \"rowpress: note: ...\"\n"
         "  -manifest, -manifest=values\n"
         "                       write PATH.manifest.json beside the output: rows, size,\n"
         "                       SHA-256, columns and values changed, in JSON (settings\n"
         "                       key Manifest; values: with the parameters' values)\n"
         "  -separator=SEP       standard CSV's field separator: , ; or | (quote it for the\n"
         "                       shell: '-separator=;'; settings key Separator; needs\n"
         "                       QuoteFields=1)\n"
         "  -decimalcomma        numeric columns' values with a decimal comma, 1,5E-10\n"
         "                       (settings key DecimalComma; CSV with ; or |, or TSV)\n"
         "  -encoding=NAME       CSV and TSV in the encoding NAME that iconv knows, as\n"
         "                       windows-1252 or UTF-16LE (settings key Encoding=NAME;\n"
         "                       default UTF-8); a character it cannot hold is written as ?\n"
         "                       and counted (rule unencodable)\n"
         "  -timezone=NAME       the session's time zone, as Europe/Berlin or +02:00\n"
         "                       (settings key TimeZone=NAME; PostgreSQL and MariaDB; a\n"
         "                       name the database does not know fails the connect)\n"
         "  --help, --version    print this text or the version\n"
         "\n"
         "Report jobs: a settings file may hold several Sheet=\"NAME\"; keys, each before\n"
         "its own SQL key, for a workbook of several sheets (CSV and TSV: a file per sheet);\n"
         "markers :NAME in the SQL are bound to the values of Param=\"NAME=VALUE\"; keys and\n"
         "-param= switches; an output name may hold {date}, {time} and {NAME}. Monthly:\n"
         "  rowpress -silent -file=monthly.DIRU -param=month=$(date -d 'last month' +%Y-%m)\n"
         "\n"
         "An argument is a switch only as a whole: exactly one of the switches without a\n"
         "value, or beginning with one that takes a value; the value is everything after\n"
         "its \"=\". Any other argument is refused (status 6) and nothing runs.\n"
         "\n"
         "Exit status of an unattended run:\n"
         "  0  rows were exported           3  the statement failed\n"
         "  1  the query returned no rows    4  the output file could not be written\n"
         "  2  could not connect             5  stopped at a workbook limit\n"
         "                                   6  the job could not be read\n"
         "  7  the file was written but standard output could not take its path\n"
         "  8  -strict: a value would have been changed to fit the output\n"
         "  A run past -timeout ends with 2 (connecting) or 3 (the statement) and says\n"
         "  \"timed out after N s\".\n"
         "  128+N  stopped by signal N (SIGINT, SIGTERM, SIGHUP): the temporary file is\n"
         "         removed, an existing file stays as it was\n"
         "\n"
         "Output files without a name and the column type report lasttablecolumntypeinfo.csv\n"
         "go to the default directory: " +
         (defaultDirectory.empty() ? std::string("none (no HOME, no password entry)")
                                   : defaultDirectory) +
         "\n"
         "($ROWPRESS_HOME when set, else $HOME/rowpress, else rowpress in the home directory\n"
         "of the user's password entry).\n"
         "\n"
         "ROWPRESS_USER and ROWPRESS_PASSWORD, when set and not empty, give the user name\n"
         "and password over the settings files' (-passwordfile= beats ROWPRESS_PASSWORD);\n"
         "rowpress removes both from its environment once read.\n";
}

}  // namespace rowpress
