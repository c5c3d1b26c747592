#include "profile.h"

#include <cstdio>
#include <fstream>
#include <sstream>
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

    const std::string tmp = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        const char* eol = crlf ? "\r\n" : "\n";
        for (const std::string& line : lines) out << line << eol;
        out.flush();
        if (!out) {
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace twprofile
