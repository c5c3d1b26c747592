#pragma once
// The plug-in initialised by the test host with its main dialog shown on the chart tab, and
// helpers to drive the isotope commands.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <string>
#include <vector>

#include "dlg_main.h"
#include "formatsettings.h"
#include "plugin_state.h"
#include "tchart.h"
#include "test_host.h"

extern "C" TW_PLUGINFO* Init(TW_INFO*);
extern "C" int32_t Call(int32_t);
extern "C" int32_t Free(void);

struct IsoFixture : ::testing::Test {
    QTemporaryDir data;
    TestHost host;
    TDlgQvMain* d = nullptr;
    char savedSep = FormatSettings.DecimalSeparator;

    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        std::snprintf(host.info.IniFile, sizeof host.info.IniFile, "%s",
                      (data.path().toStdString() + "/settings.ini").c_str());
        host.answer("Get PrfLang", 0, "english");
        host.answer("Get DataDir", 0, data.path().toStdString() + "/");
        host.answer("messagebox", 0, "1");
        FormatSettings.DecimalSeparator = '.';
        Init(&host.info);
        Call(101);
        d = DlgQvMain;
        ASSERT_NE(nullptr, d);
        d->resize(d->DesignSize());
        d->ui.PC_View->setCurrentWidget(d->ui.TS_IsoChart);
        QApplication::processEvents();
    }
    void TearDown() override {
        Free();
        FormatSettings.DecimalSeparator = savedSep;
    }

    TChart* chart() const { return d->ui.TC_IsoChart; }

    // A results row with the formula in column 1, selected, and an open database.
    void selectRow(const QString& formula) {
        QTreeWidget* lv = d->ui.LV_Results;
        const QSignalBlocker block(lv);
        auto* item = new QTreeWidgetItem(lv, {QStringLiteral("0"), formula, QStringLiteral("x")});
        lv->setCurrentItem(item);
        item->setSelected(true);
        d->DbName = "DB1";
    }

    // Charts a scripted host answer as the calculated distribution.
    void calculated(const std::string& answer) {
        host.clearAnswers();
        host.answer("IsoDist", 0, answer);
        if (d->ui.LV_Results->selectedItems().isEmpty()) selectRow(QStringLiteral("C6H12O6"));
        d->PM_ResIsoDistClick();
    }

    void experimental(const QString& memo) {
        d->ui.ME_ExData->setPlainText(memo);
        d->BT_ExUpdateClick();
    }

    bool sent(const std::string& prefix) const {
        return std::any_of(host.commands.begin(), host.commands.end(),
                           [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    }

    static std::vector<std::pair<double, double>> tops(const TLineSeries* s) {
        std::vector<std::pair<double, double>> out;
        for (int i = 2; s && i < s->Count(); i += 3)
            out.emplace_back(s->XValue(i), s->YValue(i));
        return out;
    }
};
