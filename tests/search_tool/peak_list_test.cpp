// Peak lists: columns found by name or number, CSV quoting, TSV, semicolons with decimal
// commas, MGF, and every kind of bad line reported with its number.
#include <gtest/gtest.h>

#include "peak_list.h"

using namespace tvsearch;

namespace {

PeakList parse(const std::string& text, PeakListOptions o = {}, const std::string& path = {}) {
    return parsePeakList(text, o, path);
}

std::string reasons(const PeakList& l) {
    std::string r;
    for (const LineIssue& i : l.skipped)
        r += std::to_string(i.line) + ": " + i.reason + "\n";
    return r;
}

} // namespace

TEST(PeakList, ColumnsByHeaderNameInAnyCase) {
    PeakList l = parse("ID,RT,Intensity,M/Z\nF1,1.5,1000,181.0707\n\"F,2\",2.5,,203.0526\n");
    ASSERT_EQ(PeakList::Ok, l.status) << l.error;
    ASSERT_EQ(2u, l.peaks.size());
    EXPECT_EQ("F1", l.peaks[0].id);
    EXPECT_DOUBLE_EQ(181.0707, l.peaks[0].mz);
    EXPECT_EQ("181.0707", l.peaks[0].mzText);
    EXPECT_DOUBLE_EQ(1000, l.peaks[0].intensity);
    EXPECT_DOUBLE_EQ(1.5, l.peaks[0].rt);
    EXPECT_EQ("F,2", l.peaks[1].id); // RFC 4180 quotes keep the comma
    EXPECT_TRUE(std::isnan(l.peaks[1].intensity));
    EXPECT_TRUE(l.hasIntensity && l.hasRt);
    EXPECT_NE(std::string::npos, l.columns.find("m/z: column 4 (M/Z)")) << l.columns;

    // "mass" is a name for the m/z too; "mz" is preferred when both are there.
    PeakList both = parse("mass,mz\n1,2\n");
    ASSERT_EQ(PeakList::Ok, both.status);
    EXPECT_DOUBLE_EQ(2, both.peaks[0].mz);
}

TEST(PeakList, QuotingLineEndsAndByteOrderMark) {
    // A quoted field may hold quotes, delimiters and a line break; CRLF line ends.
    PeakList l = parse("\xEF\xBB\xBFid,mz\r\n\"say \"\"hi\"\",\nthere\",100.5\r\n\r\n7,200\r\n");
    ASSERT_EQ(PeakList::Ok, l.status) << l.error;
    ASSERT_EQ(2u, l.peaks.size());
    EXPECT_EQ("say \"hi\",\nthere", l.peaks[0].id);
    EXPECT_EQ(2, l.peaks[0].line);
    EXPECT_EQ(5, l.peaks[1].line); // lines count the break inside the quotes
    // A quote never closed is a bad line where it opened.
    PeakList open = parse("id,mz\n\"x,100\n1,200\n");
    EXPECT_EQ(PeakList::NoPeaks, open.status);
    ASSERT_EQ(1u, open.skipped.size());
    EXPECT_EQ(2, open.skipped[0].line);
}

TEST(PeakList, TabsSemicolonsAndNumbersByColumn) {
    PeakList tsv = parse("mz\tintensity\n181.07\t5\n", {}, "peaks.tsv");
    ASSERT_EQ(PeakList::Ok, tsv.status);
    EXPECT_DOUBLE_EQ(5, tsv.peaks[0].intensity);
    // Semicolons: a decimal comma is read as the point.
    PeakList semi = parse("mz;intensity\n181,0707;1,5e3\n");
    ASSERT_EQ(PeakList::Ok, semi.status) << semi.error;
    EXPECT_DOUBLE_EQ(181.0707, semi.peaks[0].mz);
    EXPECT_DOUBLE_EQ(1500, semi.peaks[0].intensity);
    // Columns by number, with or without a header.
    PeakListOptions o;
    o.mz = ColumnRef::parse("3");
    o.intensity = ColumnRef::parse("1");
    PeakList byNumber = parse("a,b,c\n10,x,250.5\n", o);
    ASSERT_EQ(PeakList::Ok, byNumber.status) << byNumber.error;
    EXPECT_DOUBLE_EQ(250.5, byNumber.peaks[0].mz);
    EXPECT_DOUBLE_EQ(10, byNumber.peaks[0].intensity);
    // Without a header: m/z in column 1, intensity in column 2; ids are line numbers.
    PeakList bare = parse("181.0707 ,10\n\n203.0526,44\n");
    ASSERT_EQ(PeakList::Ok, bare.status) << bare.error;
    ASSERT_EQ(2u, bare.peaks.size());
    EXPECT_EQ("3", bare.peaks[1].id);
    EXPECT_DOUBLE_EQ(44, bare.peaks[1].intensity);
}

