#include "odbc_engine.h"

#include <algorithm>
#include <cstring>

#include "db_common.h"
#include "dsn_file.h"
#include "odbc_support.h"
#include "pg_engine.h"
#include "sql_guard.h"

using dbcommon::upper;
using odbc::Handle;

namespace {

// A value for a connection string: as it is, or in braces when it holds a separator; empty
// when it cannot be written at all (the driver manager reads no escaped closing brace).
std::string connValue(const std::string& v, bool& ok) {
    ok = true;
    const bool plain = v.find_first_of(";{}") == std::string::npos && !v.empty() &&
                       v.front() != ' ' && v.back() != ' ';
    if (plain) return v;
    if (v.find('}') != std::string::npos) {
        ok = false;
        return {};
    }
    return "{" + v + "}";
}

std::string stripBraces(std::string v) {
    if (v.size() >= 2 && v.front() == '{' && v.back() == '}') v = v.substr(1, v.size() - 2);
    return v;
}

bool isOwnKey(const std::string& key) {
    const std::string k = upper(key);
    return k == "LOGINTIMEOUT" || k == "QUERYTIMEOUT" || k == "PQOPT";
}

class OdbcEngine : public DbEngine {
  public:
    OdbcEngine(std::string path, Handle env, Handle dbc)
        : path_(std::move(path)), env_(std::move(env)), dbc_(std::move(dbc)) {}

    ~OdbcEngine() override {
        st_.reset();
        if (dbc_) SQLDisconnect(dbc_.get());
    }

    // Everything after the connection: format, read-only session, statement, table check.
    CommandResult start(int queryTimeout);

    std::string format() const override { return format_; }
    CommandResult query(const std::string& sql) override;
    CommandResult molecule(long long id, DbMolecule& out) override;

  private:
    CommandResult statementError(const Handle& st, const std::string& what);
    bool run(const char* sql, std::string& result);

