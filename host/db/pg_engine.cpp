#include "pg_engine.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "db_answer.h"
#include "db_common.h"
#include "dsn_file.h"
#include "sql_guard.h"

using dbcommon::lower;

namespace {

// Type OIDs of the columns written as numbers (pg_type.h).
constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701, kBytea = 17;

std::string oneLine(std::string m) {
    for (char& c : m)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    m = dbcommon::trim(m);
    return m.empty() ? "no message from the server" : m;
}

std::string firstOf(const DsnFile& dsn, std::initializer_list<const char*> keys) {
    for (const char* k : keys)
        if (!dsn.value(k).empty()) return dsn.value(k);
    return {};
}

struct Result {
    PGresult* r;
    explicit Result(PGresult* p) : r(p) {}
    ~Result() { PQclear(r); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
};

// True when the server's text of a float8 is the answer's text as it stands: from PostgreSQL
// 12 on (with extra_float_digits above 0, which the connection asks for) the server writes
// the shortest digits that read back to the value, as the answer does, and uses plain
// decimals exactly where the answer does (1e-4 <= |v| < 1e15); only exponent forms,
// Infinity and NaN (the only texts with letters) are rewritten.
inline bool plainShortest(const char* v, size_t len) {
    if (len < 8) {
        bool letter = false;
        for (size_t i = 0; i < len; ++i)
            letter |= v[i] >= 'A';
        return len != 0 && !letter;
    }
    // Eight bytes at a time, the last eight overlapping the ones before: a byte of 'A' (0x41)
    // or more has its high bit set in b | (b + 0x3F). Only a byte of 0xC1 or more carries into
    // the next one, and it is caught itself.
    constexpr uint64_t k3F = 0x3F3F3F3F3F3F3F3Full, k80 = 0x8080808080808080ull;
    uint64_t seen = 0, w;
    for (size_t i = 0; i + 8 <= len; i += 8) {
        std::memcpy(&w, v + i, 8);
        seen |= w | (w + k3F);
    }
    std::memcpy(&w, v + len - 8, 8);
    seen |= w | (w + k3F);
    return (seen & k80) == 0;
}

class PgEngine : public DbEngine {
  public:
    PgEngine(std::string path, PGconn* c, int queryTimeout)
        : path_(std::move(path)), c_(c), queryTimeout_(queryTimeout),
          shortestFloats_(PQserverVersion(c) >= 120000) {}
    ~PgEngine() override { PQfinish(c_); }

    CommandResult start();
    std::string format() const override { return "POSTGRESQL"; }
    CommandResult query(const std::string& sql) override;
    CommandResult molecule(long long id, DbMolecule& out) override;

  private:
    // The code and text of a failed statement (r may be null when the link broke).
    CommandResult failure(const PGresult* r, const std::string& what);
    CommandResult lost(const std::string& detail) {
        lost_ = true;
        return CommandResult::fail(DB_CONNECTION_LOST, "The link to the server of " + path_ +
                                                           " was lost; open the data source again" +
                                                           (detail.empty() ? "" : " (" + detail + ")"));
    }

