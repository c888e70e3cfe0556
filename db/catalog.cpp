#include "db/catalog.h"

#include "db/odbc_handles.h"
#include "job/utf8.h"

namespace rowpress {

namespace {

void appendGroup(SQLHENV environment, SQLUSMALLINT first, std::vector<std::string>& names) {
  SQLCHAR name[33];
  SQLCHAR description[255];
  SQLSMALLINT nameLength = 0, descriptionLength = 0;
  SQLUSMALLINT direction = first;
  // Only plain success lists a name: a name or description that did not fit ends the group.
  while (SQLDataSources(environment, direction, name, sizeof name, &nameLength, description,
                        sizeof description, &descriptionLength) == SQL_SUCCESS) {
    names.emplace_back(reinterpret_cast<char*>(name));
    direction = SQL_FETCH_NEXT;
  }
}

// The whole TABLE_NAME (column 3) of the current row of SQLTables, read in pieces: a name
// longer than 128 bytes is listed whole, never cut (inside a character, or to the name of
// another table). A name is read up to the limit of the SQL text, which no longer name fits.
std::string tableNameOf(SQLHSTMT statement) {
  std::string name;
  char piece[129];
  while (name.size() < kSqlLimit) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(statement, 3, SQL_C_CHAR, piece, sizeof piece, &indicator);
    if (!succeeded(rc) || indicator == SQL_NULL_DATA) break;  // SQL_NO_DATA: all was read
    const bool whole = indicator >= 0 && indicator < static_cast<SQLLEN>(sizeof piece);
    name.append(piece, whole ? static_cast<std::size_t>(indicator) : sizeof piece - 1);
    if (whole) break;
  }
  name.resize(cutOnCharacterBoundary(name, kSqlLimit));
  return name;
}

}  // namespace

std::vector<std::string> listDataSources() {
  // Listing names needs only an environment, allocated the ODBC 2 way with no version set.
  std::vector<std::string> names;
  SQLHENV environment = SQL_NULL_HENV;
  if (!succeeded(SQLAllocEnv(&environment))) return names;
  OdbcHandle owner(SQL_HANDLE_ENV, environment);
  appendGroup(environment, SQL_FETCH_FIRST_SYSTEM, names);
  appendGroup(environment, SQL_FETCH_FIRST_USER, names);
  return names;
}

TableListing listTables(const JobSettings& job) {
  TableListing listing;
  // Over-long credentials are refused here and at the fetch: a cut password would connect
  // with another one.
  if (auto problem = findLimitProblem(job);
      problem && problem->outcome == RunOutcome::NoConnection) {
    listing.failureLine = problem->message;
    return listing;
  }
  SessionFailure failure;
  auto session = OpenSession(job, kSelectionSessionMessages, &failure);
  if (!session) {
    listing.failureLine = std::move(failure.line);
    // The reason of a failed connect goes with its line, which stays one entry of the list.
    if (!failure.connectDiagnostic.empty()) {
      std::string_view why = failure.connectDiagnostic;
      while (!why.empty() && why.back() == '\n') why.remove_suffix(1);
      listing.failureLine += '\n';
      listing.failureLine += why;
    }
    return listing;
  }
  listing.dbmsName = session->dbmsName();
  SQLHSTMT statement = statementOf(*session);
  if (!succeeded(SQLTables(statement, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0))) {
    return listing;
  }
  listing.listed = true;
  while (succeeded(SQLFetch(statement))) listing.tables.push_back(tableNameOf(statement));
  return listing;
}

std::string defaultQueryFor(std::string_view table) {
  if (table.find(' ') != std::string_view::npos) {
    return "select * from `" + std::string(table) + "`";
  }
  return "select * from " + std::string(table);
}

}  // namespace rowpress
