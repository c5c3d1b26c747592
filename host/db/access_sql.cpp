#include "access_sql.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <vector>

#include "db_common.h"
#include "db_engine.h"

namespace accessdb {
namespace {

struct Token {
    enum Kind { Word, Name, String, Number, Date, Punct, Space } kind;
    std::string text; // Word, Number, Punct: as written; Name, String: the value; Date: SQL
};

bool isWordStart(unsigned char c) {
    return std::isalpha(c) || c == '_' || c >= 0x80;
}
bool isWordChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80;
}

// The text of an Access date literal (between the #s) as stored in the cache, or empty.
// Dates are written m/d/y (the order Access SQL requires) or y-m-d, a time may follow.
std::string dateLiteral(const std::string& s) {
    int y = 1899, mo = 12, d = 30, h = 0, mi = 0, sec = 0;
    const char* p = s.c_str();
    auto num = [&](int& v, int maxDigits) {
        while (*p == ' ')
            ++p;
        int k = 0;
        v = 0;
        while (std::isdigit(static_cast<unsigned char>(*p)) && k < maxDigits)
            v = v * 10 + (*p++ - '0'), ++k;
        return k;
    };
    auto skipBlanks = [&] {
        while (*p == ' ')
            ++p;
    };
    int a = 0, b = 0, c = 0;
    skipBlanks();
    const char* start = p;
    int n1 = num(a, 4);
    if (n1 > 0 && (*p == '/' || *p == '-')) {
        const char sep = *p++;
        if (!num(b, 2) || *p++ != sep) return {};
        const int n3 = num(c, 4);
        if (!n3) return {};
        if (sep == '-' && n1 == 4) {
            y = a, mo = b, d = c;
        } else if (sep == '/') {
            mo = a, d = b, y = c;
            if (n3 <= 2) y += c < 30 ? 2000 : 1900;
        } else {
            return {};
        }
        skipBlanks();
        start = p;
        n1 = num(a, 2);
    }
    if (n1 > 0 && *p == ':') { // the time
        h = a;
        ++p;
        if (!num(mi, 2)) return {};
        if (*p == ':') {
            ++p;
            if (!num(sec, 2)) return {};
        }
        skipBlanks();
        std::string ampm;
        while (std::isalpha(static_cast<unsigned char>(*p)))
            ampm += char(std::toupper(static_cast<unsigned char>(*p++)));
        if (ampm == "PM" && h < 12) h += 12;
        else if (ampm == "AM" && h == 12) h = 0;
        else if (!ampm.empty() && ampm != "AM" && ampm != "PM") return {};
    } else if (n1 > 0 || p != start) {
        return {};
    }
    skipBlanks();
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (*p || mo < 1 || mo > 12 || d < 1 || d > days[mo - 1] || y < 100 || y > 9999 || h > 23 ||
        mi > 59 || sec > 59)
        return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d %02d:%02d:%02d'", y, mo, d, h, mi, sec);
    return buf;
}

int tokenize(const std::string& sql, std::vector<Token>& out, std::string& error) {
    const size_t n = sql.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(sql[i]);
        if (std::isspace(c)) {
            while (i < n && std::isspace(static_cast<unsigned char>(sql[i])))
                ++i;
            out.push_back({Token::Space, " "});
        } else if (isWordStart(c)) {
            size_t j = i;
            while (j < n && isWordChar(static_cast<unsigned char>(sql[j])))
                ++j;
            out.push_back({Token::Word, sql.substr(i, j - i)});
            i = j;
        } else if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(sql[i + 1])))) {
            size_t j = i;
            while (j < n && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '.' ||
                             ((sql[j] == '+' || sql[j] == '-') && (sql[j - 1] == 'e' || sql[j - 1] == 'E'))))
                ++j;
            out.push_back({Token::Number, sql.substr(i, j - i)});
            i = j;
        } else if (c == '[') {
            const size_t e = sql.find(']', i + 1);
            if (e == std::string::npos) {
                error = "SQL error: unclosed [ in " + sql;
                return DB_SQL_ERROR;
            }
            out.push_back({Token::Name, sql.substr(i + 1, e - i - 1)});
            i = e + 1;
        } else if (c == '\'' || c == '"') {
            std::string v;
            size_t j = i + 1;
            for (;; ++j) {
                if (j >= n) {
                    error = "SQL error: unclosed string in " + sql;
                    return DB_SQL_ERROR;
                }
                if (sql[j] == char(c)) {
                    if (j + 1 < n && sql[j + 1] == char(c)) {
                        v += char(c);
                        ++j;
                        continue;
                    }
                    break;
                }
                v += sql[j];
            }
            out.push_back({Token::String, v});
            i = j + 1;
        } else if (c == '#') {
            const size_t e = sql.find('#', i + 1);
            const std::string lit = e == std::string::npos ? "" : dateLiteral(sql.substr(i + 1, e - i - 1));
            if (lit.empty()) {
                error = "SQL error: not a date literal in " + sql;
                return DB_SQL_ERROR;
            }
            out.push_back({Token::Date, lit});
            i = e + 1;
        } else {
            std::string p(1, char(c));
            if (i + 1 < n) {
                const std::string two = sql.substr(i, 2);
                if (two == "<>" || two == "<=" || two == ">=" || two == "!=" || two == "||") p = two;
            }
            out.push_back({Token::Punct, p});
            i += p.size();
        }
    }
    return 0;
}

