#include "sql_guard.h"

#include <cctype>
#include <cstring>

namespace sqlguard {
namespace {

// Words that have no place in a reading statement: every writing, locking, session or
// transaction command, and SELECT ... INTO (which creates a table). FOR UPDATE and FOR SHARE
// lock rows and are refused through UPDATE and SHARE.
const char* const kRefusedWords[] = {
    "INSERT",  "UPDATE",   "DELETE",   "MERGE",    "UPSERT",     "INTO",     "DROP",
    "CREATE",  "ALTER",    "TRUNCATE", "COPY",     "GRANT",      "REVOKE",   "LOCK",
    "CALL",    "DO",       "EXECUTE",  "EXEC",     "SET",        "RESET",    "VACUUM",
    "ANALYZE", "REINDEX",  "CLUSTER",  "ATTACH",   "DETACH",     "PRAGMA",   "COMMIT",
    "ROLLBACK", "BEGIN",   "SAVEPOINT", "RELEASE", "PREPARE",    "DEALLOCATE", "LISTEN",
    "NOTIFY",  "UNLISTEN", "LOAD",     "DISCARD",  "REFRESH",    "SHARE",    "IMPORT",
    "COMMENT", "SECURITY", "OWNER",
};

// Functions that change the server's state from inside a SELECT (lower case; a name ending
// in "*" stands for every name with that beginning).
const char* const kRefusedFunctions[] = {
    "set_config", "nextval",     "setval",        "load_extension", "lo_*",
    "dblink*",    "pg_advisory*", "pg_terminate*", "pg_cancel*",     "pg_reload_conf",
    "pg_rotate*", "pg_promote",  "pg_switch*",    "pg_create*",     "pg_drop*",
    "pg_replication*", "pg_logical*", "pg_file*", "pg_read*",       "pg_ls*",
    "pg_stat_reset*", "txid_current*", "pg_current_xact_id*", "pg_export_snapshot",
    "pg_import*", "pg_backup*", "pg_start_backup", "pg_stop_backup", "pg_wal*",
};

std::string upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool refusedFunction(const std::string& name) {
    const std::string n = lower(name);
    for (const char* f : kRefusedFunctions) {
        const size_t len = std::strlen(f);
        if (f[len - 1] == '*' ? n.compare(0, len - 1, f, len - 1) == 0 : n == f) return true;
    }
    return false;
}

bool isWordStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool isWordChar(char c) {
    return isWordStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$';
}

class Lexer {
  public:
    Lexer(const std::string& sql, Dialect d) : s_(sql), d_(d) {}

    Verdict run() {
        Verdict v;
        size_t end = std::string::npos; // where a ";" closed the statement
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++i_;
            } else if (c == '-' && next() == '-' && lineComment()) {
                // skipped
            } else if (c == '/' && next() == '*') {
                if (!blockComment()) return refuse(v);
            } else if (end != std::string::npos) {
                reason_ = "Only one statement is allowed";
                return refuse(v);
            } else if (c == '\0') {
                reason_ = "A NUL byte is not accepted in a statement";
                return refuse(v);
            } else if (first_ && c != '(' && !isWordStart(c)) {
                reason_ = "Only SELECT statements are allowed";
                return refuse(v);
            } else if (c == ';') {
                end = i_++;
            } else if (c == '\'') {
                if (!quoted('\'', '\'', "text")) return refuse(v);
            } else if (c == '"') {
                if (!quotedName('"', '"')) return refuse(v);
            } else if (d_ == Dialect::Other && c == '`') {
                if (!quotedName('`', '`')) return refuse(v);
            } else if (d_ == Dialect::Other && c == '[') {
                if (!quotedName('[', ']')) return refuse(v);
            } else if (d_ == Dialect::PostgreSql && c == '$' && dollarTag()) {
                if (!dollarQuoted()) return refuse(v);
            } else if (isWordStart(c)) {
                if (!word()) return refuse(v);
            } else {
                ++i_;
            }
        }
        if (first_) {
            reason_ = "No statement";
            return refuse(v);
        }
        v.ok = true;
        v.statement = end == std::string::npos ? s_ : s_.substr(0, end);
        return v;
    }

  private:
    char next() const { return i_ + 1 < s_.size() ? s_[i_ + 1] : '\0'; }

