// CSV and TSV in another character encoding than UTF-8: the text the writers make, always
// UTF-8, is encoded through glibc's iconv as it goes to the file.
#pragma once

#include <iconv.h>

#include <memory>
#include <string>
#include <string_view>

namespace rowpress {

// Whether `name` is UTF-8 itself ("" too: the default), which needs no encoding.
bool isUtf8Encoding(std::string_view name);

// Whether files in the encoding `name` start with a byte order mark that the writer writes:
// UTF-16 and UTF-32 of a named byte order (iconv's "UTF-16" writes its own).
bool needsByteOrderMark(std::string_view name);

class TextEncoder {
 public:
  // The encoder from UTF-8 to `name`; nothing when iconv has no such conversion, or when the
  // name asks iconv to transliterate or leave characters out ("//"), which would change
  // values without their being counted.
  static std::unique_ptr<TextEncoder> open(const std::string& name);
  ~TextEncoder();
  TextEncoder(const TextEncoder&) = delete;
  TextEncoder& operator=(const TextEncoder&) = delete;

  // Appends `utf8` in the encoding to `out`. A character the encoding cannot hold, and a
  // byte that is no part of a UTF-8 character, is written as "?"; a character cut at the end
  // of `utf8` waits for the next call.
  void encode(std::string_view utf8, std::string& out);
  // Ends the text: a character left cut is written as "?", then what returns a stateful
  // encoding to its initial state.
  void finish(std::string& out);
  // Whether the encoding holds every character of `utf8`, a whole text: a character cut at
  // its end is not held.
  bool holds(std::string_view utf8);

 private:
  TextEncoder(iconv_t write, iconv_t check) : write_(write), check_(check) {}
  // Converts as much of `in` as iconv takes with `cd`; false at a character it cannot.
  static bool convert(iconv_t cd, std::string_view& in, std::string& out, bool& cut);
  // encode, without a character cut before `utf8`.
  void encodeText(std::string_view utf8, std::string& out);
  // Appends "?" in the encoding.
  void question(std::string& out);

  iconv_t write_;
  iconv_t check_;
  std::string pending_;  // the beginning of a character cut at the end of the last text
  std::string scratch_;
};

// The length of the longest beginning of `utf8` that does not end inside a character: a
// text read in parts is checked up to there, the rest with the next part.
std::size_t wholeCharactersOf(std::string_view utf8);

}  // namespace rowpress
