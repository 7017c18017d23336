// The ms readers: simulator files, block layout, position correction and the
// rejection of malformed blocks (exit status and error log).
#include "SNPSelTools.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

std::string msDataDir() {
    const char *dir = std::getenv("QUINTOR_TEST_DATA");
    std::string base = dir ? dir : std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/')) + "/data";
    return base + "/ms/";
}

// Every test runs in a fresh scratch folder (the readers write log files).
class MsReaders : public ScratchFolderTest {
protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        GTEST_FLAG_SET(death_test_style, "fast");
        savedPrecision = std::cout.precision();
    }
    void TearDown() override {
        std::cout.precision(savedPrecision);
        ScratchFolderTest::TearDown();
    }

    HaplotypeMatrix data;
    std::vector<std::vector<double>> positions;
    std::streamsize savedPrecision = 6;
};

void readOne(const std::string &file, int sample) {
    HaplotypeMatrix data;
    std::vector<std::vector<double>> positions;
    readMS("", file, sample, data, positions);
}

void readTwo(const std::string &file, int sample, int sample2) {
    HaplotypeMatrix data;
    std::vector<std::vector<double>> positions;
    int total = sample + sample2;
    readMSTwoSamples("", file, total, sample, sample2, data, positions);
}

const std::string dashes(60, '-');

}  // namespace

TEST_F(MsReaders, ScrmOutputGivesOneBlockPerPopulation) {
    int sample = 20;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(readMS(msDataDir(), "scrm_20x2.ms", sample, data, positions));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Read segsites 2\nReading positions...\nReading sample of size 20\n"
              "Read segsites 12\nReading positions...\nReading sample of size 20\n" +
                  dashes + "\n\n");
    ASSERT_EQ(data.size(), 40u);
    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(positions[0], (std::vector<double>{0.475723, 0.804306}));
    ASSERT_EQ(positions[1].size(), 12u);
    EXPECT_EQ(positions[1].back(), 0.988036);
    EXPECT_EQ(rowsOf(data)[0], "01");
    EXPECT_EQ(rowsOf(data)[12], "10");
    EXPECT_EQ(rowsOf(data)[13], "00");
    EXPECT_EQ(rowsOf(data)[20], "001010001000");
    EXPECT_EQ(rowsOf(data)[39], "100011010000");
}

TEST_F(MsReaders, BlocksOfOwnSizeTrimmedLinesAndCellCoding) {
    int sample = 3;
    ASSERT_TRUE(readMS(msDataDir(), "ms_varied.ms", sample, data, positions));
    EXPECT_EQ(positions, (std::vector<std::vector<double>>{{0.125, 0.25, 0.5, 0.75}, {0.5, 0.75}}));
    EXPECT_EQ(rowsOf(data), (std::vector<std::string>{"0100", "1111", "0101", "10", "01",
                                     "00"}));
}

TEST_F(MsReaders, LongLinesCodeOnlyOneAsOneInEveryWord) {
    // 130 sites: two full 64-cell words and two cells more; 65 rows in
    // population 0 fill one word of rows and start the next. Characters
    // one bit away from '1' code 0.
    std::string positionsLine = "positions:";
    for (int s = 0; s < 130; ++s) positionsLine += " " + std::to_string((s + 1) / 1000.0);
    std::vector<std::string> rows;
    std::string file = "segsites: 130\n" + positionsLine + "\n";
    for (int r = 0; r < 67; ++r) {
        std::string line;
        for (int s = 0; s < 130; ++s) line.push_back("01q\xb1" "3\x02"[(r * 7 + s * 3) % 6]);
        file += line + "\n";
        std::string cells;
        for (char c : line) cells.push_back(c == '1' ? '1' : '0');
        rows.push_back(cells);
    }
    writeFile("long.ms", file);
    int sample = 65, sample2 = 2, total = 67;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(readMSTwoSamples("", "long.ms", total, sample, sample2, data, positions));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(rowsOf(data), rows);
}

