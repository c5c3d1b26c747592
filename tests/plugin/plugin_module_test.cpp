// The built module, loaded and released as the host does it.
#include <gtest/gtest.h>

#include <cstdio>
#include <dlfcn.h>
#include <set>
#include <sstream>

#include "test_host.h"

namespace {

TEST(PluginModule, ExportsOnlyItsThreeEntryPoints) {
    const std::string cmd = "nm -D --defined-only " + TestHost::pluginPath();
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(nullptr, p);
    std::set<std::string> functions;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        std::istringstream in(line);
        std::string addr, type, name;
        in >> addr >> type >> name;
        if (type == "T" || type == "W" || type == "i") functions.insert(name);
    }
    ASSERT_EQ(0, pclose(p));
    EXPECT_EQ((std::set<std::string>{"Init", "Call", "Free"}), functions);
}

TEST(PluginModule, LoadsInitialisesAndUnloadsCleanly) {
    for (int round = 0; round < 3; ++round) {
        TestHost host;
        host.answer("Get PrfLang", 0, round == 1 ? "german" : "english");
        std::string error;
        ASSERT_TRUE(host.loadModule(TestHost::pluginPath(), &error)) << error;
        TW_PLUGINFO* info = host.Init(&host.info);
        ASSERT_NE(nullptr, info);
        EXPECT_STREQ("Quorvel", info->Name);
        ASSERT_NE(nullptr, info->FuncList[1].Caption);
        if (round != 1) EXPECT_STREQ("Mass spectrometry tool", info->FuncList[1].Caption);
        else EXPECT_STRNE("Mass spectrometry tool", info->FuncList[1].Caption);
        EXPECT_EQ(1, host.Call(101));
        EXPECT_EQ(1, host.Call(7));
        EXPECT_EQ(1, host.Free());
        host.unloadModule();
    }
}

} // namespace
