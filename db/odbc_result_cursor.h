// The result cursor on a session's statement, for db/'s own code and the tests that look at
// how it reads (its rowsets); the floors above get it through openResultCursor.
#pragma once

#include <sql.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "db/odbc_handles.h"
#include "db/result_cursor.h"

namespace rowpress {

// The buffer of the first SQLGetData call of each value.
inline constexpr std::size_t kFirstPiece = 512;
// The largest part of a value read in parts.
inline constexpr std::size_t kLargestPart = std::size_t{4} << 20;

// The cursor on an open session's statement. Where the driver allows reading a cut value
// again with SQLGetData, short columns are bound: one call per row instead of one per cell.
// Where it also allows that inside a block of rows (SQL_GD_BLOCK), every column binds and the
// driver is one that the benchmark showed faster with them (PostgreSQL's), rows are fetched in
// rowsets of up to 256 rows, never more than the driver reads from the server at a time: one
// call per rowset. The buffers are bound only while the cursor lives.
class OdbcResultCursor : public ResultCursor, public ResultRows {
 public:
  // Where the session has a connection in the driver's typed mode, the columns without a
  // declared type are described as a run of the statement there describes them.
  explicit OdbcResultCursor(const OdbcSession& session)
      : connection_(connectionOf(session)),
        statement_(statementOf(session)),
        typed_(typedConnectionOf(session)),
        zoneTypes_(!session.timeZone().empty()) {}
  ~OdbcResultCursor() override;
  OdbcResultCursor(const OdbcResultCursor&) = delete;
  OdbcResultCursor& operator=(const OdbcResultCursor&) = delete;

  using ResultCursor::execute;
  // Binds the values until the cursor goes or executes again; the statement then starts
  // without parameters.
  Executed execute(const std::string& sql, const std::vector<std::string>& values) override;
  ResultRows& result() override { return *this; }
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
  void describeInTypedMode(const std::string& sql);

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