    std::string path_, format_;
    Handle env_, dbc_, st_;
    sqlguard::Dialect dialect_ = sqlguard::Dialect::Other;
    int queryTimeout_ = kDefaultQueryTimeout;
    bool lost_ = false;
    odbc::FetchBuffers buffers_;
    dbanswer::SizeHint hint_;
};

// Runs one statement of the engine's own and reads the first value of its first row (if
// any) into result; false when the statement fails.
bool OdbcEngine::run(const char* sql, std::string& result) {
    result.clear();
    SQLHSTMT h = st_.get();
    SQLFreeStmt(h, SQL_CLOSE);
    if (!SQL_SUCCEEDED(SQLExecDirect(h, (SQLCHAR*)sql, SQL_NTS))) return false;
    SQLSMALLINT n = 0;
    SQLNumResultCols(h, &n);
    if (n > 0 && SQL_SUCCEEDED(SQLFetch(h))) {
        bool null = false;
        int code = 0;
        std::string error;
        odbc::getText(st_, 1, result, null, code, error);
    }
    SQLFreeStmt(h, SQL_CLOSE);
    return true;
}

CommandResult OdbcEngine::statementError(const Handle& st, const std::string& what) {
    const std::vector<odbc::Diag> d = odbc::diagnostics(st);
    const int code = odbc::statementFailure(d);
    const std::string msg = odbc::messageOf(d);
    switch (code) {
    case DB_CONNECTION_LOST:
        lost_ = true;
        return CommandResult::fail(code, "The link to the server of " + path_ +
                                             " was lost; open the data source again (" + msg + ")");
    case DB_QUERY_TIMEOUT:
        return CommandResult::fail(code, what + " ran longer than the query timeout of " +
                                             std::to_string(queryTimeout_) + " s (" + msg + ")");
    case DB_NOT_READ_ONLY:
        return CommandResult::fail(code, "Only reading statements are allowed: " + msg);
    default:
        break;
    }
    std::string text = "SQL error: " + msg;
    if (format_ == "ACCESS")
        text += " (the ODBC driver of this Access file cannot run every query; put the .mdb "
                "file itself into the Databases folder instead)";
    return CommandResult::fail(code, text);
}

CommandResult OdbcEngine::start(int queryTimeout) {
    queryTimeout_ = queryTimeout;
    SQLCHAR name[256] = {0};
    SQLSMALLINT len = 0;
    if (SQL_SUCCEEDED(SQLGetInfo(dbc_.get(), SQL_DBMS_NAME, name, sizeof name, &len)))
        format_ = odbcFormat(reinterpret_cast<char*>(name));
    dialect_ = format_ == "POSTGRESQL" ? sqlguard::Dialect::PostgreSql : sqlguard::Dialect::Other;

    st_ = Handle(SQL_HANDLE_STMT, dbc_.get());
    if (!st_)
        return CommandResult::fail(DB_OPEN_FAILED, "Cannot open the data source " + path_ + ": " +
                                                       odbc::messageOf(odbc::diagnostics(dbc_)));
    SQLHSTMT h = st_.get();
    SQLSetStmtAttr(h, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(queryTimeout)), 0);
    // The statement goes to the driver as the guard read it: no escape clauses rewritten.
    SQLSetStmtAttr(h, SQL_ATTR_NOSCAN, reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_NOSCAN_ON)), 0);

    std::string value;
    if (format_ == "POSTGRESQL") {
        // The connection asked for read-only transactions (odbcConnectionString); a server that
        // did not take the setting gets no statement from us.
        if (!run("SHOW transaction_read_only", value)) return statementError(st_, "Opening");
        if (value != "on")
            return CommandResult::fail(DB_OPEN_FAILED, "Cannot make the session of " + path_ +
                                                           " read-only (transaction_read_only is " +
                                                           value + ")");
    } else if (format_ == "SQLITE") {
        if (!run("PRAGMA query_only=1", value)) return statementError(st_, "Opening");
    }

    // The table Molecules with the columns the plug-in reads (any case: PostgreSQL folds
    // unquoted names to lower case).
    SQLFreeStmt(h, SQL_CLOSE);
    if (!SQL_SUCCEEDED(SQLExecDirect(h, (SQLCHAR*)"SELECT * FROM Molecules WHERE 1 = 0", SQL_NTS))) {
        const std::vector<odbc::Diag> d = odbc::diagnostics(st_);
        const int code = odbc::statementFailure(d);
        if (code == DB_CONNECTION_LOST || code == DB_QUERY_TIMEOUT)
            return statementError(st_, "Opening");
        return CommandResult::fail(DB_NO_MOLECULES, "The database " + path_ +
                                                        " has no table Molecules (" +
                                                        odbc::messageOf(d) + ")");
    }
    SQLSMALLINT n = 0;
    SQLNumResultCols(h, &n);
    std::vector<std::string> columns;
    for (SQLSMALLINT i = 1; i <= n; ++i) {
        SQLCHAR col[256] = {0};
        SQLSMALLINT colLen = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        if (SQL_SUCCEEDED(SQLDescribeCol(h, SQLUSMALLINT(i), col, sizeof col, &colLen, &type, &size,
                                         &digits, &nullable)))
            columns.emplace_back(reinterpret_cast<char*>(col));
    }
    SQLFreeStmt(h, SQL_CLOSE);
    std::string error;
    if (const int code = dbcommon::checkMoleculeColumns(columns, path_, error))
        return CommandResult::fail(code, error);
    return CommandResult::ok();
}

