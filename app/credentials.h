// Credentials from outside the job file, so that a job file need not hold a password and
// `ps` never shows one: the user name and password in the environment (ROWPRESS_USER,
// ROWPRESS_PASSWORD) and a password file named by -passwordfile=. They beat the settings
// files: the password file, then the environment, then the files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "job/job_settings.h"

namespace rowpress {

inline constexpr char kUserVariable[] = "ROWPRESS_USER";
inline constexpr char kPasswordVariable[] = "ROWPRESS_PASSWORD";

struct OutsideCredentials {
  std::optional<std::string> userName;
  std::optional<Secret> password;
  // The password file that was read: a run never writes over it.
  std::optional<FileIdentity> passwordFile;
  // Why the password file could not be used, naming the file (never the password); the
  // job then takes no password from outside.
  std::string problem;
};

// Reads ROWPRESS_USER and ROWPRESS_PASSWORD (a variable set but empty counts as unset; of a
// name given twice, the first, as getenv reads it) and removes every entry of both from the
// environment, so that no program started later inherits them, overwriting their bytes where
// they are: /proc/PID/environ shows the block the process started with for as long as it
// runs. Then reads the password file when `passwordFile` names one. Call it before any other
// thread exists: changing the environment is not safe while another thread may read it.
OutsideCredentials takeOutsideCredentials(const std::optional<std::string>& passwordFile);

// Gives the job the user name and password from outside, over those of the settings files,
// and remembers the password as one that no settings file may hold; a password file that
// could not be used is added to `problems`.
void applyOutsideCredentials(const OutsideCredentials& outside, JobSettings& job,
                             std::vector<std::string>& problems);

// The first line of the password file at `path`, its line end (LF or CR LF) removed. The
// file must be a regular file (a link to one is followed) that gives no permission at all
// to group or others, like a private key: a password that others can read, or replace, is
// not a secret. Nothing, with `problem` set, when the file cannot be used. What was read of the
// file is overwritten before this returns.
// `identity`, when given, receives the identity of the file that was read.
std::optional<Secret> readPasswordFile(const std::string& path, std::string& problem,
                                       FileIdentity* identity = nullptr);

}  // namespace rowpress
