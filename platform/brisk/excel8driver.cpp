#include "excel8driver.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <vector>
#include <xlsxwriter.h>

#include "excel8folders.h"
#include "formatsettings.h"

std::function<bool(const QString&)> TExcel8Driver::ViewHook = [](const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
};

namespace {

constexpr int MaxSheetName = 31; // characters the workbook allows
constexpr int MaxRows = 1048576; // rows of a worksheet
constexpr int MaxCols = 16384;   // columns of a worksheet

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("Spreadsheet: " + what);
}

// Text as the workbook stores it: valid UTF-8 (invalid bytes become U+FFFD).
std::string CleanUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
        .toUtf8()
        .toStdString();
}

// The number format showing `decimals` digits after the separator.
std::string NumberFormat(int decimals) {
    return decimals > 0 ? "0." + std::string(static_cast<size_t>(decimals), '0') : "0";
}

// Owns a workbook until it is closed; frees it unwritten on failure.
class CWorkbook {
  public:
    explicit CWorkbook(const QString& path) {
        const QByteArray name = QFile::encodeName(path);
        book_ = workbook_new(name.constData());
        if (!book_) Fail("cannot start the workbook " + name.toStdString());
    }
    ~CWorkbook() {
        if (book_) lxw_workbook_free(book_);
    }
    lxw_workbook* get() const { return book_; }
    void Close() {
        lxw_workbook* book = book_;
        book_ = nullptr;
        const lxw_error err = workbook_close(book);
        if (err != LXW_NO_ERROR)
            Fail(std::string("cannot save the workbook: ") + lxw_strerror(err));
    }

  private:
    lxw_workbook* book_ = nullptr;
};

void Check(lxw_error err, const char* what) {
    if (err != LXW_NO_ERROR) Fail(std::string(what) + ": " + lxw_strerror(err));
}

} // namespace

EExcelNotOpened::EExcelNotOpened(const QString& fileName)
    : std::runtime_error("Spreadsheet: no program opened " + fileName.toStdString()),
      fileName_(fileName) {}

TExcel8Driver::TExcel8Driver() = default;
TExcel8Driver::~TExcel8Driver() = default;

std::string TExcel8Driver::ValidSheetName(const std::string& name) {
    QString s = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    for (QChar& c : s) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || QStringView(u"[]:*?/\\").contains(c)) c = QLatin1Char('_');
    }
    if (s.size() > MaxSheetName) {
        int n = MaxSheetName;
        if (s.at(n - 1).isHighSurrogate()) --n; // never split a pair
        s.truncate(n);
    }
    if (s.isEmpty()) return "Sheet1";
    if (s.startsWith(QLatin1Char('\''))) s[0] = QLatin1Char('_');
    if (s.endsWith(QLatin1Char('\''))) s[s.size() - 1] = QLatin1Char('_');
    // The spreadsheet keeps this name for itself.
    if (s.compare(QLatin1String("History"), Qt::CaseInsensitive) == 0) s += QLatin1Char('_');
    return s.toUtf8().toStdString();
}

bool TExcel8Driver::ParseDecimal(const std::string& text, char sep, double& value, int& decimals) {
    const size_t n = text.size();
    size_t i = 0;
    if (i < n && text[i] == '-') ++i;
    const size_t intStart = i;
    while (i < n && text[i] >= '0' && text[i] <= '9')
        ++i;
    const size_t intDigits = i - intStart;
    if (intDigits == 0) return false;
    if (intDigits > 1 && text[intStart] == '0') return false; // "007" is a code, not a number
    int dec = 0;
    if (i < n && text[i] == sep) {
        ++i;
        while (i < n && text[i] >= '0' && text[i] <= '9')
            ++i, ++dec;
        if (dec == 0) return false;
    }
    if (i != n || dec > 15) return false;
    std::string c = text;
    if (sep != '.') std::replace(c.begin(), c.end(), sep, '.');
    double v = 0;
    const auto r = std::from_chars(c.data(), c.data() + c.size(), v);
    if (r.ec != std::errc() || r.ptr != c.data() + c.size() || !std::isfinite(v)) return false;
    value = v;
    decimals = dec;
    return true;
}