TEST_F(MsReaders, PositionsReadAsTheCLibraryReadsThem) {
    const std::vector<std::string> texts{"0.0002634818998", "-0.25", "1.", ".5", "00012.5000",
                                         "0.30000000000000004441", "123456789012345678",
                                         "0.0000000000000000000001", "1e-3", "+2", "0x10", "7abc",
                                         "-0", "0.9999999999999999"};
    std::string file = "segsites: " + std::to_string(texts.size()) + "\npositions:";
    for (const std::string &text : texts) file += " " + text;
    file += "\n" + std::string(texts.size(), '0') + "\n";
    writeFile("positions.ms", file);
    int sample = 1;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(readMS("", "positions.ms", sample, data, positions));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(positions.size(), 1u);
    ASSERT_EQ(positions[0].size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        const double expected = std::strtod(texts[i].c_str(), nullptr);
        EXPECT_EQ(std::memcmp(&positions[0][i], &expected, sizeof expected), 0) << texts[i];
    }
}

TEST_F(MsReaders, TwoSamplesReadFirstBlockAndCorrectRepeatedPosition) {
    int sample = 2, sample2 = 2, total = 4;
    const std::string full = msDataDir() + "ms_two.ms";
    const std::string note = "ERROR: There is a problem with repeated positions in file " + full +
                             " Positions 0.2 is equal to previous one 0.2\n"
                             "The position is updated to 0.2\n";
    testing::internal::CaptureStdout();
    ASSERT_TRUE(readMSTwoSamples(msDataDir(), "ms_two.ms", total, sample, sample2, data, positions));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Read segsites 3\nReading positions...\n" + note +
                  "\nReading sample of size 2\nReading sample of size 2\n" + dashes + "\n\n");
    EXPECT_EQ(std::cout.precision(), 12);
    EXPECT_EQ(readFile("Quintor.log"), note + " 4\n");
    const std::vector<double> corrected{0.2, 0.2 + 1e-07, 0.3};
    EXPECT_EQ(positions, (std::vector<std::vector<double>>{corrected, corrected}));
    EXPECT_EQ(rowsOf(data), (std::vector<std::string>{"011", "100", "111", "001"}));
}

TEST_F(MsReaders, CorrectionIsMadeOncePerPositionAndFromMinusOne) {
    int sample = 1, sample2 = 1, total = 2;
    writeFile("three.ms", "segsites: 3\npositions: 0.2 0.2 0.2\n000\n111\n");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(readMSTwoSamples("", "three.ms", total, sample, sample2, data, positions));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string updated = "The position is updated to 0.2\n";
    const size_t first = out.find(updated);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(out.find(updated, first + 1), std::string::npos);
    EXPECT_EQ(out.find(updated, out.find(updated, first + 1) + 1), std::string::npos);
    EXPECT_EQ(positions[1], (std::vector<double>{0.2, 0.2 + 1e-07, 0.2 + 1e-07}));

    data.clear();
    writeFile("first.ms", "segsites: 3\npositions: -1.0 -2.0 0.5\n000\n111\n");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(readMSTwoSamples("", "first.ms", total, sample, sample2, data, positions));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(positions[0], (std::vector<double>{-1.0 + 1e-07, -2.0 + 1e-07, 0.5}));
}

TEST_F(MsReaders, CarriageReturnLineEndsInTwoSamples) {
    int sample = 1, sample2 = 1, total = 2;
    writeFile("dos.ms", "segsites: 2\r\npositions: 0.1 0.2\r\n01\r\n10\r\n");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(readMSTwoSamples("", "dos.ms", total, sample, sample2, data, positions));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(rowsOf(data), (std::vector<std::string>{"01", "10"}));
}

TEST_F(MsReaders, NoBlockOrNoFileGivesFalse) {
    int sample = 3;
    writeFile("empty.ms", "");
    writeFile("header.ms", "scrm 6 1 -t 1\n12\n\n//\n");
    writeFile("last.ms", "//\nsegsites: 0");
    for (const char *name : {"empty.ms", "header.ms", "last.ms"}) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(readMS("", name, sample, data, positions)) << name;
        EXPECT_FALSE(readMSTwoSamples("", name, sample, sample, sample, data, positions)) << name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << name;
    }
    testing::internal::CaptureStdout();
    EXPECT_FALSE(readMS("", "Missing.ms", sample, data, positions));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nCould not open file: Missing.ms\n\nTRYING FILE NAME missing.ms\n"
              "\nERROR: can not find input file after 2 tries\n\n");
}

// One malformed file each: reader, sizes, exit status and error-log text.
struct Rejection {
    const char *content;
    bool twoSamples;
    int sample, sample2;
    int status;
    std::string log;
};

