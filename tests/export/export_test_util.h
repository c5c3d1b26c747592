#pragma once
// Helpers of the export tests: tables, file bytes, and a workbook read back
// by an independent reader (openpyxl under the system's Python).
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "export_results.h"
#include "formatsettings.h"

// Restores the user's decimal separator when a test ends.
struct SepGuard {
    char saved = FormatSettings.DecimalSeparator;
    explicit SepGuard(char sep) { FormatSettings.DecimalSeparator = sep; }
    ~SepGuard() { FormatSettings.DecimalSeparator = saved; }
};

inline TResultsTable GlucoseTable(const std::string& mass = "180.063388") {
    return {{"Mass", "Formula", "Name"}, {{mass, "C6H12O6", "Glucose"}}};
}

inline std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The first worksheet of a workbook as {"sheets": [names], "rows": [[{"v": value,
// "bold": bool, "fmt": number format}]]}; fails the test when the reader is
// missing or cannot read the file.
inline QJsonObject ReadWorkbook(const QString& path) {
    static const char* script = R"(
import json, sys
try:
    import openpyxl
except ImportError:
    print("python3-openpyxl is not installed", file=sys.stderr)
    sys.exit(3)
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb.worksheets[0]
rows = [[{"v": c.value, "bold": bool(c.font.b), "fmt": c.number_format} for c in row]
        for row in ws.iter_rows()]
print(json.dumps({"sheets": wb.sheetnames, "rows": rows}))
)";
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral("-c"), QString::fromUtf8(script), path});
    const bool done = py.waitForFinished(60000);
    EXPECT_TRUE(done) << "python3 did not finish";
    EXPECT_EQ(0, py.exitCode()) << py.readAllStandardError().toStdString();
    const QJsonDocument doc = QJsonDocument::fromJson(py.readAllStandardOutput());
    EXPECT_TRUE(doc.isObject()) << "no workbook read back from " << path.toStdString();
    return doc.object();
}

// Cell (row, col), 0-based, of a workbook read back.
inline QJsonObject WorkbookCell(const QJsonObject& book, int row, int col) {
    return book["rows"].toArray().at(row).toArray().at(col).toObject();
}

// A small DIF reader, independent of the writer: the cells of every tuple after
// the header section ("DATA"), as numbers (type 0) or strings (type 1).
struct DifCell {
    int type;
    std::string value; // the number's text or the string without its quotes
};
inline std::vector<std::vector<DifCell>> ReadDif(const std::string& bytes, std::string* header) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF at byte " << pos;
            break;
        }
        lines.push_back(bytes.substr(pos, end - pos));
        pos = end + 2;
    }
    std::vector<std::vector<DifCell>> tuples;
    size_t i = 0;
    if (header) header->clear();
    while (i < lines.size() && lines[i] != "DATA") {
        if (header) *header += lines[i] + "|";
        ++i;
    }
    i += 3; // DATA, 0,0, ""
    while (i + 1 < lines.size()) {
        const std::string& num = lines[i];
        const std::string& str = lines[i + 1];
        i += 2;
        if (num == "-1,0" && str == "BOT") {
            tuples.emplace_back();
        } else if (num == "-1,0" && str == "EOD") {
            break;
        } else if (tuples.empty()) {
            ADD_FAILURE() << "a value before the first BOT: " << num;
            break;
        } else if (num.rfind("0,", 0) == 0 && str == "V") {
            tuples.back().push_back({0, num.substr(2)});
        } else if (num == "1,0" && str.size() >= 2 && str.front() == '"' && str.back() == '"') {
            tuples.back().push_back({1, str.substr(1, str.size() - 2)});
        } else {
            ADD_FAILURE() << "unexpected DIF pair: " << num << " / " << str;
            break;
        }
    }
    return tuples;
}