TEST(PeakList, BadLinesAreReportedWithTheirNumbers) {
    const std::string text = "mz,intensity,rt\n"
                             "181.07,10,1\n"   // 2 good
                             "abc,10,1\n"      // 3
                             "nan,10,1\n"      // 4
                             "-5,10,1\n"       // 5
                             "1e9,10,1\n"      // 6
                             ",10,1\n"         // 7
                             "200,-1,1\n"      // 8
                             "200,10,soon\n"   // 9
                             "inf,1,1\n"       // 10
                             "0,1,1\n"         // 11
                             "203.05,20,2\n";  // 12 good
    PeakList l = parse(text);
    ASSERT_EQ(PeakList::Ok, l.status) << l.error;
    EXPECT_EQ(2u, l.peaks.size());
    const std::string r = reasons(l);
    ASSERT_EQ(9u, l.skipped.size()) << r;
    EXPECT_NE(std::string::npos, r.find("3: the m/z \"abc\" is not a number")) << r;
    EXPECT_NE(std::string::npos, r.find("4: the m/z \"nan\" is not a number")) << r;
    EXPECT_NE(std::string::npos, r.find("5: the m/z -5 is not positive")) << r;
    EXPECT_NE(std::string::npos, r.find("6: the m/z 1e9 is out of range")) << r;
    EXPECT_NE(std::string::npos, r.find("7: the m/z is empty")) << r;
    EXPECT_NE(std::string::npos, r.find("8: the intensity -1 is negative")) << r;
    EXPECT_NE(std::string::npos, r.find("9: the retention time \"soon\"")) << r;
    EXPECT_NE(std::string::npos, r.find("10: the m/z \"inf\" is infinite")) << r;
    EXPECT_NE(std::string::npos, r.find("11: the m/z 0 is not positive")) << r;

    PeakListOptions strict;
    strict.strict = true;
    PeakList s = parse(text, strict);
    EXPECT_EQ(PeakList::BadLine, s.status);
    EXPECT_TRUE(s.peaks.empty());
    EXPECT_NE(std::string::npos, s.error.find("line 3:")) << s.error;
}

TEST(PeakList, EmptyHeaderOnlyAndMissingColumns) {
    EXPECT_EQ(PeakList::Empty, parse("").status);
    EXPECT_EQ(PeakList::Empty, parse(" \n\r\n").status);
    PeakList header = parse("mz,intensity\n\n");
    EXPECT_EQ(PeakList::NoPeaks, header.status);
    EXPECT_NE(std::string::npos, header.error.find("only a header"));
    PeakList allBad = parse("mz\nx\ny\n");
    EXPECT_EQ(PeakList::NoPeaks, allBad.status);
    EXPECT_NE(std::string::npos, allBad.error.find("every data line")) << allBad.error;

    PeakListOptions o;
    o.mz = ColumnRef::parse("precursor");
    PeakList unknown = parse("mz,int\n1,2\n", o);
    EXPECT_EQ(PeakList::BadColumns, unknown.status);
    EXPECT_NE(std::string::npos, unknown.error.find("no column named \"precursor\"")) << unknown.error;
    EXPECT_NE(std::string::npos, unknown.error.find("\"int\"")) << unknown.error;
    PeakList noMz = parse("peak,height\na,1\n");
    EXPECT_EQ(PeakList::BadColumns, noMz.status);
    o.mz = ColumnRef::parse("9");
    EXPECT_EQ(PeakList::BadColumns, parse("mz,int\n1,2\n", o).status);
    // A line too short for the m/z column is a bad line, not a crash.
    o.mz = ColumnRef::parse("2");
    PeakList shortLine = parse("a,b\n1,2\n3\n", o);
    ASSERT_EQ(1u, shortLine.skipped.size());
    EXPECT_EQ(3, shortLine.skipped[0].line);
}

