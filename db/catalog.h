// Catalog browsing: the data sources that the driver manager knows, the tables of a chosen
// source, and the default query for a table.
#pragma once

#include <string>
#include <string_view>

#include "app/view.h"
#include "job/job_settings.h"

namespace rowpress {

// Appends the system data source names, then the user ones, to the data source list; the
// list is not cleared. A group ends at the first call that is not plain SQL_SUCCESS.
void listDataSources(View& view);

// Latches the selected data source and the typed user name and password into the job, then
// fills the table list with the source's tables, or with the line of the failing step.
// Returns whether the list holds tables (a failure line is no table).
bool selectDataSource(JobSettings& job, View& view);

// "select * from NAME", with the name between back-quotes when it holds a blank.
std::string defaultQueryFor(std::string_view table);

// Writes the default query of the selected table into the SQL box.
void selectTable(View& view);

}  // namespace rowpress
