// Fuzz target: the localisation catalogs (liblocale's reader and lookup).
//
// Input: one byte of options (language name in capitals, the catalog reached through the
// fallback language, the size of the buffer for the error text), then the catalog file.
// Properties: the catalog opens exactly when a plain reference reading of the file finds
// it valid, and then every id gives the reference's text; a refused catalog reports a parse
// error with a message, which a small buffer receives cut at a character boundary; a
// closed catalog, closed again or asked again, does no harm.
#include <filesystem>
#include <cstring>
#include <map>
#include <string>

#include "fuzz_input.h"
#include "tw_locale.h"

namespace {

// The reference reading of a catalog; false when it is not a valid one.
bool referenceParse(std::string data, std::map<int, std::string>& texts) {
    if (data.compare(0, 3, "\xef\xbb\xbf") == 0) data.erase(0, 3);
    size_t pos = 0;
    while (pos < data.size()) {
        size_t eol = data.find('\n', pos);
        if (eol == std::string::npos) eol = data.size();
        std::string line = data.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos || !Utf8WellFormed(line)) return false;
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == '#') continue;
        const bool negative = line[i] == '-';
        if (negative) ++i;
        const size_t digits = i;
        long long id = 0;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9' && id <= 2147483648LL)
            id = id * 10 + (line[i++] - '0');
        if (i == digits || (i < line.size() && line[i] >= '0' && line[i] <= '9')) return false;
        if (negative) id = -id;
        if (id > 2147483647LL || id < -2147483648LL) return false;
        if (i < line.size() && line[i] != ' ' && line[i] != '\t') return false;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::string text;
        for (; i < line.size(); ++i) {
            if (line[i] != '\\') {
                text += line[i];
                continue;
            }
            if (++i == line.size()) return false;
            const char e = line[i];
            if (e == 'n') text += '\n';
            else if (e == 't') text += '\t';
            else if (e == '\\') text += '\\';
            else return false;
        }
        if (!texts.emplace(int(id), text).second) return false; // a duplicate id
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    FuzzInput in(data, size);
    const uint8_t options = in.byte();
    const std::string content = in.rest();
    const bool capitals = options & 1, throughFallback = options & 2;
    const int bufferSize = options >> 2;

    const std::string dir = FuzzTempDir() + "/";
    std::filesystem::create_directories(dir + "Locale/xx");
    FUZZ_CHECK(FuzzWriteFile(dir + "Locale/xx/FUZZ.catalog", content));

    const char* language = throughFallback ? "yy" : capitals ? "XX" : "xx";
    const char* fallback = throughFallback ? (capitals ? "XX" : "xx") : nullptr;
    void* cat = LocOpenCat("FUZZ.catalog", dir.c_str(), language,
                           throughFallback ? LOC_FLAG_FALLBACK : 0, fallback);

    std::map<int, std::string> expected;
    const bool valid = referenceParse(content, expected);
    char full[4096];
    LocGetErrStr(full, sizeof full);
    FUZZ_CHECK((cat != nullptr) == valid, "catalog %s, reference says %s (%s)",
               cat ? "opened" : "refused", valid ? "valid" : "invalid", full);
    if (cat) {
        FUZZ_CHECK(LocGetErr() == LOC_ERR_NONE && full[0] == 0);
        for (const auto& [id, text] : expected) {
            const char* got = LocGetCatStr(cat, id, nullptr);
            FUZZ_CHECK(got && text == got, "id %d: \"%s\", expected \"%s\"", id, got ? got : "(none)",
                       text.c_str());
        }
        FUZZ_CHECK(LocGetCatStr(cat, 2147483647, "x") != nullptr);
        LocCloseCat(cat);
        // A closed handle, closed again or asked again, is harmless.
        LocCloseCat(cat);
        const char* def = "default";
        for (const auto& entry : expected) {
            FUZZ_CHECK(LocGetCatStr(cat, entry.first, def) == def, "a closed catalog answered");
            break;
        }
    } else {
        FUZZ_CHECK(LocGetErr() == LOC_ERR_PARSE, "error %d: %s", LocGetErr(), full);
        FUZZ_CHECK(full[0] != 0, "refused without a message");
        // A smaller buffer takes a prefix of the message, cut between characters.
        char small[64];
        std::memset(small, 0x55, sizeof small);
        LocGetErrStr(small, bufferSize);
        if (bufferSize > 0) {
            const size_t n = std::strlen(small);
            FUZZ_CHECK(n < size_t(bufferSize));
            FUZZ_CHECK(std::strncmp(small, full, n) == 0, "not a prefix of the message");
            FUZZ_CHECK((static_cast<unsigned char>(full[n]) & 0xc0) != 0x80,
                       "message cut inside a character");
        } else {
            FUZZ_CHECK(static_cast<unsigned char>(small[0]) == 0x55);
        }
    }
    return 0;
}
