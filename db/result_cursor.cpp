#include "db/result_cursor.h"

#include <sqlext.h>

#include <algorithm>
#include <string_view>

#include "job/utf8.h"

namespace rowpress {

namespace {

// The buffer of the first SQLGetData call of each value.
constexpr std::size_t kFirstPiece = 512;
// Columns declared at most this many characters wide are bound with room for all of them.
constexpr std::int32_t kBindLimit = 1024;

}  // namespace

bool driverCancelsSafely(SQLHDBC connection) {
  SQLCHAR name[256] = {0};
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLGetInfo(connection, SQL_DRIVER_NAME, name, sizeof name, &length);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return false;
  std::string_view driver(reinterpret_cast<const char*>(name));
  // The file name of the driver library, as the driver manager loaded it.
  return driver.find("psqlodbc") != std::string_view::npos;
}

OdbcResultCursor::~OdbcResultCursor() { unbind(); }

ResultCursor::Executed OdbcResultCursor::execute(std::string& sql) {
  const SQLRETURN rc = SQLExecDirect(statement_, reinterpret_cast<SQLCHAR*>(sql.data()),
                                     static_cast<SQLINTEGER>(sql.size()));
  if (rc == SQL_NO_DATA) return Executed::NoData;
  return succeeded(rc) ? Executed::Result : Executed::Failed;
}

std::optional<int> OdbcResultCursor::columnCount() {
  SQLSMALLINT count = 0;
  if (!succeeded(SQLNumResultCols(statement_, &count))) return std::nullopt;
  return count;
}

const std::vector<ColumnInfo>& OdbcResultCursor::describe(int count) {
  columns_.assign(static_cast<std::size_t>(std::max(count, 0)), ColumnInfo{});
  for (int k = 1; k <= count; ++k) {
    SQLCHAR name[256] = {0};
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0;
    SQLULEN size = 0;
    SQLDescribeCol(statement_, static_cast<SQLUSMALLINT>(k), name, sizeof name, &nameLength,
                   &sqlType, &size, &digits, nullptr);
    ColumnInfo& column = columns_[static_cast<std::size_t>(k - 1)];
    column.name = reinterpret_cast<char*>(name);
    column.name.resize(cutOnCharacterBoundary(column.name, 255));
    column.sqlType = sqlType;
    column.declaredSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(size));
    column.decimalDigits = digits;
  }
  return columns_;
}

ResultCursor::Fetched OdbcResultCursor::fetch() {
  if (!fetching_) {
    fetching_ = true;
    value_.resize(kValueLimit + 1);
    bound_ = bindColumns();
  }
  const SQLRETURN rc = SQLFetch(statement_);
  if (rc == SQL_NO_DATA) return Fetched::End;
  return succeeded(rc) ? Fetched::Row : Fetched::Failed;
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
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const ColumnInfo& column = columns_[i];
    if (isBinaryType(column.sqlType)) continue;
    const bool sized = column.declaredSize > 0 && column.declaredSize <= kBindLimit;
    const std::size_t room =
        sized ? 4 * static_cast<std::size_t>(column.declaredSize) + 1 : kFirstPiece;
    bindings_[i] = Binding{total, std::max<std::size_t>(room, 64)};
    total += bindings_[i].size;
  }
  if (total == 0) return false;
  buffers_.assign(total, 0);
  indicators_.assign(columns_.size(), 0);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (bindings_[i].size == 0) continue;
    if (!succeeded(SQLBindCol(statement_, static_cast<SQLUSMALLINT>(i + 1), SQL_C_CHAR,
                              buffers_.data() + bindings_[i].offset,
                              static_cast<SQLLEN>(bindings_[i].size), &indicators_[i]))) {
      SQLFreeStmt(statement_, SQL_UNBIND);
      bindings_.assign(columns_.size(), Binding{});
      return false;
    }
  }
  return true;
}

void OdbcResultCursor::unbind() {
  if (bound_) SQLFreeStmt(statement_, SQL_UNBIND);
  bound_ = false;
}

bool OdbcResultCursor::value(int k, CellValue& value) {
  const std::size_t i = static_cast<std::size_t>(k - 1);
  if (i >= bindings_.size() || bindings_[i].size == 0) return readValue(k, value);
  const Binding& binding = bindings_[i];
  const SQLLEN indicator = indicators_[i];
  if (indicator == SQL_NULL_DATA) {
    value = CellValue{std::string_view(), true};
    return true;
  }
  if (indicator >= 0 && static_cast<std::size_t>(indicator) < binding.size) {
    value = CellValue{
        std::string_view(buffers_.data() + binding.offset, static_cast<std::size_t>(indicator))};
    return true;
  }
  // Longer than its buffer (a long column, or SQLite, which does not enforce declared sizes):
  // read it again.
  return readValue(k, value);
}

bool OdbcResultCursor::readValue(int k, CellValue& value) {
  // Most values are short: ask for them with a small buffer first, because drivers spend
  // time in proportion to the buffer they are handed, and fetch a long value's remaining
  // pieces only when the first one came back cut, up to the 65,536-byte limit.
  char* buffer = value_.data();
  const auto column = static_cast<SQLUSMALLINT>(k);
  SQLLEN indicator = 0;
  SQLRETURN rc = SQLGetData(statement_, column, SQL_C_CHAR, buffer, kFirstPiece, &indicator);
  if (rc == SQL_NO_DATA || (succeeded(rc) && indicator == SQL_NULL_DATA)) {
    value = CellValue{std::string_view(), rc != SQL_NO_DATA};
    return true;
  }
  if (!succeeded(rc)) return false;
  if (indicator >= 0 && indicator < static_cast<SQLLEN>(kFirstPiece)) {
    value = CellValue{std::string_view(buffer, static_cast<std::size_t>(indicator))};
    return true;
  }
  std::size_t length = kFirstPiece - 1;
  bool cut = true;  // until a piece says that the value ended
  while (rc == SQL_SUCCESS_WITH_INFO && length < kValueLimit) {
    const std::size_t room = value_.size() - length;  // the rest of the limit plus its NUL
    rc = SQLGetData(statement_, column, SQL_C_CHAR, buffer + length, static_cast<SQLLEN>(room),
                    &indicator);
    if (rc == SQL_NO_DATA) {
      cut = false;
      break;
    }
    if (!succeeded(rc)) return false;
    const bool whole = indicator >= 0 && static_cast<std::size_t>(indicator) < room;
    length += whole ? static_cast<std::size_t>(indicator) : room - 1;
    cut = !whole;
  }
  // Only a value cut at the limit loses a character that the cut split; any other value
  // passes through byte for byte.
  if (cut)
    length = cutOnCharacterBoundary(std::string_view(buffer, length), length, TextEnd::CutOff);
  value = CellValue{std::string_view(buffer, length)};
  return true;
}

std::string OdbcResultCursor::diagnostic() { return GetStatementDiagnostic(statement_); }

std::optional<long long> OdbcResultCursor::affectedRows() { return AffectedRows(statement_); }

void OdbcResultCursor::cancel() { SQLCancel(statement_); }

}  // namespace rowpress
