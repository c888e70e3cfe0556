// One statement as the export run sees it: ResultCursor executes the SQL text, says why a
// step failed and can be cancelled; its ResultRows count and describe the columns, fetch the
// rows one by one and read each value with its NULL flag. openResultCursor gives both on a
// session's statement.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/odbc_session.h"
#include "db/result_columns.h"

namespace rowpress {

// The bytes of one value that a run keeps: a longer value is cut there, on a character
// boundary.
inline constexpr std::size_t kValueLimit = 65536;

// The result of the statement that a cursor executed: its columns, its rows one by one, each
// value with its NULL flag, or the rows it changed.
class ResultRows {
 public:
  virtual ~ResultRows() = default;

  enum class Fetched { Row, End, Failed };

  // The number of result columns of the executed statement; nothing when the driver cannot
  // tell it.
  virtual std::optional<int> columnCount() = 0;
  // Describes columns 1 to `count`, names cut to 255 bytes on a character boundary.
  virtual const std::vector<ColumnInfo>& describe(int count) = 0;
  // Moves to the next row.
  virtual Fetched fetch() = 0;
  // Column k's value (from 1) of the current row into `value`, which stays valid until the
  // next value or fetch; false when the driver failed to deliver it. A value longer than
  // kValueLimit bytes is cut there, on a character boundary, and says so.
  virtual bool value(int k, CellValue& value) = 0;
  // How values are read from now on: up to `limit` bytes each, a longer one cut there on a
  // character boundary (kValueLimit until set). With `inParts`, a longer one is handed whole
  // in parts of at least `limit` bytes, growing: value() gives the first with `cut` set, nextPart()
  // each following one, with `cut` set while more follow; the parts are the value's bytes in order.
  virtual void setValueLimit(std::size_t limit, bool inParts) = 0;
  // The next part of column k's value after value() or nextPart() gave one with `cut` set, in
  // parts mode; false when the driver failed to deliver it. It stays valid as value()'s does.
  virtual bool nextPart(int k, CellValue& part) = 0;
  // Whether column k's value of the current row is NULL, asking the driver for its length
  // only: a binary column's bytes are never read. False when the driver failed to tell.
  virtual bool isNull(int k, bool& null) = 0;
  // The rows that a statement without result columns changed, where the driver tells them.
  virtual std::optional<long long> affectedRows() = 0;
};

// One statement of a session: executed, cancelled from another thread, its failures told;
// result() is that of the one executed last.
class ResultCursor {
 public:
  virtual ~ResultCursor() = default;

  enum class Executed {
    Result,  // executed; the statement may have result columns
    NoData,  // an UPDATE or DELETE that touched no row: executed, without result columns
    Failed,
  };

  // Executes `sql` as written, line breaks and "--" comments included, with `values` bound in
  // order to its `?` parameters, each as text (an empty value is the empty string, not NULL).
  virtual Executed execute(const std::string& sql, const std::vector<std::string>& values) = 0;
  // Executes `sql` without parameters.
  Executed execute(const std::string& sql) { return execute(sql, {}); }
  // The result of the statement executed last, valid while the cursor lives.
  virtual ResultRows& result() = 0;
  // "[STATE] MESSAGE (NATIVE)\n" of the step that failed last, executing or reading the rows.
  virtual std::string diagnostic() = 0;
  // Whether cancel() may be called from another thread while execute() runs on this one.
  virtual bool cancelsSafely() = 0;
  // Interrupts execute() running on another thread.
  virtual void cancel() = 0;
};

// The cursor on the session's statement (OdbcResultCursor, db/odbc_result_cursor.h), the only
// code that fetches rows through ODBC. It is used while the session stays open.
std::unique_ptr<ResultCursor> openResultCursor(const OdbcSession& session);

}  // namespace rowpress
