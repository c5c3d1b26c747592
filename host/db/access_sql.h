#pragma once
// The Access SQL the plug-in and users write, run on SQLite (the Access engine's cache).
//
// translateSql rewrites one SELECT statement:
//   SELECT [DISTINCT|DISTINCTROW] TOP n ...   ->  SELECT [DISTINCT] ... LIMIT n, the LIMIT
//       closing that SELECT (also a nested one). When that SELECT reads the table alone and
//       has an ORDER BY, rowid is added as the last key, so rows tied in the ORDER BY are
//       taken lightest first (the cache stores rows in ascending MassMI): the result is
//       exactly n rows and always the same ones. (Access itself returns every row tied with
//       the n-th; the plug-in asks for the first n.)
//   [name]                 ->  "name"
//   "text"                 ->  'text'     (Access quotes strings either way)
//   #1/31/2024 10:30 PM#, #2024-01-31#  ->  '2024-01-31 22:30:00' (dates are stored so)
//   a & b                  ->  a || b
//   Mod, True, False       ->  %, 1, 0
//   Left(...), Right(...)  ->  access_left(...), access_right(...) (SQLite's join words)
// and refuses what would write or is more than one statement (DB_NOT_READ_ONLY), TOP n
// PERCENT and malformed literals (DB_SQL_ERROR).
//
// registerAccessSql adds to a connection what the translated text relies on:
//   - the collation ACCESS_TEXT of the cache's text columns, Access's "General" order as far
//     as it matters for names: case-insensitive, letters before their accented forms but in
//     alphabet order with them (a, ä, b), hyphens and apostrophes ignored but for breaking
//     ties (as Windows' word sort does), punctuation and symbols before digits before
//     letters, other scripts (Greek, ...) after the Latin letters; texts differing only in
//     case are equal, as in Access's comparisons;
//   - LIKE with Access's wildcards: * any text, ? one character, # one digit, [abc], [a-z],
//     [!abc]; case-insensitive;
//   - the Access functions UCase, LCase, Len, Left, Right, Mid and Nz.
#include <string>

struct sqlite3;

namespace accessdb {

// Returns 0 with the SQLite text in out, or a DbCode with its message in out.
int translateSql(const std::string& access, std::string& out);

// The plug-in's TOP form, SELECT * FROM (SELECT TOP n <columns> FROM Molecules WHERE <plain
// condition> ORDER BY <column>) ORDER BY MassMI, in pieces of SQLite text, so that an engine
// whose copy lies in MassMI order can run it without sorting whole rows twice.
struct TopForm {
    std::string columns, where, nameKey; // SQLite text
    long long n = 0;
};
// A statement that translateSql refuses never matches.
bool matchTopForm(const std::string& access, TopForm& form);

// False when SQLite refuses one of the registrations.
bool registerAccessSql(sqlite3* db);

// The collation's order: negative, zero or positive (UTF-8 texts).
int compareAccessText(const char* a, size_t an, const char* b, size_t bn);
// Access's Like (ANSI-89 wildcards) of a UTF-8 value against a pattern.
bool accessLike(const std::string& value, const std::string& pattern);
// Appends the UTF-8 form of a code point (the Access reader's texts come as UTF-16).
void appendUtf8(std::string& out, char32_t cp);

} // namespace accessdb
