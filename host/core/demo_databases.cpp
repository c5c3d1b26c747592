#include "demo_databases.h"

#include <signal.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "profile.h"

namespace fs = std::filesystem;

namespace {

const char* const kStagingPrefix = ".demo-databases-";

std::string joinRoot(const std::string& root, const std::string& path) {
    std::string r = root.empty() ? "/" : root;
    if (r.back() != '/') r.push_back('/');
    return r + path;
}

long long countLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char buf[1 << 16];
    long long n = 0;
    bool open = false;  // the last line has no line break yet
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        std::streamsize got = in.gcount();
        n += std::count(buf, buf + got, '\n');
        open = buf[got - 1] != '\n';
    }
    return n + (open ? 1 : 0);
}

bool processAlive(long pid) { return ::kill(pid_t(pid), 0) == 0 || errno == EPERM; }

// Staging folders of hosts that are no longer running (killed while building).
void removeStaleStaging(const std::string& dataDir) {
    std::error_code ec;
    const std::string prefix = kStagingPrefix;
    for (fs::directory_iterator it(dataDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        char* tail = nullptr;
        long pid = std::strtol(name.c_str() + prefix.size(), &tail, 10);
        if (pid > 0 && tail && *tail == 0 && pid != long(::getpid()) && !processAlive(pid)) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

QString lastErrorLine(const std::string& text) {
    QStringList lines = QString::fromUtf8(text.c_str()).split(QRegularExpression("[\r\n]"), Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        if (!it->contains(QStringLiteral(" stored")) || it->startsWith(QStringLiteral("tarvish-mkdb:")))
            return it->trimmed();
    return lines.isEmpty() ? QString() : lines.last().trimmed();
}

} // namespace

std::vector<DemoSource> findDemoSources(const std::string& root) {
    std::vector<DemoSource> out;

    DemoSource metabolites;
    metabolites.database = "Metabolites.db";
    metabolites.package = "openms-common";
    metabolites.rejects = "Metabolites.rejects.txt";
    // Tab-separated without a header: ID, name, SMILES, InChI.
    metabolites.options = {"--format", "tsv", "--no-header", "--name-col", "2", "--smiles-col", "3"};
    const std::string tsv = joinRoot(root, "usr/share/openms/CHEMISTRY/HMDB2StructMapping.tsv");
    if (::access(tsv.c_str(), R_OK) == 0) {
        metabolites.inputs.push_back(tsv);
        metabolites.expectedRecords = countLines(tsv);
    }
    out.push_back(metabolites);

    DemoSource compounds;
    compounds.database = "Common compounds.db";
    compounds.package = "chemical-structures-data";
    compounds.rejects = "Common compounds.rejects.txt";
    compounds.options = {"--format", "cml"};
    std::error_code ec;
    const fs::path dir = joinRoot(root, "usr/share/chemical-structures");
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file() && it->path().extension() == ".cml")
            compounds.inputs.push_back(it->path().string());
    std::sort(compounds.inputs.begin(), compounds.inputs.end());
    compounds.expectedRecords = static_cast<long long>(compounds.inputs.size());
    out.push_back(compounds);
    return out;
}

std::vector<std::string> missingDemoPackages(const std::vector<DemoSource>& sources) {
    std::vector<std::string> out;
    for (const DemoSource& s : sources)
        if (!s.available() && std::find(out.begin(), out.end(), s.package) == out.end())
            out.push_back(s.package);
    return out;
}

bool shouldOfferDemoDatabases(const HostOptions& o) {
    if (o.exec || o.dataDirGiven) return false;
    std::error_code ec;
    if (fs::exists(o.dataDir + "Databases", ec) || ec) return false;
    return twprofile::readString(o.iniFile, "Tarvish", "OfferDemoDatabases", "1") != "0";
}

void setOfferDemoDatabases(const std::string& iniFile, bool offer) {
    twprofile::writeString(iniFile, "Tarvish", "OfferDemoDatabases", offer ? "1" : "0");
}

std::string installedMkdb(const std::string& hostDir) {
    std::string d = hostDir;
    if (!d.empty() && d.back() != '/') d.push_back('/');
    return d + "bin/tarvish-mkdb";
}

std::vector<std::string> demoBuildArguments(const DemoSource& s, const std::string& dir) {
    std::string d = dir;
    if (!d.empty() && d.back() != '/') d.push_back('/');
    std::vector<std::string> a = {"--progress"};
    a.insert(a.end(), s.options.begin(), s.options.end());
    a.insert(a.end(), {"--rejects", d + s.rejects, "-o", d + "Databases/" + s.database});
    a.insert(a.end(), s.inputs.begin(), s.inputs.end());
    return a;
}

long long lastProgressCount(const std::string& text) {
    // The progress line is "\rN read, M stored"; the final summary line
    // ("...: N records read, ...") is not a progress line.
    size_t pos = text.size();
    while (pos > 0) {
        size_t at = text.rfind(" read, ", pos - 1);
        if (at == std::string::npos) return -1;
        size_t stored = text.find(" stored", at + 7);
        size_t digitsEnd = at;
        size_t digitsBegin = digitsEnd;
        while (digitsBegin > 0 && std::isdigit(static_cast<unsigned char>(text[digitsBegin - 1])))
            --digitsBegin;
        const bool lineStart = digitsBegin == 0 || text[digitsBegin - 1] == '\r' || text[digitsBegin - 1] == '\n';
        if (stored != std::string::npos && digitsBegin < digitsEnd && lineStart)
            return std::stoll(text.substr(digitsBegin, digitsEnd - digitsBegin));
        pos = at;
    }
    return -1;
}

bool commitDemoBuild(const std::string& staging, const std::string& dataDir, std::string& error) {
    std::error_code ec;
    const fs::path from = fs::path(staging) / "Databases";
    const fs::path to = fs::path(dataDir) / "Databases";
    bool ok = true;
    if (!fs::exists(to, ec)) {
        fs::rename(from, to, ec);
        if (ec) {
            error = "cannot move " + from.string() + " to " + to.string() + ": " + ec.message();
            ok = false;
        }
    } else if (!fs::is_directory(to, ec)) {
        error = to.string() + " is not a folder";
        ok = false;
    } else {
        // Another program made the folder meanwhile: add what it lacks, keep what it has.
        for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path target = to / it->path().filename();
            std::error_code e;
            if (fs::exists(target, e)) continue;
            fs::rename(it->path(), target, e);
            if (e) {
                error = "cannot move " + it->path().string() + ": " + e.message();
                ok = false;
            }
        }
    }
    if (ok) {
        for (fs::directory_iterator it(staging, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (!it->is_regular_file() || name.size() < 12 ||
                name.compare(name.size() - 12, 12, ".rejects.txt") != 0)
                continue;
            std::error_code e;
            fs::rename(it->path(), fs::path(dataDir) / name, e);
        }
    }
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    return ok;
}

DemoDatabaseBuilder::DemoDatabaseBuilder(std::string mkdb, std::string dataDir,
                                         std::vector<DemoSource> sources, QObject* parent)
    : QObject(parent), mkdb_(std::move(mkdb)), dataDir_(std::move(dataDir)) {
    if (!dataDir_.empty() && dataDir_.back() != '/') dataDir_.push_back('/');
    for (DemoSource& s : sources)
        if (s.available()) {
            total_ += std::max(1LL, s.expectedRecords);
            sources_.push_back(std::move(s));
        }
}

DemoDatabaseBuilder::~DemoDatabaseBuilder() {
    if (running_) {
        if (process_) {
            process_->disconnect(this);
            process_->kill();
            process_->waitForFinished(5000);
        }
        removeStaging();
    }
}

void DemoDatabaseBuilder::start() {
    if (running_) return;
    if (sources_.empty()) {
        emit finished(false, tr("None of the demo data is installed."));
        return;
    }
    std::error_code ec;
    fs::create_directories(dataDir_, ec);
    removeStaleStaging(dataDir_);
    staging_ = dataDir_ + kStagingPrefix + std::to_string(::getpid());
    fs::remove_all(staging_, ec);
    fs::create_directories(fs::path(staging_) / "Databases", ec);
    if (ec) {
        emit finished(false, tr("Cannot create %1: %2")
                                 .arg(QString::fromStdString(staging_), QString::fromStdString(ec.message())));
        return;
    }
    running_ = true;
    step_ = 0;
    doneBefore_ = 0;
    built_ = 0;
    failures_.clear();
    startStep();
}

void DemoDatabaseBuilder::startStep() {
    const DemoSource& s = sources_[step_];
    const QString label = tr("Building %1 from %2").arg(QString::fromStdString(s.database),
                                                       QString::fromStdString(s.package));
    emit progress(doneBefore_, label);
    stderrTail_.clear();
    process_ = new QProcess(this);
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    process_->setStandardOutputFile(QProcess::nullDevice());
    connect(process_, &QProcess::readyReadStandardError, this, [this, label] {
        stderrTail_ += process_->readAllStandardError().toStdString();
        long long n = lastProgressCount(stderrTail_);
        if (stderrTail_.size() > 4096) stderrTail_.erase(0, stderrTail_.size() - 4096);
        if (n >= 0) {
            const long long expected = std::max(1LL, sources_[step_].expectedRecords);
            emit progress(doneBefore_ + std::min(n, expected), label);
        }
    });
    connect(process_, &QProcess::finished, this, &DemoDatabaseBuilder::stepFinished);
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) stepFinished(-1, QProcess::CrashExit);
    });
    QStringList args;
    for (const std::string& a : demoBuildArguments(s, staging_)) args << QString::fromStdString(a);
    process_->start(QString::fromStdString(mkdb_), args);
}

