// Number-to-text conversions, the text helpers of the readers, the input-file
// opener and the line conventions of the readers.
#include "SNPSelTools.h"
#include "TLibQuintor.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Words;

// Tests that create files run in a fresh folder of their own.
using InputFileTest = ScratchFolderTest;

std::string firstLine(std::ifstream &stream) {
    std::string line;
    std::getline(stream, line);
    return line;
}

} // namespace

// ---------------------------------------------------------------------------
// toString
// ---------------------------------------------------------------------------

TEST(ToString, DoubleUsesSixSignificantDigits) {
    EXPECT_EQ(toString<double>(0.1234567), "0.123457");
    EXPECT_EQ(toString<double>(100000.0), "100000");
    EXPECT_EQ(toString<double>(1234567.0), "1.23457e+06");
    EXPECT_EQ(toString<double>(0.00001), "1e-05");
    EXPECT_EQ(toString<double>(2.0), "2");
    EXPECT_EQ(toString<double>(-0.5), "-0.5");
}

TEST(ToString, FloatIsWidenedThenCut) {
    EXPECT_EQ(toString<float>(0.2f), "0.2");
    EXPECT_EQ(toString<float>(1234567.0f), "1.23457e+06");
}

TEST(ToString, IntegersAndCharacters) {
    EXPECT_EQ(toString<char>('A'), "A");
    EXPECT_EQ(toString<int>(-3), "-3");
    EXPECT_EQ(toString<int>(INT_MIN), "-2147483648");
    EXPECT_EQ(toString<long long>(-9000000000LL), "-9000000000");
    EXPECT_EQ(toString<long long>(777LL), "777");
    EXPECT_EQ(toString<size_t>(static_cast<size_t>(18446744073709551615ULL)),
              "18446744073709551615");
}

TEST(ToString, IgnoresTheConsolePrecision) {
    // A reader may raise the console's precision; converted numbers keep six digits.
    const std::streamsize old = std::cout.precision(12);
    EXPECT_EQ(toString<double>(1.0 / 3.0), "0.333333");
    std::cout.precision(old);
}

// ---------------------------------------------------------------------------
// Splitting, trimming, lower-casing, cutting
// ---------------------------------------------------------------------------

TEST(SplitOnWhitespace, SeparatorsAreBlankTabLineFeedCarriageReturn) {
    EXPECT_EQ(splitOnWhitespace("  a\tb  c\r"), (Words{"a", "b", "c"}));
    EXPECT_EQ(splitOnWhitespace("a\nb"), (Words{"a", "b"}));
    // Form feed and vertical tab are ordinary characters.
    EXPECT_EQ(splitOnWhitespace("a\fb"), (Words{"a\fb"}));
    EXPECT_EQ(splitOnWhitespace("a\vb"), (Words{"a\vb"}));
}

TEST(SplitOnWhitespace, NeverGivesEmptyTokens) {
    EXPECT_TRUE(splitOnWhitespace("").empty());
    EXPECT_TRUE(splitOnWhitespace(" \t\r\n ").empty());
    EXPECT_EQ(splitOnWhitespace("x"), (Words{"x"}));
}

TEST(SplitOnChar, SeparatorPlusLineEnds) {
    EXPECT_EQ(splitOnChar("1,,2,\r", ','), (Words{"1", "2"}));
    // The blank is not a separator here.
    EXPECT_EQ(splitOnChar(" a b,c\n", ','), (Words{" a b", "c"}));
    EXPECT_EQ(splitOnChar("a\tb\r\nc", '\t'), (Words{"a", "b", "c"}));
    EXPECT_TRUE(splitOnChar(",,,", ',').empty());
    EXPECT_TRUE(splitOnChar("", ',').empty());
}

TEST(SplitOnChar, NulCharacterAsSeparator) {
    const std::string text("a\0b\rc", 5);
    EXPECT_EQ(splitOnChar(text, '\0'), (Words{"a", "b", "c"}));
}

