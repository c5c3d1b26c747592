#include "demo_database_dialog.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStringList>

#include "demo_databases.h"

namespace {

QString installHint(const std::vector<std::string>& packages) {
    QStringList names;
    for (const std::string& p : packages) names << QString::fromStdString(p);
    const QString command = QStringLiteral("sudo apt install ") + names.join(' ');
    if (names.size() == 1)
        return QObject::tr("Install the Debian package %1 for it:\n    %2").arg(names.front(), command);
    const QString last = names.takeLast();
    return QObject::tr("Install the Debian packages %1 and %2 for them:\n    %3")
        .arg(names.join(QStringLiteral(", ")), last, command);
}

} // namespace

bool offerDemoDatabases(QWidget* parent, const HostOptions& options, bool atStart) {
    std::vector<DemoSource> sources = findDemoSources();
    const std::vector<std::string> missing = missingDemoPackages(sources);
    const QString dbDir = QString::fromStdString(options.dataDir + "Databases");

    QMessageBox box(parent);
    box.setWindowTitle(QObject::tr("Demo databases"));
    QCheckBox* dontAsk = nullptr;
    if (atStart) {
        dontAsk = new QCheckBox(QObject::tr("Do not ask again"), &box);
        box.setCheckBox(dontAsk);
    }
    if (missing.size() == sources.size()) {
        box.setIcon(QMessageBox::Information);
        box.setText(QObject::tr("Tarvish builds its demo molecule databases from Debian's data "
                                "packages, which are not installed.\n\n%1")
                        .arg(installHint(missing)));
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        if (dontAsk && dontAsk->isChecked()) setOfferDemoDatabases(options.iniFile, false);
        return false;
    }
    QStringList names;
    long long records = 0;
    for (const DemoSource& s : sources)
        if (s.available()) {
            names << QString::fromStdString(s.database);
            records += s.expectedRecords;
        }
    QString text = QObject::tr("Build the demo molecule databases (%1, %2 records) into %3?\n\n"
                               "This takes a minute or two.")
                       .arg(names.join(QStringLiteral(", ")), QLocale().toString(records), dbDir);
    if (atStart)
        text = QObject::tr("Your data folder has no molecule databases yet.\n\n") + text;
    else if (QFileInfo::exists(dbDir))
        text += QStringLiteral("\n") + QObject::tr("Databases already in the folder are kept as they are.");
    if (!missing.empty()) text += QStringLiteral("\n\n") + QObject::tr("Some demo data is missing. ") + installHint(missing);
    box.setIcon(QMessageBox::Question);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    const int answer = box.exec();
    if (dontAsk && dontAsk->isChecked()) setOfferDemoDatabases(options.iniFile, false);
    if (answer != QMessageBox::Yes) return false;

    DemoDatabaseBuilder builder(installedMkdb(options.hostDir), options.dataDir, sources);
    QProgressDialog dialog(QObject::tr("Preparing the demo databases..."), QObject::tr("Cancel"), 0, 1000, parent);
    dialog.setObjectName(QStringLiteral("DemoDatabaseProgress"));
    dialog.setWindowTitle(QObject::tr("Building the demo databases"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumWidth(460);
    const double scale = 1000.0 / double(std::max(1LL, builder.total()));
    QString currentLabel;
    QObject::connect(&builder, &DemoDatabaseBuilder::progress, &dialog,
                     [&](long long done, const QString& label) {
                         if (!label.isEmpty()) currentLabel = label;
                         dialog.setLabelText(QObject::tr("%1\n%2 of %3 records")
                                                 .arg(currentLabel, QLocale().toString(done),
                                                      QLocale().toString(builder.total())));
                         dialog.setValue(int(double(done) * scale));
                     });
    bool ok = false;
    QString message;
    QEventLoop loop;
    QObject::connect(&builder, &DemoDatabaseBuilder::finished, &loop, [&](bool success, const QString& m) {
        ok = success;
        message = m;
        loop.quit();
    });
    QObject::connect(&dialog, &QProgressDialog::canceled, &builder, &DemoDatabaseBuilder::cancel);
    dialog.show();
    builder.start();
    if (builder.running()) loop.exec();
    const bool cancelled = dialog.wasCanceled();
    dialog.hide();
    if (cancelled) return false;
    if (ok)
        QMessageBox::information(parent, QObject::tr("Demo databases"),
                                 QObject::tr("The demo databases are ready in %1.").arg(dbDir));
    else
        QMessageBox::warning(parent, QObject::tr("Demo databases"),
                             QObject::tr("Some demo databases could not be built:\n%1").arg(message));
    return ok;
}
