#include "db/result_cursor.h"

#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "db/odbc_result_cursor.h"
#include "db/postgres_attributes.h"
#include "job/utf8.h"

namespace rowpress {

std::unique_ptr<ResultCursor> openResultCursor(const OdbcSession& session) {
  return std::make_unique<OdbcResultCursor>(session);
}

namespace {

// Columns declared at most this many characters wide are bound with room for all of them.
constexpr std::int32_t kBindLimit = 1024;
// The rows of a rowset, and the bytes that its buffers may take.
constexpr std::size_t kRowsetRows = 256;
constexpr std::size_t kRowsetBytes = 1 << 20;
// A parameter value longer than this is bound as SQL_LONGVARCHAR.
constexpr std::size_t kLongParameter = 8000;

// Whether the driver of `connection` is the PostgreSQL driver: the file name of the driver
// library, as the driver manager loaded it.
bool isPostgresDriver(SQLHDBC connection) {
  SQLCHAR name[256] = {0};
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLGetInfo(connection, SQL_DRIVER_NAME, name, sizeof name, &length);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return false;
  std::string_view driver(reinterpret_cast<const char*>(name));
  return driver.find("psqlodbc") != std::string_view::npos;
}

// The rows of a rowset on a PostgreSQL connection, at most `limit`; 1 for none. A driver that
// reads the result through a server cursor rounds its batch up to whole rowsets and waits for
// all of their rows: the rowset divides the batch, so that each row comes no later than it
// would one by one (a batch of 1 gets no rowsets). A driver that read the whole result when
// the statement executed waits for nothing.
std::size_t postgresRowset(SQLHDBC connection, std::size_t limit) {
  SQLINTEGER declareFetch = 0, batch = 0;
  if (!succeeded(SQLGetConnectAttr(connection, kPgUseDeclareFetch, &declareFetch,
                                   sizeof declareFetch, nullptr))) {
    return 1;
  }
  if (declareFetch == 0) return limit;
  if (!succeeded(SQLGetConnectAttr(connection, kPgFetch, &batch, sizeof batch, nullptr)) ||
      batch <= 1) {
    return 1;
  }
  for (std::size_t rows = std::min(limit, static_cast<std::size_t>(batch)); rows > 1; --rows) {
    if (static_cast<std::size_t>(batch) % rows == 0) return rows;
  }
  return 1;
}

// Binds `values` in order to the statement's parameters, each as text, with `lengths` for
// their lengths; both must live until the statement has executed and fetched. False when the
// driver refused one.
bool bindTextParameters(SQLHSTMT statement, std::vector<std::string>& values,
                        std::vector<SQLLEN>& lengths) {
  lengths.assign(values.size(), 0);
  for (std::size_t k = 0; k < values.size(); ++k) {
    std::string& value = values[k];
    lengths[k] = static_cast<SQLLEN>(value.size());
    // Past 8,000 bytes a value is a long one: drivers that size VARCHAR parameters refuse
    // longer ones.
    const SQLSMALLINT type = value.size() > kLongParameter ? SQL_LONGVARCHAR : SQL_VARCHAR;
    const SQLRETURN rc =
        SQLBindParameter(statement, static_cast<SQLUSMALLINT>(k + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
                         type, std::max<SQLULEN>(1, value.size()), 0, value.data(),
                         static_cast<SQLLEN>(value.size()), &lengths[k]);
    if (!succeeded(rc)) return false;
  }
  return true;
}

// Result column k (from 1) of an executed statement, its name cut to 255 bytes.
ColumnInfo describeColumn(SQLHSTMT statement, int k) {
  // Room for more than a run keeps, so that a longer name is seen to be cut: some drivers
  // (SQLite's) give the length of what fitted rather than of the whole name.
  SQLCHAR name[1024] = {0};
  SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0;
  SQLULEN size = 0;
  SQLDescribeCol(statement, static_cast<SQLUSMALLINT>(k), name, sizeof name, &nameLength, &sqlType,
                 &size, &digits, nullptr);
  ColumnInfo column;
  column.name = reinterpret_cast<char*>(name);
  const std::size_t whole = std::max<std::size_t>(
      column.name.size(), static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)));
  column.name.resize(cutOnCharacterBoundary(column.name, 255));
  column.nameCut = whole > column.name.size();
  column.sqlType = sqlType;
  column.declaredSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(size));
  column.decimalDigits = digits;
  return column;
}

