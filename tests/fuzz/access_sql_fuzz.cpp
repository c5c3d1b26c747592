// Fuzz target: the Access SQL that the host's Access engine translates for SQLite, the
// plug-in's TOP form it reads in pieces, and the text rules the translation relies on
// (the collation ACCESS_TEXT and Access's Like). Only translation: statements are compiled
// and run on a small table in memory, never on a database file.
//
// The first byte chooses what the rest is. Properties:
//  0 a statement (up to a NUL, as every caller hands a C string):
//    - it translates or is refused with a reason (DB_SQL_ERROR, DB_NOT_READ_ONLY);
//    - a translation SQLite compiles is one reading statement;
//    - a statement of the plug-in's TOP form translates, and the statements the engine
//      builds from its pieces are reading statements that compile when the translation
//      does and give the same rows (SQLite's work per statement is bounded);
//  1 a date literal (up to a '#'): refused, or written as SQLite's date and time text of
//    a real date, the text SQLite's own date functions give back;
//  2 three texts (separated by NUL) for the collation: a text equals itself and its ASCII
//    capitals, the order is antisymmetric and transitive;
//  3 a value and a pattern (separated by NUL) for Like: "*" matches everything, and a
//    pattern that matches still matches with "*" before or after it; a value without
//    wildcards matches itself; on ASCII, the matches are those of a reference matcher.
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "access_sql.h"
#include "db_engine.h"
#include "fuzz_input.h"

namespace {

// ---- SQLite, on a table like the engine's copy of Molecules ---------------------------

sqlite3* fixture() {
    static sqlite3* db = [] {
        sqlite3* h = nullptr;
        if (sqlite3_open(":memory:", &h) != SQLITE_OK || !accessdb::registerAccessSql(h))
            std::abort();
        // In MassMI order, with ties in mass and in name, as the engine's copy holds them.
        const char* setup =
            "CREATE TABLE Molecules(ID INTEGER, MassMI REAL, Formula TEXT COLLATE ACCESS_TEXT,"
            " Name TEXT COLLATE ACCESS_TEXT, Smiles TEXT COLLATE ACCESS_TEXT);"
            "INSERT INTO Molecules VALUES"
            "(1, 18.010565, 'H2O', 'Water', 'O'), (2, 46.041865, 'C2H6O', 'Ethanol', 'CCO'),"
            "(3, 46.041865, 'C2H6O', 'Dimethyl ether', 'COC'), (4, 89.047678, 'C3H7NO2',"
            " 'L-Alanine', 'C[C@@H](C(=O)O)N'), (5, 89.047678, 'C3H7NO2', 'Alanine', NULL),"
            "(6, 180.063388, 'C6H12O6', 'D-Glucose', 'OCC1OC(O)C(O)C(O)C1O'), (7, 180.063388,"
            " 'C6H12O6', 'd-glucose', ''), (8, 180.063388, 'C6H12O6', '\xC3\x84pfel', 'x');"
            "CREATE INDEX Molecules_MassMI ON Molecules(MassMI);"
            "PRAGMA query_only=ON;";
        if (sqlite3_exec(h, setup, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
        // Bounds on what one statement may do: its values, and (below) its work.
        sqlite3_limit(h, SQLITE_LIMIT_LENGTH, 100000);
        return h;
    }();
    return db;
}

int budget = 0;
int progress(void*) {
    return --budget <= 0;
}

struct Run {
    bool compiled = false, finished = false;
    std::vector<std::string> rows; // sorted
};

// Compiles sql (which must be one reading statement) and, when asked, runs it.
Run run(const std::string& sql, bool execute) {
    Run r;
    sqlite3* db = fixture();
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &st, &tail) != SQLITE_OK || !st) {
        sqlite3_finalize(st);
        return r;
    }
    r.compiled = true;
    for (const char* p = tail; p < sql.c_str() + sql.size(); ++p)
        FUZZ_CHECK(std::isspace(static_cast<unsigned char>(*p)) || *p == ';',
                   "more than one statement: %s", sql.c_str());
    FUZZ_CHECK(sqlite3_stmt_readonly(st), "a statement that writes: %s", sql.c_str());
    if (execute) {
        budget = 20000;
        sqlite3_progress_handler(db, 100, progress, nullptr);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW && r.rows.size() < 1000) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
                row += std::to_string(sqlite3_column_type(st, i)) + ":" + (t ? t : "") + "|";
            }
            r.rows.push_back(row);
        }
        r.finished = rc == SQLITE_DONE;
        sqlite3_progress_handler(db, 0, nullptr, nullptr);
        std::sort(r.rows.begin(), r.rows.end());
    }
    sqlite3_finalize(st);
    return r;
}

