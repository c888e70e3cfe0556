// The markers of a statement, dialect by dialect: what each database reads as a string, an
// identifier, a comment or a dollar quote keeps its `:name` as it is; everywhere else a marker
// becomes a `?`. Random statements are checked against a tokenizer written with regular
// expressions, and against putting the names back.
#include "db/sql_markers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/fuzz/random_input.h"

namespace rowpress {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Expected {
  std::string sql;
  std::string text;                // what is sent
  std::vector<std::string> names;  // the markers, in order
};

// Checks each case in `dialect`, with the places of the `?` that stand for markers.
void expectMarkers(SqlDialect dialect, const std::vector<Expected>& cases) {
  for (const Expected& c : cases) {
    SCOPED_TRACE(c.sql);
    const MarkedStatement found = findMarkers(c.sql, dialect);
    EXPECT_EQ(found.text, c.text);
    EXPECT_EQ(found.names, c.names);
    ASSERT_EQ(found.places.size(), found.names.size());
    for (std::size_t place : found.places) {
      ASSERT_LT(place, found.text.size());
      EXPECT_EQ(found.text[place], '?');
    }
  }
}

// A statement whose markers all stand in quotes or comments of `dialect`: sent as it is.
void expectUntouched(SqlDialect dialect, const std::vector<std::string>& statements) {
  std::vector<Expected> cases;
  for (const std::string& sql : statements) cases.push_back({sql, sql, {}});
  expectMarkers(dialect, cases);
}

constexpr SqlDialect kAll[] = {SqlDialect::PostgreSql, SqlDialect::MariaDb, SqlDialect::Sqlite,
                               SqlDialect::Other};

TEST(SqlDialect, TheDbmsNameOfEachDriverGivesItsDialect) {
  EXPECT_EQ(dialectOfDbms("PostgreSQL"), SqlDialect::PostgreSql);
  EXPECT_EQ(dialectOfDbms("MariaDB"), SqlDialect::MariaDb);
  EXPECT_EQ(dialectOfDbms("MySQL"), SqlDialect::MariaDb);
  EXPECT_EQ(dialectOfDbms("SQLite"), SqlDialect::Sqlite);
  EXPECT_EQ(dialectOfDbms("postgresql"), SqlDialect::PostgreSql);
  EXPECT_EQ(dialectOfDbms("Microsoft SQL Server"), SqlDialect::Other);
  EXPECT_EQ(dialectOfDbms("Oracle"), SqlDialect::Other);
  EXPECT_EQ(dialectOfDbms(""), SqlDialect::Other);
  EXPECT_EQ(dialectOfDbms("SQL"), SqlDialect::Other);
}

// What every dialect reads the same way: the marker's own shape, casts and assignments.
TEST(SqlMarkers, EveryDialectFindsTheSameMarkersOutsideQuotes) {
  for (SqlDialect dialect : kAll) {
    SCOPED_TRACE(static_cast<int>(dialect));
    expectMarkers(dialect,
                  {
                      {"select 1", "select 1", {}},
                      {"", "", {}},
                      {":a", "?", {"a"}},
                      {"where id = :id", "where id = ?", {"id"}},
                      {"where id=:id;", "where id=?;", {"id"}},
                      // Letters, digits and underscores after the first letter.
                      {":Name_2x+1", "?+1", {"Name_2x"}},
                      {"a = :from and b = :to", "a = ? and b = ?", {"from", "to"}},
                      // Case counts: two names.
                      {":d = :D", "? = ?", {"d", "D"}},
                      // One name twice is bound twice.
                      {":d < x and y < :d", "? < x and y < ?", {"d", "d"}},
                      {":a:b", "??", {"a", "b"}},
                      {"(:a,:b)", "(?,?)", {"a", "b"}},
                      // A cast after a marker, and a cast alone.
                      {":id::int", "?::int", {"id"}},
                      {"a::text", "a::text", {}},
                      {"a :: text", "a :: text", {}},
                      {"x:::y", "x::?", {"y"}},
                      // An assignment, and a colon before anything but a letter.
                      {"@v := 1", "@v := 1", {}},
                      {"@v:=:n", "@v:=?", {"n"}},
                      {": a", ": a", {}},
                      {":1 :_a :", ":1 :_a :", {}},
                      {"arr[1:2]", "arr[1:2]", {}},
                      {"caf\xc3\xa9 :\xc3\xa9t\xc3\xa9", "caf\xc3\xa9 :\xc3\xa9t\xc3\xa9", {}},
                      // A name ends at the first byte that cannot continue it.
                      {":na\xc3\xafve", "?\xc3\xafve", {"na"}},
                      // Markers in the strings, identifiers and comments every
                      // database has.
                      {"'a :x' || :y", "'a :x' || ?", {"y"}},
                      {"'it''s :x' = :y", "'it''s :x' = ?", {"y"}},
                      {"\":col\" = :v", "\":col\" = ?", {"v"}},
                      {"\"a\"\":b\" = :v", "\"a\"\":b\" = ?", {"v"}},
                      {"-- :x\n:y", "-- :x\n?", {"y"}},
                      {"/* :x */ :y", "/* :x */ ?", {"y"}},
                      {"/**/:y", "/**/?", {"y"}},
                  });
  }
}

TEST(SqlMarkers, AnUnterminatedQuoteOrCommentRunsToTheEnd) {
  for (SqlDialect dialect : kAll) {
    SCOPED_TRACE(static_cast<int>(dialect));
    expectUntouched(dialect, {"select 'abc :x", "select \":x", "select 1 -- :x", "/* :x",
                              "select ''':x", "'", "\"", "/*", "--", "/*/ :x"});
  }
  expectUntouched(SqlDialect::PostgreSql, {"$$ :x", "$t$ :x $t", "$t$ :x $u$", "/* /* */ :x"});
  expectUntouched(SqlDialect::MariaDb, {"`:x", "# :x", "'\\", "'a\\' :x", "\"a\\\" :x"});
  expectUntouched(SqlDialect::Sqlite, {"`:x", "[:x", "[a `]` :x"});
}

TEST(SqlMarkers, ABareQuestionMarkBesideMarkersIsTold) {
  for (SqlDialect dialect : kAll) {
    SCOPED_TRACE(static_cast<int>(dialect));
    const MarkedStatement mixed = findMarkers("a = ? and b = :b", dialect);
    EXPECT_TRUE(mixed.questionMark);
    EXPECT_TRUE(mixed.mixesQuestionMarks());
    EXPECT_EQ(mixed.text, "a = ? and b = ?");
    EXPECT_THAT(mixed.names, ElementsAre("b"));
    // Bare `?` alone is ODBC's own parameter: told, and not a mix.
    const MarkedStatement bare = findMarkers("a = ?", dialect);
    EXPECT_TRUE(bare.questionMark);
    EXPECT_FALSE(bare.mixesQuestionMarks());
    // A `?` in a string or comment is no parameter.
    for (const char* quoted : {"'?' = :b", "\"?\" = :b", "-- ?\n:b", "/* ? */ :b"}) {
      SCOPED_TRACE(quoted);
      const MarkedStatement found = findMarkers(quoted, dialect);
      EXPECT_FALSE(found.questionMark);
      EXPECT_FALSE(found.mixesQuestionMarks());
      EXPECT_THAT(found.names, ElementsAre("b"));
    }
  }
  EXPECT_FALSE(findMarkers("$$?$$ = :b", SqlDialect::PostgreSql).questionMark);
  EXPECT_TRUE(findMarkers("$$?$$ = :b", SqlDialect::Sqlite).mixesQuestionMarks());
  EXPECT_FALSE(findMarkers("`?` = :b", SqlDialect::MariaDb).questionMark);
  EXPECT_FALSE(findMarkers("# ?\n:b", SqlDialect::MariaDb).questionMark);
  EXPECT_TRUE(findMarkers("/*! ? */ :b", SqlDialect::MariaDb).mixesQuestionMarks());
  EXPECT_FALSE(findMarkers("[?] = :b", SqlDialect::Sqlite).questionMark);
  EXPECT_TRUE(findMarkers("[?] = :b", SqlDialect::PostgreSql).mixesQuestionMarks());
}

TEST(SqlMarkers, PostgreSql) {
  expectMarkers(
      SqlDialect::PostgreSql,
      {
          // A backslash is an ordinary character in a plain string.
          {"'C:\\' || :dir", "'C:\\' || ?", {"dir"}},
          {"'\\' = :a and '\\\\' = :b", "'\\' = ? and '\\\\' = ?", {"a", "b"}},
          // ... and an escape in E'...', whose \' does not end it.
          {"E'it\\'s :x' = :y", "E'it\\'s :x' = ?", {"y"}},
          {"e'\\\\' = :y", "e'\\\\' = ?", {"y"}},
          {"E'a''b :x' = :y", "E'a''b :x' = ?", {"y"}},
          // An E that ends a name is no prefix: 'C:\' then ' :x ' then :y.
          {"somE'\\' :x ' :y", "somE'\\' ? ' :y", {"x"}},
          // Dollar quotes, with and without a tag.
          {"$$ :x $$ || :y", "$$ :x $$ || ?", {"y"}},
          {"$body$ :x $$ :z $body$ :y", "$body$ :x $$ :z $body$ ?", {"y"}},
          {"$a_1$ :x $A_1$ :z $a_1$ :y", "$a_1$ :x $A_1$ :z $a_1$ ?", {"y"}},
          {"$\xc3\xa9$ :x $\xc3\xa9$ :y", "$\xc3\xa9$ :x $\xc3\xa9$ ?", {"y"}},
          {"$$'$$ :y", "$$'$$ ?", {"y"}},
          {"'$$' :y '$$'", "'$$' ? '$$'", {"y"}},
          // $1 is a positional parameter; a tag starts with no digit; a $ inside a name opens
          // nothing.
          {"$1 || :y || $2", "$1 || ? || $2", {"y"}},
          {"$1$ :y $1$", "$1$ ? $1$", {"y"}},
          {"a$$ :y $$", "a$$ ? $$", {"y"}},
          {"x$b$ :y $b$", "x$b$ ? $b$", {"y"}},
          {"$ :y", "$ ?", {"y"}},
          // A dollar quote ends a word: a quote right after it opens a new one.
          {"$t$ :x $t$$t$ :y", "$t$ :x $t$$t$ :y", {}},
          {"$$a$$E'\\' :x' :y", "$$a$$E'\\' :x' ?", {"y"}},
          // What the server reads before a `$` or an E after a marker is its `?`.
          {":a$$ :x $$ :y", "?$$ :x $$ ?", {"a", "y"}},
          {":E'\\' :x '", "?'\\' ? '", {"E", "x"}},
          // Comments nest.
          {"/* a /* :x */ :z */ :y", "/* a /* :x */ :z */ ?", {"y"}},
          {"/*/* :x */*/ :y", "/*/* :x */*/ ?", {"y"}},
          {"/* :x */ :y /* :z */", "/* :x */ ? /* :z */", {"y"}},
          // A line comment ends at either line break.
          {"-- :x\r:y", "-- :x\r?", {"y"}},
          // Backquotes, brackets and # are no quotes or comments here.
          {"`:a` (:b) # :c", "`?` (?) # ?", {"a", "b", "c"}},
          // In a subscript a name after a colon is a slice's bound; an ARRAY[...] holds values.
          {"(array[1,2,3])[1:n]", "(array[1,2,3])[1:n]", {}},
          {"a[:n], a[n:], a[:lo:hi]", "a[:n], a[n:], a[:lo:hi]", {}},
          {"a[:i] || a[f(ARRAY[:x])] || Array [:y] || xarray[:z] || :w",
           "a[:i] || a[f(ARRAY[?])] || Array [?] || xarray[:z] || ?",
           {"x", "y", "w"}},
          {"a[b[:i]:j] || a[1]::int[] || :k", "a[b[:i]:j] || a[1]::int[] || ?", {"k"}},
          // Casts.
          {"select :id::int, a::text, '1'::date", "select ?::int, a::text, '1'::date", {"id"}},
          {":d::timestamp::date", "?::timestamp::date", {"d"}},
          {"\":x\"::text", "\":x\"::text", {}},
      });
}

TEST(SqlMarkers, MariaDb) {
  expectMarkers(SqlDialect::MariaDb,
                {
                    // A backslash escapes the quote after it, in both kinds of string.
                    {"'it\\'s :x' = :y", "'it\\'s :x' = ?", {"y"}},
                    {"'C:\\\\' = :y", "'C:\\\\' = ?", {"y"}},
                    {"'C:\\' || :dir", "'C:\\' || :dir", {}},
                    {"\"a\\\" :x\" = :y", "\"a\\\" :x\" = ?", {"y"}},
                    {"'a''b :x' = :y", "'a''b :x' = ?", {"y"}},
                    // Backquoted names, a doubled backquote inside.
                    {"`:x` = :y", "`:x` = ?", {"y"}},
                    {"`a``:x` = :y", "`a``:x` = ?", {"y"}},
                    // # and "-- " comments to the line's end; -- needs a blank or control after it.
                    {"# :x\n:y", "# :x\n?", {"y"}},
                    {"--\t:x\n:y", "--\t:x\n?", {"y"}},
                    {"select 5--:y", "select 5--?", {"y"}},
                    {"select 1 --\n:y", "select 1 --\n?", {"y"}},
                    // Comments do not nest; executed comments are read as statement text.
                    {"/* /* :x */ :y */", "/* /* :x */ ? */", {"y"}},
                    {"/*! :y */", "/*! ? */", {"y"}},
                    {"/*!50100 :y */ /* :x */", "/*!50100 ? */ /* :x */", {"y"}},
                    {"/*M!100100 :y */", "/*M!100100 ? */", {"y"}},
                    {"/*!':x'*/ :y", "/*!':x'*/ ?", {"y"}},
                    // Dollar signs and brackets are ordinary.
                    {"$$ :y $$ [:z]", "$$ ? $$ [?]", {"y", "z"}},
                    {"@a := :y", "@a := ?", {"y"}},
                });
}

TEST(SqlMarkers, Sqlite) {
  expectMarkers(SqlDialect::Sqlite, {
                                        // No backslash escapes.
                                        {"'C:\\' || :dir", "'C:\\' || ?", {"dir"}},
                                        // Backquoted and bracketed names.
                                        {"`:x` = :y", "`:x` = ?", {"y"}},
                                        {"`a``:x` = :y", "`a``:x` = ?", {"y"}},
                                        {"[:x] = :y", "[:x] = ?", {"y"}},
                                        {"[a]]:x] = :y", "[a]]?] = ?", {"x", "y"}},
                                        {"[a ' b] = :y", "[a ' b] = ?", {"y"}},
                                        // Comments do not nest, and # is no comment.
                                        {"/* /* :x */ :y */", "/* /* :x */ ? */", {"y"}},
                                        {"/*! :x */ :y", "/*! :x */ ?", {"y"}},
                                        {"# :y", "# ?", {"y"}},
                                        {"$$ :y $$", "$$ ? $$", {"y"}},
                                        {"--:x\n:y", "--:x\n?", {"y"}},
                                    });
}

TEST(SqlMarkers, OtherDatabases) {
  expectMarkers(SqlDialect::Other,
                {
                    {"'C:\\' || :dir", "'C:\\' || ?", {"dir"}},
                    {"/* /* :x */ :y */", "/* /* :x */ ? */", {"y"}},
                    {"`:a` [:b] # :c $$ :d $$", "`?` [?] # ? $$ ? $$", {"a", "b", "c", "d"}},
                    {"--:x\r:z\n:y", "--:x\r:z\n?", {"y"}},
                });
}

// The tokens of a dialect as regular expressions, tried in order at each position: an
// independent reading of the same rules, for statements without nested comments.
class RegexScan {
 public:
  explicit RegexScan(SqlDialect dialect) : dialect_(dialect) {
    const bool maria = dialect == SqlDialect::MariaDb;
    const bool sqlite = dialect == SqlDialect::Sqlite;
    const bool pg = dialect == SqlDialect::PostgreSql;
    // Skipped as they are.
    add(maria ? R"('(?:[^'\\]|\\[\s\S]|'')*'?)" : R"('(?:[^']|'')*'?)");
    add(maria ? R"("(?:[^"\\]|\\[\s\S]|"")*"?)" : R"("(?:[^"]|"")*"?)");
    if (maria || sqlite) add(R"(`(?:[^`]|``)*`?)");
    if (sqlite) add(R"(\[[^\]]*\]?)");
    if (maria) {
      add(R"(--(?=[\x00- ]|$)[^\n]*)");
      add(R"(#[^\n]*)");
      add(R"(/\*M?!)");  // executed: only its opening is passed over
    } else {
      add(pg ? R"(--[^\n\r]*)" : R"(--[^\n]*)");
    }
    add(R"(/\*[\s\S]*?(?:\*/|$))");
    if (pg) {
      // A name, with the E'...' strings that it may start and the $ it may hold.
      add(R"([Ee]'(?:[^'\\]|\\[\s\S]|'')*'?)");
      add(R"([A-Za-z0-9_\x80-\xff][A-Za-z0-9_$\x80-\xff]*)");
      add(R"(\$\$[\s\S]*?(?:\$\$|$))");
      add(R"(\$([A-Za-z_\x80-\xff][A-Za-z0-9_\x80-\xff]*)\$[\s\S]*?(?:\$\1\$|$))");
      // A $ that opens no dollar quote reads as a name's character, like the ones after it.
      add(R"(\$[A-Za-z0-9_$\x80-\xff]*)");
    }
    add(R"(::)");
    marker_ = patterns_.size();
    add(R"(:[A-Za-z][A-Za-z0-9_]*)");
    add(R"([\s\S])");
  }

