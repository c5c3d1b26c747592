#include "localized.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "host_cmd.h"
#include "plugin_state.h"
#include "utf8_cut.h"

const TStrEntry QUORVEL_Str[QUORVEL_StrCount] = {
    {0, "Translation by Orlavik"},
    {1, "&Default"},
    {2, "&Ok"},
    {3, "&Search"},
    {4, "&Update"},
    {5, "Mass spectrometry plug-in for Tarvish"},
    {7, "About Quorvel"},
    {8, "Choose the database"},
    {9, "Experimental data"},
    {10, "Isotopic distribution"},
    {11, "Search options"},
    {12, "Molecules found"},
    {13, "Database:"},
    {14, "The data must be in mass and probability % format."},
    {15, "Number of molecules:"},
    {16, "Monoisotopic mass:"},
    {17, "Max. results:"},
    {18, "ppm"},
    {19, "Formula"},
    {20, "Mass"},
    {21, "Name"},
    {22, "&Copy chart"},
    {23, "Copy &data"},
    {24, "&Edit"},
    {25, "&Print"},
    {26, "&Send to exp."},
    {27, "&Zoom"},
    {28, "&In"},
    {29, "&Out"},
    {30, "&Reset"},
    {31, "Copy &all"},
    {32, "Copy &SMILES"},
    {33, "Copy &row"},
    {34, "Send to &Excel"},
    {35, "&Isotopic distribution"},
    {36, "&Save as ..."},
    {37, "&Show 3D structure"},
    {38, "Comma Separated Values (*.csv)|*.csv|Data Interchange Format (*.dif)|*.dif"},
    {39, "Save results ..."},
    {40, "Isotopic distribution"},
    {41, "2D structure"},
    {42, "Mass spectrometry tool"},
    {43, "&Copy"},
    {44, "Cu&t"},
    {45, "&Delete"},
    {46, "&Paste"},
    {47, "&Select all"},
    {48, "&Undo"},
    {49, "Mass %.6lf \xC2\xB1 %.3lf ppm"},
    {50, "Excel driver initialization failed"},
    {51, "Quorvel error:"},
    {52, "Locale.dll error:\n%s"},
    {53, "About Quorvel"},
    {54, "Can't write the file"},
    {55, "Out of memory"},
    {56, "Can't open the help file"},
    {57, "Quorvel print job"},
    {58, "No spreadsheet program could open the workbook.\nIt was saved as:\n%s\n\nSave a copy elsewhere?"},
    {59, "Excel workbook (*.xlsx)|*.xlsx"},
    {-1, "Unknown localized string"},
};

namespace {

const char* const UnknownStr = "Unknown localized string";

const char* builtin(int32_t id) {
    for (int i = 0; i < QUORVEL_StrCount; ++i)
        if (QUORVEL_Str[i].Id == id) return QUORVEL_Str[i].Text;
    return UnknownStr;
}

const char* fromCatalog(int32_t id, const char* def) {
    if (!Catalog || !TWP_LOC_LocGetCatStr) return def;
    const char* s = TWP_LOC_LocGetCatStr(Catalog, id, def);
    return s ? s : def;
}

} // namespace

const char* GetStr(int32_t id) { return fromCatalog(id, builtin(id)); }

bool FormatConversions(const char* format, char* out, int outSize) {
    int n = 0;
    auto put = [&](char c) {
        if (n + 1 >= outSize) return false;
        out[n++] = c;
        return true;
    };
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        while (*p && std::strchr("-+ #0'", *p)) ++p;
        if (*p == '*') {
            if (!put('*')) return false;
            ++p;
        }
        while (*p >= '0' && *p <= '9') ++p;
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                if (!put('*')) return false;
                ++p;
            }
            while (*p >= '0' && *p <= '9') ++p;
        }
        while (*p && std::strchr("hlLjztq", *p)) {
            if (!put(*p)) return false;
            ++p;
        }
        if (!*p || !std::strchr("diouxXeEfFgGcsp", *p)) return false;  // %n and unknowns
        if (!put(*p) || !put('|')) return false;
    }
    if (outSize > 0) out[n] = '\0';
    return true;
}

const char* GetFmtStr(int32_t id) {
    const char* def = builtin(id);
    const char* loc = fromCatalog(id, def);
    if (loc == def) return def;
    char a[128], b[128];
    if (!FormatConversions(def, a, sizeof a) || !FormatConversions(loc, b, sizeof b)) return def;
    return std::strcmp(a, b) == 0 ? loc : def;
}

int32_t CatErr(int32_t id, ...) {
    // Formatted in full first, then cut to the message buffer at a character
    // boundary, so that a long argument never splits a UTF-8 sequence.
    const char* format = GetFmtStr(id);
    std::string full;
    va_list ap, ap2;
    va_start(ap, id);
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, format, ap);
    if (n > 0) {
        full.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&full[0], full.size(), format, ap2);
        full.resize(static_cast<size_t>(n));
    }
    va_end(ap2);
    va_end(ap);
    char msg[CatErrMsgSize];
    const size_t len = Utf8CutLength(full.data(), full.size(), CatErrMsgSize - 1);
    std::memcpy(msg, full.data(), len);
    msg[len] = '\0';
    char title[CatErrMsgSize];
    std::snprintf(title, sizeof title, "%s", GetStr(51));
    TwMessageBox(msg, title, 16);
    return 0;
}
