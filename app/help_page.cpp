#include "app/help_page.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace rowpress {

namespace {

constexpr char kHelpPage[] = "share/rowpress/help.html";

bool isRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

HelpPage findHelpPage(const std::string& executable) {
  HelpPage page;
  if (executable.empty()) return page;
  const std::filesystem::path dir = std::filesystem::path(executable).parent_path();
  for (const std::filesystem::path& candidate : {dir / ".." / kHelpPage, dir / kHelpPage}) {
    std::string path = candidate.lexically_normal().string();
    page.searched.push_back(path);
    if (page.path.empty() && isRegularFile(path)) page.path = path;
  }
  return page;
}

std::string currentExecutablePath() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(length));
  return path;
}

std::string fileUrl(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0xF];
    }
  }
  return url;
}

}  // namespace rowpress
