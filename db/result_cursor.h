// The result of one statement as the export run sees it: execute the SQL text, count and
// describe the columns, fetch the rows one by one and read each value with its NULL flag, say
// why a step failed. ResultCursor is that view; OdbcResultCursor is it on a session's
// statement, and the only code that fetches rows through ODBC.
#pragma once

#include <sql.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "db/odbc_session.h"
#include "db/result_columns.h"

namespace rowpress {

// The bytes of one value that a run keeps: a longer value is cut there, on a character
// boundary.
inline constexpr std::size_t kValueLimit = 65536;

class ResultCursor {
 public:
  virtual ~ResultCursor() = default;

  enum class Executed {
    Result,  // executed; the statement may have result columns
    NoData,  // an UPDATE or DELETE that touched no row: executed, without result columns
    Failed,
  };
  enum class Fetched { Row, End, Failed };

  // Executes `sql` as written, line breaks and "--" comments included, with `values` bound in
  // order to its `?` parameters, each as text (an empty value is the empty string, not NULL).
  virtual Executed execute(std::string& sql, const std::vector<std::string>& values) = 0;
  // Executes `sql` without parameters.
  Executed execute(std::string& sql) { return execute(sql, {}); }
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
  // "[STATE] MESSAGE (NATIVE)\n" of the step that failed last.
  virtual std::string diagnostic() = 0;
  // The rows that a statement without result columns changed, where the driver tells them.
  virtual std::optional<long long> affectedRows() = 0;
  // Whether cancel() may be called from another thread while execute() runs on this one.
  virtual bool cancelsSafely() = 0;
  // Interrupts execute() running on another thread.
  virtual void cancel() = 0;
};

// Whether the driver of `connection` can be interrupted with SQLCancel from another thread
// while a statement executes. Known only for the PostgreSQL driver, which sends the server a
// cancel request on a connection of its own. The MariaDB driver unlocks a mutex that the
// executing thread holds and writes the statement's memory under it; the SQLite driver frees
// the cursor under a running statement; drivers not known are not cancelled either. Those
// runs end after the grace period, their temporary files removed for them.
bool driverCancelsSafely(SQLHDBC connection);

// The cursor on an open session's statement. Where the driver allows reading a cut value
// again with SQLGetData, short columns are bound: one call per row instead of one per cell.
// Where it also allows that inside a block of rows (SQL_GD_BLOCK), every column binds and the
// driver is one that the benchmark showed faster with them (PostgreSQL's), rows are fetched in
// rowsets of up to 256 rows, never more than the driver reads from the server at a time: one
// call per rowset. The buffers are bound only while the cursor lives.
class OdbcResultCursor : public ResultCursor {
 public:
  // Where the session has a connection in the driver's typed mode, the columns without a
  // declared type are described as a run of the statement there describes them.
  explicit OdbcResultCursor(const OdbcSession& session)
      : connection_(session.connection()),
        statement_(session.statement()),
        typed_(session.typedConnection()),
        zoneTypes_(!session.timeZone().empty()) {}
  ~OdbcResultCursor() override;
  OdbcResultCursor(const OdbcResultCursor&) = delete;
  OdbcResultCursor& operator=(const OdbcResultCursor&) = delete;

  using ResultCursor::execute;
  // Binds the values until the cursor goes or executes again; the statement then starts
  // without parameters.
  Executed execute(std::string& sql, const std::vector<std::string>& values) override;
  std::optional<int> columnCount() override;
  const std::vector<ColumnInfo>& describe(int count) override;
  Fetched fetch() override;
  bool value(int k, CellValue& value) override;
  void setValueLimit(std::size_t limit, bool inParts) override;
  bool nextPart(int k, CellValue& part) override;
  bool isNull(int k, bool& null) override;
  std::string diagnostic() override;
  std::optional<long long> affectedRows() override;
  bool cancelsSafely() override { return driverCancelsSafely(connection_); }
  void cancel() override;

  // The rows that one fetch from the driver brings (1 without rowsets), once the first row
  // was fetched.
  std::size_t rowsetSize() const { return rows_; }

 private:
  // Binds every column that is fetched, in rowsets where they pay; returns whether any was
  // bound.
  bool bindColumns();
  // Binds the columns for rowsets of `rows` rows; false when the driver refused.
  bool bindFor(std::size_t rows);
  void unbind();
  // Closes the result of the statement executed last, so that the handle takes the next.
  void closeResult();
  // Gives the statement back its single rows.
  void endRowsets();
  // The current row of the rowset as its status tells it.
  Fetched rowStatus() const;
  // Reads column k of the current row with SQLGetData, in pieces.
  bool readValue(int k, CellValue& value);
  // Reads the pieces of column k's value that follow into value_ from `length` on, until the
  // value ends (`more` false) or value_ is full; false when the driver failed.
  bool readPieces(int k, std::size_t& length, bool& more);
  // Binds `values` to the statement's parameters; false when the driver refused one.
  bool bindParameters(const std::vector<std::string>& values);
  // Unbinds the parameters, if any were bound.
  void resetParameters();
  // Describes the prepared statement's columns without a declared type into typedColumns_,
  // by running `sql` once more on the typed connection for its first row, rolled back.
  void describeInTypedMode(std::string& sql);

  struct Binding {
    std::size_t offset = 0;  // of the column's first row; its rows follow each other
    std::size_t size = 0;    // of one row's value; 0: not bound
  };

  SQLHDBC connection_;
  SQLHSTMT statement_;
  SQLHDBC typed_;  // SQL_NULL_HDBC: none
  // Timestamp columns are asked for their type's name, to tell those with a time zone.
  bool zoneTypes_ = false;
  // The columns (from 1) of the statement executed last as the typed connection describes them.
  std::map<int, ColumnInfo> typedColumns_;
  std::vector<ColumnInfo> columns_;
  bool executed_ = false;  // a statement was executed on the handle
  bool fetching_ = false;  // the first fetch has bound the columns
  bool bound_ = false;
  std::vector<Binding> bindings_;
  std::vector<char> buffers_;
  std::vector<SQLLEN> indicators_;  // column by column, one per row of the rowset
  // The rowset: its size, the rows the last fetch brought, their statuses, the current one.
  std::size_t rows_ = 1;
  SQLULEN fetched_ = 0;
  std::vector<SQLUSMALLINT> statuses_;
  std::size_t row_ = 0;
  std::vector<char> value_;  // of valueLimit_ bytes and a NUL
  std::size_t valueLimit_ = kValueLimit;
  bool inParts_ = false;
  // The bound parameters' values and lengths, which the driver reads when it executes.
  std::vector<std::string> parameters_;
  std::vector<SQLLEN> parameterLengths_;
  bool parametersBound_ = false;
};

}  // namespace rowpress
