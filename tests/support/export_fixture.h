// The private ODBC world of tests/support/odbc_fixture.h with what an export run needs beside
// it: an export run on a session, and the files that a run left in the default directory.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "db/odbc_session.h"
#include "export/column_type_report.h"
#include "export/export_run.h"
#include "export/stop_request.h"
#include "tests/support/odbc_fixture.h"

namespace rowpress::support {

class ExportTest : public OdbcTest {
 protected:
  // Exports the result of `sql` on a session of the fixture's job (on its data source unless
  // the test named another), reporting to `report`: what a run does once it has connected,
  // without the checks of the job before it.
  ExportResult exportSql(const std::string& sql, ExportReport& report) {
    if (job_.dataSource.empty()) job_.dataSource = "rowtest";
    std::optional<OdbcSession> session = OpenSession(job_, kFetchSessionMessages);
    if (!session) {
      ADD_FAILURE() << "cannot connect to " << job_.dataSource;
      return {};
    }
    ExportResult result = ExportRun(job_, report, StopRequest::instance()).run(*session, sql);
    CloseSession(*session);
    return result;
  }
  // The files that a run left in the default directory, the type report excluded.
  std::vector<std::string> outputFiles() const {
    std::vector<std::string> names = listDirectory(home());
    names.erase(std::remove(names.begin(), names.end(), kColumnTypeReportName), names.end());
    return names;
  }
  // The path of the one output file in the default directory; fails the test when there is
  // not exactly one.
  std::string onlyOutput() {
    std::vector<std::string> files = outputFiles();
    EXPECT_EQ(files.size(), 1u) << "files in the default directory: " << files.size();
    return files.empty() ? std::string() : home() + "/" + files[0];
  }
};

}  // namespace rowpress::support