    Verdict& refuse(Verdict& v) {
        v.ok = false;
        v.reason = reason_;
        return v;
    }

    // "-- ..." to the end of the line. Some servers take "--" for a comment only when a blank
    // follows it ("1--1" is arithmetic there), so without one the rest is read as code:
    // stricter for the servers that do skip it.
    bool lineComment() {
        const char after = i_ + 2 < s_.size() ? s_[i_ + 2] : ' ';
        if (!std::isspace(static_cast<unsigned char>(after)) && after != '-') return false;
        while (i_ < s_.size() && s_[i_] != '\n')
            ++i_;
        return true;
    }

    // "/* ... */". A comment inside a comment ends the outer one for some servers and not
    // for others, and some servers run the text of "/*! ... */": both are refused.
    bool blockComment() {
        if (i_ + 2 < s_.size() && s_[i_ + 2] == '!') {
            reason_ = "A comment that some servers run (/*!) is not accepted";
            return false;
        }
        i_ += 2;
        while (i_ + 1 < s_.size()) {
            if (s_[i_] == '*' && s_[i_ + 1] == '/') {
                i_ += 2;
                return true;
            }
            if (s_[i_] == '/' && s_[i_ + 1] == '*') {
                reason_ = "A comment inside a comment is not accepted";
                return false;
            }
            ++i_;
        }
        reason_ = "Unclosed comment";
        return false;
    }

    // A quoted text or name from its opening quote; a doubled closing quote stands for itself.
    // A backslash is refused: some servers read it as an escape and others do not. The
    // content is left in content_.
    bool quoted(char open, char close, const char* what) {
        (void)open;
        content_.clear();
        ++i_;
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == close) {
                if (close != ']' && i_ + 1 < s_.size() && s_[i_ + 1] == close) {
                    content_ += c;
                    i_ += 2;
                    continue;
                }
                ++i_;
                return true;
            }
            if (c == '\\') {
                reason_ = std::string("A backslash inside a quoted ") + what + " is not accepted";
                return false;
            }
            content_ += c;
            ++i_;
        }
        reason_ = std::string("Unclosed quoted ") + what;
        return false;
    }

    // A quoted name: a function called by a quoted name is checked like a bare one.
    bool quotedName(char open, char close) {
        if (!quoted(open, close, "name")) return false;
        if (first_) {
            reason_ = "Only SELECT statements are allowed";
            return false;
        }
        if (refusedFunction(content_)) {
            reason_ = "The function " + content_ + " is not allowed in a reading statement";
            return false;
        }
        return true;
    }

    // At a "$": true when it opens a dollar quote ($$ or $tag$), with the tag in tag_.
    bool dollarTag() {
        size_t j = i_ + 1;
        if (j < s_.size() && !isWordStart(s_[j]) && s_[j] != '$') return false; // $1: a parameter
        while (j < s_.size() && s_[j] != '$') {
            if (!isWordChar(s_[j])) return false;
            ++j;
        }
        if (j >= s_.size()) return false;
        tag_ = s_.substr(i_, j - i_ + 1);
        return true;
    }

    bool dollarQuoted() {
        const size_t close = s_.find(tag_, i_ + tag_.size());
        if (close == std::string::npos) {
            reason_ = "Unclosed dollar-quoted text";
            return false;
        }
        i_ = close + tag_.size();
        return true;
    }

    bool word() {
        const size_t b = i_;
        while (i_ < s_.size() && isWordChar(s_[i_]))
            ++i_;
        const std::string w = s_.substr(b, i_ - b);
        const std::string u = upper(w);
        if (first_ && u != "SELECT" && u != "WITH") {
            reason_ = "Only SELECT statements are allowed (not " + u + ")";
            return false;
        }
        first_ = false;
        for (const char* r : kRefusedWords)
            if (u == r) {
                reason_ = "Only reading statements are allowed: " + u + " is refused";
                return false;
            }
        if (refusedFunction(w)) {
            reason_ = "The function " + lower(w) + " is not allowed in a reading statement";
            return false;
        }
        return true;
    }

    const std::string& s_;
    Dialect d_;
    size_t i_ = 0;
    bool first_ = true; // no word read yet
    std::string reason_, content_, tag_;
};

} // namespace

Verdict checkSelect(const std::string& sql, Dialect dialect) {
    return Lexer(sql, dialect).run();
}

} // namespace sqlguard
