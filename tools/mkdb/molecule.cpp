#include "molecule.h"

#include <indigo.h>

#include <cctype>
#include <cmath>
#include <cstring>

#include "formula.h"
#include "text_utils.h"

namespace mkdb {
namespace {

std::string lastError() {
    const char* e = indigoGetLastError();
    return e && *e ? e : "unknown Indigo error";
}

// Frees an Indigo object when it goes out of scope.
struct IndigoObject {
    int h;
    explicit IndigoObject(int handle) : h(handle) {}
    ~IndigoObject() {
        if (h > 0) indigoFree(h);
    }
    IndigoObject(const IndigoObject&) = delete;
    IndigoObject& operator=(const IndigoObject&) = delete;
};

// A SMILES writes an isotope label as '[' followed by the mass number ("[2H]", "[13CH4]").
bool hasIsotopeLabel(const std::string& smiles) {
    for (size_t i = 0; i + 1 < smiles.size(); ++i)
        if (smiles[i] == '[' && std::isdigit(static_cast<unsigned char>(smiles[i + 1])))
            return true;
    return false;
}

std::string cleanName(const std::string& raw) {
    std::string n = sanitizeUtf8(decodeEntities(raw));
    // One line of text: line breaks and tabs become blanks.
    for (char& c : n)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    return std::string(trimBlanks(n));
}

int chargeOf(int atom) {
    int c = 0;
    return indigoGetCharge(atom, &c) == 1 ? c : 0;
}

// Sum of the bond orders of an atom (aromatic bonds make the sum unusable: -1).
int bondOrderSum(int atom) {
    IndigoObject it(indigoIterateNeighbors(atom));
    if (it.h < 0) return -1;
    int sum = 0;
    for (int nei; (nei = indigoNext(it.h)) > 0;) {
        IndigoObject n(nei);
        const int order = indigoBondOrder(indigoBond(nei));
        if (order < 1 || order > 3) return -1;
        sum += order;
    }
    return sum;
}

// Files that draw nitro groups, N-oxides or iminium ions without their charges leave an
// uncharged nitrogen with four bonds, whose hydrogens cannot be counted. The only reading of
// such a nitrogen is N+; a terminal, singly bonded, uncharged oxygen on it is then O-.
// Returns true when something was changed.
bool chargeFourBondNitrogens(int mol) {
    bool changed = false;
    IndigoObject atoms(indigoIterateAtoms(mol));
    if (atoms.h < 0) return false;
    for (int a; (a = indigoNext(atoms.h)) > 0;) {
        IndigoObject atom(a);
        const char* sym = indigoSymbol(a);
        if (!sym || std::string(sym) != "N" || chargeOf(a) != 0 || bondOrderSum(a) != 4) continue;
        indigoSetCharge(a, 1);
        changed = true;
        IndigoObject it(indigoIterateNeighbors(a));
        for (int nei; it.h > 0 && (nei = indigoNext(it.h)) > 0;) {
            IndigoObject n(nei);
            const char* ns = indigoSymbol(nei);
            if (ns && std::string(ns) == "O" && chargeOf(nei) == 0 && indigoDegree(nei) == 1 &&
                indigoBondOrder(indigoBond(nei)) == 1) {
                indigoSetCharge(nei, -1);
                break;
            }
        }
    }
    return changed;
}

// Indigo reads a text as CML when it starts with '<' and holds a molecule element, and its
// CML reader takes the first molecule's <atomArray> child without checking that there is
// one: a molecule element without it crashes the process (a null dereference inside the
// toolkit). So a SMILES or a molfile that Indigo would take for CML is refused, and a CML
// molecule must have its atom array as a direct child, which is checked here as an XML
// reader sees it (comments, CDATA sections, processing instructions and quoted attribute
// values skipped).
bool namesMoleculeElement(const std::string& text) {
    return text.find("<molecule") != std::string::npos;
}

bool hasAtomArray(const std::string& cml) {
    size_t pos = 0;
    int depth = 0, moleculeDepth = -1;
    auto skipPast = [&](const char* end) {
        const size_t e = cml.find(end, pos);
        pos = e == std::string::npos ? std::string::npos : e + std::strlen(end);
        return pos != std::string::npos;
    };
    while ((pos = cml.find('<', pos)) != std::string::npos) {
        if (cml.compare(pos, 4, "<!--") == 0) {
            if (!skipPast("-->")) return false;
        } else if (cml.compare(pos, 9, "<![CDATA[") == 0) {
            if (!skipPast("]]>")) return false;
        } else if (cml.compare(pos, 2, "<?") == 0) {
            if (!skipPast("?>")) return false;
        } else if (cml.compare(pos, 2, "<!") == 0) {
            if (!skipPast(">")) return false;
        } else if (cml.compare(pos, 2, "</") == 0) {
            if (!skipPast(">")) return false;
            if (--depth < moleculeDepth) return false; // the molecule ended without one
        } else {
            size_t e = pos + 1;
            while (e < cml.size() && !std::isspace(static_cast<unsigned char>(cml[e])) &&
                   cml[e] != '/' && cml[e] != '>')
                ++e;
            const std::string name = cml.substr(pos + 1, e - pos - 1);
            char quote = 0;
            for (; e < cml.size() && (quote || cml[e] != '>'); ++e) {
                if (quote)
                    quote = cml[e] == quote ? 0 : quote;
                else if (cml[e] == '"' || cml[e] == '\'')
                    quote = cml[e];
            }
            if (e >= cml.size()) return false;
            const bool empty = cml[e - 1] == '/';
            pos = e + 1;
            if (moleculeDepth < 0) {
                if (name != "molecule" || empty) return false;
                moleculeDepth = depth + 1;
            } else if (depth == moleculeDepth && name == "atomArray") {
                return true;
            }
            if (!empty) ++depth;
        }
    }
    return false;
}

} // namespace

double RoundMass(double mass) {
    // The double nearest to the decimal with 6 places, so that the shortest
    // text that reads back to it is that decimal (180.063388).
    return std::round(mass * 1e6) / 1e6;
}

void initIndigo() {
    // A questionable stereo mark must not cost the whole record: the formula does not
    // depend on it.
    indigoSetOptionBool("ignore-stereochemistry-errors", 1);
}

bool normaliseFormula(const std::string& gross, std::string& hill, double& mass,
                      std::string& reason) {
    const tvchem::FormulaResult fr = tvchem::parseFormula(gross);
    if (!fr.ok) {
        reason = "formula \"" + gross + "\" not usable: " + fr.error;
        return false;
    }
    mass = tvchem::monoisotopicMass(fr.formula);
    if (!std::isfinite(mass) || mass <= 0) {
        reason = "no monoisotopic mass for formula \"" + gross + "\"";
        return false;
    }
    mass = RoundMass(mass);
    hill = fr.formula.hill();
    return true;
}

Outcome convert(const Record& record) {
    Outcome out;
    if (!record.problem.empty()) {
        out.reason = record.problem;
        return out;
    }
    const std::string structure(trimBlanks(record.structure));
    if (structure.empty()) {
        out.reason = "no structure";
        return out;
    }

    if (record.kind == StructureKind::Smiles ? structure.find('<') != std::string::npos
        : record.kind == StructureKind::Molfile ? namesMoleculeElement(structure)
                                                : !hasAtomArray(structure)) {
        out.reason = record.kind == StructureKind::Cml
                         ? "no atoms (a <molecule> without an <atomArray>)"
                         : "not parsed: the text reads as XML";
        return out;
    }
    IndigoObject mol(indigoLoadMoleculeFromString(record.structure.c_str()));
    if (mol.h < 0) {
        out.reason = "not parsed: " + lastError();
        return out;
    }
    const int atoms = indigoCountAtoms(mol.h);
    if (atoms < 0) {
        out.reason = "not parsed: " + lastError();
        return out;
    }
    if (atoms == 0) {
        out.reason = "empty molecule";
        return out;
    }
    const int rsites = indigoCountRSites(mol.h), pseudo = indigoCountPseudoatoms(mol.h);
    if (rsites != 0 || pseudo != 0) {
        out.reason = rsites < 0 || pseudo < 0 ? "not parsed: " + lastError()
                                              : "structure has R-sites or pseudo atoms";
        return out;
    }

    IndigoObject gross(indigoGrossFormula(mol.h));
    if (gross.h < 0 && chargeFourBondNitrogens(mol.h)) gross.h = indigoGrossFormula(mol.h);
    const char* g = gross.h < 0 ? nullptr : indigoToString(gross.h);
    if (!g) {
        out.reason = "no formula: " + lastError();
        return out;
    }
    const std::string grossText = g; // copied at once: the next call overwrites it

    if (record.kind == StructureKind::Smiles) {
        out.row.smiles = structure;
    } else {
        const char* can = indigoCanonicalSmiles(mol.h);
        if (!can) {
            out.reason = "no SMILES: " + lastError();
            return out;
        }
        out.row.smiles = can; // copied at once: the next call overwrites it
    }
    // The gross formula counts isotopes as their element, so its mass would be wrong.
    if (hasIsotopeLabel(out.row.smiles)) {
        out.reason = "isotope-labelled atoms (the formula cannot express them)";
        return out;
    }

    if (!normaliseFormula(grossText, out.row.formula, out.row.mass, out.reason)) return out;

    out.row.name = cleanName(record.name);
    out.ok = true;
    return out;
}

} // namespace mkdb
