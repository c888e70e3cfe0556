// The fixture of the dialog logic's tests: the private ODBC world of RunTest with a dialog on
// an in-memory view, in the state of a window at start-up.
#pragma once

#include <string>

#include "app/main_dialog.h"
#include "app/memory_view.h"
#include "tests/support/run_fixture.h"

namespace rowpress::support {

// On the fixture `Base` (RunTest or one made from it).
template <class Base>
class DialogOn : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    dlg_.setLauncher(this->launcher_);
    // The window's state at start-up that the export depends on.
    view_.setChecked(ControlId::OutputXml, true);
    view_.setChecked(ControlId::LaunchOnFinish, true);
  }

  // The SQL typed into the SQL box and fetched by the dialog, on the fixture's data source
  // unless the test latched another.
  RunResult fetch(const std::string& sql) {
    if (this->job_.dataSource.empty()) this->job_.dataSource = "rowtest";
    view_.setText(ControlId::SqlBox, sql);
    return dlg_.OnFetch();
  }

  MemoryView view_;
  MainDialog dlg_{this->job_, view_, StopRequest::instance()};
};

using DialogTest = DialogOn<RunTest>;

}  // namespace rowpress::support
