#pragma once
// The gate in front of a database server: a statement passes only when it is one reading
// SELECT (or WITH ... SELECT). It is read with a small lexer that knows quoted texts and
// names, comments and, for PostgreSQL, dollar quoting, so that a ";" or a keyword inside a
// text is not taken for code and one hidden in a comment is not missed. Anything the server
// might read differently from the lexer (a backslash in a quoted text, a comment inside a
// comment, an unclosed quote) is refused too: what passes means the same to every server.
//
// The engine refuses what fails here before anything is sent; the server's own read-only
// settings are the second line behind it.
#include <string>

namespace sqlguard {

enum class Dialect {
    PostgreSql, // dollar quoting; [ and ` are operators, not quotes
    Other,      // SQLite, Access and the rest: [name] and `name` are quoted names
};

struct Verdict {
    bool ok = false;
    std::string reason;    // why it was refused (when !ok)
    std::string statement; // the statement to send: the text before a final ";"
};

Verdict checkSelect(const std::string& sql, Dialect dialect);

} // namespace sqlguard
