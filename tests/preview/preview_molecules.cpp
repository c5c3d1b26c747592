#include "preview_molecules.h"

namespace preview_test {

const char* const Phenol = "c1ccccc1O";
const char* const Glucose = "OC[C@H]1OC(O)[C@H](O)[C@@H](O)[C@@H]1O";
const char* const Atorvastatin =
    "CC(C)c1c(C(=O)Nc2ccccc2)c(-c2ccccc2)c(-c2ccc(F)cc2)n1CC[C@@H](O)C[C@@H]"
    "(O)CC(=O)O";
const char* const CyclosporinA =
    "CC[C@H]1C(=O)N(CC(=O)N([C@H](C(=O)N[C@H](C(=O)N([C@H](C(=O)N[C@H](C(=O)N[C@@H](C(=O)N([C@H]"
    "(C(=O)N([C@H](C(=O)N([C@H](C(=O)N([C@H](C(=O)N1)[C@@H]([C@H](C)C/C=C/C)O)C)C(C)C)C)CC(C)C)C)"
    "CC(C)C)C)C)C)CC(C)C)C)C(C)C)CC(C)C)C)C";

std::string Peptide(int residues) {
    static const char* const acids[] = {
        "N[C@@H](C)C(=O)",         "N[C@@H](CC(C)C)C(=O)",      "NCC(=O)",
        "N[C@@H](Cc1ccccc1)C(=O)", "N[C@@H](CO)C(=O)",          "N[C@@H](CCCCN)C(=O)",
        "N[C@@H](CC(=O)O)C(=O)",   "N[C@@H](Cc1ccc(O)cc1)C(=O)"};
    std::string s;
    for (int i = 0; i < residues; ++i)
        s += acids[i % 8];
    return s + "O";
}

} // namespace preview_test
