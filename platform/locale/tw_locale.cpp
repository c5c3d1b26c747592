// Catalog loading and lookup behind the C interface of tw_locale.h.
#include "tw_locale.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace {

struct Catalog {
    std::string path;
    // Node-based: the texts never move, so returned pointers stay valid.
    std::unordered_map<int, std::string> texts;
};

// Open catalogs by handle. A handle is a number that is never given out
// twice, not an address: a handle closed twice, or used after its close,
// finds nothing, and can never name a catalog opened later at the same
// address.
struct Registry {
    std::mutex mutex;
    uintptr_t last = 0;
    std::unordered_map<uintptr_t, std::unique_ptr<Catalog>> open;
};

Registry& registry() {
    static Registry r;
    return r;
}

void* addCatalog(std::unique_ptr<Catalog> cat) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const uintptr_t handle = ++r.last;
    r.open.emplace(handle, std::move(cat));
    return reinterpret_cast<void*>(handle);
}

Catalog* liveCatalog(void* handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.open.find(reinterpret_cast<uintptr_t>(handle));
    return it == r.open.end() ? nullptr : it->second.get();
}

std::unique_ptr<Catalog> removeCatalog(void* handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.open.find(reinterpret_cast<uintptr_t>(handle));
    if (it == r.open.end()) return nullptr;
    std::unique_ptr<Catalog> cat = std::move(it->second);
    r.open.erase(it);
    return cat;
}

// Last failure of this thread.
struct ErrorState {
    int code = LOC_ERR_NONE;
    std::string text;
};
thread_local ErrorState tError;

void setError(int code, std::string text) noexcept {
    tError.code = code;
    try {
        tError.text = std::move(text);
    } catch (...) {
        tError.text.clear();
    }
}

void clearError() noexcept {
    tError.code = LOC_ERR_NONE;
    tError.text.clear();
}

// A fault found while reading or parsing a file: code and full message.
struct Failure {
    int code;
    std::string text;
};

std::string errnoText(int err) {
    return std::generic_category().message(err);
}

// ---------------------------------------------------------------------------
// Parsing

// Length of the valid UTF-8 sequence starting at p (at most end), 0 if invalid.
// Rejects overlong forms, surrogates and code points above U+10FFFF.
size_t utf8SeqLen(const unsigned char* p, const unsigned char* end) {
    unsigned char c = p[0];
    if (c < 0x80) return 1;
    size_t len;
    uint32_t cp;
    if (c >= 0xc2 && c <= 0xdf) {
        len = 2;
        cp = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
        len = 3;
        cp = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xc0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3f);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)) return 0;
    if (cp >= 0xd800 && cp <= 0xdfff) return 0;
    if (cp > 0x10ffff) return 0;
    return len;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Parses one catalog; on failure fills fail and returns false.
