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

    // The text writers' way (not mixed with stream() after the first use): room for n more
    // bytes at the end of the output, valid until the next call, then advance() to where
    // they were filled. The bytes are handed on in large blocks (past the page cache where
    // it can be); ok() turns false on the first failure, with its errno in error().
    char* room(size_t n);
    void advance(char* end) { used_ = size_t(end - at_); }
    bool write(const char* data, size_t size); // room, copy and advance
    // Hands on every byte given so far (commit() does it too); false on a failure.
    bool flush();
    bool ok() const { return failed_ == 0; }
    int error() const { return failed_; }
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
    void handOn(size_t n); // the buffer is full up to used_; n more bytes are wanted
    std::unique_ptr<Direct> rawOut_; // the temporary file written by its descriptor
    std::unique_ptr<char[]> buffer_; // before rawOut_: the bytes for the stream
    char* at_ = nullptr;             // the buffer being filled (buffer_ or rawOut_'s block)
    size_t used_ = 0, capacity_ = 0;
    int failed_ = 0;
    std::string target_, tempPath_, display_;
    FILE* stream_ = nullptr;
    bool toStdout_ = false, direct_ = false, needPath_ = false, committed_ = false;
    bool rawTried_ = false;
};

} // namespace tvsearch