TEST(TrimLeading, ReaderBlanks) {
    EXPECT_EQ(readerBlanks, std::string(" \f\n\r\t\v"));
    std::string line = "\t\t x";
    trimLeading(line, readerBlanks);
    EXPECT_EQ(line, "x");
    line = " \t ";
    trimLeading(line, readerBlanks);
    EXPECT_EQ(line, "");
    line = "\f\v\r\nx y \t";
    trimLeading(line, readerBlanks);
    EXPECT_EQ(line, "x y \t");
    line = "";
    trimLeading(line, readerBlanks);
    EXPECT_EQ(line, "");
}

TEST(TrimLeading, AnyCharacterSet) {
    std::string word = "abacus";
    trimLeading(word, "ab");
    EXPECT_EQ(word, "cus");
    word = "  x";
    trimLeading(word, "");
    EXPECT_EQ(word, "  x");
}

TEST(ToLower, OnlyAsciiLettersChange) {
    EXPECT_EQ(toLower("AbC-Z_9.TXT"), "abc-z_9.txt");
    EXPECT_EQ(toLower("\xC9t\xE9"), "\xC9t\xE9");
    EXPECT_EQ(toLower(""), "");
}

TEST(CutAtPattern, FirstOrLastOccurrence) {
    EXPECT_EQ(cutAtPattern("run.1.fas", ".", true, false), "run");
    EXPECT_EQ(cutAtPattern("run.1.fas", ".", true, true), "run.1");
    EXPECT_EQ(cutAtPattern("run.1.fas", ".", false, false), ".1.fas");
    EXPECT_EQ(cutAtPattern("run.1.fas", ".", false, true), ".fas");
    EXPECT_EQ(cutAtPattern("run", ".", true, true), "run");
    EXPECT_EQ(cutAtPattern("run", ".", false, false), "run");
    EXPECT_EQ(cutAtPattern("xxabyyab", "ab", true, true), "xxabyy");
    EXPECT_EQ(cutAtPattern("", ".", true, true), "");
}

TEST(CutAtPattern, EmptyPatternIsFoundAtEitherEnd) {
    EXPECT_EQ(cutAtPattern("abc", "", true, false), "");
    EXPECT_EQ(cutAtPattern("abc", "", false, false), "abc");
    EXPECT_EQ(cutAtPattern("abc", "", true, true), "abc");
    EXPECT_EQ(cutAtPattern("abc", "", false, true), "");
}

// ---------------------------------------------------------------------------
// eraseIndices, findElementInSorted, countAlleleStates
// ---------------------------------------------------------------------------

TEST(EraseIndices, HaplotypeRow) {
    const std::deque<char> row = {0, 1, 0, 1, 1};
    std::deque<char> cut = row;
    eraseIndices(cut, {1, 3});
    EXPECT_EQ(cut, (std::deque<char>{0, 0, 1}));
    cut = row;
    eraseIndices(cut, {-1, 7, 4});
    EXPECT_EQ(cut, (std::deque<char>{0, 1, 0, 1}));
    cut = row;
    eraseIndices(cut, {});
    EXPECT_EQ(cut, row);
}

TEST(EraseIndices, EntriesAreTakenFromTheLastOneOnShrinkingContainer) {
    const std::vector<double> values = {10, 11, 12, 13, 14};
    std::vector<double> cut = values;
    eraseIndices(cut, {1, 3});
    EXPECT_EQ(cut, (std::vector<double>{10, 12, 14}));
    // Unsorted: position 1 goes first, then position 3 of the shorter vector.
    cut = values;
    eraseIndices(cut, {3, 1});
    EXPECT_EQ(cut, (std::vector<double>{10, 12, 13}));
    // A repeated position removes two elements.
    cut = values;
    eraseIndices(cut, {1, 1});
    EXPECT_EQ(cut, (std::vector<double>{10, 13, 14}));
    // The second 4 is past the end once the first has been removed.
    cut = values;
    eraseIndices(cut, {4, 4});
    EXPECT_EQ(cut, (std::vector<double>{10, 11, 12, 13}));
    // Descending: 0 goes first, then 4 is past the end.
    cut = values;
    eraseIndices(cut, {4, 0});
    EXPECT_EQ(cut, (std::vector<double>{11, 12, 13, 14}));
    cut = values;
    eraseIndices(cut, {2, 5});
    EXPECT_EQ(cut, (std::vector<double>{10, 11, 13, 14}));
    cut = values;
    eraseIndices(cut, {0, 1, 2, 3, 4});
    EXPECT_TRUE(cut.empty());
    std::vector<double> empty;
    eraseIndices(empty, {0, -3});
    EXPECT_TRUE(empty.empty());
}