TEST_F(MsReaders, MalformedBlocksEndTheProcess) {
    const std::vector<Rejection> cases = {
        {"segsites: 2147483647\n\n", false, 2, 0, 1,
         "ERROR: There is an excessive number of segregating sites in pop 1\n\n"},
        {"x\nsegsites: 99999999999\n\n", true, 1, 1, 1,
         "ERROR: There is an excessive number of segregating sites in pop 1\n\n"},
        {"//\nsegsites:\npositions:\n", false, 2, 0, 1,
         "ERROR: There is a format problem reading segregating sites in file f.ms line 2: the "
         "number of segregating sites is missing\n 1\n"},
        {"segsites: 2\n positions: 0.1 0.2\n01\n", false, 2, 0, 2,
         "ERROR: There is a format problem reading positions in pop 1\n 2\n"},
        {"segsites: 2\npositions: 0.1 nan\n01\n10\n", false, 2, 0, 2,
         "ERROR: There is a format problem reading positions in pop 1 of file f.ms line 2: "
         "position nan is not a finite number\n 2\n"},
        {"segsites: 2\npositions 0.1 0.2\n01\n10\n", true, 1, 1, 2,
         "ERROR: There is a format problem reading positions in file f.ms\n 2\n"},
        {"segsites: 3\npositions: 0.1 0.2 0.3\n010\n101\nsegsites: 3\npositions: 0.1 0.2\n", false,
         2, 0, 3,
         "ERROR: There is a problem reading positions in pop 2 Expected number of positions 3 "
         "was different of observed 2\n 3\n"},
        {"segsites: -2\npositions: 0.1 0.2\n01\n10\n", true, 1, 1, 3,
         "ERROR: There is a problem reading positions in file f.ms Expected number of positions "
         "-2 was different of observed 2\n 3\n"},
        {"segsites: 3\npositions: 0.1 0.2 0.3\n010\n1010\n", false, 2, 0, 4,
         "ERROR: In sample 2 there is a problem with haplotype size in pop 1 Expected haplo size "
         "3 was different of observed 4\n 4\n"},
        {"segsites: 3\npositions: 0.1 0.2 0.3\n010\n101\n", false, 3, 0, 4,
         "ERROR: In file f.ms. The file ends after line 4 before sample 3 in pop 1\n 4\n"},
        {"segsites: 0\npositions:\n\n", false, 3, 0, 4,
         "ERROR: In file f.ms. The file ends after line 3 before sample 2 in pop 1\n 4\n"},
        {"segsites: 2\npositions: 0.1 0.2\n0101 \r\n10\n", true, 1, 1, 5,
         "ERROR: In sample 1 there is a problem with haplotype size in pop 0 Expected haplo size "
         "2 was different of observed 5\n 5\n"},
        {"segsites: 2\npositions: 0.1 0.2\n01\n10\n1\n", true, 2, 1, 6,
         "ERROR: In sample 3 there is a problem with haplotype size in pop 1 Expected haplo size "
         "2 was different of observed 1\n 6\n"},
        {"segsites: 2\npositions: 0.1 0.2\n01\n10\n", true, 1, 2, 6,
         "ERROR: In file f.ms. The file ends after line 4 before sample 3 in pop 1\n 6\n"},
        {"segsites: 2\nnothing else\n", true, 1, 1, 7,
         "ERROR: In file f.ms. There is a problem with data size which is 0 and should be 2\n 7\n"},
    };
    for (const Rejection &c : cases) {
        SCOPED_TRACE(c.content);
        writeFile("f.ms", c.content);
        std::remove("Quintor_ERROR.log");
        if (c.twoSamples)
            EXPECT_EXIT(readTwo("f.ms", c.sample, c.sample2), testing::ExitedWithCode(c.status), "");
        else
            EXPECT_EXIT(readOne("f.ms", c.sample), testing::ExitedWithCode(c.status), "");
        EXPECT_EQ(readFile("Quintor_ERROR.log"), c.log);
    }
}

TEST_F(MsReaders, RowsAlreadyInTheMatrixFailTheRowCheck) {
    int sample = 3;
    data = matrixOfRows({"1"});
    const std::string full = msDataDir() + "ms_varied.ms";
    EXPECT_EXIT(readMS(msDataDir(), "ms_varied.ms", sample, data, positions),
                testing::ExitedWithCode(5), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"),
              "ERROR: In file " + full +
                  ". There is a problem with data size which is 7 and should be 6\n 5\n");
}
