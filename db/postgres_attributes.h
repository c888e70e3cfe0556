// The PostgreSQL driver's own connection attributes (psqlodbc's SQL_ATTR_PGOPT_*), which the
// session sets after connecting and the result cursor reads: whether the driver reads a result
// through a server cursor, how many rows it reads from it at a time, and whether it describes
// booleans as text.
#pragma once

#include <cstdint>

namespace rowpress {

inline constexpr std::int32_t kPgUseDeclareFetch = 65539;
inline constexpr std::int32_t kPgFetch = 65541;
inline constexpr std::int32_t kPgBoolsAsChar = 65545;

}  // namespace rowpress