std::string upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void statement(const std::string& access) {
    std::string out;
    const int rc = accessdb::translateSql(access, out);
    FUZZ_CHECK(rc == 0 || rc == DB_SQL_ERROR || rc == DB_NOT_READ_ONLY, "code %d", rc);
    FUZZ_CHECK(!out.empty(), "code %d without a text", rc);
    accessdb::TopForm form;
    const bool top = accessdb::matchTopForm(access, form);
    if (!top) {
        if (rc == 0) run(out, false);
        return;
    }
    FUZZ_CHECK(rc == 0, "the TOP form is refused: %s", out.c_str());
    FUZZ_CHECK(form.n >= 0 && !form.columns.empty() && !form.where.empty() &&
               !form.nameKey.empty());
    // The engine's two statements (AccessEngine::topForm): the window in mass order, and
    // the first n of it by name read again in mass order.
    const std::string from = " FROM Molecules WHERE (" + form.where + ")";
    const std::string order = " ORDER BY MassMI, rowid";
    const long long n = std::min(form.n, 1000000000000LL);
    const std::string all =
        "SELECT " + form.columns + from + order + " LIMIT " + std::to_string(n + 1);
    const std::string some = "SELECT " + form.columns + from + " AND rowid IN (SELECT rowid" +
                             from + " ORDER BY " + form.nameKey + ", rowid LIMIT " +
                             std::to_string(n) + ")" + order;
    // random() gives other rows on every run.
    const bool deterministic = upper(access).find("RANDOM") == std::string::npos;
    const Run t = run(out, deterministic);
    const Run a = run(all, deterministic), s = run(some, deterministic);
    if (!t.compiled) return;
    FUZZ_CHECK(a.compiled && s.compiled, "%s compiles, its pieces do not:\n%s\n%s", out.c_str(),
               all.c_str(), some.c_str());
    if (!deterministic || !t.finished || !a.finished || !s.finished) return;
    const Run& engine = (long long)a.rows.size() <= n ? a : s;
    FUZZ_CHECK(engine.rows == t.rows, "%s: %zu rows, in pieces %zu", out.c_str(), t.rows.size(),
               engine.rows.size());
}

// ---- Dates ----------------------------------------------------------------------------

void date(const std::string& literal) {
    std::string out;
    const int rc = accessdb::translateSql("SELECT #" + literal + "#", out);
    if (rc != 0) {
        FUZZ_CHECK(rc == DB_SQL_ERROR, "code %d", rc);
        return;
    }
    // SELECT '2024-01-31 22:30:00'
    FUZZ_CHECK(out.size() == 28 && out.compare(0, 8, "SELECT '") == 0 && out.back() == '\'',
               "#%s# -> %s", literal.c_str(), out.c_str());
    const std::string text = out.substr(8, 19);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(fixture(), "SELECT strftime('%Y-%m-%d %H:%M:%S', ?1)", -1, &st,
                           nullptr) != SQLITE_OK)
        std::abort();
    sqlite3_bind_text(st, 1, text.c_str(), -1, SQLITE_TRANSIENT);
    std::string back = "<none>";
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
        back = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    FUZZ_CHECK(back == text, "#%s# -> %s, which SQLite reads as %s", literal.c_str(),
               text.c_str(), back.c_str());
}

// ---- Collation ------------------------------------------------------------------------

