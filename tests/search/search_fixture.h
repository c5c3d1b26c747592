#pragma once
// The plug-in initialised by the test host, with a data directory of its own
// (a Databases folder the test fills) and a settings file of its own.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <clocale>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

#include "brisk.h"
#include "dlg_main.h"
#include "plugin_state.h"
#include "test_host.h"

extern "C" TW_PLUGINFO* Init(TW_INFO*);
extern "C" int32_t Call(int32_t);
extern "C" int32_t Free(void);

struct SearchFixture : ::testing::Test {
    QTemporaryDir data;
    TestHost host;
    char savedSeparator = FormatSettings.DecimalSeparator;
    bool initialised = false;

    std::string dataDir() const { return data.path().toStdString() + "/"; }
    std::string iniPath() const { return dataDir() + "settings.ini"; }
    void addFile(const std::string& name, const std::string& body = "x") {
        std::ofstream(dataDir() + "Databases/" + name) << body;
    }

    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        QDir(data.path()).mkpath("Databases");
        std::snprintf(host.info.IniFile, sizeof host.info.IniFile, "%s", iniPath().c_str());
        host.answer("Get PrfLang", 0, "english");
        host.answer("Get DataDir", 0, dataDir());
        host.answer("messagebox", 0, "1");
    }
    void TearDown() override {
        if (initialised) Free();
        FormatSettings.DecimalSeparator = savedSeparator;
        std::setlocale(LC_NUMERIC, "C");
    }
    TDlgQvMain* show() {
        if (!initialised) Init(&host.info);
        initialised = true;
        Call(101);
        return DlgQvMain;
    }
    // The user picks entry index of the database list.
    void choose(TDlgQvMain* d, int index) {
        d->ui.CB_Database->setCurrentIndex(index);
        emit d->ui.CB_Database->activated(index);
    }
    int entryOf(TDlgQvMain* d, const QString& name) { return d->ui.CB_Database->findText(name); }
    // Fills the search fields and clicks Search (a click needs the button enabled).
    void search(TDlgQvMain* d, const QString& mass, const QString& ppm, int mode,
                const QString& max = "200") {
        d->ui.CB_Mass->setCurrentIndex(mode);
        d->ui.STR_Mass->setText(mass);
        d->ui.STR_Ppm->setText(ppm);
        d->ui.STR_MaxResults->setText(max);
        d->ui.BT_Search->click();
    }
    std::vector<std::string> sent(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& c : host.commands)
            if (c.rfind(prefix, 0) == 0) out.push_back(c);
        return out;
    }
    static QStringList column(TDlgQvMain* d, int c) {
        QStringList out;
        for (int i = 0; i < d->ui.LV_Results->topLevelItemCount(); ++i)
            out << d->ui.LV_Results->topLevelItem(i)->text(c);
        return out;
    }
};