// The name of column k's type as the database calls it, in lower case.
std::string typeNameOf(SQLHSTMT statement, int k) {
  SQLCHAR name[128] = {0};
  SQLSMALLINT length = 0;
  if (!succeeded(SQLColAttribute(statement, static_cast<SQLUSMALLINT>(k), SQL_DESC_TYPE_NAME, name,
                                 sizeof name, &length, nullptr))) {
    return {};
  }
  std::string text = reinterpret_cast<char*>(name);
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Whether a timestamp type of that name is given in the session's time zone: PostgreSQL's
// "timestamptz" ("timestamp with time zone"), MariaDB's "timestamp" (its "datetime" is not;
// PostgreSQL's plain one is "timestamp without time zone").
bool hasTimeZone(std::string_view typeName) {
  return typeName == "timestamptz" || typeName == "timestamp" ||
         typeName == "timestamp with time zone";
}

}  // namespace

bool driverCancelsSafely(SQLHDBC connection) { return isPostgresDriver(connection); }

OdbcResultCursor::~OdbcResultCursor() {
  unbind();
  resetParameters();
}

void OdbcResultCursor::closeResult() {
  if (!executed_) return;
  unbind();
  SQLFreeStmt(statement_, SQL_CLOSE);
  fetching_ = false;
  columns_.clear();
  bindings_.clear();
  row_ = 0;
  fetched_ = 0;
  executed_ = false;
}

ResultCursor::Executed OdbcResultCursor::execute(const std::string& sql,
                                                 const std::vector<std::string>& values) {
  // The statement before it (an earlier sheet of a report) gives back its result and its
  // columns' buffers.
  closeResult();
  resetParameters();
  executed_ = true;
  typedColumns_.clear();
  if (!values.empty() && !bindParameters(values)) return Executed::Failed;
  SQLRETURN rc;
  if (typed_ != SQL_NULL_HDBC) {
    // Prepared first, so that the columns without a declared type are known and described by
    // the typed connection before this statement runs and holds any lock.
    rc = SQLPrepare(statement_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.data())),
                    static_cast<SQLINTEGER>(sql.size()));
    if (!succeeded(rc)) return Executed::Failed;
    describeInTypedMode(sql);
    rc = SQLExecute(statement_);
  } else {
    rc = SQLExecDirect(statement_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.data())),
                       static_cast<SQLINTEGER>(sql.size()));
  }
  if (rc == SQL_NO_DATA) return Executed::NoData;
  return succeeded(rc) ? Executed::Result : Executed::Failed;
}

bool OdbcResultCursor::bindParameters(const std::vector<std::string>& values) {
  // The cursor keeps its own copy: the driver reads the buffers when the statement executes,
  // and some read them again while it fetches.
  parameters_ = values;
  parametersBound_ = true;
  return bindTextParameters(statement_, parameters_, parameterLengths_);
}

void OdbcResultCursor::resetParameters() {
  if (!parametersBound_) return;
  SQLFreeStmt(statement_, SQL_RESET_PARAMS);
  parametersBound_ = false;
  parameters_.clear();
  parameterLengths_.clear();
}

std::optional<int> OdbcResultCursor::columnCount() {
  SQLSMALLINT count = 0;
  if (!succeeded(SQLNumResultCols(statement_, &count))) return std::nullopt;
  return count;
}

