// Fuzz target: the reader of ODBC file data sources (.dsn), which users copy into the
// Databases folder from anywhere.
//
// Input: the file. Properties:
//  - it reads (0) or is refused with DB_NOT_A_DATA_SOURCE and a reason;
//  - a file that reads names a DRIVER or a DSN, its timeouts are 1 to 3600 seconds, and
//    every key is trimmed, not empty, holds no "=" and no line break;
//  - the keys written back as "[ODBC]" and "key=value" lines read as the same keys;
//  - a timeout is what the C library reads from the value, when that is a whole number
//    from 1 to 3600 and nothing else.
#include <cerrno>
#include <cstdlib>
#include <string>

#include "db_engine.h"
#include "dsn_file.h"
#include "fuzz_input.h"

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int oracleTimeout(const std::string& v) {
    if (v.empty() || !(v[0] >= '0' && v[0] <= '9')) return -1;
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (errno || *end || end != v.c_str() + v.size() || n < 1 || n > 3600) return -1;
    return int(n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 70000) return 0;
    static const std::string path = FuzzTempDir() + "/fuzz.dsn";
    static const std::string again = FuzzTempDir() + "/again.dsn";
    FUZZ_CHECK(FuzzWriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size)));

    DsnFile dsn;
    std::string error;
    const int rc = readDsnFile(path, dsn, error);
    if (rc != 0) {
        FUZZ_CHECK(rc == DB_NOT_A_DATA_SOURCE, "code %d", rc);
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(!dsn.value("DRIVER").empty() || !dsn.value("DSN").empty());
    std::string text = "[ODBC]\n";
    for (const auto& [key, value] : dsn.keys) {
        FUZZ_CHECK(!key.empty() && !blank(key.front()) && !blank(key.back()), "key \"%s\"",
                   key.c_str());
        FUZZ_CHECK(key.find_first_of("=\n") == std::string::npos, "key \"%s\"", key.c_str());
        FUZZ_CHECK(value.empty() || (!blank(value.front()) && !blank(value.back())));
        FUZZ_CHECK(value.find('\n') == std::string::npos);
        text += key + "=" + value + "\n";
    }
    for (const char* key : {"LoginTimeout", "QueryTimeout"}) {
        const int t = dsnTimeout(dsn, key, 7);
        FUZZ_CHECK(t >= 1 && t <= 3600, "%s %d", key, t);
        if (dsn.has(key))
            FUZZ_CHECK(t == oracleTimeout(dsn.value(key)), "%s=%s read as %d", key,
                       dsn.value(key).c_str(), t);
        else
            FUZZ_CHECK(t == 7);
    }

    FUZZ_CHECK(FuzzWriteFile(again, text));
    DsnFile back;
    const int rc2 = readDsnFile(again, back, error);
    FUZZ_CHECK(rc2 == 0, "written back: %s", error.c_str());
    FUZZ_CHECK(back.keys == dsn.keys, "written back, %zu keys of %zu", back.keys.size(),
               dsn.keys.size());
    return 0;
}