void TExcel8Driver::Create() {
    created_ = false;
    cells_.clear();
    sheetName_ = "Sheet1";
    fileName_.clear();
    const QString base = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (base.isEmpty()) Fail("no temporary folder");
    RemoveOldFolders(base);
    QTemporaryDir dir(QDir(base).filePath(QStringLiteral("quorvel-XXXXXX")));
    if (!dir.isValid()) Fail("cannot make a folder in " + base.toStdString());
    QFile note(QDir(dir.path()).filePath(QString::fromLatin1(Excel8OwnerNote)));
    if (!note.open(QIODevice::WriteOnly) || note.write(QByteArray::fromStdString(ProcessNote())) < 0)
        Fail("cannot write in " + dir.path().toStdString());
    note.close();
    // The desktop program opens the workbook after View returns.
    dir.setAutoRemove(false);
    folder_ = dir.path();
    created_ = true;
}

void TExcel8Driver::SetSheetName(const char* name) {
    if (!created_) Fail("no workbook");
    sheetName_ = ValidSheetName(name ? name : "");
}

void TExcel8Driver::SetCellText(int row, int col, int header, const char* text) {
    if (!created_) Fail("no workbook");
    if (row < 1 || row > MaxRows || col < 1 || col > MaxCols)
        Fail("cell " + std::to_string(row) + "," + std::to_string(col) + " is outside the sheet");
    Cell& cell = cells_[{row, col}];
    cell.header = header != 0;
    cell.text = CleanUtf8(text ? text : "");
}

void TExcel8Driver::View() {
    if (!created_) Fail("no workbook");
    // The file is named after its sheet; a leading dot would hide it.
    QString base = QString::fromUtf8(sheetName_.c_str());
    if (base.startsWith(QLatin1Char('.'))) base[0] = QLatin1Char('_');
    const QString path = QDir(folder_).filePath(base + QStringLiteral(".xlsx"));

    CWorkbook book(path);
    lxw_worksheet* sheet = workbook_add_worksheet(book.get(), sheetName_.c_str());
    if (!sheet) Fail("cannot add the worksheet " + sheetName_);
    lxw_format* bold = workbook_add_format(book.get());
    if (!bold) Fail("cannot make the header format");
    format_set_bold(bold);

    std::map<int, lxw_format*> numberFormats; // by decimals
    std::map<int, int> widths;                // characters, by column
    const char sep = FormatSettings.DecimalSeparator;
    for (const auto& [pos, cell] : cells_) {
        const lxw_row_t r = static_cast<lxw_row_t>(pos.first - 1);
        const lxw_col_t c = static_cast<lxw_col_t>(pos.second - 1);
        double value = 0;
        int decimals = 0;
        if (!cell.header && ParseDecimal(cell.text, sep, value, decimals)) {
            lxw_format*& fmt = numberFormats[decimals];
            if (!fmt) {
                fmt = workbook_add_format(book.get());
                if (!fmt) Fail("cannot make a number format");
                format_set_num_format(fmt, NumberFormat(decimals).c_str());
            }
            Check(worksheet_write_number(sheet, r, c, value, fmt), "cannot write a number");
        } else {
            Check(worksheet_write_string(sheet, r, c, cell.text.c_str(),
                                         cell.header ? bold : nullptr),
                  "cannot write a text");
        }
        const int len = static_cast<int>(QString::fromUtf8(cell.text.c_str()).size());
        int& w = widths[pos.second];
        w = std::max(w, len);
    }
    for (const auto& [col, len] : widths) {
        const double width = std::clamp(len * 1.1 + 2.0, 8.43, 80.0);
        const lxw_col_t c = static_cast<lxw_col_t>(col - 1);
        Check(worksheet_set_column(sheet, c, c, width, nullptr), "cannot size a column");
    }
    book.Close();
    fileName_ = path;
    if (!ViewHook || !ViewHook(path)) throw EExcelNotOpened(path);
}
