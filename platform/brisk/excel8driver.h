#pragma once
// Spreadsheet driver: fills one worksheet of a new workbook cell by cell and
// hands the workbook to the user. The workbook is a real .xlsx file, saved
// into a temporary folder of its own (kept after the call, since the desktop
// program reads it later) and opened with the desktop's spreadsheet program.
// Every failure throws std::runtime_error; a workbook that was saved but that
// no program could open throws EExcelNotOpened, which names the file.
//
// Each folder ("quorvel-" and six letters, in the temporary location) holds
// a note of the process that made it. Create() removes the folders of
// processes that have ended, when they hold nothing but their workbooks and
// are an hour old; the folders of running processes, this one included, stay.
#include "brisk_export.h"

#include <QString>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

// The workbook was saved as FileName(), but nothing could open it.
class BRISK_API EExcelNotOpened : public std::runtime_error {
  public:
    explicit EExcelNotOpened(const QString& fileName);
    const QString& FileName() const { return fileName_; }

  private:
    QString fileName_;
};

class BRISK_API TExcel8Driver {
  public:
    TExcel8Driver();
    ~TExcel8Driver();
    TExcel8Driver(const TExcel8Driver&) = delete;
    TExcel8Driver& operator=(const TExcel8Driver&) = delete;

    // Starts a new, empty workbook (forgetting any earlier one) and makes
    // the folder it will be saved in.
    void Create();
    // Names the worksheet (UTF-8); see ValidSheetName.
    void SetSheetName(const char* name);
    // Writes the cell at a 1-based row and column; header != 0 makes it bold.
    // A data cell whose text is a plain decimal number in the user's format
    // (FormatSettings.DecimalSeparator) becomes a number shown with the same
    // decimals, as if typed into the sheet; any other text stays text.
    void SetCellText(int row, int col, int header, const char* text);
    // Saves the workbook and opens it through ViewHook.
    void View();

    // The workbook file of the last View (empty before).
    const QString& FileName() const { return fileName_; }

    // A name the workbook accepts: the characters []:*?/\ and control
    // characters become '_', as does an apostrophe at either end; cut to 31
    // characters (UTF-16 units, as the spreadsheet counts them); "Sheet1"
    // for an empty name.
    static std::string ValidSheetName(const std::string& name);
    // Reads a plain decimal number ("-12", "180.063388", "0,5" with sep ',')
    // written with the separator sep, no exponent, no grouping, no leading
    // zeros; decimals receives the number of digits after the separator.
    static bool ParseDecimal(const std::string& text, char sep, double& value, int& decimals);

    // Opens the saved workbook; false when it could not be opened. The
    // default opens it with QDesktopServices; tests replace it so that no
    // desktop program starts.
    static std::function<bool(const QString& path)> ViewHook;

    // Removes the workbook folders in `base` left by processes that have
    // ended: only real folders of this user named as the driver names them,
    // holding their process note and regular files, none of them a
    // spreadsheet program's lock file and none written in the last hour.
    // Returns how many were removed.
    static int RemoveOldFolders(const QString& base);
    // The note a folder keeps of the process that made it ("pid start").
    static std::string ProcessNote();

  private:
    struct Cell {
        bool header = false;
        std::string text;
    };
    bool created_ = false;
    QString folder_;
    QString fileName_;
    std::string sheetName_;
    std::map<std::pair<int, int>, Cell> cells_; // (row, col), 1-based
};
