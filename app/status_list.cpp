#include "app/status_list.h"

#include "job/shown_text.h"

namespace rowpress {

void AddStatusLine(View& view, std::string_view line) {
  view.appendLine(ControlId::StatusList, escapeControls(line));
}

void ClearStatusLines(View& view) { view.clearList(ControlId::StatusList); }

}  // namespace rowpress
