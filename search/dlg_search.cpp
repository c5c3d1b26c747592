// The main dialog's database choice: the listing of the databases folder, the
// opening and closing of a database through the host, the ion mode and the
// enabling of the search.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cstring>

#include "brisk.h"
#include "dlg_main.h"
#include "host_cmd.h"
#include "localized.h"
#include "plugin_state.h"
#include "search_core.h"

namespace {

enum : int32_t { StrChooseDatabase = 8 };

// Item data of a CB_Database entry beside its tag: the file name as found.
constexpr int DbFileRole = Qt::UserRole + 1;

// The command language accepts both separators; the file system wants "/".
std::string ToLocalPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

} // namespace

std::string TDlgQvMain::DbEntryFile(int index) const {
    QComboBox* cb = ui.CB_Database;
    if (index < 0 || index >= cb->count()) return {};
    // The name as found in the folder: file names are case-sensitive here,
    // so "Drugs.MDB" must not become "Drugs.mdb".
    const QVariant found = cb->itemData(index, DbFileRole);
    if (found.isValid()) return found.toString().toUtf8().toStdString();
    const int tag = cb->itemData(index).toInt();
    const char* ext = tag >= 0 && tag < DbExtCount ? DbExt[tag] : DbExt[0];
    return cb->itemText(index).toUtf8().toStdString() + ext;
}

void TDlgQvMain::ListDatabases() {
    QComboBox* cb = ui.CB_Database;
    cb->setUpdatesEnabled(false);
    cb->clear();
    cb->addItem(QString::fromUtf8(GetStr(StrChooseDatabase)), 0);

    std::string dataDir;
    if (TwInfo && TwInfo->Command) {
        TwInfo->Command("Get DataDir");
        if (TwInfo->ResultText) dataDir = TwInfo->ResultText;
    }
    if (!dataDir.empty()) {
        for (const TDbEntry& e : ListDatabaseFiles(ToLocalPath(dataDir + "Databases"))) {
            cb->addItem(QString::fromUtf8(e.Name.c_str()), e.Tag);
            cb->setItemData(cb->count() - 1, QString::fromUtf8(e.File.c_str()), DbFileRole);
        }
    }

    // The entry of the database chosen last, if it is still there.
    int select = 0;
    if (!DbFile.empty()) {
        for (int i = 1; i < cb->count(); ++i) {
            if (CompareText(DbEntryFile(i), DbFile) == 0) {
                select = i;
                break;
            }
        }
    }
    cb->setCurrentIndex(select);
    cb->setUpdatesEnabled(true);
}

void TDlgQvMain::DbClose() {
    if (DbName.empty()) return;
    TarvishCmdEx("DbClose %s", DbName.c_str());
    DbName.clear();
}

void TDlgQvMain::CB_DatabaseChange() {
    const int index = ui.CB_Database->currentIndex();
    const std::string file = DbEntryFile(index);
    if (file != DbFile) {
        DbClose();
        DbFile = file;
        if (index > 0) {
            CursorBusy(1);
            TZfString answer;
            int32_t rc = -1;
            if (answer) {
                TarvishCmdSafe(answer.get(), "Get DataDir");
                rc = TarvishCmdSafe(answer.get(), "DbOpen \"%aDatabases\\%s\"", answer.get(),
                                    DbFile.c_str());
            }
            const std::string handle = rc == 0 ? DbHandleName(answer.text()) : std::string();
            if (handle.empty()) {
                // Nothing opened: back to the placeholder, which is then
                // also the entry chosen last, so choosing the database
                // again tries to open it again.
                ui.CB_Database->setCurrentIndex(0);
                DbFile = DbEntryFile(0);
            } else {
                DbName = handle;
                rc = TarvishCmdSafe(answer.get(), "DbInfo %s Format", DbName.c_str());
                DbFormat = rc == 0 && _ZF_StriCmpC(answer.get(), "ACCESS") == 0 ? 1 : 0;
            }
            CursorBusy(0);
        }
    }
    // Also when the entry's database is already open: the choice may have
    // moved away from the placeholder (after BT_DefaultClick), which the
    // search button has to follow.
    if (!FirstShow) {
        EnableButtons();
        SaveIni = 1;
    }
}

void TDlgQvMain::CB_MassChange() {
    SaveIni = 1;
}

void TDlgQvMain::EnableButtons() {
    bool enable = !DbName.empty() && !ui.STR_Mass->text().isEmpty() &&
                  !ui.STR_MaxResults->text().isEmpty() && !ui.STR_Ppm->text().isEmpty() &&
                  ui.CB_Database->currentIndex() > 0;
    if (enable) {
        double mass = 0, ppm = 0;
        int32_t maxResults = 0;
        const char sep = FormatSettings.DecimalSeparator;
        enable = UserToDouble(ui.STR_Mass->text(), sep, mass) && mass > 0 &&
                 UserToInt(ui.STR_MaxResults->text(), maxResults) && maxResults > 0 &&
                 UserToDouble(ui.STR_Ppm->text(), sep, ppm) && ppm > 0;
    }
    ui.BT_Search->setEnabled(enable);
    SaveIni = 1;
}
