// Helpers shared by the catalog library tests.
#pragma once

#include "tw_locale.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <string>

namespace loctest {

// Writes <root>/Locale/<language>/<name> with the given bytes.
inline bool writeCatalog(const QString& root, const QString& language, const QByteArray& bytes,
                         const QString& name = QStringLiteral("QUORVEL.catalog")) {
    const QString folder = root + "/Locale/" + language;
    if (!QDir().mkpath(folder)) return false;
    QFile f(folder + "/" + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
}

// The text of the calling thread's last failure.
inline std::string lastErrorText() {
    char buf[4096];
    LocGetErrStr(buf, sizeof buf);
    return buf;
}

// Owns an open catalog for the length of a test.
struct CatalogHandle {
    void* cat;
    explicit CatalogHandle(void* c) : cat(c) {}
    ~CatalogHandle() { LocCloseCat(cat); }
    CatalogHandle(const CatalogHandle&) = delete;
    CatalogHandle& operator=(const CatalogHandle&) = delete;
    const char* get(int id, const char* def = nullptr) const { return LocGetCatStr(cat, id, def); }
};

} // namespace loctest