const std::vector<ColumnInfo>& OdbcResultCursor::describe(int count) {
  columns_.assign(static_cast<std::size_t>(std::max(count, 0)), ColumnInfo{});
  for (int k = 1; k <= count; ++k) {
    ColumnInfo& column = columns_[static_cast<std::size_t>(k - 1)];
    column = describeColumn(statement_, k);
    const auto typed = typedColumns_.find(k);
    if (typed != typedColumns_.end()) {
      column.sqlType = typed->second.sqlType;
      column.declaredSize = typed->second.declaredSize;
      column.decimalDigits = typed->second.decimalDigits;
    }
    if (zoneTypes_ && (column.sqlType == SQL_TYPE_TIMESTAMP || column.sqlType == SQL_TIMESTAMP)) {
      column.zoned = hasTimeZone(typeNameOf(statement_, k));
    }
  }
  return columns_;
}

void OdbcResultCursor::describeInTypedMode(const std::string& sql) {
  // Only a column without a table of its own (an expression) has no declared type.
  SQLSMALLINT columns = 0;
  if (!succeeded(SQLNumResultCols(statement_, &columns))) return;
  std::vector<int> untyped;
  for (int k = 1; k <= columns; ++k) {
    SQLCHAR table[256] = {0};
    SQLSMALLINT length = 0;
    if (succeeded(SQLColAttribute(statement_, static_cast<SQLUSMALLINT>(k),
                                  SQL_DESC_BASE_TABLE_NAME, table, sizeof table, &length,
                                  nullptr)) &&
        table[0] == 0) {
      untyped.push_back(k);
    }
  }
  if (untyped.empty()) return;
  // The statement runs once more on the typed connection, for its first row only, inside a
  // transaction that is rolled back: a statement that writes leaves nothing. A probe that
  // fails leaves the types as they were described.
  if (!succeeded(SQLSetConnectAttr(typed_, SQL_ATTR_AUTOCOMMIT,
                                   reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                                   SQL_IS_UINTEGER))) {
    return;
  }
  SQLHANDLE handle = SQL_NULL_HANDLE;
  if (succeeded(SQLAllocHandle(SQL_HANDLE_STMT, typed_, &handle))) {
    OdbcHandle probe(SQL_HANDLE_STMT, handle);
    SQLSetStmtAttr(handle, SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(1), 0);
    std::vector<std::string> values = parameters_;
    std::vector<SQLLEN> lengths;
    SQLSMALLINT count = 0;
    if (bindTextParameters(handle, values, lengths) &&
        succeeded(SQLExecDirect(handle, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.data())),
                                static_cast<SQLINTEGER>(sql.size()))) &&
        succeeded(SQLNumResultCols(handle, &count)) && count == columns) {
      for (int k : untyped) typedColumns_[k] = describeColumn(handle, k);
    }
    SQLFreeStmt(handle, SQL_CLOSE);
  }
  SQLEndTran(SQL_HANDLE_DBC, typed_, SQL_ROLLBACK);
}

ResultRows::Fetched OdbcResultCursor::fetch() {
  if (!fetching_) {
    fetching_ = true;
    value_.resize(valueLimit_ + 1);
    bound_ = bindColumns();
  }
  if (rows_ > 1 && ++row_ < fetched_) return rowStatus();
  row_ = 0;
  fetched_ = 0;
  const SQLRETURN rc = SQLFetch(statement_);
  if (rc == SQL_NO_DATA) return Fetched::End;
  if (!succeeded(rc)) return Fetched::Failed;
  if (rows_ == 1) return Fetched::Row;
  return fetched_ == 0 ? Fetched::End : rowStatus();
}

ResultRows::Fetched OdbcResultCursor::rowStatus() const {
  // A row that the driver could not deliver fails the fetch, like a single row would.
  switch (statuses_[row_]) {
    case SQL_ROW_ERROR:
      return Fetched::Failed;
    case SQL_ROW_NOROW:
      return Fetched::End;
    default:
      return Fetched::Row;
  }
}