std::string quoted(const std::string& s, char q) {
    std::string out(1, q);
    for (char c : s) {
        out += c;
        if (c == q) out += q;
    }
    return out + q;
}

// One SELECT being translated, until its end: its TOP, and whether its rows can be ordered
// on by rowid (it reads one table and orders its rows).
struct Frame {
    int depth;
    std::string limit;
    bool orderBy = false;
    bool inFrom = false, oneTable = true, sawFrom = false;
};

class Translator {
  public:
    Translator(const std::vector<Token>& t) : t_(t) {}

    int run(std::string& out) {
        if (int rc = checkStart(out)) return rc;
        for (i_ = 0; i_ < t_.size(); ++i_) {
            if (int rc = step(out)) return rc;
            if (done_) break;
        }
        closeFrames(-1);
        if (depth_ != 0) return fail(DB_SQL_ERROR, "SQL error: unbalanced parentheses", out);
        out = std::move(sql_);
        return 0;
    }

  private:
    int fail(int code, const std::string& text, std::string& out) {
        out = text;
        return code;
    }

    // The statement must be a SELECT (possibly in parentheses).
    int checkStart(std::string& out) {
        for (const Token& k : t_) {
            if (k.kind == Token::Space || (k.kind == Token::Punct && k.text == "(")) continue;
            if (k.kind == Token::Word && dbcommon::upper(k.text) == "SELECT") return 0;
            break;
        }
        return fail(DB_NOT_READ_ONLY, "Only SELECT statements are allowed", out);
    }

    const Token* peek(size_t& j) const {
        while (j < t_.size() && t_[j].kind == Token::Space)
            ++j;
        return j < t_.size() ? &t_[j] : nullptr;
    }

    bool isWord(const Token* k, const char* w) const {
        return k && k->kind == Token::Word && dbcommon::upper(k->text) == w;
    }

    void emit(const std::string& s) {
        // Two minus signs in a row would start an SQLite comment.
        if (!sql_.empty() && !s.empty() &&
            ((sql_.back() == '-' && s.front() == '-') || (sql_.back() == '/' && s.front() == '*')))
            sql_ += ' ';
        sql_ += s;
    }

    Frame* top() { return frames_.empty() ? nullptr : &frames_.back(); }

    // Ends the SELECTs opened at depth above `depth`, writing their LIMIT.
    void closeFrames(int depth) {
        while (!frames_.empty() && frames_.back().depth > depth) {
            const Frame& f = frames_.back();
            if (!f.limit.empty()) {
                if (f.orderBy && f.oneTable && f.sawFrom) emit(", rowid");
                emit(" LIMIT " + f.limit);
            }
            frames_.pop_back();
        }
    }