bool parseCatalog(const std::string& data, const std::string& path,
                  std::unordered_map<int, std::string>& texts, Failure& fail) {
    std::unordered_map<int, long> firstLine;
    auto error = [&](long line, const std::string& what) {
        fail.code = LOC_ERR_PARSE;
        fail.text = path + ": line " + std::to_string(line) + ": " + what;
        return false;
    };

    size_t pos = 0;
    if (data.compare(0, 3, "\xef\xbb\xbf") == 0) pos = 3;
    long lineNo = 0;
    while (pos < data.size()) {
        ++lineNo;
        size_t eol = data.find('\n', pos);
        if (eol == std::string::npos) eol = data.size();
        size_t lineEnd = eol;
        if (lineEnd > pos && data[lineEnd - 1] == '\r') --lineEnd; // CRLF files
        const size_t next = eol + 1;

        // The whole line must be valid UTF-8 without NUL characters.
        auto* b = reinterpret_cast<const unsigned char*>(data.data());
        for (size_t i = pos; i < lineEnd;) {
            if (b[i] == 0) return error(lineNo, "NUL character");
            size_t n = utf8SeqLen(b + i, b + lineEnd);
            if (n == 0) return error(lineNo, "invalid UTF-8");
            i += n;
        }

        size_t i = pos;
        while (i < lineEnd && isBlank(data[i]))
            ++i;
        if (i == lineEnd || data[i] == '#') {
            pos = next;
            continue;
        }

        // Id: optional minus sign and decimal digits, within the int range.
        bool negative = false;
        if (data[i] == '-') {
            negative = true;
            ++i;
        }
        const size_t digits = i;
        long long value = 0;
        while (i < lineEnd && data[i] >= '0' && data[i] <= '9') {
            value = value * 10 + (data[i] - '0');
            if (value > 2147483648LL) return error(lineNo, "id out of range");
            ++i;
        }
        if (i == digits) return error(lineNo, "missing id");
        if (negative) value = -value;
        if (value > 2147483647LL) return error(lineNo, "id out of range");
        if (i < lineEnd && !isBlank(data[i]))
            return error(lineNo, "expected a tab or space after the id");
        while (i < lineEnd && isBlank(data[i]))
            ++i;

        std::string text;
        text.reserve(lineEnd - i);
        for (; i < lineEnd; ++i) {
            char c = data[i];
            if (c != '\\') {
                text += c;
                continue;
            }
            if (++i == lineEnd) return error(lineNo, "backslash at the end of the line");
            switch (data[i]) {
            case 'n':
                text += '\n';
                break;
            case 't':
                text += '\t';
                break;
            case '\\':
                text += '\\';
                break;
            default: {
                // Name the sequence with its whole (possibly multi-byte) character.
                size_t n = utf8SeqLen(b + i, b + lineEnd);
                return error(lineNo, "unknown escape \\" + data.substr(i, n ? n : 1));
            }
            }
        }

        const int id = static_cast<int>(value);
        auto [it, added] = firstLine.emplace(id, lineNo);
        if (!added)
            return error(lineNo, "duplicate id " + std::to_string(id) + " (first on line " +
                                     std::to_string(it->second) + ")");
        texts.emplace(id, std::move(text));
        pos = next;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Files

enum class Load { Ok, Missing, Failed };

// Reads a whole catalog file. A file that does not exist is Missing; one that
// exists but cannot be read (permissions, a folder, I/O error) or is too large
// is Failed with fail set.
Load readFile(const std::string& path, std::string& data, Failure& fail) {
    // O_NONBLOCK keeps a FIFO from blocking the open; regular files ignore it.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        int err = errno;
        if (err == ENOENT || err == ENOTDIR) return Load::Missing;
        fail = {LOC_ERR_READ, path + ": cannot open: " + errnoText(err)};
        return Load::Failed;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        fail = {LOC_ERR_READ, path + ": cannot read: " + errnoText(errno)};
        return Load::Failed;
    }
    if (S_ISDIR(st.st_mode)) {
        fail = {LOC_ERR_READ, path + ": is a folder, not a catalog file"};
        return Load::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        fail = {LOC_ERR_READ, path + ": not a regular file"};
        return Load::Failed;
    }
    const std::string tooLarge =
        path + ": file larger than " + std::to_string(LOC_MAX_FILE_SIZE / (1024 * 1024)) + " MiB";
    if (st.st_size > LOC_MAX_FILE_SIZE) {
        fail = {LOC_ERR_PARSE, tooLarge};
        return Load::Failed;
    }

    data.clear();
    data.reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail = {LOC_ERR_READ, path + ": cannot read: " + errnoText(errno)};
            return Load::Failed;
        }
        if (n == 0) break;
        data.append(chunk, static_cast<size_t>(n));
        if (data.size() > static_cast<size_t>(LOC_MAX_FILE_SIZE)) { // grew while reading
            fail = {LOC_ERR_PARSE, tooLarge};
            return Load::Failed;
        }
    }
    return Load::Ok;
}

// A file or folder name of a single path component.
bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

std::string toLowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string catalogPath(const std::string& dir, const std::string& language,
                        const std::string& name) {
    std::string path = dir;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    return path + "Locale/" + language + "/" + name;
}

// Loads the catalog of one language. Missing leaves the error untouched.
Load loadLanguage(const std::string& dir, const std::string& language, const std::string& name,
                  Catalog*& out) {
    const std::string path = catalogPath(dir, language, name);
    std::string data;
    Failure fail{};
    Load r = readFile(path, data, fail);
    if (r == Load::Ok) {
        auto cat = std::make_unique<Catalog>();
        cat->path = path;
        if (parseCatalog(data, path, cat->texts, fail)) {
            out = cat.release();
            return Load::Ok;
        }
        r = Load::Failed;
    }
    if (r == Load::Failed) setError(fail.code, std::move(fail.text));
    return r;
}

