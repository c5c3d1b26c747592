// Temporary files of the fuzz targets.
#include "fuzz_input.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <unistd.h>

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        const char* env = std::getenv("TMPDIR");
        std::string base = env && *env ? env : "";
        std::error_code ec;
        if (base.empty()) base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/quorvel-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

} // namespace

const std::string& FuzzTempDir() {
    static TempDir dir;
    return dir.path;
}

bool FuzzWriteFile(const std::string& path, std::string_view data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    return static_cast<bool>(out);
}