CommandResult OdbcEngine::query(const std::string& sql) {
    if (lost_)
        return CommandResult::fail(DB_CONNECTION_LOST, "The link to the server of " + path_ +
                                                           " was lost; open the data source again");
    const sqlguard::Verdict v = sqlguard::checkSelect(sql, dialect_);
    if (!v.ok) return CommandResult::fail(DB_NOT_READ_ONLY, v.reason);

    SQLHSTMT h = st_.get();
    SQLFreeStmt(h, SQL_CLOSE);
    if (!SQL_SUCCEEDED(SQLExecDirect(h, (SQLCHAR*)v.statement.c_str(), SQLINTEGER(v.statement.size()))))
        return statementError(st_, "The statement");
    dbanswer::Builder out(hint_.capacity());
    std::string error;
    const int code = odbc::readResult(st_, v.statement, buffers_, out, error);
    if (code != 0) {
        SQLFreeStmt(h, SQL_CLOSE);
        SQLFreeStmt(h, SQL_UNBIND);
        if (code == DB_ANSWER_TOO_LARGE) return CommandResult::fail(code, error);
        return statementError(st_, "The statement");
    }
    SQLFreeStmt(h, SQL_CLOSE);
    SQLFreeStmt(h, SQL_UNBIND);
    hint_.record(out.size());
    return CommandResult::ok(out.take());
}

CommandResult OdbcEngine::molecule(long long id, DbMolecule& out) {
    if (lost_)
        return CommandResult::fail(DB_CONNECTION_LOST, "The link to the server of " + path_ +
                                                           " was lost; open the data source again");
    Handle st(SQL_HANDLE_STMT, dbc_.get());
    if (!st) return CommandResult::fail(DB_INTERNAL, "Cannot make an ODBC statement");
    SQLHSTMT h = st.get();
    SQLSetStmtAttr(h, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(queryTimeout_)), 0);
    SQLBIGINT key = id;
    SQLLEN keyLen = 0;
    if (!SQL_SUCCEEDED(SQLPrepare(
            h, (SQLCHAR*)"SELECT ID, MassMI, Formula, Name, Smiles FROM Molecules WHERE ID = ?",
            SQL_NTS)) ||
        !SQL_SUCCEEDED(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                                        &key, 0, &keyLen)) ||
        !SQL_SUCCEEDED(SQLExecute(h)))
        return statementError(st, "Reading the molecule");
    const SQLRETURN rc = SQLFetch(h);
    if (rc == SQL_NO_DATA)
        return CommandResult::fail(DB_UNKNOWN_ROW, "No molecule with ID " + std::to_string(id));
    if (!SQL_SUCCEEDED(rc)) return statementError(st, "Reading the molecule");

    SQLBIGINT rowId = 0;
    double mass = 0;
    SQLLEN len = 0;
    if (!SQL_SUCCEEDED(SQLGetData(h, 1, SQL_C_SBIGINT, &rowId, 0, &len)) ||
        !SQL_SUCCEEDED(SQLGetData(h, 2, SQL_C_DOUBLE, &mass, 0, &len)))
        return statementError(st, "Reading the molecule");
    DbMolecule m;
    m.id = rowId;
    m.mass = mass;
    std::string* texts[] = {&m.formula, &m.name, &m.smiles};
    for (SQLUSMALLINT i = 0; i < 3; ++i) {
        bool null = false;
        int code = 0;
        std::string error;
        if (!odbc::getText(st, SQLUSMALLINT(3 + i), *texts[i], null, code, error))
            return statementError(st, "Reading the molecule");
    }
    out = std::move(m);
    return CommandResult::ok();
}

std::string openFailureText(int code, const std::string& path, const DsnFile& dsn,
                            const std::string& msg) {
    switch (code) {
    case DB_UNKNOWN_DRIVER:
        return "The ODBC driver \"" + (dsn.value("DRIVER").empty() ? dsn.value("DSN") : dsn.value("DRIVER")) +
               "\" of " + path + " is not installed (" + msg + ")";
    case DB_SERVER_UNREACHABLE:
        return "The server of " + path + " cannot be reached (" + msg + ")";
    case DB_LOGIN_REFUSED:
        return "The server of " + path + " refused the login (" + msg + ")";
    default:
        return "Cannot open the data source " + path + ": " + msg;
    }
}

} // namespace

std::string odbcFormat(const std::string& dbmsName) {
    const std::string u = upper(dbcommon::trim(dbmsName));
    if (u == "MDBTOOLS" || u.find("ACCESS") != std::string::npos) return "ACCESS";
    return u;
}

