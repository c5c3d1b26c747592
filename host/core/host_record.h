#pragma once
// The host record handed to every plug-in, and the C functions behind its
// function pointers. Commands run on the one interpreter of the host; the
// functions let no exception back into a plug-in.
#include <list>
#include <string>

#include "interpreter.h"
#include "module_loader.h"
#include "tw_records.h"

class HostLink {
public:
    HostLink(CommandInterpreter& interpreter, ModuleLoader& loader);
    ~HostLink();

    // A new record for one plug-in; owned by the link.
    TW_INFO* newRecord(void* appWindow, void* mainWindow, const std::string& iniFile,
                       const std::string& hostDir);

    // Runs one command and publishes its result to every record.
    void command(const char* text);
    void commandStr(ZF_Str* result, const char* text);

    int32_t lastCode() const { return code_; }
    const std::string& lastText() const { return text_; }
    CommandInterpreter& interpreter() { return interpreter_; }
    ModuleLoader& loader() { return loader_; }

    // The link the C functions talk to (one host per process).
    static HostLink* current();

    // The loaded module (its base address) that holds address, or null.
    static const void* moduleOf(const void* address);
    // Drops what the module holding addressInModule registered (its
    // dialogs), before that module is unloaded.
    void forgetModule(const void* addressInModule);

private:
    void publish(CommandResult r);

    CommandInterpreter& interpreter_;
    ModuleLoader& loader_;
    std::list<TW_INFO> records_;
    int32_t code_ = 0;
    std::string text_;
};
