#include "app/status_list.h"

namespace rowpress {

void AddStatusLine(View& view, std::string_view line) {
  view.appendLine(ControlId::StatusList, line);
}

void ClearStatusLines(View& view) { view.clearList(ControlId::StatusList); }

}  // namespace rowpress
