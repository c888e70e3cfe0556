#include "export/name_reservation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "files/run_files.h"
#include "files/temporary_files.h"

namespace rowpress {

NameReservation::NameReservation(NameReservation&& other) noexcept
    : path_(std::move(other.path_)),
      name_(std::move(other.name_)),
      directory_(std::move(other.directory_)),
      fd_(std::move(other.fd_)),
      device_(other.device_),
      inode_(other.inode_) {
  other.path_.clear();
}

NameReservation& NameReservation::operator=(NameReservation&& other) noexcept {
  if (this != &other) {
    remove();
    path_ = std::move(other.path_);
    name_ = std::move(other.name_);
    directory_ = std::move(other.directory_);
    fd_ = std::move(other.fd_);
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
  lockForRun(fd_.get());
  if (!path_.empty()) {
    RunFiles::instance().addReservation(path_, device_, inode_, directory_.get());
  }
}

void NameReservation::close() {
  fd_.reset();
  directory_.reset();
  if (!path_.empty()) RunFiles::instance().removeReservation(path_);
  path_.clear();
}

void NameReservation::release() { close(); }

void NameReservation::remove() {
  struct stat st;
  if (directory_ && ::fstatat(directory_.get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      st.st_dev == device_ && st.st_ino == inode_ && S_ISREG(st.st_mode) && st.st_size == 0) {
    ::unlinkat(directory_.get(), name_.c_str(), 0);
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
