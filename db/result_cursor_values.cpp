// The result cursor's reading of a row's values: from the bound buffers where a column is
// bound, else with SQLGetData in pieces up to the value limit, or whole in growing parts.
#include <sqlext.h>

#include <algorithm>
#include <cstring>

#include "db/odbc_result_cursor.h"
#include "job/utf8.h"

namespace rowpress {

bool OdbcResultCursor::value(int k, CellValue& value) {
  const std::size_t i = static_cast<std::size_t>(k - 1);
  if (i >= bindings_.size() || bindings_[i].size == 0) return readValue(k, value);
  const Binding& binding = bindings_[i];
  const SQLLEN indicator = indicators_[i * rows_ + row_];
  if (indicator == SQL_NULL_DATA) {
    value = CellValue{std::string_view(), true};
    return true;
  }
  if (indicator >= 0 && static_cast<std::size_t>(indicator) < binding.size) {
    const char* text = buffers_.data() + binding.offset * rows_ + row_ * binding.size;
    value = CellValue{std::string_view(text, static_cast<std::size_t>(indicator))};
    return true;
  }
  // Longer than its buffer (a long column, or SQLite, which does not enforce declared sizes):
  // read it again, in a rowset from its own row.
  if (rows_ > 1 && !succeeded(SQLSetPos(statement_, static_cast<SQLSETPOSIROW>(row_ + 1),
                                        SQL_POSITION, SQL_LOCK_NO_CHANGE))) {
    return false;
  }
  return readValue(k, value);
}

bool OdbcResultCursor::isNull(int k, bool& null) {
  // A buffer of no bytes asks for the length alone. The pointer must be real all the same:
  // the driver manager refuses a null one (HY009). Drivers answer SQL_SUCCESS_WITH_INFO (the
  // value did not fit) or SQL_SUCCESS; an empty value has the length 0, not NULL.
  char none = 0;
  SQLLEN indicator = 0;
  const SQLRETURN rc =
      SQLGetData(statement_, static_cast<SQLUSMALLINT>(k), SQL_C_BINARY, &none, 0, &indicator);
  if (rc == SQL_NO_DATA) {
    null = false;
    return true;
  }
  if (!succeeded(rc)) return false;
  null = indicator == SQL_NULL_DATA;
  return true;
}

bool OdbcResultCursor::readValue(int k, CellValue& value) {
  // Most values are short: ask for them with a small buffer first, because drivers spend
  // time in proportion to the buffer they are handed, and fetch a long value's remaining
  // pieces only when the first one came back cut, up to the limit.
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
  if (!readPieces(k, length, cut)) return false;
  // Only a value cut at the limit loses a character that the cut split; any other value, and
  // a value handed in parts, passes through byte for byte.
  if (cut && !inParts_)
    length = cutOnCharacterBoundary(std::string_view(buffer, length), length, TextEnd::CutOff);
  value = CellValue{std::string_view(buffer, length), false, cut};
  return true;
}

void OdbcResultCursor::setValueLimit(std::size_t limit, bool inParts) {
  valueLimit_ = std::max(limit, kFirstPiece);
  inParts_ = inParts;
  if (fetching_) value_.resize(valueLimit_ + 1);
}

bool OdbcResultCursor::nextPart(int k, CellValue& part) {
  // Each part is twice the last, up to kLargestPart: some drivers (SQLite's) measure the rest
  // of the value on every call, so a long value read in small parts would take time in the
  // square of its length. The buffer holds a part, never the value; short values never grow it.
  if (value_.size() - 1 < kLargestPart) {
    value_.resize(std::min(2 * (value_.size() - 1), kLargestPart) + 1);
  }
  // The driver goes on where the last piece of the value ended.
  std::size_t length = 0;
  bool more = true;
  if (!readPieces(k, length, more)) return false;
  part = CellValue{std::string_view(value_.data(), length), false, more};
  return true;
}

bool OdbcResultCursor::readPieces(int k, std::size_t& length, bool& more) {
  more = true;
  while (more && length + 1 < value_.size()) {
    const std::size_t room = value_.size() - length;  // the rest of the limit plus its NUL
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(statement_, static_cast<SQLUSMALLINT>(k), SQL_C_CHAR,
                                    value_.data() + length, static_cast<SQLLEN>(room), &indicator);
    if (rc == SQL_NO_DATA) {
      more = false;
      break;
    }
    if (!succeeded(rc)) return false;
    const bool whole = indicator >= 0 && static_cast<std::size_t>(indicator) < room;
    length += whole ? static_cast<std::size_t>(indicator) : room - 1;
    more = !whole;
  }
  return true;
}

}  // namespace rowpress