TEST(EraseIndices, LongAscendingList) {
    std::deque<char> row;
    std::vector<int32_t> odd;
    for (int k = 0; k < 100000; ++k) {
        row.push_back(static_cast<char>(k % 2));
        if (k % 2) odd.push_back(k);
    }
    eraseIndices(row, odd);
    ASSERT_EQ(row.size(), 50000u);
    for (char cell : row) ASSERT_EQ(cell, 0);
}

TEST(FindElementInSorted, ExactMatchGivesFirstIndex) {
    const std::vector<double> sorted = {1.0, 2.5, 2.5, 4.0};
    const std::vector<double> values = {2.5, 3.0, 1.0, 4.0, 0.5, 5.0};
    EXPECT_EQ(findElementInSorted(values, 0, sorted), 1);
    EXPECT_EQ(findElementInSorted(values, 1, sorted), -1);
    EXPECT_EQ(findElementInSorted(values, 2, sorted), 0);
    EXPECT_EQ(findElementInSorted(values, 3, sorted), 3);
    EXPECT_EQ(findElementInSorted(values, 4, sorted), -1);
    EXPECT_EQ(findElementInSorted(values, 5, sorted), -1);
}

TEST(FindElementInSorted, BadIndexOrEmptyVectors) {
    const std::vector<double> sorted = {1.0, 2.5, 2.5, 4.0};
    const std::vector<double> values = {2.5};
    EXPECT_EQ(findElementInSorted(values, -1, sorted), -1);
    EXPECT_EQ(findElementInSorted(values, 1, sorted), -1);
    EXPECT_EQ(findElementInSorted({}, 0, sorted), -1);
    EXPECT_EQ(findElementInSorted(values, 0, {}), -1);
}

TEST(CountAlleleStates, NucleotideCodesWithMissing) {
    std::vector<uint32_t> states = {9};
    std::vector<float> counts = {9.0f};
    int32_t number = -1;
    EXPECT_EQ(countAlleleStates({71, 65, 78, 71, 65, 71}, 78, states, counts, number), 2);
    EXPECT_EQ(states, (std::vector<uint32_t>{65, 71}));
    EXPECT_EQ(counts, (std::vector<float>{2.0f, 3.0f}));
    EXPECT_EQ(number, 6);
}

TEST(CountAlleleStates, NoCodesOrOnlyMissing) {
    std::vector<uint32_t> states = {1, 2};
    std::vector<float> counts = {1.0f};
    int32_t number = -1;
    EXPECT_EQ(countAlleleStates({}, 0, states, counts, number), 0);
    EXPECT_TRUE(states.empty());
    EXPECT_TRUE(counts.empty());
    EXPECT_EQ(number, 0);
    states = {1};
    EXPECT_EQ(countAlleleStates({0, 0, 0}, 0, states, counts, number), 0);
    EXPECT_TRUE(states.empty());
    EXPECT_TRUE(counts.empty());
    EXPECT_EQ(number, 3);
}

TEST(CountAlleleStates, CodesCompareAsUnsigned) {
    std::vector<uint32_t> states;
    std::vector<float> counts;
    int32_t number = 0;
    const uint32_t fromMinusOne = static_cast<uint32_t>(-1);
    EXPECT_EQ(countAlleleStates({fromMinusOne, 2, 0, 1, 2}, 0, states, counts, number), 3);
    EXPECT_EQ(states, (std::vector<uint32_t>{1, 2, fromMinusOne}));
    EXPECT_EQ(counts, (std::vector<float>{1.0f, 2.0f, 1.0f}));
    EXPECT_EQ(number, 5);
}

