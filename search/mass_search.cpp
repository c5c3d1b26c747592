// The mass search: the typed mass, corrected for the ion mode, and the ppm
// tolerance become an exclusive mass window; the host runs the query on the
// open database, and its answer fills LV_Results, RowIds and RowSmiles.
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <new>

#include "brisk.h"
#include "dlg_main.h"
#include "host_cmd.h"
#include "localized.h"
#include "plugin_state.h"
#include "search_core.h"

namespace {

enum : int32_t { StrOutOfMemory = 55 };

// The two query forms (printf-style; the formatter writes machine numbers
// with the point). The TOP form keeps the first N hits of the window in name
// order, the LIMIT form the N lightest; both answer in ascending mass.
const char* const SqlTop = "DbSqlExec %s \"SELECT * FROM (SELECT TOP %d ID, MassMI, Formula, "
                           "Name, Smiles FROM Molecules WHERE (MassMI > %lf) AND (MassMI < %lf) "
                           "ORDER BY Name) ORDER BY MassMI;\"";
const char* const SqlLimit = "DbSqlExec %s \"SELECT ID, MassMI, Formula, Name, Smiles FROM "
                             "Molecules WHERE (MassMI > %lf) AND (MassMI < %lf) ORDER BY MassMI "
                             "ASC LIMIT %d;\"";

QString Utf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

void TDlgQvMain::BT_SearchClick() {
    const char sep = FormatSettings.DecimalSeparator;
    double typed = 0, ppm = 0;
    int32_t maxResults = 0;
    // Texts that are no number end the click quietly. A limit below 1 would
    // read as "no limit" to the database: it ends the click too.
    if (!UserToDouble(ui.STR_Mass->text(), sep, typed) ||
        !UserToDouble(ui.STR_Ppm->text(), sep, ppm) ||
        !UserToInt(ui.STR_MaxResults->text(), maxResults) || maxResults < 1)
        return;
    const TMassWindow w = MassWindow(typed, ppm, ui.CB_Mass->currentIndex());
    SearchMass = w.Mass;
    SearchPpm = ppm;

    CursorBusy(1);
    ui.LV_Results->clear();
    EnableResPopup();
    ui.LBL_FoundNumVal->setText(QStringLiteral("0"));

    TZfString answer;
    if (!answer) {
        CatErr(StrOutOfMemory);
        CursorBusy(0);
        return;
    }
    auto query = [&] {
        return DbFormat == 1
                   ? TarvishCmdSafe(answer.get(), SqlTop, DbName.c_str(), maxResults, w.Low, w.High)
                   : TarvishCmdSafe(answer.get(), SqlLimit, DbName.c_str(), w.Low, w.High,
                                    maxResults);
    };
    int32_t rc = query();
    if (rc != 0) {
        // The host may have lost the database (closed behind our back, or
        // restarted): open it once more under a new handle and retry once.
        // The old handle is closed first, so that no failing search leaves
        // handles open in the host.
        DbClose();
        TarvishCmdSafe(answer.get(), "Get DataDir");
        if (TarvishCmdSafe(answer.get(), "DbOpen \"%aDatabases\\%s\"", answer.get(),
                           DbFile.c_str()) == 0)
            DbName = DbHandleName(answer.text());
        if (DbName.empty()) {
            // The database is gone: the choice goes back to the placeholder,
            // from where choosing the database again opens it again.
            ui.CB_Database->setCurrentIndex(0);
            DbFile = DbEntryFile(0);
            EnableButtons();
            CursorBusy(0);
            return;
        }
        rc = query();
    }
    if (rc != 0 || answer.text().empty()) {
        CursorBusy(0);
        return;
    }

    // Rows, cut out of the answer in place; then the hidden data and the items.
    std::vector<TAnswerRow> rows;
    int32_t* ids = nullptr;
    QList<QTreeWidgetItem*> items;
    try {
        ParseSearchAnswer(answer.text(), static_cast<size_t>(maxResults), rows);
        if (rows.empty()) {
            CursorBusy(0);
            return;
        }
        ids = new int32_t[rows.size()];
        RowSmiles->clear();
        RowSmiles->reserve(rows.size());
        items.reserve(static_cast<qsizetype>(rows.size()));
        for (size_t k = 0; k < rows.size(); ++k) {
            const TAnswerRow& r = rows[k];
            ids[k] = r.Id;
            QString mass = Utf8(r.Mass);
            if (sep != '.') {
                const qsizetype p = mass.indexOf(QLatin1Char('.'));
                if (p >= 0) mass[p] = QLatin1Char(sep);
            }
            auto* item = new QTreeWidgetItem(QStringList{mass, Utf8(r.Formula), Utf8(r.Name)});
            item->setData(0, Qt::UserRole, static_cast<int>(k));
            items.append(item);
            RowSmiles->emplace_back(r.Smiles);
        }
    } catch (const std::bad_alloc&) {
        qDeleteAll(items);
        delete[] ids;
        RowSmiles->clear();
        CatErr(StrOutOfMemory);
        CursorBusy(0);
        return;
    }
    delete[] RowIds;
    RowIds = ids;
    RowCount = static_cast<int32_t>(rows.size());

    TResultsView* lv = ui.LV_Results;
    lv->setUpdatesEnabled(false);
    lv->addTopLevelItems(items);
    FitMassColumn();
    lv->setUpdatesEnabled(true);
    ui.LBL_FoundNumVal->setText(QString::number(RowCount));
    PreviewUpdate();
    CursorBusy(0);
}