void* openCatalog(const char* catalogName, const char* dir, const char* language, int flags,
                  const char* fallback) {
    const char* missing = !catalogName ? "catalog name"
                          : !dir       ? "folder"
                          : !language  ? "language"
                                       : nullptr;
    if (missing) {
        setError(LOC_ERR_ARGUMENT, std::string("LocOpenCat: null ") + missing);
        return nullptr;
    }
    const std::string name = catalogName;
    if (!isPlainName(name)) {
        setError(LOC_ERR_ARGUMENT, "LocOpenCat: invalid catalog name \"" + name + "\"");
        return nullptr;
    }
    const std::string lang = toLowerAscii(language);
    const std::string fb = fallback ? toLowerAscii(fallback) : std::string();
    // An empty language is simply one without a catalog; a path is refused.
    if (!lang.empty() && !isPlainName(lang)) {
        setError(LOC_ERR_ARGUMENT, "LocOpenCat: invalid language name \"" + lang + "\"");
        return nullptr;
    }
    const bool useFallback = (flags & LOC_FLAG_FALLBACK) && !fb.empty();
    if (useFallback && !isPlainName(fb)) {
        setError(LOC_ERR_ARGUMENT, "LocOpenCat: invalid fallback language name \"" + fb + "\"");
        return nullptr;
    }

    Catalog* cat = nullptr;
    if (!lang.empty()) {
        Load r = loadLanguage(dir, lang, name, cat);
        if (r == Load::Ok) {
            clearError();
            return addCatalog(std::unique_ptr<Catalog>(cat));
        }
        if (r == Load::Failed) return nullptr;
    }
    const std::string wanted =
        lang.empty() ? "for an empty language name" : catalogPath(dir, lang, name);
    if (!useFallback) {
        setError(LOC_ERR_NO_CATALOG, "no catalog " + wanted);
        return nullptr;
    }
    Load r = loadLanguage(dir, fb, name, cat);
    if (r == Load::Ok) {
        clearError();
        return addCatalog(std::unique_ptr<Catalog>(cat));
    }
    if (r == Load::Missing)
        setError(LOC_ERR_NO_FALLBACK,
                 "no catalog " + wanted + " nor " + catalogPath(dir, fb, name));
    return nullptr;
}

// The one guard of the interface: no exception leaves an exported function.
template <class R, class F> R guarded(R onFailure, F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        setError(LOC_ERR_MEMORY, "out of memory");
    } catch (const std::exception& e) {
        setError(LOC_ERR_INTERNAL, std::string("internal error: ") + e.what());
    } catch (...) {
        setError(LOC_ERR_INTERNAL, "internal error");
    }
    return onFailure;
}

} // namespace

extern "C" {

void* LocOpenCat(const char* catalogName, const char* dir, const char* language, int flags,
                 const char* fallback) {
    return guarded<void*>(nullptr,
                          [&] { return openCatalog(catalogName, dir, language, flags, fallback); });
}

void LocCloseCat(void* catalog) {
    guarded<int>(0, [&] {
        removeCatalog(catalog);
        return 0;
    });
}

const char* LocGetCatStr(void* catalog, int id, const char* defaultText) {
    return guarded<const char*>(defaultText, [&] {
        Catalog* cat = liveCatalog(catalog);
        if (!cat) return defaultText;
        auto it = cat->texts.find(id);
        return it == cat->texts.end() ? defaultText : it->second.c_str();
    });
}

int LocGetErr(void) {
    return tError.code;
}

void LocGetErrStr(char* buffer, int bufferSize) {
    if (!buffer || bufferSize <= 0) return;
    const std::string& text = tError.text;
    size_t n = text.size();
    if (n > static_cast<size_t>(bufferSize - 1)) {
        n = static_cast<size_t>(bufferSize - 1);
        // Do not cut a UTF-8 character in two: drop its leading bytes too.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xc0) == 0x80)
            --n;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // extern "C"
