// The status list of the main dialog: plain lines in the order added, cleared only when a
// run of the job starts. Its lines show paths, driver messages and values that come from
// outside: their control characters are shown escaped (escapeControls), never acted on.
#pragma once

#include <string_view>

#include "app/view.h"
#include "job/shown_text.h"

namespace rowpress {

// Appends one entry, its control characters escaped; a text holding line breaks stays one
// entry, and the line feed that ends a diagnostic line stays as it is.
void AddStatusLine(View& view, std::string_view line);
void ClearStatusLines(View& view);

}  // namespace rowpress
