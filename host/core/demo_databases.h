#pragma once
// The demo molecule databases the host offers to build on its first start,
// from Debian's data packages, with the installed tarvish-mkdb. Everything
// here runs without a window; the dialog in app/ only shows it.
#include <QObject>
#include <QProcess>
#include <memory>
#include <string>
#include <vector>

#include "host_settings.h"

// One demo database and the Debian data it is built from.
struct DemoSource {
    std::string database;              // file name in Databases/, e.g. "Metabolites.db"
    std::string package;               // the Debian package that ships the data
    std::string rejects;               // rejection list, written beside Databases/
    std::vector<std::string> options;  // tarvish-mkdb options for this kind of input
    std::vector<std::string> inputs;   // the data files found; empty: package missing
    long long expectedRecords = 0;     // records the inputs hold, for the progress bar
    bool available() const { return !inputs.empty(); }
};

// The demo sources under root ("/" on a real system; tests pass a fake tree).
std::vector<DemoSource> findDemoSources(const std::string& root = "/");

// The packages to install for the sources that are missing, in order.
std::vector<std::string> missingDemoPackages(const std::vector<DemoSource>& sources);

// True when the host should offer to build the demo databases: a window is
// shown, the data directory is the default one, it has no Databases folder,
// and the user has not said "do not ask again" (settings file).
bool shouldOfferDemoDatabases(const HostOptions& options);
void setOfferDemoDatabases(const std::string& iniFile, bool offer);

// The tarvish-mkdb of the installation (HostDir/bin/tarvish-mkdb).
std::string installedMkdb(const std::string& hostDir);

// The command line building one source into dir (Databases/ and the rejects).
std::vector<std::string> demoBuildArguments(const DemoSource& s, const std::string& dir);

// Reads the records-read count from tarvish-mkdb's progress output: the last
// complete "N read, M stored" of the text. Returns -1 when there is none.
long long lastProgressCount(const std::string& text);

// Moves what was built in staging (Databases/*.db, *.rejects.txt) into
// dataDir: the whole Databases folder by one rename when dataDir has none,
// else each database the folder does not hold yet. Removes staging.
bool commitDemoBuild(const std::string& staging, const std::string& dataDir, std::string& error);

// Builds the available sources one after the other into a staging folder of
// the data directory, and moves the databases into place only at the end, so
// a cancel or a failure leaves no half-built file behind.
class DemoDatabaseBuilder : public QObject {
    Q_OBJECT
public:
    DemoDatabaseBuilder(std::string mkdb, std::string dataDir, std::vector<DemoSource> sources,
                        QObject* parent = nullptr);
    ~DemoDatabaseBuilder() override;

    void start();
    void cancel();
    bool running() const { return running_; }
    // Total progress units (records of every available source).
    long long total() const { return total_; }

signals:
    // done of total() units; label says which database is being built.
    void progress(long long done, const QString& label);
    // ok: every database was built and moved into place; message for the user.
    void finished(bool ok, const QString& message);

private:
    void startStep();
    void stepFinished(int exitCode, QProcess::ExitStatus status);
    void removeStaging();

    std::string mkdb_, dataDir_, staging_;
    std::vector<DemoSource> sources_;
    size_t step_ = 0, built_ = 0;
    long long total_ = 0, doneBefore_ = 0;
    bool running_ = false;
    std::string stderrTail_;
    QStringList failures_;
    QProcess* process_ = nullptr;
};
