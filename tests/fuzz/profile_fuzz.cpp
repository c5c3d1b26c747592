// Fuzz target: the settings (INI) file reader and writer.
//
// Input: the section, key and value to write, a second section and key, then the file's
// text. Properties:
//  - reading never fails on any file;
//  - a write that succeeds can be read back: the value, its line breaks as blanks, blanks
//    around it dropped, one pair of enclosing quotes dropped;
//  - it changes no other entry: the second key reads as before (unless it is the same key);
//  - a write that is refused leaves the file as it was;
//  - no temporary file is left behind.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_input.h"
#include "profile.h"

namespace {

const char* const kDefault = "\x01(default)";

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x + 32);
        if (y >= 'A' && y <= 'Z') y = char(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string expectedValue(std::string v) {
    for (char& c : v)
        if (c == '\n' || c == '\r') c = ' ';
    const size_t b = v.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    v = v.substr(b, v.find_last_not_of(" \t\r") - b + 1);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return v;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    FuzzInput in(data, size);
    const std::string section = in.shortString(40), key = in.shortString(40);
    const std::string value = in.shortString(80);
    const std::string otherSection = in.shortString(40), otherKey = in.shortString(40);
    const std::string content = in.rest();

    const std::string dir = FuzzTempDir();
    const std::string path = dir + "/settings.ini";
    FUZZ_CHECK(FuzzWriteFile(path, content));

    const std::string otherBefore = twprofile::readString(path, otherSection, otherKey, kDefault);
    (void)twprofile::readString(path, section, key, kDefault);

    const bool written = twprofile::writeString(path, section, key, value);
    if (written) {
        const std::string back = twprofile::readString(path, section, key, kDefault);
        FUZZ_CHECK(back == expectedValue(value), "[%s] %s=%s reads back as \"%s\"",
                   section.c_str(), key.c_str(), value.c_str(), back.c_str());
        if (!(equalsNoCase(section, otherSection) && equalsNoCase(key, otherKey))) {
            const std::string otherAfter =
                twprofile::readString(path, otherSection, otherKey, kDefault);
            FUZZ_CHECK(otherAfter == otherBefore,
                       "writing [%s] %s changed [%s] %s from \"%s\" to \"%s\"", section.c_str(),
                       key.c_str(), otherSection.c_str(), otherKey.c_str(), otherBefore.c_str(),
                       otherAfter.c_str());
        }
        // Writing the same again changes nothing. (Not for files with a stray carriage
        // return: the first write may turn one into the file's first CR LF, and the file
        // then gets CR LF line ends throughout.)
        const std::string once = slurp(path);
        FUZZ_CHECK(twprofile::writeString(path, section, key, value));
        if (content.find('\r') == std::string::npos)
            FUZZ_CHECK(slurp(path) == once, "a second identical write changed the file");
    } else {
        FUZZ_CHECK(slurp(path) == content, "a refused write changed the file");
    }

    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        (void)e;
        ++files;
    }
    FUZZ_CHECK(files == 1, "%zu files left in the folder", files);
    return 0;
}