int cmp(const std::string& a, const std::string& b) {
    const int r = accessdb::compareAccessText(a.data(), a.size(), b.data(), b.size());
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

void collation(const std::string& a, const std::string& b, const std::string& c) {
    FUZZ_CHECK(cmp(a, a) == 0);
    FUZZ_CHECK(cmp(a, upper(a)) == 0, "\"%s\" differs from its capitals", a.c_str());
    FUZZ_CHECK(cmp(a, b) == -cmp(b, a), "\"%s\" and \"%s\"", a.c_str(), b.c_str());
    FUZZ_CHECK(cmp(b, c) == -cmp(c, b));
    const std::string* t[] = {&a, &b, &c};
    std::sort(std::begin(t), std::end(t), [](const std::string* x, const std::string* y) {
        return cmp(*x, *y) < 0;
    });
    FUZZ_CHECK(cmp(*t[0], *t[1]) <= 0 && cmp(*t[1], *t[2]) <= 0 && cmp(*t[0], *t[2]) <= 0,
               "not transitive: \"%s\", \"%s\", \"%s\"", t[0]->c_str(), t[1]->c_str(),
               t[2]->c_str());
    if (cmp(*t[0], *t[1]) == 0) FUZZ_CHECK(cmp(*t[0], *t[2]) == cmp(*t[1], *t[2]));
    if (cmp(*t[1], *t[2]) == 0) FUZZ_CHECK(cmp(*t[0], *t[1]) == cmp(*t[0], *t[2]));
}

// ---- Like -----------------------------------------------------------------------------

// Access's Like on ASCII, by dynamic programming over (value, pattern) positions: * any
// text, ? one character, # one digit, [list] with ranges a-z and ! for none of them, case
// ignored. Only for patterns where every [ has its ] and no list is empty.
struct Item {
    enum Kind { Star, Any, Digit, Set, Char } kind = Char;
    char c = 0;
    bool negate = false;
    std::vector<std::pair<char, char>> ranges;
};

bool items(const std::string& p, std::vector<Item>& out) {
    for (size_t k = 0; k < p.size(); ++k) {
        Item it;
        it.kind = Item::Char;
        if (p[k] == '*') it.kind = Item::Star;
        else if (p[k] == '?') it.kind = Item::Any;
        else if (p[k] == '#') it.kind = Item::Digit;
        else if (p[k] == '[') {
            const size_t e = p.find(']', k + 1);
            if (e == std::string::npos || e == k + 1) return false;
            it.kind = Item::Set;
            size_t q = k + 1;
            if (p[q] == '!') it.negate = true, ++q;
            for (; q < e; ++q) {
                if (q + 2 < e && p[q + 1] == '-') {
                    it.ranges.push_back({p[q], p[q + 2]});
                    q += 2;
                } else {
                    it.ranges.push_back({p[q], p[q]});
                }
            }
            k = e;
        } else {
            it.c = p[k];
        }
        out.push_back(it);
    }
    return true;
}

bool one(const Item& it, char c) {
    const char l = char(std::tolower(static_cast<unsigned char>(c)));
    switch (it.kind) {
    case Item::Any: return true;
    case Item::Digit: return c >= '0' && c <= '9';
    case Item::Char: return std::tolower(static_cast<unsigned char>(it.c)) == l;
    case Item::Set: {
        bool in = false;
        for (auto [lo, hi] : it.ranges)
            in = in || (l >= std::tolower(static_cast<unsigned char>(lo)) &&
                        l <= std::tolower(static_cast<unsigned char>(hi)));
        return in != it.negate;
    }
    case Item::Star: break;
    }
    return false;
}

bool referenceLike(const std::string& v, const std::vector<Item>& p) {
    // m[j]: the pattern's first j items match the value's first i characters.
    std::vector<char> m(p.size() + 1, 0), next(p.size() + 1);
    m[0] = 1;
    for (size_t j = 1; j <= p.size(); ++j)
        m[j] = m[j - 1] && p[j - 1].kind == Item::Star;
    for (char c : v) {
        next[0] = 0;
        for (size_t j = 1; j <= p.size(); ++j)
            next[j] = p[j - 1].kind == Item::Star ? (m[j] || next[j - 1])
                                                  : (m[j - 1] && one(p[j - 1], c));
        m.swap(next);
    }
    return m[p.size()];
}

bool ascii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 0x80; });
}

void like(const std::string& v, const std::string& p) {
    FUZZ_CHECK(accessdb::accessLike(v, "*"), "\"%s\" Like \"*\"", v.c_str());
    const bool m = accessdb::accessLike(v, p);
    if (m) {
        FUZZ_CHECK(accessdb::accessLike(v, "*" + p), "\"%s\" Like \"*%s\"", v.c_str(), p.c_str());
        FUZZ_CHECK(accessdb::accessLike(v, p + "*"), "\"%s\" Like \"%s*\"", v.c_str(), p.c_str());
    }
    if (v.find_first_of("*?#[") == std::string::npos) {
        FUZZ_CHECK(accessdb::accessLike(v, v), "\"%s\" Like itself", v.c_str());
        if (ascii(v)) FUZZ_CHECK(accessdb::accessLike(upper(v), v));
    }
    std::vector<Item> it;
    if (ascii(v) && ascii(p) && items(p, it))
        FUZZ_CHECK(m == referenceLike(v, it), "\"%s\" Like \"%s\": %d", v.c_str(), p.c_str(), m);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    FuzzInput in(data, size);
    switch (in.byte() & 3) {
    case 0: statement(in.until(0)); break;
    case 1: date(in.until('#')); break;
    case 2: {
        const std::string a = in.until(0), b = in.until(0);
        collation(a, b, in.rest());
        break;
    }
    case 3: {
        const std::string v = in.until(0);
        like(v, in.rest());
        break;
    }
    }
    return 0;
}
