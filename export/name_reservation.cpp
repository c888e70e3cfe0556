#include "export/name_reservation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "export/stop_request.h"
#include "files/temporary_files.h"

namespace rowpress {

NameReservation::NameReservation(NameReservation&& other) noexcept
    : path_(std::move(other.path_)),
      name_(std::move(other.name_)),
      directory_(std::exchange(other.directory_, -1)),
      fd_(std::exchange(other.fd_, -1)),
      device_(other.device_),
      inode_(other.inode_) {
  other.path_.clear();
}

NameReservation& NameReservation::operator=(NameReservation&& other) noexcept {
  if (this != &other) {
    remove();
    path_ = std::move(other.path_);
    name_ = std::move(other.name_);
    directory_ = std::exchange(other.directory_, -1);
    fd_ = std::exchange(other.fd_, -1);
    device_ = other.device_;
    inode_ = other.inode_;
    other.path_.clear();
  }
  return *this;
}

NameReservation::NameReservation(std::string path, int directory, std::string name, int fd,
                                 dev_t device, ino_t inode)
    : path_(std::move(path)),
      name_(std::move(name)),
      directory_(directory),
      fd_(fd),
      device_(device),
      inode_(inode) {
  lockForRun(fd_);
  if (!path_.empty()) {
    StopRequest::instance().addReservation(path_, device_, inode_, directory_);
  }
}

void NameReservation::close() {
  closeLockedForRun(fd_);
  fd_ = -1;
  if (directory_ >= 0) ::close(directory_);
  directory_ = -1;
  if (!path_.empty()) StopRequest::instance().removeReservation(path_);
  path_.clear();
}

void NameReservation::release() { close(); }

void NameReservation::remove() {
  struct stat st;
  if (directory_ >= 0 && ::fstatat(directory_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      st.st_dev == device_ && st.st_ino == inode_ && S_ISREG(st.st_mode) && st.st_size == 0) {
    ::unlinkat(directory_, name_.c_str(), 0);
  }
  close();
}

bool beginsWithNumber(std::string_view name) {
  if (name.size() < 11 || !name.starts_with("row") || name.substr(7, 4) != ".TMP") return false;
  for (char c : name.substr(3, 4)) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

bool isReservedName(std::string_view name) {
  if (!beginsWithNumber(name)) return false;
  std::string_view extension = name.substr(11);
  // The manifest of an output with a default name: "rowXXXX.TMP.csv.manifest.json".
  constexpr std::string_view kManifest = ".manifest.json";
  if (extension.ends_with(kManifest)) {
    extension.remove_suffix(kManifest.size());
    if (extension.empty()) return false;
  }
  // A sheet's file of a CSV or TSV report: "rowXXXX.TMP-NAME.csv".
  if (extension.starts_with('-') && extension.ends_with(".csv")) return true;
  for (std::string_view known : {"", ".xls", ".xml", ".csv", ".html", ".xlsx"}) {
    if (extension == known) return true;
  }
  return false;
}

void removeAbandonedReservations(int directory) {
  removeAbandonedFiles(directory, LeftoverKind{isReservedName, true});
}

}  // namespace rowpress