    int select(std::string& out) {
        emit(t_[i_].text);
        frames_.push_back(Frame{depth_, {}});
        size_t j = i_ + 1;
        const Token* k = peek(j);
        if (isWord(k, "DISTINCTROW") || isWord(k, "DISTINCT") || isWord(k, "ALL")) {
            emit(" ");
            emit(isWord(k, "DISTINCTROW") ? "DISTINCT" : k->text);
            i_ = j;
            k = peek(++j);
        }
        if (isWord(k, "TOP")) {
            size_t m = j + 1;
            const Token* n = peek(m);
            int64_t v = -1;
            if (n && n->kind == Token::Number) {
                auto r = std::from_chars(n->text.data(), n->text.data() + n->text.size(), v);
                if (r.ec != std::errc() || r.ptr != n->text.data() + n->text.size()) v = -1;
            }
            if (v < 0) return fail(DB_SQL_ERROR, "SQL error: TOP needs a whole number", out);
            size_t q = m + 1;
            if (isWord(peek(q), "PERCENT"))
                return fail(DB_SQL_ERROR, "SQL error: TOP ... PERCENT is not supported", out);
            frames_.back().limit = std::to_string(v);
            i_ = m;
        }
        return 0;
    }

    int step(std::string& out) {
        const Token& k = t_[i_];
        Frame* f = top();
        const bool here = f && f->depth == depth_;
        switch (k.kind) {
        case Token::Space: emit(" "); return 0;
        case Token::Name: emit(quoted(k.text, '"')); break;
        case Token::String: emit(quoted(k.text, '\'')); break;
        case Token::Date:
        case Token::Number: emit(k.text); break;
        case Token::Punct:
            if (k.text == "(") {
                if (here && f->inFrom) f->oneTable = false;
                ++depth_;
                emit("(");
            } else if (k.text == ")") {
                closeFrames(depth_ - 1);
                if (--depth_ < 0) return fail(DB_SQL_ERROR, "SQL error: unbalanced parentheses", out);
                emit(")");
            } else if (k.text == ";") {
                if (depth_ != 0) return fail(DB_SQL_ERROR, "SQL error: ; inside parentheses", out);
                closeFrames(-1);
                emit(";");
                size_t j = i_ + 1;
                if (peek(j)) return fail(DB_NOT_READ_ONLY, "Only one statement is allowed", out);
                done_ = true;
            } else if (k.text == "&") {
                emit("||");
            } else {
                if (here && f->inFrom && k.text == ",") f->oneTable = false;
                emit(k.text);
            }
            break;
        case Token::Word: {
            const std::string w = dbcommon::upper(k.text);
            if (w == "SELECT") return select(out);
            if (here) {
                if (w == "INTO" && !f->sawFrom)
                    return fail(DB_NOT_READ_ONLY, "SELECT ... INTO would make a table", out);
                if (w == "FROM") f->inFrom = f->sawFrom = true;
                else if (w == "WHERE" || w == "GROUP" || w == "HAVING" || w == "ORDER" || w == "UNION")
                    f->inFrom = false;
                else if (f->inFrom && w == "JOIN")
                    f->oneTable = false;
                if (w == "ORDER") f->orderBy = true;
                if (w == "UNION" && !f->limit.empty())
                    return fail(DB_SQL_ERROR, "SQL error: TOP in a part of a UNION is not supported", out);
            }
            size_t next = i_ + 1;
            const Token* after = peek(next);
            const bool call = after && after->kind == Token::Punct && after->text == "(";
            if (call && (w == "LEFT" || w == "RIGHT")) // keywords of SQLite's joins
                emit("access_" + dbcommon::lower(w));
            else if (w == "MOD") emit("%");
            else if (w == "TRUE") emit("1");
            else if (w == "FALSE") emit("0");
            else if (w == "DISTINCTROW") emit("DISTINCT");
            else emit(k.text);
            break;
        }
        }
        return 0;
    }

    const std::vector<Token>& t_;
    size_t i_ = 0;
    int depth_ = 0;
    bool done_ = false;
    std::vector<Frame> frames_;
    std::string sql_;
};

// Reads the plug-in's TOP form off the tokens (spaces skipped).
class TopFormMatcher {
  public:
    explicit TopFormMatcher(const std::vector<Token>& all) {
        for (const Token& t : all)
            if (t.kind != Token::Space) t_.push_back(&t);
    }

