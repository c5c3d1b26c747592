#include "odbc_support.h"

#include <algorithm>
#include <cstring>

#include "db_common.h"
#include "db_engine.h"

using dbcommon::lower;

namespace odbc {
namespace {

bool contains(const std::string& haystack, const char* needle) {
    return haystack.find(needle) != std::string::npos;
}

bool stateIs(const Diag& d, const char* prefix) {
    return d.state.compare(0, std::strlen(prefix), prefix) == 0;
}

// A link that broke: the connection classes 08 and the server's shutdown states.
bool linkLost(const Diag& d) {
    return stateIs(d, "08") || stateIs(d, "57P0") || contains(lower(d.message), "connection lost") ||
           contains(lower(d.message), "connection has been lost") ||
           contains(lower(d.message), "server closed the connection");
}

constexpr size_t kMaxTextWidth = 2048;
constexpr size_t kMaxBlockBytes = size_t(4) << 20;
constexpr SQLULEN kMaxBlockRows = 256;

struct Column {
    ColumnKind kind;
    SQLSMALLINT ctype;
    size_t width;  // bytes per value
    size_t offset; // of the column's array in the data buffer
};

ColumnKind kindOf(SQLSMALLINT type) {
    switch (type) {
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_BIT:
        return ColumnKind::Integer;
    case SQL_DOUBLE:
    case SQL_FLOAT:
        return ColumnKind::Double;
    case SQL_REAL:
        return ColumnKind::Float;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return ColumnKind::Binary;
    default:
        // Texts, and the exact numbers and dates as the server writes them.
        return ColumnKind::Text;
    }
}

SQLSMALLINT cTypeOf(ColumnKind k) {
    switch (k) {
    case ColumnKind::Integer:
        return SQL_C_SBIGINT;
    case ColumnKind::Double:
        return SQL_C_DOUBLE;
    case ColumnKind::Float:
        return SQL_C_FLOAT;
    case ColumnKind::Binary:
        return SQL_C_BINARY;
    case ColumnKind::Text:
        break;
    }
    return SQL_C_CHAR;
}

// Bytes per value: numbers their size; texts room for the declared length in UTF-8 (up to
// four bytes a character) and the terminator, within limits.
size_t widthOf(ColumnKind k, SQLULEN size) {
    switch (k) {
    case ColumnKind::Integer:
    case ColumnKind::Double:
        return 8;
    case ColumnKind::Float:
        return 4;
    case ColumnKind::Binary:
        return size == 0 || size >= kMaxTextWidth ? kMaxTextWidth : std::max<size_t>(16, size);
    case ColumnKind::Text:
        break;
    }
    if (size == 0 || size >= kMaxTextWidth / 4) return kMaxTextWidth;
    return std::max<size_t>(32, size * 4 + 1);
}

int failure(const Handle& st, std::string& error) {
    const std::vector<Diag> d = diagnostics(st);
    error = "SQL error: " + messageOf(d);
    return statementFailure(d);
}

bool getBinary(const Handle& st, SQLUSMALLINT col, std::string& value, bool& null, int& code,
               std::string& error) {
    value.clear();
    null = false;
    char buf[4096];
    for (;;) {
        SQLLEN len = 0;
        const SQLRETURN rc = SQLGetData(st.get(), col, SQL_C_BINARY, buf, sizeof buf, &len);
        if (rc == SQL_NO_DATA) return true;
        if (!SQL_SUCCEEDED(rc)) {
            code = failure(st, error);
            return false;
        }
        if (len == SQL_NULL_DATA) {
            null = true;
            return true;
        }
        const size_t got = len == SQL_NO_TOTAL || size_t(len) > sizeof buf ? sizeof buf : size_t(len);
        value.append(buf, got);
        if (rc == SQL_SUCCESS) return true;
    }
}

// The statement run again and read one value at a time: for values longer than a bound
// width. The answer is rebuilt from the start.
int readByValue(const Handle& st, const std::string& sql, const std::vector<Column>& cols,
                dbanswer::Builder& out, std::string& error) {
    out.clear();
    SQLFreeStmt(st.get(), SQL_CLOSE);
    SQLFreeStmt(st.get(), SQL_UNBIND);
    SQLSetStmtAttr(st.get(), SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(1)), 0);
    SQLSetStmtAttr(st.get(), SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttr(st.get(), SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    if (!SQL_SUCCEEDED(SQLExecDirect(st.get(), (SQLCHAR*)sql.c_str(), SQLINTEGER(sql.size()))))
        return failure(st, error);
    std::string text;
    for (;;) {
        const SQLRETURN rc = SQLFetch(st.get());
        if (rc == SQL_NO_DATA) return 0;
        if (!SQL_SUCCEEDED(rc)) return failure(st, error);
        for (size_t c = 0; c < cols.size(); ++c) {
            const auto col = SQLUSMALLINT(c + 1);
            const char term = c + 1 < cols.size() ? ';' : '\n';
            SQLLEN len = 0;
            SQLRETURN g = SQL_SUCCESS;
            bool null = false;
            int code = 0;
            switch (cols[c].kind) {
            case ColumnKind::Integer: {
                SQLBIGINT v = 0;
                g = SQLGetData(st.get(), col, SQL_C_SBIGINT, &v, 0, &len);
                if (SQL_SUCCEEDED(g) && len != SQL_NULL_DATA) out.integer(int64_t(v), term);
                break;
            }
            case ColumnKind::Double: {
                double v = 0;
                g = SQLGetData(st.get(), col, SQL_C_DOUBLE, &v, 0, &len);
                if (SQL_SUCCEEDED(g) && len != SQL_NULL_DATA) out.real(v, term);
                break;
            }
            case ColumnKind::Float: {
                float v = 0;
                g = SQLGetData(st.get(), col, SQL_C_FLOAT, &v, 0, &len);
                if (SQL_SUCCEEDED(g) && len != SQL_NULL_DATA) out.real(v, term);
                break;
            }
            case ColumnKind::Text:
                if (!getText(st, col, text, null, code, error)) return code;
                if (!null) out.text(text.data(), text.size(), term);
                len = null ? SQL_NULL_DATA : 0;
                break;
            case ColumnKind::Binary:
                if (!getBinary(st, col, text, null, code, error)) return code;
                if (!null)
                    out.hex(reinterpret_cast<const unsigned char*>(text.data()), text.size(), term);
                len = null ? SQL_NULL_DATA : 0;
                break;
            }
            if (!SQL_SUCCEEDED(g)) return failure(st, error);
            if (len == SQL_NULL_DATA) out.null(term);
        }
        if (out.size() > dbanswer::kMaxAnswerBytes) {
            error = "The answer is too large; narrow the query";
            return DB_ANSWER_TOO_LARGE;
        }
    }
}

} // namespace

std::vector<Diag> diagnostics(const Handle& h) {
    std::vector<Diag> out;
    if (!h) return out;
    for (SQLSMALLINT i = 1; i < 50; ++i) {
        SQLCHAR state[6] = {0};
        SQLCHAR msg[2048] = {0};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        const SQLRETURN rc =
            SQLGetDiagRec(h.type(), h.get(), i, state, &native, msg, sizeof msg, &len);
        if (!SQL_SUCCEEDED(rc)) break;
        out.push_back(Diag{reinterpret_cast<char*>(state), long(native), reinterpret_cast<char*>(msg)});
    }
    return out;
}

std::string messageOf(const std::vector<Diag>& d) {
    std::string out;
    for (const Diag& x : d) {
        std::string m = x.message;
        for (char& c : m)
            if (c == '\n' || c == '\r' || c == '\t') c = ' ';
        m = dbcommon::trim(m);
        while (!m.empty() && (m.back() == ';' || m.back() == ' '))
            m.pop_back();
        if (m.empty() || out.find(m) != std::string::npos) continue;
        if (!out.empty()) out += "; ";
        out += m;
    }
    return out.empty() ? "no message from the driver" : out;
}

int connectFailure(const std::vector<Diag>& d) {
    for (const Diag& x : d)
        if (stateIs(x, "IM00") || contains(x.message, "Can't open lib") ||
            contains(lower(x.message), "driver not found"))
            return DB_UNKNOWN_DRIVER;
    for (const Diag& x : d)
        if (stateIs(x, "28") || stateIs(x, "08004") ||
            dbcommon::loginFailure(x.message) == DB_LOGIN_REFUSED)
            return DB_LOGIN_REFUSED;
    for (const Diag& x : d)
        if (stateIs(x, "08") || stateIs(x, "HYT0") || stateIs(x, "S1T0"))
            return DB_SERVER_UNREACHABLE;
    return DB_OPEN_FAILED;
}

int statementFailure(const std::vector<Diag>& d) {
    for (const Diag& x : d)
        if (stateIs(x, "57014") || stateIs(x, "HYT0") || stateIs(x, "S1T0"))
            return DB_QUERY_TIMEOUT;
    for (const Diag& x : d)
        if (linkLost(x)) return DB_CONNECTION_LOST;
    for (const Diag& x : d) {
        const std::string m = lower(x.message);
        if (stateIs(x, "25006") || stateIs(x, "42501") || contains(m, "read-only") ||
            contains(m, "readonly"))
            return DB_NOT_READ_ONLY;
    }
    return DB_SQL_ERROR;
}

bool getText(const Handle& st, SQLUSMALLINT col, std::string& value, bool& null, int& code,
             std::string& error) {
    value.clear();
    null = false;
    char buf[4096];
    for (;;) {
        SQLLEN len = 0;
        const SQLRETURN rc = SQLGetData(st.get(), col, SQL_C_CHAR, buf, sizeof buf, &len);
        if (rc == SQL_NO_DATA) return true;
        if (!SQL_SUCCEEDED(rc)) {
            code = failure(st, error);
            return false;
        }
        if (len == SQL_NULL_DATA) {
            null = true;
            return true;
        }
        // A part that does not fit fills the buffer but for its terminator.
        const size_t got = len == SQL_NO_TOTAL || size_t(len) >= sizeof buf ? sizeof buf - 1 : size_t(len);
        value.append(buf, got);
        if (rc == SQL_SUCCESS) return true;
    }
}

int readResult(const Handle& st, const std::string& sql, FetchBuffers& b, dbanswer::Builder& out,
               std::string& error) {
    SQLSMALLINT n = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(st.get(), &n))) return failure(st, error);
    if (n <= 0) return 0;