    std::string path_;
    PGconn* c_;
    int queryTimeout_;
    bool shortestFloats_;
    bool lost_ = false;
    dbanswer::SizeHint hint_;
};

CommandResult PgEngine::failure(const PGresult* r, const std::string& what) {
    const std::string msg = oneLine(r ? PQresultErrorMessage(r) : PQerrorMessage(c_));
    const char* stateText = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const std::string state = stateText ? stateText : "";
    if (state == "57014")
        return CommandResult::fail(DB_QUERY_TIMEOUT, what + " ran longer than the query timeout of " +
                                                         std::to_string(queryTimeout_) + " s (" +
                                                         msg + ")");
    // libpq's own errors have no SQLSTATE; those of a broken link say so.
    const std::string m = lower(msg);
    const bool linkError = state.empty() && (m.find("server closed the connection") != std::string::npos ||
                                             m.find("no connection to the server") != std::string::npos ||
                                             m.find("could not receive data") != std::string::npos ||
                                             m.find("could not send data") != std::string::npos ||
                                             m.find("connection to server was lost") != std::string::npos);
    if (!r || linkError || PQstatus(c_) != CONNECTION_OK || state.compare(0, 2, "08") == 0 ||
        state.compare(0, 4, "57P0") == 0)
        return lost(msg);
    if (state == "25006" || state == "42501")
        return CommandResult::fail(DB_NOT_READ_ONLY, "Only reading statements are allowed: " + msg);
    return CommandResult::fail(DB_SQL_ERROR, "SQL error: " + msg);
}

CommandResult PgEngine::start() {
    {
        Result r(PQexec(c_, "SHOW transaction_read_only"));
        if (PQresultStatus(r.r) != PGRES_TUPLES_OK) return failure(r.r, "Opening");
        const std::string v = PQntuples(r.r) > 0 ? PQgetvalue(r.r, 0, 0) : "";
        if (v != "on")
            return CommandResult::fail(DB_OPEN_FAILED, "Cannot make the session of " + path_ +
                                                           " read-only (transaction_read_only is " +
                                                           v + ")");
    }
    // The table Molecules with the columns the plug-in reads (PostgreSQL folds the unquoted
    // names to lower case).
    Result r(PQexec(c_, "SELECT * FROM Molecules WHERE 1 = 0"));
    if (PQresultStatus(r.r) != PGRES_TUPLES_OK) {
        CommandResult f = failure(r.r, "Opening");
        if (f.code == DB_CONNECTION_LOST || f.code == DB_QUERY_TIMEOUT) return f;
        return CommandResult::fail(DB_NO_MOLECULES, "The database " + path_ +
                                                        " has no table Molecules (" +
                                                        oneLine(PQresultErrorMessage(r.r)) + ")");
    }
    std::vector<std::string> columns;
    for (int i = 0; i < PQnfields(r.r); ++i)
        columns.emplace_back(PQfname(r.r, i));
    std::string error;
    if (const int code = dbcommon::checkMoleculeColumns(columns, path_, error))
        return CommandResult::fail(code, error);
    return CommandResult::ok();
}

CommandResult PgEngine::query(const std::string& sql) {
    if (lost_) return lost("");
    const sqlguard::Verdict v = sqlguard::checkSelect(sql, sqlguard::Dialect::PostgreSql);
    if (!v.ok) return CommandResult::fail(DB_NOT_READ_ONLY, v.reason);
    // One statement, as the guard read it. (Were a second one ever to slip through, it would
    // run in the same read-only transaction.)
    Result r(PQexec(c_, v.statement.c_str()));
    const ExecStatusType st = PQresultStatus(r.r);
    if (st == PGRES_COMMAND_OK) return CommandResult::ok();
    if (st != PGRES_TUPLES_OK) return failure(r.r, "The statement");

    enum class Kind { Text, Integer, Float, Double, Binary };
    const int rows = PQntuples(r.r), cols = PQnfields(r.r);
    if (cols == 0) return CommandResult::ok();
    std::vector<Kind> kinds(size_t(cols), Kind::Text);
    for (int c = 0; c < cols; ++c) {
        const Oid t = PQftype(r.r, c);
        kinds[size_t(c)] = t == kInt8 || t == kInt4 || t == kInt2 ? Kind::Integer
                           : t == kFloat8                         ? Kind::Double
                           : t == kFloat4                         ? Kind::Float
                           : t == kBytea                          ? Kind::Binary
                                                                  : Kind::Text;
    }
    dbanswer::Builder out(hint_.capacity());
    dbanswer::FieldWriter w(out);
    for (int i = 0; i < rows; ++i) {
        for (int c = 0; c < cols; ++c) {
            // NULL comes as an empty value, and both make an empty field.
            const char* v = PQgetvalue(r.r, i, c);
            const size_t len = size_t(PQgetlength(r.r, i, c));
            if (len == 0) {
                w.null();
                continue;
            }
            switch (kinds[size_t(c)]) {
            case Kind::Double: {
                if (shortestFloats_ && plainShortest(v, len)) {
                    w.text(v, len);
                    break;
                }
                // The value as a double, written as every engine writes reals.
                double x = 0;
                auto [p, ec] = std::from_chars(v, v + len, x);
                if (ec == std::errc() && p == v + len)
                    w.real(x);
                else
                    w.text(v, len);
                break;
            }
            case Kind::Float: {
                float f = 0;
                auto [p, ec] = std::from_chars(v, v + len, f);
                if (ec == std::errc() && p == v + len)
                    w.real(f);
                else
                    w.text(v, len);
                break;
            }
            case Kind::Binary: {
                size_t n = 0;
                unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(v), &n);
                if (bytes) w.hex(bytes, n);
                else w.null();
                PQfreemem(bytes);
                break;
            }
            case Kind::Integer: // the server writes integers as plain decimals already
            case Kind::Text:
                w.text(v, len);
                break;
            }
        }
        w.endRow();
        if (out.size() > dbanswer::kMaxAnswerBytes)
            return CommandResult::fail(DB_ANSWER_TOO_LARGE, "The answer is too large; narrow the query");
    }
    hint_.record(out.size());
    return CommandResult::ok(out.take());
}

CommandResult PgEngine::molecule(long long id, DbMolecule& out) {
    if (lost_) return lost("");
    const std::string key = std::to_string(id);
    const char* params[] = {key.c_str()};
    Result r(PQexecParams(c_, "SELECT id, massmi, formula, name, smiles FROM molecules WHERE id = $1",
                          1, nullptr, params, nullptr, nullptr, 0));
    if (PQresultStatus(r.r) != PGRES_TUPLES_OK) return failure(r.r, "Reading the molecule");
    if (PQntuples(r.r) == 0)
        return CommandResult::fail(DB_UNKNOWN_ROW, "No molecule with ID " + key);
    auto text = [&](int c) { return std::string(PQgetvalue(r.r, 0, c), size_t(PQgetlength(r.r, 0, c))); };
    DbMolecule m;
    const std::string idText = text(0), massText = text(1);
    std::from_chars(idText.data(), idText.data() + idText.size(), m.id);
    std::from_chars(massText.data(), massText.data() + massText.size(), m.mass);
    m.formula = text(2);
    m.name = text(3);
    m.smiles = text(4);
    out = std::move(m);
    return CommandResult::ok();
}

} // namespace

