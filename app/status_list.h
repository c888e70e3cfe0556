// The status list of the main dialog: plain lines in the order added, cleared only when a
// run of the job starts.
#pragma once

#include <string_view>

#include "app/view.h"

namespace rowpress {

// Appends one entry; a text holding line breaks stays one entry.
void AddStatusLine(View& view, std::string_view line);
void ClearStatusLines(View& view);

}  // namespace rowpress
