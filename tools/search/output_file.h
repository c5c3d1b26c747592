#pragma once
// Where the results go. A regular file is written to a temporary file beside it and renamed
// over it only when everything was written and flushed, so an interrupted or failed run
// never leaves half a file (an interrupting signal removes the temporary file). A device or
// pipe given as the output (/dev/stdout, a FIFO) and standard output are written directly.
#include <cstdio>
#include <string>

namespace tvsearch {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // path empty or "-": standard output. needPath: the writer wants a file name of its own
    // (the workbook); standard output then gets a temporary file copied at commit().
    bool open(const std::string& path, bool needPath, std::string& error);

    FILE* stream() { return stream_; } // null when the writer writes by path
    // The file the writer writes to when it wants a path (the temporary file).
    const std::string& writePath() const { return tempPath_; }
    const std::string& displayName() const { return display_; }

    // Flushes, syncs and moves the temporary file into place. False with the reason.
    bool commit(std::string& error);
    // Gives up: removes the temporary file.
    void abandon();

  private:
    bool fail(std::string& error, const std::string& what);
    std::string target_, tempPath_, display_;
    FILE* stream_ = nullptr;
    bool toStdout_ = false, direct_ = false, needPath_ = false, committed_ = false;
};

} // namespace tvsearch
