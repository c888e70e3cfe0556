#include "job/secret.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <utility>

namespace rowpress {
namespace {

static_assert(!std::is_copy_constructible_v<Secret> && !std::is_copy_assignable_v<Secret>,
              "a password is never copied by accident");

TEST(Secret, MovingHandsTheTextOverAndLeavesNothingBehind) {
  Secret first("pa ss\x01word");
  EXPECT_EQ(first, std::string_view("pa ss\x01word"));
  EXPECT_EQ(first.size(), 10u);
  EXPECT_STREQ(first.c_str(), "pa ss\x01word");
  Secret second = std::move(first);
  EXPECT_TRUE(first.empty());  // NOLINT(bugprone-use-after-move): it is emptied on purpose
  EXPECT_STREQ(first.c_str(), "");
  EXPECT_EQ(second, std::string_view("pa ss\x01word"));

  Secret third = second.copy();
  EXPECT_EQ(third, second);
  third = std::move(second);
  EXPECT_TRUE(second.empty());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(third, std::string_view("pa ss\x01word"));
  // Replaced by a part of itself, and emptied.
  third = third.view().substr(3, 2);
  EXPECT_EQ(third, std::string_view("ss"));
  third.clear();
  EXPECT_TRUE(third.empty());
  EXPECT_FALSE(Secret() == Secret("x"));

  // Built up piece by piece, from a part of itself too.
  Secret built;
  built.append("PWD=").append("").append("{a}}b}").append(built.view().substr(0, 3));
  EXPECT_EQ(built, std::string_view("PWD={a}}b}PWD"));
  EXPECT_STREQ(built.c_str(), "PWD={a}}b}PWD");
}

// Runs `check` in a child process and returns its exit status (or 128 + the signal that
// ended it): the settings it changes are those of the whole process.
template <class Check>
int inChild(Check check) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(check());
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Secret, AProcessThatHoldsAPasswordIsNotDumpable) {
  EXPECT_EQ(inChild([] {
              if (::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0) != 0) return 10;
              Secret none;
              none = std::string_view();
              if (::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 1) return 11;  // nothing held yet
              Secret held("secret");
              if (::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0) return 12;
              held.clear();
              // Once held, the driver may have kept a copy: it stays so.
              return ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0 ? 0 : 13;
            }),
            0);
}

// A process that is not dumpable can still open its own descriptors again through
// /proc/self/fd, also as a user whom no capability lets through.
TEST(Secret, ANonDumpableProcessOpensItsOwnDescriptorsThroughProc) {
  char name[] = "/tmp/rowpress-secret-XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "kept", 4), 4);
  ASSERT_EQ(::fchmod(fd, 0644), 0);
  const int status = inChild([fd] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 10;
    Secret held("secret");
    if (::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0) return 11;
    const int again = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY);
    if (again < 0) return 12;
    char text[8] = {};
    return ::pread(again, text, sizeof text, 0) == 4 && std::string(text) == "kept" ? 0 : 13;
  });
  ::close(fd);
  ::unlink(name);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace rowpress
