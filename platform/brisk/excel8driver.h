#pragma once
// Spreadsheet driver: fills one worksheet of a new workbook cell by cell and
// hands the workbook to the user. The workbook is a real .xlsx file, saved
// into a temporary folder of its own (kept after the call, since the desktop
// program reads it later) and opened with the desktop's spreadsheet program.
// Every failure throws std::runtime_error.
#include "brisk_export.h"

#include <QString>
#include <functional>
#include <map>
#include <string>
#include <utility>

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
