// Fuzz target: the input readers of tarvish-mkdb (SMILES, CSV, TSV, SDF, CML), the clean-up
// of the names they read, and optionally the conversion of their records with Indigo.
//
// Input: a byte choosing the reader and its options, the column choices and the SD name
// field, then the file, which the reader reads from a memory file. Properties:
//  - a reader fails only with InputError (a file or a column choice it cannot use);
//  - every record says where it starts; a record rejected as read holds no structure;
//    the SMILES reader gives one record per non-blank line;
//  - names decode to well-formed UTF-8, and the clean-up keeps well-formed text as it is;
//  - a converted record has a formula that reads back as itself and a positive mass.
// Indigo's own parsing is not the subject: conversion is tried on a few short records.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "formula.h"
#include "fuzz_input.h"
#include "molecule.h"
#include "readers.h"
#include "text_utils.h"

namespace {

int g_memfd = -1;
std::string g_path;

void setFile(const std::string& content) {
    FUZZ_CHECK(::ftruncate(g_memfd, 0) == 0);
    FUZZ_CHECK(::pwrite(g_memfd, content.data(), content.size(), 0) == ssize_t(content.size()));
}

void checkText(const std::string& raw) {
    const std::string decoded = mkdb::decodeEntities(raw);
    if (raw.find('&') == std::string::npos) FUZZ_CHECK(decoded == raw);
    const std::string clean = mkdb::sanitizeUtf8(decoded);
    FUZZ_CHECK(Utf8WellFormed(clean), "clean-up left ill-formed UTF-8");
    if (Utf8WellFormed(decoded)) FUZZ_CHECK(clean == decoded, "clean-up changed well-formed text");
    FUZZ_CHECK(mkdb::sanitizeUtf8(clean) == clean);
}

void checkConverted(const mkdb::Outcome& out) {
    if (!out.ok) {
        FUZZ_CHECK(!out.reason.empty(), "rejected without a reason");
        return;
    }
    FUZZ_CHECK(std::isfinite(out.row.mass) && out.row.mass > 0);
    const tvchem::FormulaResult f = tvchem::parseFormula(out.row.formula);
    FUZZ_CHECK(f.ok && f.formula.hill() == out.row.formula, "formula \"%s\"",
               out.row.formula.c_str());
    FUZZ_CHECK(Utf8WellFormed(out.row.name));
    FUZZ_CHECK(out.row.name.find_first_of("\r\n\t") == std::string::npos);
    FUZZ_CHECK(!out.row.smiles.empty());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_memfd = ::memfd_create("mkdb-input", 0);
    if (g_memfd < 0) std::abort();
    g_path = "/proc/self/fd/" + std::to_string(g_memfd);
    mkdb::initIndigo();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    FuzzInput in(data, size);
    const uint8_t mode = in.byte();
    const int kind = mode % 6; // SMILES, CSV, TSV, SDF, CML, gross formula
    const bool convert = mode & 0x08;
    const std::string smilesColumn = in.shortString(16), nameColumn = in.shortString(16);
    const std::string nameField = in.shortString(16);
    const std::string content = in.rest();

    if (kind == 5) {
        // A gross formula as Indigo writes it ("C6 H12 O6"), normalised to Hill's form.
        std::string hill, reason;
        double mass = 0;
        if (mkdb::normaliseFormula(content, hill, mass, reason)) {
            FUZZ_CHECK(std::isfinite(mass) && mass > 0);
            const tvchem::FormulaResult f = tvchem::parseFormula(hill);
            FUZZ_CHECK(f.ok && f.formula.hill() == hill);
        } else {
            FUZZ_CHECK(!reason.empty());
        }
        return 0;
    }

    setFile(content);
    long records = 0, converted = 0;
    const mkdb::StructureKind expectedKind = kind == 3   ? mkdb::StructureKind::Molfile
                                             : kind == 4 ? mkdb::StructureKind::Cml
                                                         : mkdb::StructureKind::Smiles;
    const long lines = long(std::count(content.begin(), content.end(), '\n')) + 1;
    auto sink = [&](mkdb::Record&& r) {
        ++records;
        FUZZ_CHECK(r.source == g_path);
        FUZZ_CHECK(r.kind == expectedKind);
        FUZZ_CHECK(r.line >= 1 && r.line <= lines, "record at line %ld of %ld", r.line, lines);
        if (!r.problem.empty()) FUZZ_CHECK(r.structure.empty(), "a rejected record with a structure");
        checkText(r.name);
        if (convert && converted < 4 && r.structure.size() <= 300) {
            ++converted;
            checkConverted(mkdb::convert(r));
        }
    };

    try {
        switch (kind) {
        case 0: {
            mkdb::readSmilesFile(g_path, sink);
            long expected = 0;
            size_t pos = 0;
            while (pos < content.size()) {
                size_t eol = content.find('\n', pos);
                if (eol == std::string::npos) eol = content.size();
                if (!mkdb::trimBlanks(std::string_view(content).substr(pos, eol - pos)).empty())
                    ++expected;
                pos = eol + 1;
            }
            FUZZ_CHECK(records == expected, "%ld records from %ld lines", records, expected);
            break;
        }
        case 1:
        case 2: {
            mkdb::DelimitedOptions o;
            o.delimiter = kind == 1 ? ',' : '\t';
            o.quoted = kind == 1;
            o.header = int((mode >> 4) % 3) - 1;
            if (mode & 0x40) o.smiles = mkdb::ColumnRef::parse(smilesColumn);
            if (mode & 0x80) o.name = mkdb::ColumnRef::parse(nameColumn);
            mkdb::readDelimitedFile(g_path, o, sink);
            break;
        }
        case 3:
            mkdb::readSdfFile(g_path, (mode & 0x10) ? nameField : std::string(), sink);
            break;
        case 4:
            mkdb::readCmlFile(g_path, sink);
            break;
        }
    } catch (const mkdb::InputError& e) {
        FUZZ_CHECK(kind == 1 || kind == 2, "%s", e.what()); // only column choices fail
    }
    return 0;
}
