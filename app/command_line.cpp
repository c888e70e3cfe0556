#include "app/command_line.h"

#include <string_view>

namespace rowpress {

namespace {

bool contains(std::string_view text, std::string_view what) {
  return text.find(what) != std::string_view::npos;
}

// The text after the first "=", or nothing when there is none.
std::string_view valueOf(std::string_view text) {
  auto equals = text.find('=');
  return equals == std::string_view::npos ? std::string_view() : text.substr(equals + 1);
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  // First pass: settings files, read in order before any switch applies, so that a switch
  // beats a settings file wherever it stands.
  for (const std::string& arg : args) {
    if (contains(arg, "-file=")) line.settingsFiles.emplace_back(valueOf(arg));
  }
  // Second pass: the switches. Once "-openwith=" or "-outfile=" matched, the later tests of
  // the argument look only at its value.
  for (const std::string& arg : args) {
    std::string_view tested = arg;
    if (contains(arg, "-noautoopen")) line.noAutoOpen = true;
    if (contains(tested, "-openwith=")) {
      tested = valueOf(tested);
      line.openWith = std::string(tested);
    }
    if (contains(tested, "-outfile=")) {
      tested = valueOf(tested);
      line.outFile = std::string(tested);
    }
    if (contains(tested, "-silent")) line.silent = true;
    if (arg == "--help" || arg == "-h") line.help = true;
    if (arg == "--version") line.version = true;
  }
  return line;
}

std::string helpText(const std::string& defaultDirectory) {
  return "Usage: rowpress [-file=JOB.DIRU ...] [-outfile=PATH] [-openwith=APPLICATION]\n"
         "                [-noautoopen] [-silent]\n"
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
         "  -file=JOB.DIRU       read a settings file (several are read in order)\n"
         "  -outfile=PATH        write the output to PATH (empty: a new name each run)\n"
         "  -openwith=APP        open the result with APP (words split as a shell would)\n"
         "  -noautoopen          do not open the result when the run is done\n"
         "  -silent              run the job unattended, without a window, and exit\n"
         "  --help, --version    print this text or the version\n"
         "\n"
         "Exit status of an unattended run:\n"
         "  0  rows were exported           3  the statement failed\n"
         "  1  the query returned no rows    4  the output file could not be written\n"
         "  2  could not connect             5  stopped at a workbook limit\n"
         "                                   6  the job could not be read\n"
         "  128+N  stopped by signal N (SIGINT, SIGTERM, SIGHUP): the temporary file is\n"
         "         removed, an existing file stays as it was\n"
         "\n"
         "Output files without a name and the column type report lasttablecolumntypeinfo.csv\n"
         "go to the default directory: " +
         defaultDirectory +
         "\n"
         "($ROWPRESS_HOME when set, else $HOME/rowpress).\n";
}

}  // namespace rowpress
