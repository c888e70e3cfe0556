// Named parameters in a statement: `:name` markers, found by the quoting and comment rules of
// the database that the driver names, and replaced by the `?` that ODBC binds. The values
// themselves never enter the text; the cursor binds them to the `?` in order.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace rowpress {

// The databases whose quoting and comments the scan knows; every other one gets the rules
// common to all of them ('...', "...", "--" to the line's end, /* */ not nested).
enum class SqlDialect { PostgreSql, MariaDb, Sqlite, Other };

// The dialect of the text that a driver gives for SQL_DBMS_NAME: "PostgreSQL" from
// PostgreSQL's driver, "MariaDB" or "MySQL" from MariaDB's (it names the server it reached),
// "SQLite" from the SQLite3 driver; case is not looked at.
SqlDialect dialectOfDbms(std::string_view dbmsName);

// A statement with its markers replaced.
struct MarkedStatement {
  // The text to send: each marker's `:name` is a `?`, every other byte is as it was. A
  // statement without markers comes back byte for byte.
  std::string text;
  // The markers' names in the order they stand; a name used twice is there twice, and bound
  // twice.
  std::vector<std::string> names;
  // Where each marker's `?` stands in `text`, in the same order.
  std::vector<std::size_t> places;
  // A `?` outside quotes and comments: the driver counts it as a parameter too.
  bool questionMark = false;

  // Whether the statement mixes markers with bare `?`: its parameters could not be told
  // apart, so it is not run.
  bool mixesQuestionMarks() const { return questionMark && !names.empty(); }
};

// Finds the markers of `sql`: a `:` then a letter, then letters, digits and underscores
// (case-sensitive), outside quotes and comments. `::` is a cast (`:id::int` is the marker `id`
// and a cast), `:=` an assignment, and a `:` before anything else is left as it is. A quote or
// comment without its end runs to the end of the text.
MarkedStatement findMarkers(std::string_view sql, SqlDialect dialect);

}  // namespace rowpress
