// The host loading real and broken plug-ins, and its menus.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "main_window.h"
#include "plugin_manager.h"
#include "test_host.h"

namespace fs = std::filesystem;

namespace {

// A plugins/ folder holding the real plug-in and the broken ones, beside a
// lib/ that leads to the build tree's libraries (the plug-in looks there).
struct PluginFolder {
    QTemporaryDir dir;
    std::string path() const { return dir.path().toStdString() + "/plugins/"; }
    PluginFolder() {
        fs::create_directory(path());
        fs::create_directory_symlink(TestHost::buildDir() + "lib", dir.path().toStdString() + "/lib");
        fs::copy_file(TestHost::pluginPath(), path() + "libquorvel.so");
        fs::copy_file(std::string(BAD_PLUGIN_DIR) + "/libtw_bad_noexport.so", path() + "a_noexport.so");
        fs::copy_file(std::string(BAD_PLUGIN_DIR) + "/libtw_bad_initfail.so", path() + "b_initfail.so");
        std::ofstream(path() + "c_notalibrary.so") << "text";
    }
};

TEST(PluginManager, SurvivesBrokenPluginsAndLoadsTheGoodOne) {
    PluginFolder folder;
    ModuleLoader loader(TestHost::buildDir());
    CommandInterpreter interpreter({"english", "/tmp/", TestHost::buildDir()}, nullptr);
    HostLink link(interpreter, loader);
    PluginManager manager(link, TestHost::buildDir(), "/tmp/tw-test.ini");
    manager.loadFolder(folder.path(), nullptr, nullptr);
    ASSERT_EQ(1u, manager.plugins().size());
    EXPECT_EQ(3u, manager.problems().size());
    const LoadedPlugin& p = manager.plugins()[0];
    EXPECT_EQ("Quorvel", p.name);
    ASSERT_EQ(3u, p.entries.size());
    EXPECT_EQ("About Quorvel", p.entries[0].caption);
    EXPECT_EQ(5, p.entries[0].selector);
    EXPECT_EQ("Mass spectrometry tool", p.entries[1].caption);
    EXPECT_EQ(4, p.entries[1].selector);
    EXPECT_EQ(101, p.entries[1].funcId);
    EXPECT_TRUE(p.entries[2].caption.empty());
    EXPECT_EQ(3, p.entries[2].funcId);
    manager.call(0, 101);
    manager.unloadAll();
    EXPECT_TRUE(manager.plugins().empty());
}

QStringList captions(QMenu* m) {
    QStringList list;
    for (QAction* a : m->actions())
        if (!a->isSeparator()) list << a->text();
    return list;
}

HostOptions options(const std::string& lang) {
    HostOptions o;
    o.hostDir = TestHost::buildDir();
    o.language = lang;
    o.dataDir = "/tmp/tw-test-data/";
    o.iniFile = "/tmp/tw-test-data/tarvish.ini";
    return o;
}

TEST(MainWindow, ShowsThePluginEntriesInItsMenus) {
    MainWindow w(options("english"));
    EXPECT_TRUE(captions(w.toolsMenu()).contains("Mass spectrometry tool"));
    QStringList help = captions(w.helpMenu());
    EXPECT_TRUE(help.contains("About Quorvel"));
    EXPECT_TRUE(help.contains("Quorvel help"));
    for (QAction* a : w.toolsMenu()->actions())
        if (a->text() == "Mass spectrometry tool") {
            EXPECT_FALSE(a->icon().isNull());
        }
    w.shutdown();
}

TEST(MainWindow, MenusFollowTheLanguage) {
    MainWindow it(options("italian"));
    QStringList tools = captions(it.toolsMenu());
    ASSERT_EQ(1, tools.size());
    EXPECT_NE("Mass spectrometry tool", tools[0]);
    it.shutdown();

    HostOptions o = options("italian");
    o.refusedModules.insert("locale.dll");
    MainWindow plain(o);
    EXPECT_EQ(QStringList{"Mass spectrometry tool"}, captions(plain.toolsMenu()));
    plain.shutdown();
}

} // namespace
