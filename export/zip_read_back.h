// Reading a finished zip archive back before it replaces anything: its central directory, with
// libzip's stricter consistency checks, and every entry read to its end, so that libzip checks
// each entry's CRC and size. The archive is read through a duplicate of the descriptor that
// the run holds, never through a name; the duplicate shares the file offset and is closed
// before this returns.
#pragma once

#include <string>
#include <string_view>

namespace rowpress {

// What the read-back hands on: each entry in the order of the central directory, then its
// content in pieces, in order.
class ZipContentVisitor {
 public:
  virtual ~ZipContentVisitor() = default;
  virtual void entry(std::string_view name) = 0;
  virtual void content(std::string_view piece) = 0;
};

// Reads the archive on `fd` back whole. Empty when it read back; else why not, as a short
// text naming the entry ("CRC error in xl/worksheets/sheet1.xml").
std::string readBackZip(int fd, ZipContentVisitor& visitor);

}  // namespace rowpress
