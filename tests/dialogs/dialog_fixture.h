#pragma once
// A plug-in initialised by the test host, with its main dialog shown.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "dlg_main.h"
#include "plugin_state.h"
#include "test_host.h"

extern "C" TW_PLUGINFO* Init(TW_INFO*);
extern "C" int32_t Call(int32_t);
extern "C" int32_t Free(void);

struct DialogFixture : ::testing::Test {
    QTemporaryDir data;
    TestHost host;
    // The host's language, as "Get PrfLang" answers it.
    std::string language = "english";
    void SetUp() override {
        // No settings file, an empty data directory.
        std::snprintf(host.info.IniFile, sizeof host.info.IniFile, "%s",
                      (data.path().toStdString() + "/settings.ini").c_str());
        host.answer("Get PrfLang", 0, language);
        host.answer("Get DataDir", 0, data.path().toStdString() + "/");
        host.answer("messagebox", 0, "1");
        Init(&host.info);
    }
    void TearDown() override { Free(); }
    TDlgQvMain* show() {
        Call(101);
        return DlgQvMain;
    }
};
