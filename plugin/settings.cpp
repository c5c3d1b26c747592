#include "settings.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "formatsettings.h"
#include "plugin_state.h"
#include "profile.h"
#include "utf8_cut.h"

const TIniKey IniKeys[IniKeyCount + 1] = {
    {"DATABASE", 0, 0, "None", INI_TEXT}, {"MASS", 1, INT32_MIN, "", INI_REAL},
    {"MASSMODE", 0, 2, "1", INI_INTEGER}, {"MAXRESULTS", 1, INT32_MIN, "200", INI_INTEGER},
    {"PPM", 0, INT32_MIN, "2", INI_REAL}, {nullptr, 0, 0, nullptr, 0},
};

namespace {

// Shared by every read: a value returned from it lives until the next read.
char Buf[IniReadBufSize];

bool ValidIndex(int32_t index) {
    return index >= 0 && index < IniKeyCount;
}

// The settings file and section, or false before Init.
bool Target(std::string& path, std::string& section) {
    if (!TwInfo || TwInfo->IniFile[0] == '\0') return false;
    path.assign(TwInfo->IniFile, strnlen(TwInfo->IniFile, sizeof TwInfo->IniFile));
    section = PlugInfo.Name ? PlugInfo.Name : "Quorvel";
    return true;
}

// Copies text into Buf, cut to the buffer without splitting a UTF-8 sequence.
void ToBuf(const std::string& text) {
    const size_t n = Utf8CutLength(text.data(), text.size(), IniReadBufSize - 1);
    std::memcpy(Buf, text.data(), n);
    Buf[n] = '\0';
}

// Machine numbers: the whole text must be the number (C locale); anything
// else counts as 0, as does a number out of the type's range.
long long ParseInteger(const char* s) {
    const char* end = s + std::strlen(s);
    int32_t v = 0;
    auto r = std::from_chars(s, end, v);
    if (r.ec != std::errc() || r.ptr != end) return 0;
    return v;
}

float ParseReal(const char* s) {
    const char* end = s + std::strlen(s);
    double v = 0;
    auto r = std::from_chars(s, end, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) return 0;
    return static_cast<float>(v);
}

void ReplaceFirst(char* text, char from, char to) {
    if (char* p = std::strchr(text, from)) *p = to;
}

// The default rule shared by both kinds of number.
template <typename T> bool OutOfRange(T value, const TIniKey& k) {
    return (value > static_cast<T>(k.Maximum) && k.Minimum < k.Maximum) ||
           value < static_cast<T>(k.Minimum);
}

void Write(int32_t index, const std::string& value) {
    std::string path, section;
    if (!ValidIndex(index) || !Target(path, section)) return;
    // A failed write is not reported: the settings simply stay as they were.
    twprofile::writeString(path, section, IniKeys[index].Key, value);
}

} // namespace

const char* ReadIniKey(int32_t index, int32_t defaultsOnly) {
    if (!ValidIndex(index)) return "";
    const TIniKey& k = IniKeys[index];
    const char sep = FormatSettings.DecimalSeparator;
    if (defaultsOnly) {
        if (k.Type == INI_REAL && std::strchr(k.Default, '.') && sep != '.') {
            ToBuf(k.Default);
            ReplaceFirst(Buf, '.', sep);
            return Buf;
        }
        return k.Default;
    }

    std::string path, section;
    ToBuf(Target(path, section) ? twprofile::readString(path, section, k.Key, k.Default)
                                : std::string(k.Default));
    const bool checked = k.Minimum != 0 || k.Maximum != 0;
    switch (k.Type) {
    case INI_INTEGER:
        if (checked && OutOfRange<long long>(ParseInteger(Buf), k)) return k.Default;
        return Buf;
    case INI_REAL:
        if (checked && OutOfRange<float>(ParseReal(Buf), k)) ToBuf(k.Default);
        if (sep != '.') ReplaceFirst(Buf, '.', sep);
        return Buf;
    case INI_FLAG:
        return std::strcmp(Buf, "0") == 0 || std::strcmp(Buf, "1") == 0 ? Buf : k.Default;
    default:
        return Buf;
    }
}

void WriteIniKeyF(int32_t index, const char* text) {
    // Written as typed, whatever its length; only the user's separator goes.
    std::string value = text ? text : "";
    const size_t comma = value.find(',');
    if (comma != std::string::npos) value[comma] = '.';
    Write(index, value);
}

void WriteIniKeyI(int32_t index, int32_t value) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    Write(index, std::string(buf, r.ptr));
}

void WriteIniKeyS(int32_t index, const char* text) {
    Write(index, text ? text : "");
}
