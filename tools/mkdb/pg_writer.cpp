#include "pg_writer.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>

namespace mkdb {
namespace {

std::string lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string connMessage(PGconn* c) {
    std::string m = c ? PQerrorMessage(c) : "out of memory";
    while (!m.empty() && (m.back() == '\n' || m.back() == ' '))
        m.pop_back();
    for (char& ch : m)
        if (ch == '\n') ch = ' ';
    return m;
}

// Appends a text value in COPY's text format: backslash, tab and line breaks escaped.
void copyText(std::string& out, const std::string& v) {
    for (char c : v) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

class PgWriter : public RowWriter {
  public:
    PgWriter(PGconn* c, PgOptions o)
        : c_(c), o_(std::move(o)), table_(lower(o_.table)), staging_(table_ + "_load") {}

    ~PgWriter() override {
        if (inCopy_) {
            PQputCopyEnd(c_, "tarvish-mkdb stopped");
            while (PGresult* r = PQgetResult(c_))
                PQclear(r);
        }
        if (inTx_) {
            std::string ignored;
            exec("ROLLBACK", ignored);
        }
        PQfinish(c_);
    }

    // Checks the role before anything is loaded.
    bool prepareRole(std::string& error);

    bool add(long long id, const Row& r, std::string& error) override {
        if (!inTx_ && !begin(error)) return false;
        char num[32];
        buf_.append(num, std::to_chars(num, num + sizeof num, id).ptr);
        buf_ += '\t';
        buf_.append(num, std::to_chars(num, num + sizeof num, r.mass).ptr);
        buf_ += '\t';
        copyText(buf_, r.formula);
        buf_ += '\t';
        if (r.name.empty())
            buf_ += "\\N";
        else
            copyText(buf_, r.name);
        buf_ += '\t';
        copyText(buf_, r.smiles);
        buf_ += '\n';
        ++rows_;
        return buf_.size() < (size_t(1) << 20) || flush(error);
    }

    bool finish(std::string& error) override;

  private:
    bool exec(const std::string& sql, std::string& error) {
        PGresult* r = PQexec(c_, sql.c_str());
        const ExecStatusType st = PQresultStatus(r);
        const bool ok = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
        if (!ok) {
            std::string m = PQresultErrorMessage(r);
            while (!m.empty() && m.back() == '\n')
                m.pop_back();
            error = sql + ": " + (m.empty() ? connMessage(c_) : m);
        }
        PQclear(r);
        return ok;
    }

    // The first value of the first row of a query ("" when none); false on failure.
    bool value(const std::string& sql, std::string& out, std::string& error) {
        PGresult* r = PQexec(c_, sql.c_str());
        const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
        if (!ok) error = sql + ": " + connMessage(c_);
        out = ok && PQntuples(r) > 0 && !PQgetisnull(r, 0, 0) ? PQgetvalue(r, 0, 0) : "";
        PQclear(r);
        return ok;
    }

    std::string ident(const std::string& name) {
        char* q = PQescapeIdentifier(c_, name.c_str(), name.size());
        std::string s = q ? q : "\"\"";
        PQfreemem(q);
        return s;
    }

    bool begin(std::string& error) {
        if (!exec("BEGIN", error)) return false;
        inTx_ = true;
        if (!exec("SET LOCAL maintenance_work_mem = '256MB'", error) ||
            !exec("CREATE TABLE " + staging_ +
                      " (id bigint NOT NULL, massmi double precision NOT NULL, formula text NOT "
                      "NULL, name text, smiles text NOT NULL)",
                  error))
            return false;
        // FREEZE: the rows are written as already visible to everyone, so the first readers
        // and vacuum do not rewrite them.
        PGresult* r = PQexec(c_, ("COPY " + staging_ + " FROM STDIN (FREEZE)").c_str());
        const bool ok = PQresultStatus(r) == PGRES_COPY_IN;
        PQclear(r);
        if (!ok) {
            error = "COPY: " + connMessage(c_);
            return false;
        }
        inCopy_ = true;
        return true;
    }

    bool flush(std::string& error) {
        if (buf_.empty()) return true;
        if (PQputCopyData(c_, buf_.data(), int(buf_.size())) != 1) {
            error = "COPY: " + connMessage(c_);
            return false;
        }
        buf_.clear();
        return true;
    }

    bool writeDsn(std::string& error);

    PGconn* c_;
    PgOptions o_;
    std::string table_, staging_, buf_, warnings_;
    bool inTx_ = false, inCopy_ = false;
    long long rows_ = 0;
};

bool PgWriter::prepareRole(std::string& error) {
    if (o_.readonlyRole.empty()) return true;
    const char* params[] = {o_.readonlyRole.c_str()};
    PGresult* r = PQexecParams(c_, "SELECT rolsuper FROM pg_roles WHERE rolname = $1", 1, nullptr,
                               params, nullptr, nullptr, 0);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
        error = "cannot look up the role " + o_.readonlyRole + ": " + connMessage(c_);
        PQclear(r);
        return false;
    }
    const bool exists = PQntuples(r) > 0;
    const bool super = exists && std::string(PQgetvalue(r, 0, 0)) == "t";
    PQclear(r);
    if (super) {
        error = "the role " + o_.readonlyRole +
                " is a superuser and could change anything; name a role without superuser rights";
        return false;
    }
    const std::string role = ident(o_.readonlyRole);
    if (!exists) {
        if (!exec("CREATE ROLE " + role + " LOGIN", error)) return false;
        std::fprintf(stderr,
                     "tarvish-mkdb: made the role %s (no password yet: ALTER ROLE %s PASSWORD "
                     "'...')\n",
                     o_.readonlyRole.c_str(), role.c_str());
    }
    // Every transaction of the role is read-only unless it asks otherwise.
    std::string msg;
    if (!exec("ALTER ROLE " + role + " SET default_transaction_read_only = on", msg))
        std::fprintf(stderr, "tarvish-mkdb: warning: %s\n", msg.c_str());
    return true;
}

bool PgWriter::finish(std::string& error) {
    if (!inTx_ && !begin(error)) return false;
    if (!flush(error)) return false;
    inCopy_ = false;
    if (PQputCopyEnd(c_, nullptr) != 1) {
        error = "COPY: " + connMessage(c_);
        return false;
    }
    bool copied = true;
    while (PGresult* r = PQgetResult(c_)) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK) {
            copied = false;
            error = "COPY: " + std::string(PQresultErrorMessage(r));
        }
        PQclear(r);
    }
    if (!copied) return false;

