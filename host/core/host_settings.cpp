#include "host_settings.h"

#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <cstdlib>

#include "profile.h"

namespace {

std::string withSlash(std::string dir) {
    for (char& c : dir)
        if (c == '\\') c = '/';
    if (!dir.empty() && dir.back() != '/') dir.push_back('/');
    return dir;
}

std::string envDir(const char* name, const char* homeRelative) {
    const char* v = std::getenv(name);
    if (v && *v) return withSlash(v);
    const char* home = std::getenv("HOME");
    return withSlash(std::string(home ? home : "/tmp") + homeRelative);
}

} // namespace

std::string defaultDataDir() { return envDir("XDG_DATA_HOME", "/.local/share") + "tarvish/"; }

std::string defaultIniFile() { return envDir("XDG_CONFIG_HOME", "/.config") + "tarvish/tarvish.ini"; }

std::string hostUsage() {
    return "Usage: tarvish [options]\n"
           "  --data-dir DIR        data directory (databases in DIR/Databases)\n"
           "  --lang LANGUAGE       preferred language (english, italian, german, ...)\n"
           "  --ini FILE            settings file\n"
           "  --exec \"COMMAND\"      run a host command without a window, print code and text;\n"
           "                        given several times, the commands run in order in one\n"
           "                        process (a handle from DbOpen works in the next one)\n"
           "  --refuse-module NAME  treat a library (e.g. locale.dll) as missing\n"
           "  --help                this text\n";
}

HostOptions parseHostOptions(const std::vector<std::string>& args) {
    HostOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                o.error = "option " + a + " needs a value";
                return;
            }
            out = args[++i];
        };
        if (a == "--data-dir") {
            value(o.dataDir);
            o.dataDirGiven = true;
        }
        else if (a == "--lang") value(o.language);
        else if (a == "--ini") value(o.iniFile);
        else if (a == "--exec") {
            std::string c;
            value(c);
            o.execCommands.push_back(c);
            o.exec = true;
        } else if (a == "--refuse-module") {
            std::string m;
            value(m);
            for (char& c : m) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            o.refusedModules.insert(m);
        } else if (a == "--help" || a == "-h") o.help = true;
        else if (a.rfind("-", 0) == 0 && a.rfind("-platform", 0) != 0 && a.rfind("-style", 0) != 0)
            o.error = "unknown option " + a;
        if (!o.error.empty()) break;
    }
    return o;
}

std::string languageNameForLocale(const std::string& localeName) {
    QLocale loc(QString::fromStdString(localeName));
    if (loc.language() == QLocale::C) return "english";
    return QLocale::languageToString(loc.language()).toLower().toStdString();
}

void resolveHostOptions(HostOptions& o) {
    o.hostDir = withSlash(o.hostDir);
    o.dataDir = o.dataDir.empty() ? defaultDataDir() : withSlash(o.dataDir);
    if (o.iniFile.empty()) o.iniFile = defaultIniFile();
    if (o.language.empty())
        o.language = twprofile::readString(o.iniFile, "Tarvish", "Language", "");
    if (o.language.empty()) o.language = languageNameForLocale(QLocale::system().name().toStdString());
    for (char& c : o.language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    QDir().mkpath(QString::fromStdString(o.dataDir));
    QDir().mkpath(QFileInfo(QString::fromStdString(o.iniFile)).absolutePath());
}
