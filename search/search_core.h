#pragma once
// What the database search needs besides the dialog: the database listing,
// the mass window, number conversions and the cutting of the host's answer.
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zenfab.h"

// Recognised database file extensions; the index is the tag of an entry of
// CB_Database. A null entry closes the table.
constexpr int DbExtCount = 3;
extern const char* const DbExt[DbExtCount + 1];

// Mass of a proton, added to or taken from the typed mass by the ion mode.
constexpr double ProtonMass = 1.007275;

// Ion modes: the item indices of CB_Mass.
enum : int { ION_MH_PLUS = 0, ION_NEUTRAL = 1, ION_MH_MINUS = 2 };

// One database file: its name cut at the last point, the index of its
// extension in DbExt, and the file name as found.
struct TDbEntry {
    std::string Name;
    int32_t Tag;
    std::string File;
};

// The databases in folder: regular files (folders skipped) whose extension is
// one of DbExt ignoring case, in the order of their file names compared
// ignoring case. A missing or unreadable folder gives none.
std::vector<TDbEntry> ListDatabaseFiles(const std::string& folder);

// ASCII case-insensitive comparison: a to z compare equal to their capitals,
// every other character by its code. Negative, 0 or positive.
int CompareText(std::string_view a, std::string_view b);
int CompareText(const QString& a, const QString& b);

// A number typed by the user: the whole text (blanks around it allowed) must
// be a finite number written with decSep or the point as decimal separator.
bool UserToDouble(const QString& text, char decSep, double& value);
// A decimal integer typed by the user, within 32 bits.
bool UserToInt(const QString& text, int32_t& value);

// The exclusive mass window of a search: the typed mass, corrected for the
// ion mode, plus or minus typed / 1e6 * ppm.
struct TMassWindow {
    double Mass; // the neutral mass searched for
    double Tol;
    double Low;
    double High;
};
TMassWindow MassWindow(double typed, double ppm, int ionMode);

// One row of the host's answer to a search. The texts point into the answer.
struct TAnswerRow {
    int32_t Id;
    std::string_view Mass, Formula, Name, Smiles;
};

// Cuts the host's answer into rows, at most maxRows. A row is one line
// (ended by a line feed, or by the end of the text); its fields ID, MassMI,
// Formula, Name and Smiles are separated by ";", leading blanks of a field
// skipped. A trailing carriage return and a ";" closing the last field are
// dropped; missing fields are empty; when a line holds more than five
// fields, the surplus ones belong to the name (a SMILES holds no ";"). Blank
// lines and lines whose ID is not a 32-bit integer are left out.
void ParseSearchAnswer(std::string_view text, size_t maxRows, std::vector<TAnswerRow>& rows);

// The database handle in the answer of a successful "DbOpen", without the
// blanks and line ends a host may put around it; empty when there is none.
std::string DbHandleName(std::string_view answer);

// The text of a dynamic string, up to its length or its first NUL.
std::string_view ZfText(const ZF_Str* s);

// A dynamic string owned for one sequence of host commands.
class TZfString {
  public:
    TZfString() : s_(_ZF_StrNew()) {}
    ~TZfString() {
        if (s_) _ZF_StrFree(s_);
    }
    TZfString(const TZfString&) = delete;
    TZfString& operator=(const TZfString&) = delete;
    ZF_Str* get() const { return s_; }
    explicit operator bool() const { return s_ != nullptr; }
    std::string_view text() const { return ZfText(s_); }

  private:
    ZF_Str* s_;
};