// ---------------------------------------------------------------------------
// Reader globals and line conventions
// ---------------------------------------------------------------------------

TEST(ReaderGlobals, CommentPrefixAndNucleotides) {
    EXPECT_EQ(commentPrefix, "#");
    EXPECT_EQ(nucleotideSet, (std::set<std::string>{"A", "C", "G", "T"}));
}

TEST(NextDataLine, SkipsEmptyAndCommentLinesAndTrimsTheStart) {
    std::istringstream input("\n   \n# comment\n \t#indented comment\n\f\v  data 1 # kept\r\n"
                             "\r\nlast");
    std::string line;
    ASSERT_TRUE(nextDataLine(input, line));
    EXPECT_EQ(line, "data 1 # kept\r");
    ASSERT_TRUE(nextDataLine(input, line));
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(nextDataLine(input, line));
}

TEST(NextDataLine, OnlyCommentsIsAnEmptyFile) {
    std::istringstream input("# a\n\n   #b\n");
    std::string line;
    EXPECT_FALSE(nextDataLine(input, line));
    std::istringstream nothing("");
    EXPECT_FALSE(nextDataLine(nothing, line));
}

// ---------------------------------------------------------------------------
// openInputFile
// ---------------------------------------------------------------------------

TEST_F(InputFileTest, OpensAtFirstAttemptSilently) {
    std::filesystem::create_directory("sub");
    writeFile("sub/a.txt", "first\n");
    std::ifstream stream;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(openInputFile("sub/", "a.txt", stream, false));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(firstLine(stream), "first");
}

TEST_F(InputFileTest, RetriesWithTheLowerCasedFullName) {
    std::filesystem::create_directory("sub");
    writeFile("sub/data.txt", "lower\n");
    std::ifstream stream;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(openInputFile("SUB/", "Data.TXT", stream, false));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nCould not open file: SUB/Data.TXT\n"
              "\nTRYING FILE NAME sub/data.txt\n");
    EXPECT_EQ(firstLine(stream), "lower");
}

TEST_F(InputFileTest, FailsAfterTwoTries) {
    std::ifstream stream;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(openInputFile("", "MISSING.txt", stream, false));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nCould not open file: MISSING.txt\n"
              "\nTRYING FILE NAME missing.txt\n"
              "\nERROR: can not find input file after 2 tries\n\n");
    EXPECT_FALSE(stream.is_open());
}

TEST_F(InputFileTest, PrefixAndNameAreJoinedDirectly) {
    std::filesystem::create_directory("sub");
    writeFile("sub/a.txt", "x\n");
    writeFile("suba.txt", "joined\n");
    std::ifstream stream;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(openInputFile("sub", "a.txt", stream, false));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(firstLine(stream), "joined");
}

TEST_F(InputFileTest, ReopensAStreamThatWasOpenAndAtItsEnd) {
    writeFile("one.txt", "one\n");
    writeFile("two.txt", "two\n");
    std::ifstream stream;
    ASSERT_TRUE(openInputFile("", "one.txt", stream, false));
    std::string rest;
    while (std::getline(stream, rest)) {
    }
    ASSERT_TRUE(stream.fail());
    testing::internal::CaptureStdout();
    EXPECT_TRUE(openInputFile("", "two.txt", stream, false));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(stream.good());
    EXPECT_EQ(firstLine(stream), "two");
}

TEST_F(InputFileTest, BoolalphaFlagSwitchesTruthValuesToWords) {
    writeFile("flags.txt", "true false\n");
    std::ifstream stream;
    ASSERT_TRUE(openInputFile("", "flags.txt", stream, true));
    EXPECT_TRUE(stream.flags() & std::ios::boolalpha);
    bool first = false, second = true;
    stream >> first >> second;
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);

    std::ifstream plain;
    ASSERT_TRUE(openInputFile("", "flags.txt", plain, false));
    EXPECT_FALSE(plain.flags() & std::ios::boolalpha);

    // Also after the lower-case retry.
    std::ifstream retried;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(openInputFile("", "FLAGS.txt", retried, true));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(retried.flags() & std::ios::boolalpha);
}
