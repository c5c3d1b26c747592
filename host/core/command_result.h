#pragma once
// Result of one host text command: code 0 is success; text is the answer
// (ResultText / the caller's dynamic string).
#include <string>

struct CommandResult {
    int code = 0;
    std::string text;

    static CommandResult ok(std::string t = {}) { return {0, std::move(t)}; }
    static CommandResult fail(int c, std::string t) { return {c, std::move(t)}; }
};