    bool match(TopForm& f) {
        if (!word("SELECT") || !punct("*") || !word("FROM") || !punct("(") || !word("SELECT") ||
            !word("TOP") || !number(f.n) || !columnList(f.columns) || !word("FROM") ||
            !word("MOLECULES") || !word("WHERE") || !condition(f.where) || !word("ORDER") ||
            !word("BY") || !column(f.nameKey) || !punct(")") || !word("ORDER") || !word("BY"))
            return false;
        std::string outer;
        if (!column(outer) || (dbcommon::upper(outer) != "MASSMI" && outer != "\"MassMI\""))
            return false;
        word("ASC");
        punct(";");
        return i_ == t_.size();
    }

  private:
    const Token* at() const { return i_ < t_.size() ? t_[i_] : nullptr; }
    bool word(const char* w) {
        const Token* k = at();
        if (!k || k->kind != Token::Word || dbcommon::upper(k->text) != w) return false;
        ++i_;
        return true;
    }
    bool punct(const char* p) {
        const Token* k = at();
        if (!k || k->kind != Token::Punct || k->text != p) return false;
        ++i_;
        return true;
    }
    bool number(long long& n) {
        const Token* k = at();
        if (!k || k->kind != Token::Number) return false;
        auto r = std::from_chars(k->text.data(), k->text.data() + k->text.size(), n);
        if (r.ec != std::errc() || r.ptr != k->text.data() + k->text.size() || n < 0) return false;
        ++i_;
        return true;
    }
    static bool keyword(const std::string& w) {
        const std::string u = dbcommon::upper(w);
        return u == "FROM" || u == "WHERE" || u == "ORDER" || u == "SELECT" || u == "TOP";
    }
    bool column(std::string& out) {
        const Token* k = at();
        if (k && k->kind == Token::Name) out = quoted(k->text, '"');
        else if (k && k->kind == Token::Word && !keyword(k->text)) out = k->text;
        else return false;
        ++i_;
        return true;
    }
    bool columnList(std::string& out) {
        std::string c;
        if (!column(c)) return false;
        out = c;
        while (punct(",")) {
            if (!column(c)) return false;
            out += ", " + c;
        }
        return true;
    }
    // Comparisons of columns and numbers with AND, OR, NOT and parentheses, up to ORDER.
    bool condition(std::string& out) {
        int depth = 0;
        bool glue = true; // no blank before the next piece
        auto add = [&](const std::string& piece) {
            if (!glue && piece != ".") out += ' ';
            out += piece;
            glue = piece == ".";
        };
        for (const Token* k; (k = at()) != nullptr; ++i_) {
            if (k->kind == Token::Word && dbcommon::upper(k->text) == "ORDER" && depth == 0) break;
            if (k->kind == Token::Punct) {
                static const char* const ok[] = {"(", ")", "<", ">", "<=", ">=", "=", "<>", "-", "+", "."};
                if (std::find(std::begin(ok), std::end(ok), k->text) == std::end(ok)) return false;
                depth += k->text == "(" ? 1 : k->text == ")" ? -1 : 0;
                if (depth < 0) return false;
                add(k->text);
            } else if ((k->kind == Token::Word && !keyword(k->text)) || k->kind == Token::Number) {
                add(k->text);
            } else if (k->kind == Token::Name) {
                add(quoted(k->text, '"'));
            } else {
                return false;
            }
        }
        return depth == 0 && !out.empty();
    }

    std::vector<const Token*> t_;
    size_t i_ = 0;
};

} // namespace

bool matchTopForm(const std::string& access, TopForm& form) {
    std::vector<Token> tokens;
    std::string error;
    if (tokenize(access, tokens, error) != 0) return false;
    TopForm f;
    if (!TopFormMatcher(tokens).match(f)) return false;
    // Only a statement the translation accepts: what it refuses (a word such as UNION or
    // DELETE in the condition) is refused the same way on either path.
    std::string translated;
    if (Translator(tokens).run(translated) != 0) return false;
    form = f;
    return true;
}

int translateSql(const std::string& access, std::string& out) {
    std::vector<Token> tokens;
    std::string error;
    if (int rc = tokenize(access, tokens, error)) {
        out = error;
        return rc;
    }
    return Translator(tokens).run(out);
}

} // namespace accessdb
