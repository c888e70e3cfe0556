#include "export/output_target.h"

#include <cstring>
#include <utility>

#include "job/pause_point.h"

namespace rowpress {

bool OutputTarget::open(const std::string& path, NameReservation reserved) {
  discard();
  reserved_ = std::move(reserved);
  error_.clear();
  if (atomic_.prepare(path)) {
    registered_.set(atomic_.temporaryPath(), atomic_.directoryDescriptor());
    if (atomic_.create(0666)) {
      file_ = OutputFile::onDescriptor(atomic_.descriptor(), atomic_.temporaryPath());
      return true;
    }
  }
  error_ = atomic_.error();
  registered_.release();
  reserved_.remove();
  return false;
}

std::string OutputTarget::error() const {
  if (!error_.empty()) return error_;
  return file_.error() ? std::strerror(file_.error()) : std::string();
}

bool OutputTarget::keep() {
  if (!atomic_.isOpen()) return false;
  if (!file_.close()) {
    error_ = std::strerror(file_.error());
    discard();
    return false;
  }
  pausePoint(kPauseBeforeKeeping);
  const bool kept = atomic_.commit();
  registered_.release();
  if (!kept) {
    error_ = atomic_.error();
    reserved_.remove();
    return false;
  }
  reserved_.release();
  return true;
}

void OutputTarget::discard() {
  if (atomic_.isOpen()) {
    file_.close();
    atomic_.discard();
  }
  registered_.release();
  reserved_.remove();
}

}  // namespace rowpress