bool OdbcResultCursor::bindColumns() {
  bindings_.assign(columns_.size(), Binding{});
  if (columns_.empty() || connection_ == SQL_NULL_HDBC) return false;
  SQLUINTEGER extensions = 0;
  if (!succeeded(SQLGetInfo(connection_, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions,
                            nullptr))) {
    return false;
  }
  const SQLUINTEGER needed = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
  if ((extensions & needed) != needed) return false;
  // A column of a small declared size gets room for that many characters of up to four
  // bytes; a long or unsized one gets the first piece's room, and its longer values are read
  // again with SQLGetData. Binary columns are never fetched.
  std::size_t total = 0;
  bool every = true;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const ColumnInfo& column = columns_[i];
    if (isBinaryType(column.sqlType)) {
      every = false;
      continue;
    }
    const bool sized = column.declaredSize > 0 && column.declaredSize <= kBindLimit;
    const std::size_t room =
        sized ? 4 * static_cast<std::size_t>(column.declaredSize) + 1 : kFirstPiece;
    bindings_[i] = Binding{total, std::max<std::size_t>(room, 64)};
    total += bindings_[i].size;
  }
  if (total == 0) return false;
  // Rowsets need every column bound, and SQLGetData inside a rowset for the values that its
  // buffers cut. The SQLite driver is never given them: after a rowset of two rows it
  // returned the second row's value from SQLGetData on the first, with SQL_SUCCESS.
  const bool rowsets = every && (extensions & SQL_GD_BLOCK) && isPostgresDriver(connection_);
  const std::size_t rows =
      rowsets ? postgresRowset(connection_,
                               std::clamp<std::size_t>(kRowsetBytes / total, 1, kRowsetRows))
              : 1;
  return (rows > 1 && bindFor(rows)) || bindFor(1);
}

bool OdbcResultCursor::bindFor(std::size_t rows) {
  std::size_t total = 0;
  for (const Binding& binding : bindings_) total += binding.size;
  rows_ = rows;
  buffers_.assign(total * rows, 0);
  indicators_.assign(columns_.size() * rows, 0);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const Binding& binding = bindings_[i];
    if (binding.size == 0) continue;
    if (!succeeded(SQLBindCol(statement_, static_cast<SQLUSMALLINT>(i + 1), SQL_C_CHAR,
                              buffers_.data() + binding.offset * rows,
                              static_cast<SQLLEN>(binding.size), &indicators_[i * rows]))) {
      SQLFreeStmt(statement_, SQL_UNBIND);
      if (rows == 1) bindings_.assign(columns_.size(), Binding{});
      rows_ = 1;
      return false;
    }
  }
  if (rows == 1) return true;
  // The buffers are column by column (the default binding); a driver that would change the
  // rowset's size gets none.
  statuses_.assign(rows, SQL_ROW_NOROW);
  if (SQLSetStmtAttr(statement_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0) ==
          SQL_SUCCESS &&
      SQLSetStmtAttr(statement_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0) == SQL_SUCCESS &&
      SQLSetStmtAttr(statement_, SQL_ATTR_ROW_STATUS_PTR, statuses_.data(), 0) == SQL_SUCCESS) {
    return true;
  }
  endRowsets();
  SQLFreeStmt(statement_, SQL_UNBIND);
  return false;
}

void OdbcResultCursor::endRowsets() {
  if (rows_ == 1) return;
  SQLSetStmtAttr(statement_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  SQLSetStmtAttr(statement_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLSetStmtAttr(statement_, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
  rows_ = 1;
}

void OdbcResultCursor::unbind() {
  endRowsets();
  if (bound_) SQLFreeStmt(statement_, SQL_UNBIND);
  bound_ = false;
}

std::string OdbcResultCursor::diagnostic() { return GetStatementDiagnostic(statement_); }

std::optional<long long> OdbcResultCursor::affectedRows() { return AffectedRows(statement_); }

void OdbcResultCursor::cancel() { SQLCancel(statement_); }

}  // namespace rowpress
