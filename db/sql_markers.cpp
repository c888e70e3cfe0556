#include "db/sql_markers.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace rowpress {

namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNameChar(char c) { return isLetter(c) || isDigit(c) || c == '_'; }

// PostgreSQL's identifier characters: letters, digits, `_`, `$` and every byte of a multibyte
// character. A word that starts with one of them runs on over all of them, so a `$` inside a
// word opens no dollar quote.
bool isPgIdentifierChar(char c) {
  return isNameChar(c) || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}
// The first character of a dollar quote's tag, and the ones after it.
bool isTagStart(char c) { return isLetter(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80; }
bool isTagChar(char c) { return isTagStart(c) || isDigit(c); }

bool startsWith(std::string_view text, std::size_t at, std::string_view prefix) {
  return text.substr(at, prefix.size()) == prefix;
}

// Whether `text`, blanks at its end aside, ends with the word ARRAY (any case).
bool endsWithArrayKeyword(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  constexpr std::string_view kArray = "array";
  if (text.size() < kArray.size()) return false;
  const std::string_view word = text.substr(text.size() - kArray.size());
  for (std::size_t k = 0; k < kArray.size(); ++k) {
    if (std::tolower(static_cast<unsigned char>(word[k])) != kArray[k]) return false;
  }
  return text.size() == kArray.size() || !isPgIdentifierChar(text[text.size() - kArray.size() - 1]);
}

// Reads one statement, a quoted text or comment at a time.
class MarkerScan {
 public:
  MarkerScan(std::string_view sql, SqlDialect dialect) : sql_(sql), dialect_(dialect) {}

  MarkedStatement run() {
    MarkedStatement out;
    out.text.reserve(sql_.size());
    // PostgreSQL's open brackets, innermost last: true for a subscript, where `:name` is the
    // bound of a slice (a[1:n], a[:n]); false for an ARRAY[...] constructor, which holds
    // values.
    std::vector<bool> brackets;
    const bool pg = dialect_ == SqlDialect::PostgreSql;
    std::size_t i = 0;
    while (i < sql_.size()) {
      std::size_t end = skipQuoteOrComment(i);
      if (end == i && dialect_ == SqlDialect::PostgreSql) end = skipPgWord(i);
      if (end != i) {
        out.text.append(sql_.substr(i, end - i));
        i = end;
        continue;
      }
      const char c = sql_[i];
      const char next = i + 1 < sql_.size() ? sql_[i + 1] : '\0';
      if (c == ':' && next == ':') {
        out.text.append("::");
        i += 2;
      } else if (pg && (c == '[' || c == ']')) {
        if (c == '[') brackets.push_back(!endsWithArrayKeyword(out.text));
        if (c == ']' && !brackets.empty()) brackets.pop_back();
        out.text.push_back(c);
        ++i;
      } else if (c == ':' && !brackets.empty() && brackets.back()) {
        // A slice's bound: the name after it is read as a word.
        out.text.push_back(c);
        ++i;
      } else if (c == ':' && isLetter(next)) {
        std::size_t j = i + 1;
        while (j < sql_.size() && isNameChar(sql_[j])) ++j;
        out.names.emplace_back(sql_.substr(i + 1, j - i - 1));
        out.places.push_back(out.text.size());
        out.text.push_back('?');
        i = j;
      } else {
        if (c == '?') out.questionMark = true;
        out.text.push_back(c);
        ++i;
      }
    }
    return out;
  }

 private:
  // The end of the quoted text or comment that starts at `i`; `i` itself when none does.
  std::size_t skipQuoteOrComment(std::size_t i) const {
    const char c = sql_[i];
    const bool maria = dialect_ == SqlDialect::MariaDb;
    const bool pg = dialect_ == SqlDialect::PostgreSql;
    const bool sqlite = dialect_ == SqlDialect::Sqlite;
    switch (c) {
      case '\'':
        // MariaDB's strings take backslash escapes; PostgreSQL's plain ones keep a backslash as
        // it is ('C:\'), its E'...' ones are read with the word before them (skipPgWord).
        return quoted(i, '\'', maria);
      case '"':
        // A string on MariaDB (with its escapes), an identifier everywhere else.
        return quoted(i, '"', maria);
      case '`':
        return maria || sqlite ? quoted(i, '`', false) : i;
      case '[':
        return sqlite ? until(i + 1, "]") : i;
      case '-':
        return startsWith(sql_, i, "--") && (!maria || dashesStartComment(i)) ? lineEnd(i) : i;
      case '#':
        return maria ? lineEnd(i) : i;
      case '/':
        if (!startsWith(sql_, i, "/*")) return i;
        // MariaDB runs the text of /*! ... */ and /*M! ... */: its markers count.
        if (maria && (startsWith(sql_, i, "/*!") || startsWith(sql_, i, "/*M!"))) return i;
        return pg ? nestedComment(i) : until(i + 2, "*/");
      case '$':
        return pg ? dollarQuote(i) : i;
      default:
        return i;
    }
  }

  // A text between `quote`s from `i`, a doubled quote standing for one, and with
  // `backslashes` a backslash taking the byte after it.
  std::size_t quoted(std::size_t i, char quote, bool backslashes) const {
    std::size_t j = i + 1;
    while (j < sql_.size()) {
      if (backslashes && sql_[j] == '\\') {
        j += 2;
      } else if (sql_[j] == quote) {
        if (j + 1 < sql_.size() && sql_[j + 1] == quote) {
          j += 2;
        } else {
          return j + 1;
        }
      } else {
        ++j;
      }
    }
    return sql_.size();
  }

  // PostgreSQL's words (names, keywords, numbers) as its lexer reads them: a run of identifier
  // characters, `$` included, so that a `$` inside one (a$b$) opens no dollar quote. The word
  // E (or e) right before a quote starts a string with backslash escapes: E'It\'s'.
  std::size_t skipPgWord(std::size_t i) const {
    if (!isPgIdentifierChar(sql_[i])) return i;
    std::size_t j = i + 1;
    while (j < sql_.size() && isPgIdentifierChar(sql_[j])) ++j;
    if (j == i + 1 && (sql_[i] == 'E' || sql_[i] == 'e') && j < sql_.size() && sql_[j] == '\'') {
      return quoted(j, '\'', true);
    }
    return j;
  }

  // MariaDB reads "--" as a comment only before a blank or control character, or at the end
  // (5--1 is 5 - -1).
  bool dashesStartComment(std::size_t i) const {
    return i + 2 >= sql_.size() || static_cast<unsigned char>(sql_[i + 2]) <= ' ';
  }

  // The line break that ends a comment starting at `i` (PostgreSQL also ends one at a CR).
  std::size_t lineEnd(std::size_t i) const {
    const std::size_t end =
        sql_.find_first_of(dialect_ == SqlDialect::PostgreSql ? "\n\r" : "\n", i);
    return end == std::string_view::npos ? sql_.size() : end;
  }

  // Just past the first `closing` from `from`; the end of the text without one.
  std::size_t until(std::size_t from, std::string_view closing) const {
    const std::size_t end = sql_.find(closing, from);
    return end == std::string_view::npos ? sql_.size() : end + closing.size();
  }

  // PostgreSQL's comments nest: /* a /* b */ c */ is one comment.
  std::size_t nestedComment(std::size_t i) const {
    int depth = 0;
    std::size_t j = i;
    while (j < sql_.size()) {
      if (startsWith(sql_, j, "/*")) {
        ++depth;
        j += 2;
      } else if (startsWith(sql_, j, "*/")) {
        j += 2;
        if (--depth == 0) return j;
      } else {
        ++j;
      }
    }
    return sql_.size();
  }

  // PostgreSQL's $$...$$ and $tag$...$tag$ where a word may start (a `$` inside one is read
  // with the word). `$1` is a positional parameter.
  std::size_t dollarQuote(std::size_t i) const {
    std::size_t j = i + 1;
    if (j < sql_.size() && isTagStart(sql_[j])) {
      while (j < sql_.size() && isTagChar(sql_[j])) ++j;
    }
    if (j >= sql_.size() || sql_[j] != '$') return i;
    const std::string_view delimiter = sql_.substr(i, j + 1 - i);
    return until(j + 1, delimiter);
  }

  std::string_view sql_;
  SqlDialect dialect_;
};

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

}  // namespace

SqlDialect dialectOfDbms(std::string_view dbmsName) {
  if (startsWithNoCase(dbmsName, "postgresql")) return SqlDialect::PostgreSql;
  if (startsWithNoCase(dbmsName, "mariadb") || startsWithNoCase(dbmsName, "mysql")) {
    return SqlDialect::MariaDb;
  }
  if (startsWithNoCase(dbmsName, "sqlite")) return SqlDialect::Sqlite;
  return SqlDialect::Other;
}

MarkedStatement findMarkers(std::string_view sql, SqlDialect dialect) {
  return MarkerScan(sql, dialect).run();
}

}  // namespace rowpress