void DemoDatabaseBuilder::stepFinished(int exitCode, QProcess::ExitStatus status) {
    if (!running_ || !process_) return;
    QProcess* p = process_;
    process_ = nullptr;
    p->disconnect(this);
    stderrTail_ += p->readAllStandardError().toStdString();
    const DemoSource& s = sources_[step_];
    if (status != QProcess::NormalExit || exitCode != 0) {
        QString why = p->error() == QProcess::FailedToStart
                          ? tr("cannot run %1").arg(QString::fromStdString(mkdb_))
                          : lastErrorLine(stderrTail_);
        failures_ << QStringLiteral("%1: %2").arg(QString::fromStdString(s.database), why);
    } else {
        ++built_;
    }
    p->deleteLater();
    doneBefore_ += std::max(1LL, s.expectedRecords);
    emit progress(doneBefore_, QString());
    if (++step_ < sources_.size()) {
        startStep();
        return;
    }
    // Nothing built: no empty Databases folder, so that the offer comes again.
    std::string error;
    if (built_ == 0) removeStaging();
    else if (!commitDemoBuild(staging_, dataDir_, error)) failures_ << QString::fromStdString(error);
    running_ = false;
    emit finished(failures_.isEmpty(), failures_.join('\n'));
}

void DemoDatabaseBuilder::cancel() {
    if (!running_) return;
    running_ = false;
    if (process_) {
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(5000);
        process_->deleteLater();
        process_ = nullptr;
    }
    removeStaging();
    emit finished(false, tr("Cancelled."));
}

void DemoDatabaseBuilder::removeStaging() {
    std::error_code ec;
    if (!staging_.empty()) fs::remove_all(staging_, ec);
}