TEST(PeakList, IsotopesAndCharges) {
    PeakList l = parse("mz,intensity,isotopes,charge\n"
                       "300,100,\"301.003:20; 300:100 ;302.0:5\",2+\n"
                       "400,50,,\n"
                       "500,50,500:1;junk,\n"
                       "600,1,,-1\n");
    ASSERT_EQ(PeakList::Ok, l.status) << l.error;
    ASSERT_EQ(3u, l.peaks.size()) << reasons(l);
    ASSERT_EQ(3u, l.peaks[0].isotopes.size());
    EXPECT_DOUBLE_EQ(300, l.peaks[0].isotopes[0].mz); // sorted by m/z
    ASSERT_EQ(1u, l.peaks[0].charges.size());
    EXPECT_EQ(2, l.peaks[0].charges[0].magnitude);
    EXPECT_EQ(1, l.peaks[0].charges[0].sign);
    EXPECT_FALSE(l.peaks[1].hasIsotopes);
    EXPECT_EQ(-1, l.peaks[2].charges[0].sign);
    ASSERT_EQ(1u, l.skipped.size());
    EXPECT_NE(std::string::npos, l.skipped[0].reason.find("lacks the ':'")) << l.skipped[0].reason;
}

TEST(PeakList, Mgf) {
    const std::string mgf = "CHARGE=1+\n"
                            "BEGIN IONS\nTITLE=first\nPEPMASS=181.0707 12000\nRTINSECONDS=65.5\n"
                            "100.1 20\n110.2 30\nEND IONS\n"
                            "BEGIN IONS\nPEPMASS=203.0526\nCHARGE=2+ and 3+\nEND IONS\n"
                            "BEGIN IONS\nTITLE=no mass\nEND IONS\n"
                            "BEGIN IONS\nPEPMASS=abc\nEND IONS\n"
                            "BEGIN IONS\nPEPMASS=300\n";
    PeakList l = parse(mgf, {}, "run.mgf");
    ASSERT_EQ(PeakList::Ok, l.status) << l.error;
    ASSERT_EQ(2u, l.peaks.size()) << reasons(l);
    EXPECT_EQ("first", l.peaks[0].id);
    EXPECT_DOUBLE_EQ(12000, l.peaks[0].intensity);
    EXPECT_DOUBLE_EQ(65.5, l.peaks[0].rt);
    ASSERT_EQ(1u, l.peaks[0].charges.size()); // the file's CHARGE
    EXPECT_EQ("2", l.peaks[1].id);            // the spectrum's number without a title
    ASSERT_EQ(2u, l.peaks[1].charges.size());
    EXPECT_EQ(3, l.peaks[1].charges[1].magnitude);
    const std::string r = reasons(l);
    EXPECT_NE(std::string::npos, r.find("13: the spectrum has no PEPMASS")) << r;
    EXPECT_NE(std::string::npos, r.find("17: the m/z \"abc\"")) << r;
    EXPECT_NE(std::string::npos, r.find("19: the file ends inside a spectrum")) << r;
    // Found by its content too.
    EXPECT_EQ(2u, parse(mgf).peaks.size());
    EXPECT_EQ(PeakList::NoPeaks, parse("CHARGE=2+\n", {}, "x.mgf").status);
}

TEST(PeakList, Numbers) {
    double v = 0;
    EXPECT_TRUE(readNumber(" +1.5e2 ", v));
    EXPECT_DOUBLE_EQ(150, v);
    EXPECT_TRUE(readNumber(".5", v));
    for (const char* bad : {"nan", "NaN", "inf", "-inf", "0x10", "1.5abc", "", "1,5", "--1", "1e999"})
        EXPECT_FALSE(readNumber(bad, v)) << bad;
    EXPECT_TRUE(readNumber("1,5", v, true));
    EXPECT_DOUBLE_EQ(1.5, v);
    EXPECT_FALSE(readNumber("1,5.0", v, true));
    // Two signs (found by fuzzing: "+-1" read as -1, so "+-5" was a retention time of -5).
    for (const char* bad : {"+-1", "+-0.5", "++1", "-+1"})
        EXPECT_FALSE(readNumber(bad, v)) << bad;
    const PeakList l = parsePeakList("mz,rt\n181.07,+-5\n", {});
    ASSERT_EQ(PeakList::NoPeaks, l.status);
    ASSERT_EQ(1u, l.skipped.size());
    EXPECT_NE(std::string::npos, l.skipped[0].reason.find("retention time")) << l.skipped[0].reason;
}
