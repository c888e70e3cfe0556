// The command line of rowpress, read into a plain record. A switch is found anywhere inside
// an argument, and a value runs from the argument's first "=" to its end.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rowpress {

struct CommandLine {
  // Every "-file=" value in argument order, empty ones included.
  std::vector<std::string> settingsFiles;
  // The last "-outfile=" and "-openwith=" values; an empty value empties the field.
  std::optional<std::string> outFile;
  std::optional<std::string> openWith;
  bool noAutoOpen = false;
  bool silent = false;
  bool quiet = false;  // "-quiet": no progress line and no summary line
  // The last "-passwordfile=" value: the file whose first line is the password.
  std::optional<std::string> passwordFile;
  // The last "-timeout=" value as written; start-up takes it as whole seconds or refuses it.
  std::optional<std::string> timeout;
  bool help = false;     // an argument "--help" or "-h"
  bool version = false;  // an argument "--version"
};

// Reads every argument, the program's own path (argument 0) included.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The text printed for --help, naming `defaultDirectory`.
std::string helpText(const std::string& defaultDirectory);

}  // namespace rowpress
