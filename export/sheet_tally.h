// What the sheets of a workbook hold as it is read back (see zip_read_back.h), for the .xlsx
// writer's check of the finished workbook.
#pragma once

#include <libxml/parser.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export/zip_read_back.h"

namespace rowpress {

// What the sheets of a workbook hold as it is read back: the rows and cells of each sheet,
// counted by their start tags ("<row " and "<c "; the text of a cell never holds a "<", which
// is written as "&lt;"), and whether the sheet ends as a sheet does.
class SheetTally : public ZipContentVisitor {
 public:
  struct Sheet {
    bool found = false;
    bool ended = false;
    long long rows = 0;
    long long cells = 0;
  };

  explicit SheetTally(std::size_t sheets) : sheets_(sheets) {}

  void entry(std::string_view name) override {
    endEntry();
    current_ = sheetOf(name);
    if (current_) sheets_[*current_].found = true;
    if (std::find(std::begin(kParts), std::end(kParts), name) != std::end(kParts)) {
      parts_.emplace_back(std::string(name), std::string());
      inPart_ = true;
    }
  }

  void content(std::string_view piece) override {
    if (inPart_) parts_.back().second.append(piece);
    if (!current_) return;
    Sheet& sheet = sheets_[*current_];
    tail_.append(piece.substr(piece.size() - std::min(piece.size(), kEnd.size())));
    tail_.erase(0, tail_.size() - std::min(tail_.size(), kEnd.size()));
    if (!fragment_.empty()) {
      // A tag cut at the end of the last piece.
      fragment_.append(piece.substr(0, kLongestTag - fragment_.size()));
      if (fragment_.size() < kLongestTag && startsATag(fragment_)) return;
      tally(fragment_, sheet);
      fragment_.clear();
    }
    const char* at = piece.data();
    const char* end = at + piece.size();
    while ((at = static_cast<const char*>(std::memchr(at, '<', end - at))) != nullptr) {
      const std::string_view rest(at, end - at);
      if (!tally(rest, sheet) && rest.size() < kLongestTag && startsATag(rest)) {
        fragment_ = rest;
      }
      ++at;
    }
  }

  const std::vector<Sheet>& sheets() {
    endEntry();
    return sheets_;
  }

  // The first of the workbook's small parts that an XML parser does not read as well-formed
  // XML, with the parser's first complaint; empty when all are.
  std::string malformedPart() const {
    for (const auto& [name, text] : parts_) {
      xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
      if (doc != nullptr) {
        xmlFreeDoc(doc);
        continue;
      }
      const xmlError* error = xmlGetLastError();
      std::string why = name + " is not well-formed XML";
      if (error != nullptr && error->message != nullptr) {
        std::string message = error->message;
        while (!message.empty() && message.back() == '\n') message.pop_back();
        why += " (" + message + ")";
      }
      return why;
    }
    return {};
  }

 private:
  // The parts that hold the workbook's structure and its sheets' names: each is read by an
  // XML parser as a whole. (The sheets themselves are counted, not parsed: they are large.)
  static constexpr std::string_view kParts[] = {"[Content_Types].xml", "_rels/.rels",
                                                "docProps/app.xml",    "docProps/core.xml",
                                                "xl/workbook.xml",     "xl/_rels/workbook.xml.rels",
                                                "xl/styles.xml"};
  static constexpr std::string_view kRow = "<row ";
  static constexpr std::string_view kCell = "<c ";
  static constexpr std::string_view kEnd = "</worksheet>";
  static constexpr std::size_t kLongestTag = kRow.size();

  // The sheet of an entry "xl/worksheets/sheetN.xml".
  std::optional<std::size_t> sheetOf(std::string_view name) const {
    constexpr std::string_view kPrefix = "xl/worksheets/sheet", kSuffix = ".xml";
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return std::nullopt;
    const std::string_view digits =
        name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    std::size_t n = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (error != std::errc() || end != digits.data() + digits.size() || n == 0 ||
        n > sheets_.size()) {
      return std::nullopt;
    }
    return n - 1;
  }

  static bool startsATag(std::string_view text) {
    return kRow.starts_with(text) || kCell.starts_with(text);
  }

  // Counts the tag that `text` starts with, if any.
  static bool tally(std::string_view text, Sheet& sheet) {
    if (text.starts_with(kRow)) {
      ++sheet.rows;
      return true;
    }
    if (text.starts_with(kCell)) {
      ++sheet.cells;
      return true;
    }
    return false;
  }

  void endEntry() {
    inPart_ = false;
    if (current_) sheets_[*current_].ended = tail_ == kEnd;
    current_.reset();
    fragment_.clear();
    tail_.clear();
  }

  std::vector<Sheet> sheets_;
  std::optional<std::size_t> current_;
  std::string fragment_;
  std::string tail_;
  std::vector<std::pair<std::string, std::string>> parts_;  // name and text
  bool inPart_ = false;
};

}  // namespace rowpress
