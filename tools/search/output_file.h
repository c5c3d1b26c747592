#pragma once
// Where the results go. A regular file is written to a temporary file beside it and renamed
// over it only when everything was written and flushed, so an interrupted or failed run
// never leaves half a file (an interrupting signal removes the temporary file). A device or
// pipe given as the output (/dev/stdout, a FIFO) and standard output are written directly.
//
// Large results go to the temporary file past the page cache (O_DIRECT, in aligned blocks,
// where the file system allows it): copying a gigabyte into the page cache costs more than
// formatting it, and the file is synced before the rename anyway.
#include <cstdio>
#include <memory>
#include <string>

namespace tvsearch {

class OutputFile {
  public:
    OutputFile();
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // path empty or "-": standard output. needPath: the writer wants a file name of its own
    // (the workbook); standard output then gets a temporary file copied at commit().
    bool open(const std::string& path, bool needPath, std::string& error);

    FILE* stream() { return stream_; } // null when the writer writes by path
    // Appends to the stream (the writers' way: large writes may bypass the page cache).
    // False with errno set when the bytes could not be written.
    bool write(const char* data, size_t size);
    // The file the writer writes to when it wants a path (the temporary file).
    const std::string& writePath() const { return tempPath_; }
    const std::string& displayName() const { return display_; }

    // Flushes, syncs and moves the temporary file into place. False with the reason.
    bool commit(std::string& error);
    // Gives up: removes the temporary file.
    void abandon();

    struct Direct;

  private:
    bool fail(std::string& error, const std::string& what);
    bool finishDirect();
    std::unique_ptr<Direct> rawOut_; // the temporary file written by its descriptor
    std::string target_, tempPath_, display_;
    FILE* stream_ = nullptr;
    bool toStdout_ = false, direct_ = false, needPath_ = false, committed_ = false;
    bool rawTried_ = false;
};

} // namespace tvsearch