std::string odbcConnectionString(const std::string& path, const DsnFile& dsn) {
    std::string cs;
    bool ok = true;
    const std::string file = connValue(path, ok);
    if (ok) {
        cs = "FILEDSN=" + file;
    } else {
        // A path with "}" cannot be quoted: the file's keys are written out instead.
        for (const auto& kv : dsn.keys) {
            if (isOwnKey(kv.first)) continue;
            bool valueOk = true;
            const std::string v = connValue(kv.second, valueOk);
            if (!valueOk) continue;
            if (!cs.empty()) cs += ';';
            cs += kv.first + "=" + v;
        }
    }
    // psqlODBC refuses writing statements itself (ReadOnly) and hands libpq its options
    // (pqopt): every transaction read-only, and, on a TCP link, dead servers noticed within
    // the query timeout. Drivers ignore the keys they do not know; the SQLite driver must not
    // create a missing database file (NoCreat).
    const int q = std::max(1, dsnTimeout(dsn, "QueryTimeout", kDefaultQueryTimeout));
    std::string pqopt = stripBraces(dsn.value("pqopt"));
    if (!pqopt.empty()) pqopt += ' ';
    pqopt += "options='-cdefault_transaction_read_only=on' keepalives=1 keepalives_idle=" +
             std::to_string(std::max(1, q / 3)) +
             " keepalives_interval=" + std::to_string(std::max(1, q / 6)) +
             " keepalives_count=2 tcp_user_timeout=" + std::to_string(q * 1000);
    cs += ";ReadOnly=1;NoCreat=1;pqopt={" + pqopt + "}";
    return cs;
}

std::unique_ptr<DbEngine> openDsnEngine(const std::string& path, CommandResult& error) {
    DsnFile dsn;
    std::string text;
    if (const int code = readDsnFile(path, dsn, text)) {
        error = CommandResult::fail(code, text);
        return nullptr;
    }
    return usesLibpq(dsn) ? openPgEngine(path, dsn, error) : openOdbcEngine(path, dsn, error);
}

std::unique_ptr<DbEngine> openOdbcEngine(const std::string& path, const DsnFile& dsn,
                                         CommandResult& error) {
    const int loginTimeout = dsnTimeout(dsn, "LoginTimeout", kDefaultLoginTimeout);
    const int queryTimeout = dsnTimeout(dsn, "QueryTimeout", kDefaultQueryTimeout);

    Handle env(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    if (!env || !SQL_SUCCEEDED(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                                             reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
        error = CommandResult::fail(DB_OPEN_FAILED, "Cannot start the ODBC driver manager");
        return nullptr;
    }
    Handle dbc(SQL_HANDLE_DBC, env.get());
    if (!dbc) {
        error = CommandResult::fail(DB_OPEN_FAILED, "Cannot start the ODBC driver manager");
        return nullptr;
    }
    SQLSetConnectAttr(dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(SQLULEN(loginTimeout)), 0);
    const std::string cs = odbcConnectionString(path, dsn);
    const SQLRETURN rc = SQLDriverConnect(dbc.get(), nullptr, (SQLCHAR*)cs.c_str(),
                                          SQLSMALLINT(cs.size()), nullptr, 0, nullptr,
                                          SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        const std::vector<odbc::Diag> d = odbc::diagnostics(dbc);
        const int code = odbc::connectFailure(d);
        error = CommandResult::fail(code, openFailureText(code, path, dsn, odbc::messageOf(d)));
        return nullptr;
    }
    SQLSetConnectAttr(dbc.get(), SQL_ATTR_ACCESS_MODE,
                      reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_MODE_READ_ONLY)), 0);
    auto engine = std::make_unique<OdbcEngine>(path, std::move(env), std::move(dbc));
    CommandResult started = engine->start(queryTimeout);
    if (started.code != 0) {
        error = started;
        return nullptr;
    }
    return engine;
}
