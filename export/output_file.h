// An output file written as text: every line feed becomes CR LF. Writes are buffered and the
// system is only ever handed whole lines, so the file on disk never ends in the middle of a
// line. Move-only; the destructor closes quietly, close() reports failure.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>

#include "export/text_encoding.h"

namespace rowpress {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates `path`, open for reading too (a writer may read its file back); with `exclusive`
  // an existing file is an error, otherwise it is emptied.
  // Returns a closed file and sets error() when it cannot be created.
  static OutputFile create(const std::string& path, bool exclusive, int mode = 0666);
  // Writes through `fd`, which stays its owner's: close() hands everything to the system
  // and reports, but leaves the descriptor open. `path` names the file that `fd` is open on.
  static OutputFile onDescriptor(int fd, std::string path = {});

  bool isOpen() const { return fd_ >= 0; }
  // The descriptor the file is written through, or -1 when it is closed. A library that
  // writes the file itself reaches it through this descriptor, never through its name.
  int descriptor() const { return fd_; }
  // A directory of this run's own beside the file, for the temporary files of a library that
  // writes the file, open as this descriptor; -1 when the file has none.
  int workDirectory() const { return workDirectory_; }
  void setWorkDirectory(int fd) { workDirectory_ = fd; }
  // The first error (an errno value) met while writing, or 0.
  int error() const { return error_; }
  // The path of the file on disk; empty when it is not known.
  const std::string& path() const { return path_; }
  // Records an error met by a writer that fills the file through its path (a library that
  // writes the file itself): the first error stays, and close() reports it. 0 counts as EIO.
  void fail(int err);
  // The same, for a failure that its errno value does not name well: `reason` says what
  // failed (the errno value still counts for close()).
  void fail(int err, std::string reason);
  // Why the file failed, as a short text: the reason given to fail(), else the error's text;
  // empty while nothing failed.
  std::string errorText() const;

  // Appends text; each line feed in it is written as CR LF and ends a line.
  void write(std::string_view text);
  // Appends text that the caller knows holds no line feed, without looking for one.
  void writeWithoutLineFeed(std::string_view text) { buffer_.append(text); }
  void put(char c);
  // Appends CR LF.
  void endLine();

  // The bytes written so far, line ends as they are on disk, those still in the buffer
  // included: the offset at which the next write lands in a file that began empty.
  off_t position() const { return written_ + static_cast<off_t>(buffer_.size()); }

  // Takes back the last `bytes` bytes written (counted as position() counts them) while they
  // are all still in the buffer; false, taking nothing, when some have gone to the system.
  bool takeBack(std::size_t bytes);

  // From now on the text goes to the system in the encoding of `encoder` (the text written
  // is UTF-8): for a file in another encoding than UTF-8. position() then counts the bytes
  // still in the buffer as written, before encoding.
  void encodeWith(std::unique_ptr<TextEncoder> encoder) { encoder_ = std::move(encoder); }
  TextEncoder* encoder() const { return encoder_.get(); }

  // Hands every complete line to the system.
  bool flush();
  // Hands everything to the system, an unfinished line too: for a line that grows past any
  // buffer (a value read in parts).
  bool flushAll();
  // Flushes, then writes `bytes` at `offset` in place.
  bool overwriteAt(off_t offset, std::string_view bytes);
  // Flushes everything, including an unfinished last line, and closes. False when any write
  // or the close failed.
  bool close();

 private:
  void afterLineEnd();
  bool writeOut(std::size_t count);
  // Hands `bytes` to the system as they are.
  void writeBytes(std::string_view bytes);

  int fd_ = -1;
  int workDirectory_ = -1;
  bool ownsFd_ = true;
  int error_ = 0;
  std::string reason_;
  std::string path_;
  std::string buffer_;
  std::size_t completeLines_ = 0;  // bytes of buffer_ that end at a line end
  off_t written_ = 0;              // bytes handed to the system
  off_t writingBack_ = 0;          // of those, bytes whose write to disk has been started
  std::unique_ptr<TextEncoder> encoder_;
  std::string encoded_;
};

}  // namespace rowpress
