// The host loading real and broken plug-ins, and its menus.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QWidget>
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

TEST(PluginManager, ForgetsTheDialogsOfAPluginItUnloads) {
    PluginFolder folder;
    ModuleLoader loader(TestHost::buildDir());
    CommandInterpreter interpreter({"english", "/tmp/", TestHost::buildDir()}, nullptr);
    HostLink link(interpreter, loader);
    PluginManager manager(link, TestHost::buildDir(), "/tmp/tw-test.ini");

    // Init registered its dialog, then failed: the plug-in is gone, and so
    // is its dialog.
    EXPECT_FALSE(manager.load(std::string(BAD_PLUGIN_DIR) + "/libtw_bad_registerfail.so", nullptr, nullptr));
    EXPECT_EQ(nullptr, interpreter.dialog("BadDialog"));
    EXPECT_EQ(HC_UNKNOWN_DIALOG, interpreter.execute("ShowDialog BadDialog").code);

    // The real plug-in's dialog: name, variable and show function.
    ASSERT_TRUE(manager.load(folder.path() + "libquorvel.so", nullptr, nullptr));
    const RegisteredDialog* d = interpreter.dialog("dlgqvmain");
    ASSERT_NE(nullptr, d);
    EXPECT_EQ("DlgQvMain", d->name);
    EXPECT_NE(nullptr, d->variable);
    EXPECT_EQ(nullptr, interpreter.dialogObject("DlgQvMain"));
    EXPECT_EQ(0, interpreter.execute("ShowDialog DlgQvMain").code);
    QWidget* shown = static_cast<QWidget*>(interpreter.dialogObject("DlgQvMain"));
    ASSERT_NE(nullptr, shown);
    EXPECT_EQ("DlgQvMain", shown->objectName());

    // Once the plug-in is unloaded, asking for its dialog is an unknown
    // dialog, not a call into an unloaded module.
    manager.unloadAll();
    EXPECT_EQ(nullptr, interpreter.dialog("DlgQvMain"));
    CommandResult r = interpreter.execute("ShowDialog DlgQvMain");
    EXPECT_EQ(HC_UNKNOWN_DIALOG, r.code);
    EXPECT_EQ("No dialog named DlgQvMain", r.text);
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
