// The default names that runs reserve in the default directory, and the reservations that
// runs which are gone left behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "files/temporary_files.h"

namespace rowpress {

// The default name reserved for one run: the empty file "rowXXXX.TMP.ext" that the run
// created, so that no other run takes the name. The run holds it open and locked, as it holds
// its temporary file, so that a later run can tell the reservation of a run that is gone (a
// killed one leaves it behind) from one in use: see removeAbandonedReservations(). Unless the
// run keeps its file under that name (release()), it is removed again, and only while it is
// still the empty file the run created.
class NameReservation {
 public:
  NameReservation() = default;
  // The file `name` (`device`, `inode`) in the directory open as `directory`, open as `fd`;
  // `path` says where it is. Takes both descriptors and locks the file. Known to the stop
  // request until it is released or removed.
  NameReservation(std::string path, int directory, std::string name, int fd, dev_t device,
                  ino_t inode);
  ~NameReservation() { remove(); }
  NameReservation(NameReservation&& other) noexcept;
  NameReservation& operator=(NameReservation&& other) noexcept;
  NameReservation(const NameReservation&) = delete;
  NameReservation& operator=(const NameReservation&) = delete;

  // The name now holds the run's file: nothing is removed.
  void release();
  void remove();

 private:
  void close();

  std::string path_;
  std::string name_;
  FileDescriptor directory_;
  RunLockedDescriptor fd_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// Whether `name` begins with a default name's number, "row", four upper-case hexadecimal
// digits and ".TMP".
bool beginsWithNumber(std::string_view name);

// Whether `name` is one that prepareOutputPaths() reserves: "rowXXXX.TMP", alone, with the
// extension of an output type, or as a sheet's file of a CSV or TSV report, "-NAME.csv"; and
// either of the latter two followed by ".manifest.json".
bool isReservedName(std::string_view name);

// Removes the reservations that runs which are gone left in the directory open as
// `directory`: empty files of reserved names, more than a few minutes old, whose lock can be
// taken (see removeAbandonedFiles).
void removeAbandonedReservations(int directory);

}  // namespace rowpress
