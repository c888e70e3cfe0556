// Catalog browsing: the data sources that the driver manager knows, the tables of a chosen
// source, and the default query for a table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "job/job_settings.h"

namespace rowpress {

// The data source names that the driver manager knows: the system ones, then the user
// ones. A group ends at the first call that is not plain SQL_SUCCESS.
std::vector<std::string> listDataSources();

// The tables of a data source, or why there are none.
struct TableListing {
  bool listed = false;  // the source answered with its tables (maybe none)
  std::vector<std::string> tables;
  // The line that says why nothing was listed (a refused credential, the session step that
  // failed, followed after a line break by the driver's diagnostic line when the connect
  // failed); empty when nothing is to be said.
  std::string failureLine;
  // The database that the data source reached (its SQL_DBMS_NAME), once connected: whose
  // quoting rules find the markers of the SQL typed for it.
  std::string dbmsName;
};

// Connects with the job's data source and credentials and lists its tables.
TableListing listTables(const JobSettings& job);

// "select * from NAME", with the name between back-quotes when it holds a blank.
std::string defaultQueryFor(std::string_view table);

}  // namespace rowpress
