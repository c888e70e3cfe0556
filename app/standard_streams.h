// The standard streams as rowpress found them at start. A descriptor among 0, 1 and 2 that
// was closed (`2>&-`) would be the number of the next file or connection opened, and a line
// meant for standard error would go into it: a database socket, the output file. Each closed
// one gets /dev/null instead; that standard output was closed is remembered, since the path
// line of an unattended run then reaches no one.
#pragma once

namespace rowpress {

struct StandardStreams {
  bool outputClosed = false;  // descriptor 1 was closed at start
};

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Call it first in main,
// before anything opens a file.
StandardStreams openClosedStandardStreams();

}  // namespace rowpress
