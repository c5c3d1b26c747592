#pragma once
// A host for tests: fills a real host record, records every command the
// plug-in sends, and answers from a script, or from the real interpreter.
// It drives the plug-in either linked in (Init/Call/Free of the test binary)
// or loaded from libquorvel.so as the real host does.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "command_result.h"
#include "module_loader.h"
#include "tw_records.h"

class CommandInterpreter;

class TestHost {
public:
    // hostDir defaults to the build tree (lib/, Locale/, Docs/ as installed).
    explicit TestHost(std::string hostDir = {});
    ~TestHost();

    TW_INFO info{};
    std::vector<std::string> commands; // every command, in order
    ModuleLoader loader;

    // Scripted answers: the first rule whose prefix starts the command
    // (ASCII case-insensitive) answers it; "" matches everything.
    void answer(const std::string& prefix, int code, const std::string& text);
    void clearAnswers();
    // Used when no rule matches; without it the answer is code 0, empty text.
    std::function<CommandResult(const std::string&)> fallback;
    // Answers through a real interpreter (with a recording HostUi).
    void useRealInterpreter(const std::string& language, const std::string& dataDir);

    // Dialogs registered by the plug-in.
    struct Registered {
        std::string name;
        void* variable;
        TW_DialogShowFn show;
    };
    std::vector<Registered> dialogs;

    // The plug-in as a module, as the host loads it.
    bool loadModule(const std::string& path, std::string* error = nullptr);
    void unloadModule();
    TW_InitFn Init = nullptr;
    TW_CallFn Call = nullptr;
    TW_FreeFn Free = nullptr;

    int countOf(const std::string& command) const;
    static std::string pluginPath();  // the built libquorvel.so
    static std::string buildDir();

private:
    struct Rule {
        std::string prefix;
        int code;
        std::string text;
    };
    CommandResult run(const std::string& command);
    friend void testHostCommand(const char*);
    friend void testHostCommandStr(ZF_Str*, const char*);
    friend void testHostRegister(const char*, void*, TW_DialogShowFn);

    std::vector<Rule> rules_;
    int32_t code_ = 0;
    std::string text_;
    void* module_ = nullptr;
    std::unique_ptr<CommandInterpreter> interpreter_;
    std::unique_ptr<struct RecordingUi> ui_;
};
