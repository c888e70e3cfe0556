// The command line of rowpress, read into a plain record. An argument is a switch only when it
// is one of the switches without a value exactly, or begins with a switch that takes one; the
// value is everything after that switch's "=". Text inside a value is never a switch.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rowpress {

struct CommandLine {
  // Every "-file=" value in argument order.
  std::vector<std::string> settingsFiles;
  // The last "-outfile=" and "-openwith=" values; an empty value empties the field.
  std::optional<std::string> outFile;
  std::optional<std::string> openWith;
  bool noAutoOpen = false;
  bool silent = false;
  bool quiet = false;   // "-quiet": no progress line and no summary line
  bool strict = false;  // "-strict": fail rather than change a value to fit the output
  // The last "-manifest" ("") or "-manifest=" value: "values" adds the parameters' values.
  std::optional<std::string> manifest;
  // The last "-passwordfile=" value: the file whose first line is the password.
  std::optional<std::string> passwordFile;
  // The last "-timeout=" value as written; start-up takes it as whole seconds or refuses it.
  std::optional<std::string> timeout;
  // The last "-separator=" value, and "-decimalcomma": standard CSV's separator and numbers
  // with a decimal comma; the run refuses a separator it cannot use.
  std::optional<std::string> separator;
  bool decimalComma = false;
  // The last "-encoding=" value: the character encoding of CSV and TSV files.
  std::optional<std::string> encoding;
  // The last "-timezone=" value: the session's time zone.
  std::optional<std::string> timeZone;
  // Every "-param=" value ("NAME=VALUE") in argument order: the last one for a name wins.
  std::vector<std::string> parameters;
  bool help = false;     // an argument "--help" or "-h"
  bool version = false;  // an argument "--version"
  // The arguments that are no switch, in order: a job given with one of them is not the job
  // that was meant, so nothing runs.
  std::vector<std::string> refused;
  // The switches given with an empty value where they need one ("-file=", "-manifest=",
  // "-separator=", "-encoding=", "-timezone="), in order: an empty settings file name would run the
  // job without that file.
  std::vector<std::string> emptyValues;
};

// Reads the arguments after the program's own path (argument 0), which is not scanned.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The line that refuses an argument that is no switch.
std::string refusedArgumentLine(const std::string& argument);

// The line that refuses a switch given with an empty value where it needs one.
std::string emptyValueLine(const std::string& name);

// The text printed for --help, naming `defaultDirectory`.
std::string helpText(const std::string& defaultDirectory);

}  // namespace rowpress
