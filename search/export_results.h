#pragma once
// The results table as text, CSV and DIF files and a workbook: plain
// functions over a table of cells, used by the results popup's export
// commands. All texts are UTF-8.
#include <cstdio>
#include <string>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;
class TExcel8Driver;

// The list as shown: column captions, then the rows in display order, each
// with one cell per column (Mass, Formula, Name).
struct TResultsTable {
    std::vector<std::string> Captions;
    std::vector<std::vector<std::string>> Rows;
};

// Reads a results list in its displayed order.
TResultsTable ResultsTable(const QTreeWidget* list);
// The cells of one list item, one per column of its list.
std::vector<std::string> ResultsRow(const QTreeWidgetItem* item);

// Clipboard texts. A row: its cells joined by single spaces. The table: the
// captions, then every row, cells joined by "; ", each line ended by CR LF.
std::string ResRowText(const std::vector<std::string>& row);
std::string ResTableText(const TResultsTable& table);

// File writers. Lines end with CR LF; texts are written unchanged (a double
// quote in a name is not escaped). They stop at the first write that fails
// and return false.
bool WriteResultsCsv(std::FILE* file, const TResultsTable& table);
// In DIF the Mass cell is a numeric value: decSep, the separator the list
// shows, becomes a point there (DIF is read by programs); a Mass cell that is
// not a number is written as a string value instead.
bool WriteResultsDif(std::FILE* file, const TResultsTable& table, char decSep);

// The DIF numeric form of a Mass cell; false when the cell is not a number.
bool DifNumber(const std::string& cell, char decSep, std::string& number);

// Filter entries of the save dialog.
enum : int { ResFilterCsv = 1, ResFilterDif = 2 };

enum class TResSave {
    Written,      // the file holds the whole table (or nothing: unknown filter)
    CannotCreate, // the file could not be created; nothing was written
    WriteFailed   // a write failed; the file keeps what was written before
};
// Creates (or empties) the file at path (bytes of a local file name) and
// writes the table in the format of filterIndex; any other index leaves an
// empty file. The file is closed whatever happens.
TResSave SaveResultsFile(const std::string& path, int filterIndex, const TResultsTable& table,
                         char decSep);

// The worksheet name for a search: string 49 with the mass and the
// tolerance, in the user's decimal separator.
std::string ResSheetName(double mass, double ppm);

// Fills a new workbook of the driver with the table (captions bold in row 1,
// the rows below) on a sheet named sheetName, and hands it to the user.
// Throws what the driver throws.
void ResultsToWorkbook(TExcel8Driver& driver, const std::string& sheetName,
                       const TResultsTable& table);
