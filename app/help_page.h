// The help page that comes with rowpress: an HTML file installed beside the program, so that
// help never leaves the machine. It is found relative to the executable, which makes an
// installed program and a build tree work alike.
#pragma once

#include <string>
#include <vector>

namespace rowpress {

struct HelpPage {
  std::string path;                   // the page found; empty when none was
  std::vector<std::string> searched;  // where it was looked for, in order

  bool found() const { return !path.empty(); }
};

// Looks for the help page of the executable at `executable`: in an installation,
// DIR/../share/rowpress/help.html (/usr/bin/rowpress reads /usr/share/rowpress/help.html);
// in a build tree, DIR/share/rowpress/help.html. DIR is the executable's directory.
HelpPage findHelpPage(const std::string& executable);

// The path of the running executable (/proc/self/exe); empty when it cannot be read.
std::string currentExecutablePath();

// A file URL for an absolute path: "file://" and the path, every byte other than letters,
// digits, "-._~/" percent-encoded.
std::string fileUrl(const std::string& path);

}  // namespace rowpress