    // The rows went in in ascending mass, so the table already lies in the index's order;
    // CLUSTER ON records that order for later CLUSTER runs without rewriting the table.
    const std::string role = o_.readonlyRole.empty() ? "" : ident(o_.readonlyRole);
    if (!exec("ALTER TABLE " + staging_ + " ADD CONSTRAINT " + staging_ + "_pkey PRIMARY KEY (id)",
              error) ||
        !exec("CREATE INDEX " + staging_ + "_massmi ON " + staging_ + " (massmi)", error) ||
        !exec("ALTER TABLE " + staging_ + " CLUSTER ON " + staging_ + "_massmi", error) ||
        !exec("ANALYZE " + staging_, error) ||
        (!role.empty() && !exec("GRANT SELECT ON " + staging_ + " TO " + role, error)))
        return false;
    if (!role.empty()) {
        // The role must reach the schema too; when only the schema's owner may grant that, the
        // load goes on and says so.
        std::string schema, msg;
        if (!value("SELECT current_schema()", schema, error) ||
            !exec("SAVEPOINT schema_usage", error))
            return false;
        if (!exec("GRANT USAGE ON SCHEMA " + ident(schema) + " TO " + role, msg)) {
            if (!exec("ROLLBACK TO SAVEPOINT schema_usage", error)) return false;
            warnings_ += "warning: " + msg + "\n";
        } else if (!exec("RELEASE SAVEPOINT schema_usage", error)) {
            return false;
        }
    }
    if (!exec("DROP TABLE IF EXISTS " + table_, error) ||
        !exec("ALTER TABLE " + staging_ + " RENAME TO " + table_, error) ||
        !exec("ALTER INDEX " + staging_ + "_pkey RENAME TO " + table_ + "_pkey", error) ||
        !exec("ALTER INDEX " + staging_ + "_massmi RENAME TO " + table_ + "_massmi", error) ||
        !exec("COMMIT", error))
        return false;
    inTx_ = false;
    if (!warnings_.empty()) std::fprintf(stderr, "tarvish-mkdb: %s", warnings_.c_str());
    return o_.dsnFile.empty() || writeDsn(error);
}

bool PgWriter::writeDsn(std::string& error) {
    std::string sslmode;
    if (PQconninfoOption* opts = PQconninfo(c_)) {
        for (PQconninfoOption* o = opts; o->keyword; ++o)
            if (std::string(o->keyword) == "sslmode" && o->val) sslmode = o->val;
        PQconninfoFree(opts);
    }
    const std::string user = o_.readonlyRole.empty() ? PQuser(c_) : o_.readonlyRole;
    std::string text = "; ODBC data source of the PostgreSQL table " + table_ +
                       ", written by tarvish-mkdb.\n"
                       "; The password: a line PWD=... here, or an entry in ~/.pgpass.\n"
                       "[ODBC]\n"
                       "DRIVER=" + o_.dsnDriver + "\n"
                       "SERVER=" + std::string(PQhost(c_)) + "\n"
                       "PORT=" + std::string(PQport(c_)) + "\n"
                       "DATABASE=" + std::string(PQdb(c_)) + "\n"
                       "UID=" + user + "\n";
    if (!sslmode.empty() && sslmode != "prefer") text += "SSLmode=" + sslmode + "\n";
    text += "LoginTimeout=10\nQueryTimeout=30\n";
    const std::string tmp = o_.dsnFile + ".tmp-" + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::remove(tmp.c_str());
            error = "the table is loaded, but " + o_.dsnFile + " could not be written";
            return false;
        }
    }
    if (std::rename(tmp.c_str(), o_.dsnFile.c_str()) != 0) {
        std::remove(tmp.c_str());
        error = "the table is loaded, but " + o_.dsnFile + " could not be written";
        return false;
    }
    if (table_ != "molecules")
        std::fprintf(stderr, "tarvish-mkdb: note: the plug-in reads the table molecules, not %s\n",
                     table_.c_str());
    return true;
}

} // namespace

bool isPlainName(const std::string& name) {
    if (name.empty() || name.size() > 48 || std::isdigit(static_cast<unsigned char>(name[0])))
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

std::unique_ptr<RowWriter> openPgWriter(const PgOptions& options, std::string& error) {
    if (!isPlainName(options.table)) {
        error = "the table name " + options.table +
                " must be letters, digits and _ (not starting with a digit, at most 48)";
        return nullptr;
    }
    PGconn* c = PQconnectdb(options.conninfo.c_str());
    if (!c || PQstatus(c) != CONNECTION_OK) {
        error = "cannot connect to PostgreSQL: " + connMessage(c);
        PQfinish(c);
        return nullptr;
    }
    PQsetClientEncoding(c, "UTF8");
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr); // "does not exist, skipping"
    auto w = std::make_unique<PgWriter>(c, options);
    if (!w->prepareRole(error)) return nullptr;
    return w;
}

} // namespace mkdb
