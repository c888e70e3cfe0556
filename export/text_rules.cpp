#include "export/text_rules.h"

#include <algorithm>
#include <array>

#include "export/output_file.h"
#include "job/utf8.h"

namespace rowpress {

namespace {

// The same for XML text, where U+FFFE and U+FFFF are no characters either.
std::size_t xmlSequenceLength(const unsigned char* p, std::size_t avail) {
  const std::size_t length = wellFormedSequenceLength(p, avail);
  if (length == 3 && p[0] == 0xEF && p[1] == 0xBF && (p[2] == 0xBE || p[2] == 0xBF)) return 0;
  return length;
}

// What the XML escaping does with each byte.
enum XmlClass : unsigned char { kCopy, kDrop, kEntity, kMultiByte };

constexpr std::array<unsigned char, 256> makeXmlClasses() {
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 256; ++c) {
    if (c < 0x20) {
      t[c] = kDrop;
    } else if (c >= 0x80) {
      t[c] = kMultiByte;
    } else if (c == '<' || c == '>' || c == '&' || c == '"' || c == '\'') {
      t[c] = kEntity;
    } else {
      t[c] = kCopy;
    }
  }
  return t;
}
constexpr std::array<unsigned char, 256> kXmlClasses = makeXmlClasses();

constexpr std::string_view xmlEntity(unsigned char c) {
  switch (c) {
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '&':
      return "&amp;";
    case '"':
      return "&quot;";
    default:
      return "&apos;";
  }
}

struct FileSink {
  OutputFile& out;
  void write(std::string_view text) { out.write(text); }
};

struct StringSink {
  std::string& out;
  void write(std::string_view text) { out.append(text); }
};

// The XML text rules: bytes are dropped as the class table says; markup characters become
// entities when `escape`, and are kept as they are otherwise. True when a byte was dropped.
template <bool escape = true, class Sink>
bool xmlEscape(Sink sink, std::string_view text) {
  bool dropped = false;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t runStart = 0;  // the bytes [runStart, i) are kept as they are
  std::size_t i = 0;
  auto flushRun = [&] {
    if (i > runStart) sink.write(text.substr(runStart, i - runStart));
  };
  while (i < n) {
    switch (kXmlClasses[p[i]]) {
      case kCopy:
        ++i;
        continue;
      case kMultiByte:
        if (std::size_t len = xmlSequenceLength(p + i, n - i); len != 0) {
          i += len;
          continue;
        }
        break;  // dropped
      case kEntity:
        if constexpr (!escape) {
          ++i;
          continue;
        }
        flushRun();
        sink.write(xmlEntity(p[i]));
        runStart = ++i;
        continue;
      default:
        break;  // dropped
    }
    dropped = true;
    flushRun();
    runStart = ++i;
  }
  flushRun();
  return dropped;
}

constexpr std::array<bool, 256> makeHtmlSpecials() {
  std::array<bool, 256> t{};
  t['&'] = t['<'] = t['>'] = t['"'] = true;
  return t;
}
constexpr std::array<bool, 256> kHtmlSpecials = makeHtmlSpecials();

template <class Sink>
void htmlEscape(Sink sink, std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!kHtmlSpecials[p[i]]) continue;
    if (i > runStart) sink.write(text.substr(runStart, i - runStart));
    switch (p[i]) {
      case '&':
        sink.write("&amp;");
        break;
      case '<':
        sink.write("&lt;");
        break;
      case '>':
        sink.write("&gt;");
        break;
      default:
        sink.write("&quot;");
        break;
    }
    runStart = i + 1;
  }
  if (n > runStart) sink.write(text.substr(runStart));
}

}  // namespace

FixedWidth fixedWidth(std::string_view value, std::int32_t declaredSize) {
  if (declaredSize <= 0) return {};
  // No value is longer than 65,536 bytes, so no column is padded wider than that: a driver
  // that reports a size of 2^31-1 for a text column must not turn each cell into gigabytes.
  const auto width = std::min(static_cast<std::size_t>(declaredSize), kFixedWidthLimit);
  const std::size_t taken = cutOnCharacterBoundary(value, width);
  return {value.substr(0, taken), width - taken};
}

void writeSpaces(OutputFile& out, std::size_t count) {
  static constexpr std::string_view kSpaces =
      "                                                                "
      "                                                                ";
  while (count > kSpaces.size()) {
    out.write(kSpaces);
    count -= kSpaces.size();
  }
  if (count > 0) out.write(kSpaces.substr(0, count));
}

bool isNumericText(std::string_view text) {
  std::size_t i = 0;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) i = 1;
  bool digit = false;
  bool stop = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !stop) {
      stop = true;
    } else {
      return false;
    }
  }
  return digit;
}

bool isLongNumber(std::string_view text, bool approximate) {
  if (!isNumericText(text)) return false;
  if (approximate && text.find('.') != std::string_view::npos) return false;
  // A decimal's zeros at its end carry no digit; without a fraction it counts as a whole one.
  if (text.find('.') != std::string_view::npos) {
    text = text.substr(0, text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.remove_suffix(1);
  }
  const std::size_t first = text.find_first_not_of("+-0.");
  if (first == std::string_view::npos) return false;
  const std::size_t point = text.find('.', first);
  const std::size_t digits = text.size() - first - (point == std::string_view::npos ? 0 : 1);
  return digits > kSpreadsheetDigits;
}

bool writeXmlEscaped(OutputFile& out, std::string_view text) {
  return xmlEscape(FileSink{out}, text);
}

void appendXmlEscaped(std::string& out, std::string_view text) { xmlEscape(StringSink{out}, text); }

bool appendXmlText(std::string& out, std::string_view text) {
  return xmlEscape<false>(StringSink{out}, text);
}

std::size_t utf16Length(std::string_view text) {
  std::size_t units = 0;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    // Each character counts at its lead byte; one of four bytes needs two units.
    units += !isUtf8Continuation(byte) + (byte >= 0xF0);
  }
  return units;
}

void writeHtmlEscaped(OutputFile& out, std::string_view text) { htmlEscape(FileSink{out}, text); }

void appendHtmlEscaped(std::string& out, std::string_view text) {
  htmlEscape(StringSink{out}, text);
}

}  // namespace rowpress
