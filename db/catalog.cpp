#include "db/catalog.h"

#include "db/odbc_session.h"

namespace rowpress {

namespace {

void appendGroup(SQLHENV environment, SQLUSMALLINT first, View& view) {
  SQLCHAR name[33];
  SQLCHAR description[255];
  SQLSMALLINT nameLength = 0, descriptionLength = 0;
  SQLUSMALLINT direction = first;
  // Only plain success lists a name: a name or description that did not fit ends the group.
  while (SQLDataSources(environment, direction, name, sizeof name, &nameLength, description,
                        sizeof description, &descriptionLength) == SQL_SUCCESS) {
    view.appendLine(ControlId::DataSourceList, reinterpret_cast<char*>(name));
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

void listDataSources(View& view) {
  // Listing names needs only an environment, allocated the ODBC 2 way with no version set.
  SQLHENV environment = SQL_NULL_HENV;
  if (!succeeded(SQLAllocEnv(&environment))) return;
  OdbcHandle owner(SQL_HANDLE_ENV, environment);
  appendGroup(environment, SQL_FETCH_FIRST_SYSTEM, view);
  appendGroup(environment, SQL_FETCH_FIRST_USER, view);
}

bool selectDataSource(JobSettings& job, View& view) {
  BusyCursor busy(view);
  int selected = view.selectedIndex(ControlId::DataSourceList);
  if (selected < 0) return false;  // nothing selected: nothing to latch
  job.dataSource = view.lineText(ControlId::DataSourceList, selected);
  view.clearList(ControlId::TableList);
  job.userName = view.text(ControlId::UserName);
  job.password = view.text(ControlId::Password);
  // Over-long credentials are latched as they are and refused here and at the fetch: a cut
  // password would connect with another one.
  if (auto problem = findLimitProblem(job);
      problem && problem->outcome == RunOutcome::NoConnection) {
    view.appendLine(ControlId::TableList, problem->message);
    return false;
  }

  SessionFailure failure;
  auto session = OpenSession(job, kSelectionSessionMessages, &failure);
  if (!session) {
    if (!failure.line.empty()) view.appendLine(ControlId::TableList, failure.line);
    return false;
  }
  SQLHSTMT statement = session->statement();
  if (!succeeded(SQLTables(statement, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0))) {
    return false;
  }
  while (succeeded(SQLFetch(statement))) {
    view.appendLine(ControlId::TableList, tableNameOf(statement));
  }
  return true;
}

std::string defaultQueryFor(std::string_view table) {
  if (table.find(' ') != std::string_view::npos) {
    return "select * from `" + std::string(table) + "`";
  }
  return "select * from " + std::string(table);
}

void selectTable(View& view) {
  int selected = view.selectedIndex(ControlId::TableList);
  if (selected < 0) return;
  view.setText(ControlId::SqlBox, defaultQueryFor(view.lineText(ControlId::TableList, selected)));
}

}  // namespace rowpress
