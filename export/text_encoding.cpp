#include "export/text_encoding.h"

#include <cerrno>

#include "job/utf8.h"

namespace rowpress {

namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The name in capitals without "-" and "_": "utf-16le" and "UTF_16LE" are "UTF16LE".
std::string plainName(std::string_view name) {
  std::string plain;
  for (char c : name) {
    if (c != '-' && c != '_') plain += upper(c);
  }
  return plain;
}

}  // namespace

bool isUtf8Encoding(std::string_view name) {
  const std::string plain = plainName(name);
  return plain.empty() || plain == "UTF8";
}

bool needsByteOrderMark(std::string_view name) {
  const std::string plain = plainName(name);
  return plain == "UTF16LE" || plain == "UTF16BE" || plain == "UTF32LE" || plain == "UTF32BE";
}

std::unique_ptr<TextEncoder> TextEncoder::open(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return nullptr;
  iconv_t write = iconv_open(name.c_str(), "UTF-8");
  if (write == reinterpret_cast<iconv_t>(-1)) return nullptr;
  iconv_t check = iconv_open(name.c_str(), "UTF-8");
  if (check == reinterpret_cast<iconv_t>(-1)) {
    iconv_close(write);
    return nullptr;
  }
  return std::unique_ptr<TextEncoder>(new TextEncoder(write, check));
}

TextEncoder::~TextEncoder() {
  iconv_close(write_);
  iconv_close(check_);
}

bool TextEncoder::convert(iconv_t cd, std::string_view& in, std::string& out, bool& cut) {
  cut = false;
  while (!in.empty()) {
    const std::size_t start = out.size();
    const std::size_t room = in.size() * 4 + 16;
    out.resize(start + room);
    char* from = const_cast<char*>(in.data());
    std::size_t fromLeft = in.size();
    char* to = out.data() + start;
    std::size_t toLeft = room;
    const std::size_t done = iconv(cd, &from, &fromLeft, &to, &toLeft);
    out.resize(start + (room - toLeft));
    in.remove_prefix(in.size() - fromLeft);
    if (done != static_cast<std::size_t>(-1)) return true;
    if (errno == E2BIG) continue;
    if (errno == EINVAL) {
      cut = true;
      return true;
    }
    return false;  // EILSEQ: a character the encoding cannot hold, or no UTF-8
  }
  return true;
}

void TextEncoder::encode(std::string_view utf8, std::string& out) {
  if (!pending_.empty()) {
    // The character cut at the end of the last text goes on with this one's first bytes.
    std::string character;
    character.swap(pending_);
    std::size_t taken = 0;
    while (taken < utf8.size() && character.size() + taken < 4 &&
           isUtf8Continuation(static_cast<unsigned char>(utf8[taken]))) {
      ++taken;
    }
    character.append(utf8.substr(0, taken));
    utf8.remove_prefix(taken);
    encodeText(character, out);
    // Followed by more text, a character still cut is no UTF-8.
    if (utf8.empty()) return;
    if (!pending_.empty()) {
      pending_.clear();
      question(out);
    }
  }
  encodeText(utf8, out);
}

void TextEncoder::encodeText(std::string_view utf8, std::string& out) {
  while (!utf8.empty()) {
    bool cut = false;
    if (convert(write_, utf8, out, cut)) {
      if (cut) pending_.assign(utf8);
      return;
    }
    // One "?" for the character, or for the byte that begins no character.
    question(out);
    std::size_t skip = 1;
    while (skip < utf8.size() && skip < 4 &&
           isUtf8Continuation(static_cast<unsigned char>(utf8[skip]))) {
      ++skip;
    }
    utf8.remove_prefix(skip);
  }
}

void TextEncoder::question(std::string& out) {
  std::string_view question = "?";
  bool cut = false;
  convert(write_, question, out, cut);
}

void TextEncoder::finish(std::string& out) {
  if (!pending_.empty()) {
    pending_.clear();
    question(out);
  }
  char buffer[64];
  char* to = buffer;
  std::size_t toLeft = sizeof buffer;
  iconv(write_, nullptr, nullptr, &to, &toLeft);
  out.append(buffer, sizeof buffer - toLeft);
}

bool TextEncoder::holds(std::string_view utf8) {
  iconv(check_, nullptr, nullptr, nullptr, nullptr);
  scratch_.clear();
  bool cut = false;
  return convert(check_, utf8, scratch_, cut) && !cut;
}

std::size_t wholeCharactersOf(std::string_view utf8) {
  // The last character's lead byte lies at most three bytes from the end.
  for (std::size_t back = 1; back <= 4 && back <= utf8.size(); ++back) {
    const auto c = static_cast<unsigned char>(utf8[utf8.size() - back]);
    if (isUtf8Continuation(c)) continue;
    const std::size_t length = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    return length > back ? utf8.size() - back : utf8.size();
  }
  return utf8.size();
}

}  // namespace rowpress
