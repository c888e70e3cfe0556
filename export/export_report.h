// What an export run tells whoever started it, as it happens: lines for the status list,
// messages for the user and the rows written so far. The run knows no window; the dialog
// logic shows what it is told (and an unattended run logs it).
#pragma once

#include <string_view>

namespace rowpress {

class ExportReport {
 public:
  virtual ~ExportReport() = default;
  // A line for the status list.
  virtual void statusLine(std::string_view line) = 0;
  // A message for the user, with its caption.
  virtual void message(std::string_view text, std::string_view caption) = 0;
  // Now and then during a long export, and once at its end: the data rows written so far.
  virtual void rowsDone(long long rows) = 0;
};

}  // namespace rowpress
