// Points where a run can be held for a test that wants to change the world under it (move a
// directory, swap a name): the test sets ROWPRESS_TEST_PAUSE to "POINT=FIFO", and the run, on
// reaching POINT, opens the FIFO for reading and goes on once the test has closed its end. The
// test knows that the run has arrived when its own open of the FIFO for writing succeeds.
// Only a build with the tests has pause points: in the program a user runs (the package's
// build) a pause point does nothing, whatever the environment says.
#pragma once

#include <string_view>

namespace rowpress {

// The workbook library is about to assemble the .xlsx file from its temporary files.
inline constexpr char kPauseAssembling[] = "assembling";
// The workbook was assembled and is about to be read back.
inline constexpr char kPauseReadBack[] = "read back";
// The run keeps its output: after the file was written whole, before it takes the target's name.
inline constexpr char kPauseBeforeKeeping[] = "keep";
// The run has kept its output under the target's name, before it opens it or disconnects.
inline constexpr char kPauseAfterKeeping[] = "kept";

// Waits at `point` when the tests asked for it.
void pausePoint(std::string_view point);

}  // namespace rowpress
