#include "profile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace twprofile {
namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

bool readLines(const std::string& path, std::vector<std::string>& lines, bool& crlf) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    std::string all = ss.str();
    crlf = all.find("\r\n") != std::string::npos;
    size_t pos = 0;
    while (pos < all.size()) {
        size_t nl = all.find('\n', pos);
        std::string line = all.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    return true;
}

// "[name]" → name; anything else → false.
bool sectionName(const std::string& line, std::string& name) {
    std::string t = trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = trim(t.substr(1, close - 1));
    return true;
}

// "key = value" → key and value; comments and other lines → false.
bool keyValue(const std::string& line, std::string& key, std::string& value) {
    std::string t = trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') return false;
    size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = trim(t.substr(0, eq));
    value = trim(t.substr(eq + 1));
    return true;
}


// A section name must stay one "[name]" line; a key must stay the key of
// one "key=value" line and not read as a section or a comment. Neither may
// begin or end with a blank: the reader drops those, so the entry written
// would never be found again under its name.
bool validSection(const std::string& s) {
    return !s.empty() && trim(s) == s && s.find_first_of("\r\n]") == std::string::npos;
}

bool validKey(const std::string& k) {
    return !k.empty() && trim(k) == k && k.find_first_of("\r\n=") == std::string::npos &&
           k[0] != '[' && k[0] != ';' && k[0] != '#';
}

// The file a path names once every symbolic link on the way is followed
// (a link to a missing file names that file, which is then created).
bool finalTarget(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        char buf[PATH_MAX];
        ssize_t n = ::readlink(target.c_str(), buf, sizeof buf - 1);
        if (n < 0) return errno == EINVAL || errno == ENOENT;  // not a link, or nothing there
        std::string next(buf, static_cast<size_t>(n));
        if (next.empty()) return false;
        if (next[0] != '/') {
            const size_t slash = target.rfind('/');
            next = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + next;
        }
        target = next;
    }
    return false;  // a loop of links
}

// Writes the lines to a new file beside the target and renames it over the
// target, so that a reader sees the old file or the new one, never half of
// one. The new file takes the mode and owner of the one it replaces; a
// symbolic link stays a link and its target gets the text.
bool replaceFile(const std::string& path, const std::vector<std::string>& lines, const char* eol) {
    std::string target;
    if (!finalTarget(path, target)) return false;
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return false;

    static std::atomic<unsigned> serial{0};
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial++);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = true;
    if (exists) {
        // The owner first: a change of owner may clear the set-id bits. Only
        // root may give a file away; anyone else keeps the group if a member.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0)
            (void)!::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    std::string text;
    for (const std::string& line : lines) text += line + eol;
    for (size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), target.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace

std::string readString(const std::string& path, const std::string& section,
                       const std::string& key, const std::string& def) {
    std::vector<std::string> lines;
    bool crlf = false;
    if (!readLines(path, lines, crlf)) return def;
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string name, k, v;
        if (sectionName(line, name)) {
            inSection = equalsNoCase(name, section);
        } else if (inSection && keyValue(line, k, v) && equalsNoCase(k, key)) {
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return def;
}

bool writeString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value) {
    if (!validSection(section) || !validKey(key)) return false;
    std::string clean = value;
    for (char& c : clean)
        if (c == '\n' || c == '\r') c = ' ';
    std::vector<std::string> lines;
    bool crlf = false;
    readLines(path, lines, crlf);

    const std::string entry = key + "=" + clean;
    bool inSection = false, done = false;
    long sectionEnd = -1;  // index after the last non-blank line of the section
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        std::string name, k, v;
        if (sectionName(lines[i], name)) {
            if (inSection) break;
            inSection = equalsNoCase(name, section);
            if (inSection) sectionEnd = static_cast<long>(i) + 1;
        } else if (inSection) {
            if (keyValue(lines[i], k, v) && equalsNoCase(k, key)) {
                lines[i] = entry;
                done = true;
            } else if (!trim(lines[i]).empty()) {
                sectionEnd = static_cast<long>(i) + 1;
            }
        }
    }
    if (!done) {
        if (sectionEnd >= 0) {
            lines.insert(lines.begin() + sectionEnd, entry);
        } else {
            if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        }
    }

    return replaceFile(path, lines, crlf ? "\r\n" : "\n");
}

} // namespace twprofile