    std::vector<Column> cols(static_cast<size_t>(n));
    size_t rowBytes = 0;
    for (SQLSMALLINT i = 0; i < n; ++i) {
        SQLSMALLINT type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        if (!SQL_SUCCEEDED(SQLDescribeCol(st.get(), SQLUSMALLINT(i + 1), nullptr, 0, nullptr, &type,
                                          &size, &digits, &nullable)))
            return failure(st, error);
        Column& c = cols[size_t(i)];
        c.kind = kindOf(type);
        c.ctype = cTypeOf(c.kind);
        c.width = widthOf(c.kind, size);
        rowBytes += c.width;
    }
    const SQLULEN rows = std::max<SQLULEN>(1, std::min<SQLULEN>(kMaxBlockRows, kMaxBlockBytes / rowBytes));
    size_t offset = 0;
    for (Column& c : cols) {
        c.offset = offset;
        offset += (c.width * rows + 15) & ~size_t(15);
    }
    if (b.data.size() < offset) b.data.resize(offset);
    if (b.lengths.size() < cols.size() * rows) b.lengths.resize(cols.size() * rows);
    if (b.status.size() < rows) b.status.resize(rows);

    SQLULEN& fetched = b.fetched;
    SQLHSTMT h = st.get();
    SQLSetStmtAttr(h, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_BIND_BY_COLUMN)), 0);
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, b.status.data(), 0)))
        return readByValue(st, sql, cols, out, error);
    for (size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        if (!SQL_SUCCEEDED(SQLBindCol(h, SQLUSMALLINT(i + 1), c.ctype, b.data.data() + c.offset,
                                      SQLLEN(c.width), b.lengths.data() + i * rows)))
            return failure(st, error);
    }

    dbanswer::FieldWriter w(out);
    for (;;) {
        const SQLRETURN rc = SQLFetch(h);
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) return failure(st, error);
        for (SQLULEN r = 0; r < fetched; ++r) {
            if (b.status[r] == SQL_ROW_ERROR) return failure(st, error);
            for (size_t i = 0; i < cols.size(); ++i) {
                const Column& c = cols[i];
                const SQLLEN len = b.lengths[i * rows + r];
                const char* v = b.data.data() + c.offset + r * c.width;
                if (len == SQL_NULL_DATA) {
                    w.null();
                    continue;
                }
                switch (c.kind) {
                case ColumnKind::Integer: {
                    SQLBIGINT x;
                    std::memcpy(&x, v, sizeof x);
                    w.integer(int64_t(x));
                    break;
                }
                case ColumnKind::Double: {
                    double x;
                    std::memcpy(&x, v, sizeof x);
                    w.real(x);
                    break;
                }
                case ColumnKind::Float: {
                    float x;
                    std::memcpy(&x, v, sizeof x);
                    w.real(x);
                    break;
                }
                case ColumnKind::Text:
                    if (len == SQL_NO_TOTAL || size_t(len) >= c.width)
                        return readByValue(st, sql, cols, out, error);
                    w.text(v, size_t(len));
                    break;
                case ColumnKind::Binary:
                    if (len == SQL_NO_TOTAL || size_t(len) > c.width)
                        return readByValue(st, sql, cols, out, error);
                    w.hex(reinterpret_cast<const unsigned char*>(v), size_t(len));
                    break;
                }
            }
            w.endRow();
        }
        if (out.size() > dbanswer::kMaxAnswerBytes) {
            error = "The answer is too large; narrow the query";
            return DB_ANSWER_TOO_LARGE;
        }
    }
    return 0;
}

} // namespace odbc
