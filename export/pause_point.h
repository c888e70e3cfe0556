// Points where a run of a test build waits for the test that drives it, so that the test can
// change the world at a known moment (replace a name with a link, say). Only a build with the
// tests has them (ROWPRESS_PAUSE_POINTS); the package's build does nothing here.
#pragma once

namespace rowpress {

// When ROWPRESS_TEST_PAUSE names a FIFO (in a test build): writes `name` and a line feed to
// it, then waits until the test has opened it for writing and closed it again. Otherwise,
// and in every other build, returns at once.
void pausePoint(const char* name);

}  // namespace rowpress
