// The isotope chart's commands: its popup menu, the peak read-out under the pointer, the
// print dialog's placement, the reset of both series, and the memo's keystroke filter.
#include <QAction>
#include <QChart>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QTimer>
#include <QValueAxis>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "brisk.h"
#include "dlg_main.h"
#include "host_cmd.h"
#include "peak_series.h"
#include "tchart.h"

namespace {

// Squared pixel distance within which a peak top is read out (about 14 pixels).
constexpr int64_t ReadOutRange = 199;
constexpr int64_t FarAway = 1000000000;

// The characters a key press types, as the memo's keystroke filter sees them: Backspace,
// Return, Tab and Escape as their control characters, Ctrl with a letter as the control
// character of that letter (Ctrl+C = 3, Ctrl+V = 22, ...). Keys that type nothing (arrows,
// Delete, function keys) and Alt or Meta combinations give no characters. The edit menu's
// keys (Ctrl+A, Ctrl+Z, ...) never come here: they are the memo's shortcuts.
QString TypedChars(const QKeyEvent* e) {
    const Qt::KeyboardModifiers mods = e->modifiers();
    if (mods & (Qt::AltModifier | Qt::MetaModifier)) return {};
    const int key = e->key();
    switch (key) {
    case Qt::Key_Backspace:
        return QString(QChar(8));
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QString(QChar(13));
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return QString(QChar(9));
    case Qt::Key_Escape:
        return QString(QChar(27));
    case Qt::Key_Delete:
        return {};
    default:
        break;
    }
    if (mods & Qt::ControlModifier) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z) return QString(QChar(key - Qt::Key_A + 1));
        return {};
    }
    QString out;
    for (QChar c : e->text())
        if (c.unicode() >= 32 && c.unicode() != 127) out += c;
    return out;
}

// Runs the dialog's ME_ExDataKeyPress over every character a key types into ME_ExData.
class TMemoKeys : public QObject {
  public:
    TMemoKeys(TDlgQvMain* dialog, QPlainTextEdit* memo)
        : QObject(memo), dialog_(dialog), memo_(memo) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != memo_ || event->type() != QEvent::KeyPress) return false;
        auto* k = static_cast<QKeyEvent*>(event);
        // A key with Alt or Meta that reached the memo matched no shortcut:
        // its character is refused, as in the numeric fields.
        if ((k->modifiers() & (Qt::AltModifier | Qt::MetaModifier)) && BriskTypesText(k->text()))
            return true;
        const QString typed = TypedChars(k);
        if (typed.isEmpty()) return false;
        QString out;
        bool changed = false;
        for (QChar c : typed) {
            QChar key = c;
            dialog_->ME_ExDataKeyPress(memo_, key);
            if (key != c) changed = true;
            if (!key.isNull()) out += key;
        }
        if (!changed) return false; // the memo handles the key itself
        if (!out.isEmpty()) memo_->insertPlainText(out);
        return true;
    }

  private:
    TDlgQvMain* dialog_;
    QPlainTextEdit* memo_;
};

} // namespace

void TDlgQvMain::IsoConnectEvents() {
    ui.ME_ExData->installEventFilter(new TMemoKeys(this, ui.ME_ExData));
    connect(ui.TC_IsoChart, &TChart::MouseMove, this,
            [this](Qt::KeyboardModifiers shift, int x, int y) {
                TC_IsoChartMouseMove(ui.TC_IsoChart, shift, x, y);
            });
}

void TDlgQvMain::EnableChartPopup() {
    const bool any = ui.TC_IsoChart->SeriesCount() > 0;
    for (QAction* a : {PM_IC_CopyChart, PM_IC_CopyData, PM_IC_Print, PM_IC_SendExp, PM_IC_ZoomIn,
                       PM_IC_ZoomOut, PM_IC_ZoomReset})
        if (a) a->setEnabled(any);
}

void TDlgQvMain::ClearChartSeries() {
    SerDelete(SerCalc);
    SerCalc = nullptr;
    SerDelete(SerExp);
    SerExp = nullptr;
    ui.TC_IsoChart->SetTitleVisible(false);
}

void TDlgQvMain::PM_IC_CopyChartClick() {
    CursorBusy(1);
    ui.TC_IsoChart->CopyToClipboardMetafile(true);
    CursorBusy(0);
}

void TDlgQvMain::PM_IC_CopyDataClick() {
    if (!SerCalc) return;
    CursorBusy(1);
    std::string text;
    SerCalcToStr(text);
    TarvishCmdEx("CopyText \"%s\"", text.c_str());
    CursorBusy(0);
}

void TDlgQvMain::PM_IC_SendExpClick() {
    if (!SerCalc) return;
    std::string text;
    SerCalcToStr(text);
    ui.ME_ExData->setPlainText(QString::fromUtf8(text.data(), int(text.size())));
}

void TDlgQvMain::PM_IC_ZoomInClick() {
    ui.TC_IsoChart->ZoomPercent(125.0);
}

void TDlgQvMain::PM_IC_ZoomOutClick() {
    ui.TC_IsoChart->ZoomPercent(25.0);
}

void TDlgQvMain::PM_IC_ZoomResetClick() { ui.TC_IsoChart->UndoZoom(); }

void TDlgQvMain::PM_IC_PrintClick() {
    if (!PD_Print.Execute(this)) return;
    CursorBusy(1);
    ui.TC_IsoChart->Print(PD_Print.Printer());
    CursorBusy(0);
}

void TDlgQvMain::PD_PrintShow() {
    // The print dialog announces itself before its window exists: centre it once it shows.
    QTimer::singleShot(0, this, [this] {
        for (QPrintDialog* d : findChildren<QPrintDialog*>())
            if (d->isVisible()) BriskCenterDialog(d, this);
    });
}

void TDlgQvMain::TC_IsoChartMouseMove(QObject*, Qt::KeyboardModifiers, int x, int y) {
    TChart* chart = ui.TC_IsoChart;
    if (chart->SeriesCount() == 0) return;
    int64_t best = FarAway;
    TLineSeries* bestSeries = nullptr;
    int bestPoint = -1;
    for (int s = 0; s < chart->SeriesCount(); ++s) {
        TLineSeries* series = chart->Series(s);
        for (int i = 0, n = series->Count(); i < n; ++i) {
            if (series->YValue(i) == 0.0) continue;
            const int64_t dx = int64_t(x) - series->CalcXPos(i);
            const int64_t dy = int64_t(y) - series->CalcYPos(i);
            const int64_t d = dx * dx + dy * dy;
            if (d < best) {
                best = d;
                bestSeries = series;
                bestPoint = i;
            }
        }
    }
    const QString old = Hint;
    if (bestSeries && best <= ReadOutRange) {
        const char sep = FormatSettings.DecimalSeparator;
        Hint = FormatFixed(bestSeries->XValue(bestPoint), 6, sep) + QLatin1Char('\n') +
               FormatFixed(bestSeries->YValue(bestPoint), 2, sep) + QLatin1Char('%');
        ShowHint = true;
    } else {
        Hint.clear();
        ShowHint = false;
    }
    // The read-out shows over the chart only, and follows the pointer at once.
    chart->chart()->setToolTip(ShowHint ? Hint : QString());
    if (Hint == old) return;
    if (ShowHint && chart->isVisible())
        QToolTip::showText(chart->mapToGlobal(QPoint(x, y)), Hint, chart);
    else
        QToolTip::hideText();
}