  MarkedStatement scan(const std::string& sql) const {
    MarkedStatement out;
    auto at = sql.cbegin();
    while (at != sql.cend()) {
      for (std::size_t k = 0; k < patterns_.size(); ++k) {
        std::smatch match;
        if (!std::regex_search(at, sql.cend(), match, patterns_[k],
                               std::regex_constants::match_continuous)) {
          continue;
        }
        if (k == marker_) {
          out.names.push_back(match.str().substr(1));
          out.places.push_back(out.text.size());
          out.text += '?';
        } else {
          out.text += match.str();
          if (match.str() == "?") out.questionMark = true;
        }
        at += match.length();
        break;
      }
    }
    return out;
  }

 private:
  void add(const char* pattern) { patterns_.emplace_back(pattern); }
  SqlDialect dialect_;
  std::vector<std::regex> patterns_;
  std::size_t marker_ = 0;
};

// Statements made of the pieces that open and close every kind of quote and comment.
std::string randomStatement(support::RandomInput& random) {
  static const std::vector<std::string> pieces = {
      "'",    "\"", "`",  "[",  "]",  "--", "-",  "#", "/*",       "*/",      "/*!", "$$", "$t$",
      "$1",   "$",  "\\", "E'", "e",  "\n", "\r", " ", "\t",       ":",       "::",  ":=", ":a",
      ":b_1", ":Z", "?",  "a",  "x1", "_",  "*",  "/", "\xc3\xa9", "select ", "M!"};
  std::string sql;
  const long long count = random.between(0, 24);
  for (long long k = 0; k < count; ++k) sql += random.pick(pieces);
  return sql;
}

TEST(SqlMarkers, RandomStatementsAgreeWithAnIndependentTokenizer) {
  support::RandomInput random(20240611);
  SCOPED_TRACE("ROWPRESS_FUZZ_START=" + std::to_string(random.start()));
  int markers = 0;
  for (SqlDialect dialect : kAll) {
    SCOPED_TRACE(static_cast<int>(dialect));
    const RegexScan oracle(dialect);
    for (int n = 0; n < support::RandomInput::count(3000); ++n) {
      const std::string sql = randomStatement(random);
      // The regular expressions do not nest; PostgreSQL's nested comments and subscripts are
      // tested above.
      if (dialect == SqlDialect::PostgreSql &&
          (sql.find("/*") != std::string::npos || sql.find('[') != std::string::npos)) {
        continue;
      }
      const MarkedStatement found = findMarkers(sql, dialect);
      const MarkedStatement expected = oracle.scan(sql);
      ASSERT_EQ(found.text, expected.text) << sql;
      ASSERT_EQ(found.names, expected.names) << sql;
      ASSERT_EQ(found.places, expected.places) << sql;
      ASSERT_EQ(found.questionMark, expected.questionMark) << sql;
      markers += static_cast<int>(found.names.size());
    }
  }
  // The statements did hold markers, outside quotes and comments.
  EXPECT_GT(markers, 1000);
}

TEST(SqlMarkers, PuttingTheNamesBackGivesTheStatement) {
  support::RandomInput random(77031);
  SCOPED_TRACE("ROWPRESS_FUZZ_START=" + std::to_string(random.start()));
  int withMarkers = 0;
  for (int n = 0; n < support::RandomInput::count(4000); ++n) {
    const std::string sql =
        random.chance(0.5) ? randomStatement(random) : random.from(":ab_1'\"-/*$?\n `[]#\\E", 30);
    for (SqlDialect dialect : kAll) {
      const MarkedStatement found = findMarkers(sql, dialect);
      ASSERT_EQ(found.names.size(), found.places.size());
      std::string back = found.text;
      for (std::size_t k = found.names.size(); k-- > 0;) {
        ASSERT_EQ(back[found.places[k]], '?') << sql;
        back.replace(found.places[k], 1, ":" + found.names[k]);
      }
      ASSERT_EQ(back, sql) << static_cast<int>(dialect);
      // Each `:name` became one `?`.
      std::size_t dropped = 0;
      for (const std::string& name : found.names) dropped += name.size();
      ASSERT_EQ(found.text.size(), sql.size() - dropped) << sql;
      if (!found.names.empty()) ++withMarkers;
    }
  }
  // The inputs did hold markers.
  EXPECT_GT(withMarkers, 1000);
}

TEST(SqlMarkers, TextWithoutColonsComesBackByteForByte) {
  support::RandomInput random(5150);
  SCOPED_TRACE("ROWPRESS_FUZZ_START=" + std::to_string(random.start()));
  for (int n = 0; n < support::RandomInput::count(2000); ++n) {
    std::string sql = random.bytes(static_cast<std::size_t>(random.between(0, 64)));
    std::erase(sql, ':');
    for (SqlDialect dialect : kAll) {
      const MarkedStatement found = findMarkers(sql, dialect);
      ASSERT_EQ(found.text, sql);
      ASSERT_THAT(found.names, IsEmpty());
      ASSERT_THAT(found.places, IsEmpty());
    }
  }
}

}  // namespace
}  // namespace rowpress
