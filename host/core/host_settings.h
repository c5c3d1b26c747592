#pragma once
// The host's configuration: where it is installed, where the data and the
// settings file are, the preferred language.
#include <set>
#include <string>
#include <vector>

struct HostOptions {
    std::string hostDir;     // installation directory, ending with '/'
    std::string dataDir;     // ending with '/'; empty: the default
    std::string iniFile;     // empty: the default
    std::string language;    // empty: the settings file, else the user's locale
    std::vector<std::string> execCommands; // --exec, in order: run headless in one process
    bool exec = false;
    bool dataDirGiven = false; // --data-dir was on the command line
    std::set<std::string> refusedModules; // --refuse-module: the loader pretends they are missing
    std::string error;       // set when the command line is wrong
    bool help = false;
};

// Parses the command line (argv[0] excluded).
HostOptions parseHostOptions(const std::vector<std::string>& args);
std::string hostUsage();

// Fills the defaults: data directory, settings file, language.
void resolveHostOptions(HostOptions& options);

// "english", "italian", ... for a language name or locale name such as "it_IT".
std::string languageNameForLocale(const std::string& localeName);

std::string defaultDataDir();
std::string defaultIniFile();
