// What a file that is replaced as a whole was, and how its new version keeps it: the links
// that lead to it, the owner, group, permission bits, access control list and extended
// attributes. The parts of AtomicFile that look at the replaced file.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace rowpress {

// Follows the symbolic links that `path` names, one after the other, to the file that is
// to be replaced. False, with the reason, for a loop or a link that may not be followed.
bool followLinks(const std::string& path, std::string& file, std::string& why);

// Why the existing file `name` (status `st`) in the directory open as `directory` (status
// `parent`) is not replaced: everything that would make the rename at the end fail, or
// replace something that is not this user's file to replace, or lose what the file is, found
// before anything is written. Empty when it may be replaced.
std::string whyNotReplaced(int directory, const std::string& name, const struct stat& st,
                           const struct stat& parent);

// What a replaced file was, as its new version keeps it.
struct ReplacedFile {
  struct stat status {};
  bool hasAccessControlList = false;
  std::string accessControlList;
  std::vector<std::pair<std::string, std::string>> attributes;  // the other ones
};

// Reads the attributes of the file `name` in the directory open as `directory`, whose status
// `replaced` already holds. False, with the reason, when they cannot be read.
bool readAttributes(int directory, const std::string& name, ReplacedFile& replaced,
                    std::string& why);

// Gives the new file open as `fd` (whose status is `mine`) what the replaced file was, in
// this order: owner and group, permission bits, access control list (setting it sets the
// group bits from its mask, which a later chmod would rewrite), the other extended
// attributes. False, with the reason, when something could not be kept.
bool keepWhatItWas(int fd, const struct stat& mine, const ReplacedFile& old, std::string& why);

}  // namespace rowpress