bool usesLibpq(const DsnFile& dsn) {
    if (lower(dsn.value("Client")) == "odbc") return false;
    const std::string driver = lower(dsn.value("DRIVER"));
    return driver.find("postgres") != std::string::npos || driver.find("psqlodbc") != std::string::npos;
}

std::vector<std::pair<std::string, std::string>> pgConnParams(const DsnFile& dsn) {
    std::vector<std::pair<std::string, std::string>> p;
    auto set = [&](const std::string& k, const std::string& v) {
        if (v.empty()) return;
        for (auto& kv : p)
            if (kv.first == k) {
                kv.second = v;
                return;
            }
        p.emplace_back(k, v);
    };
    // libpq options the .dsn passes to psqlODBC in pqopt, first, so that ours win.
    std::string extraOptions;
    std::string pqopt = dsn.value("pqopt");
    if (pqopt.size() >= 2 && pqopt.front() == '{' && pqopt.back() == '}')
        pqopt = pqopt.substr(1, pqopt.size() - 2);
    if (!pqopt.empty()) {
        char* err = nullptr;
        if (PQconninfoOption* opts = PQconninfoParse(pqopt.c_str(), &err)) {
            for (PQconninfoOption* o = opts; o->keyword; ++o)
                if (o->val && *o->val) {
                    if (std::strcmp(o->keyword, "options") == 0)
                        extraOptions = o->val;
                    else
                        set(o->keyword, o->val);
                }
            PQconninfoFree(opts);
        }
        PQfreemem(err);
    }
    set("host", firstOf(dsn, {"SERVER", "Servername"}));
    set("port", dsn.value("PORT"));
    set("dbname", firstOf(dsn, {"DATABASE", "Database"}));
    set("user", firstOf(dsn, {"UID", "Username", "User"}));
    set("password", firstOf(dsn, {"PWD", "Password"}));
    const std::string ssl = lower(dsn.value("SSLmode"));
    if (!ssl.empty()) set("sslmode", ssl);
    const int login = std::max(2, dsnTimeout(dsn, "LoginTimeout", kDefaultLoginTimeout));
    const int q = std::max(1, dsnTimeout(dsn, "QueryTimeout", kDefaultQueryTimeout));
    set("connect_timeout", std::to_string(login));
    set("client_encoding", "UTF8");
    set("application_name", "tarvish");
    // Every transaction read-only and bounded by the query timeout; on a TCP link a server
    // that vanishes is noticed within it too.
    set("options", (extraOptions.empty() ? "" : extraOptions + " ") +
                       "-c default_transaction_read_only=on -c extra_float_digits=3 "
                       "-c statement_timeout=" + std::to_string(q * 1000));
    set("keepalives", "1");
    set("keepalives_idle", std::to_string(std::max(1, q / 3)));
    set("keepalives_interval", std::to_string(std::max(1, q / 6)));
    set("keepalives_count", "2");
    set("tcp_user_timeout", std::to_string(q * 1000));
    return p;
}

std::unique_ptr<DbEngine> openPgEngine(const std::string& path, const DsnFile& dsn,
                                       CommandResult& error) {
    const auto params = pgConnParams(dsn);
    std::vector<const char*> keys, values;
    for (const auto& kv : params) {
        keys.push_back(kv.first.c_str());
        values.push_back(kv.second.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* c = PQconnectdbParams(keys.data(), values.data(), 0);
    if (!c || PQstatus(c) != CONNECTION_OK) {
        const std::string msg = oneLine(c ? PQerrorMessage(c) : "out of memory");
        PQfinish(c);
        const int code = dbcommon::loginFailure(msg);
        error = CommandResult::fail(code, (code == DB_LOGIN_REFUSED
                                               ? "The server of " + path + " refused the login ("
                                               : "The server of " + path + " cannot be reached (") +
                                              msg + ")");
        return nullptr;
    }
    // Notices (a NOTICE of the server) are not for the host's output.
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
    auto engine = std::make_unique<PgEngine>(
        path, c, std::max(1, dsnTimeout(dsn, "QueryTimeout", kDefaultQueryTimeout)));
    CommandResult started = engine->start();
    if (started.code != 0) {
        error = started;
        return nullptr;
    }
    return engine;
}
