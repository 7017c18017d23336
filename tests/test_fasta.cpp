// The FASTA readers: reading the text, the coding against the reference
// population's majors, the four ways of splitting into populations, the
// subset files and the rejection of broken files.
#include "SNPSelTools.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace {

// Turns every line end of the text into a carriage return and a line feed.
std::string dos(const std::string &text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

class FastaReaders : public HaplotypeReaderTest {
protected:
    int refpop = -1;
};

}  // namespace

// Seven sequences: population 0 holds the first three, the reference
// population 1 the last four. Columns: 0 reference A,A,G,N (major A); 1
// N,N,N,A (major N: removed); 2 mostly gaps (removed); 3 C,C,C,- (gap in the
// reference); 4 T,T,G,G (tie: G before T); 5 all A, a gap only in population 0.
TEST_F(FastaReaders, HalvesCodedAgainstReferenceMajorsAlikeForDosLineEnds) {
    writeFile("seven.fa", "# made by hand\n\n  \t>s1 first\ngac ct\na\n>s2\nCNA-A-\n>s3\nNAACTA\n"
                          ">s4\nAN-CTA\n\n>s5\nAN-CTA\n>s6\nGN-CGA\n>s7\nNAC-GA\n");
    writeFile("seven_dos.fa", dos(readFile("seven.fa")));
    for (const char *file : {"seven.fa", "seven_dos.fa"}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(readFasta(false, "", file, sizes, data, freqs, positions));
        EXPECT_EQ(sizes, (std::vector<int>{3, 4}));
        EXPECT_EQ(positions, (std::vector<std::vector<double>>{{0, 3, 4, 5}, {0, 3, 4, 5}}));
        EXPECT_EQ(rowsOf(data), (std::vector<std::string>{"1010", "1010", "0010", "0010", "0010", "1000", "0000"}));
        EXPECT_EQ(freqs, (std::vector<std::vector<double>>{{2.0 / 3, 0, 1, 0}, {0.25, 0, 0.5, 0}}));

        ASSERT_TRUE(readFasta(true, "", file, sizes, data, freqs, positions));
        EXPECT_EQ(positions, (std::vector<std::vector<double>>{{0, 4, 5}, {0, 4, 5}}));
        EXPECT_EQ(rowsOf(data), (std::vector<std::string>{"110", "110", "010", "010", "010", "100", "000"}));
    }
    // After the first header a line beginning with '#' is sequence text.
    writeFile("hash.fa", ">a\n#C\n>b\n#C\n>c\nAC\n>d\nAC\n");
    ASSERT_TRUE(readFasta(false, "", "hash.fa", sizes, data, freqs, positions));
    EXPECT_EQ(positions[1], (std::vector<double>{1}));
}

TEST_F(FastaReaders, LongAlignmentCodedAcrossColumnBlocks) {
    std::string text, sequence(70000, 'A');
    sequence[65536] = 'N';
    for (const char *header : {">a\n", ">b\n", ">c\n"}) text += header + sequence + "\n";
    sequence[69999] = 'c';
    writeFile("long.fa", text + ">d\n" + sequence + "\n");
    ASSERT_TRUE(readFasta(false, "", "long.fa", sizes, data, freqs, positions));
    ASSERT_EQ(positions[1].size(), 69999u);
    EXPECT_EQ(positions[1][65535], 65535);
    EXPECT_EQ(positions[1][65536], 65537);
    EXPECT_EQ(rowsOf(data)[3].back(), '1');
    EXPECT_EQ(freqs[1].back(), 0.5);
}

TEST_F(FastaReaders, TwoFilesReferenceIsTheLargerPopulation) {
    writeFile("a.fa", ">a1\nACGT\n>a2\nACGA\n");
    writeFile("b.fa", ">b1\nTCGA\n>b2\nACGA\n>b3\nTCGA\n");
    ASSERT_TRUE(readFastaTwoFiles(false, "", "a.fa", "b.fa", sizes, data, freqs, positions, refpop));
    EXPECT_EQ(sizes, (std::vector<int>{2, 3}));
    EXPECT_EQ(refpop, 1);
    EXPECT_EQ(positions[0], (std::vector<double>{0, 1, 2, 3}));
    EXPECT_EQ(rowsOf(data), (std::vector<std::string>{"1001", "1000", "0000", "1000", "0000"}));
    ASSERT_TRUE(readFastaTwoFiles(false, "", "b.fa", "a.fa", sizes, data, freqs, positions, refpop));
    EXPECT_EQ(refpop, 0);
    EXPECT_EQ(rowsOf(data)[3], "1001");
}

TEST_F(FastaReaders, SplitByTagOrInTurnWithSubsetFiles) {
    std::filesystem::create_directory("sub");
    writeFile("sub/run.1.fa", dos(">A_Pop2_1\nacgt\n>B_1\nAC GA\n>x POP2\nTCGA\n>C_2\nAC-A\n"
                                  ">D_1\nACGT\n"));
    writeFile("sub/run.1_pop2.fas", "old content, longer than the new one............\n");
    ASSERT_TRUE(readFastaByTag("pop2", true, true, "sub/", "run.1.fa", sizes, data, freqs,
                               positions, refpop));
    EXPECT_EQ(sizes, (std::vector<int>{2, 3}));
    EXPECT_EQ(refpop, 1);
    // Column 2 holds a gap in the reference population 1: removed with -nogaps.
    EXPECT_EQ(positions[0], (std::vector<double>{0, 1, 3}));
    EXPECT_EQ(rowsOf(data), (std::vector<std::string>{"001", "100", "000", "000", "001"}));
    EXPECT_EQ(readFile("sub/run.1_pop2.fas"), ">A_Pop2_1\nACGT\n>x POP2\nTCGA\n");
    EXPECT_EQ(readFile("sub/run.1_NON_pop2.fas"), ">B_1\nACGA\n>C_2\nAC-A\n>D_1\nACGT\n");

    ASSERT_TRUE(readFastaAlternating(true, false, "sub/", "run.1.fa", sizes, data, freqs,
                                     positions, refpop));
    EXPECT_EQ(sizes, (std::vector<int>{3, 2}));
    EXPECT_EQ(refpop, 0);
    EXPECT_EQ(positions[0], (std::vector<double>{0, 1, 2, 3}));
    EXPECT_EQ(rowsOf(data), (std::vector<std::string>{"0000", "1001", "0000", "0001", "0001"}));
    EXPECT_EQ(readFile("sub/run.1_rndPop1.fas"), ">A_Pop2_1\nACGT\n>x POP2\nTCGA\n>D_1\nACGT\n");
    EXPECT_EQ(readFile("sub/run.1_rndPop2_.fas"), ">B_1\nACGA\n>C_2\nAC-A\n");

    // A subset file that cannot be written is reported; the read stands.
    std::filesystem::remove("sub/run.1_rndPop1.fas");
    std::filesystem::create_directory("sub/run.1_rndPop1.fas");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(readFastaAlternating(true, false, "sub/", "run.1.fa", sizes, data, freqs,
                                     positions, refpop));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nWARNING: could not write the file sub/run.1_rndPop1.fas\n\n");
}

TEST_F(FastaReaders, BrokenFilesFailSoftlyWithTheirMessages) {
    struct Case {
        const char *content;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"# only a comment\n\n", ""},
        {"\n>lonely", ""},
        {"\nACGT\n>a\nACGT\n", "\nEmpty file or wrong format when reading fasta f.fa\n\n"},
        {">a\nAC\n>b\nAC\n>c\nAC\n", "\nERROR: low sample size found 1\n\n"},
        {">a\nAC\n>b\n\r\n>c\nAC\n>d\nAC\n",
         "\nERROR: Header >b in file f.fa line 3 is not followed by a sequence\n\n"},
        {">a\nAC\n>b\nAC\n>c\nAC\n>d\nAC\n>e\n",
         "\nERROR: Header >e in file f.fa line 9 is not followed by a sequence\n\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.content);
        writeFile("f.fa", c.content);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(readFasta(false, "", "f.fa", sizes, data, freqs, positions));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    }
    writeFile("f.fa", ">A tag\nAC\n>b tag\nAC\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(readFastaByTag("tag", false, false, "", "f.fa", sizes, data, freqs, positions,
                                refpop));
    EXPECT_FALSE(readFastaAlternating(false, false, "", "g.fa", sizes, data, freqs, positions,
                                      refpop));
    writeFile("f.fa", ">a\nAC\n");
    EXPECT_FALSE(readFastaAlternating(true, false, "", "f.fa", sizes, data, freqs, positions,
                                      refpop));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nERROR: The tag did not separate two populations\n\ntag\t2\t0\t2\n"
              "\nCould not open file: g.fa\n\nTRYING FILE NAME g.fa\n"
              "\nERROR: can not find input file after 2 tries\n\n"
              "\nERROR: Did not separate two populations\n\n1\t0\t1\n");
    EXPECT_FALSE(fileExists("f_rndPop1.fas"));
}

TEST_F(FastaReaders, UnalignedSequencesEndTheProcess) {
    writeFile("f.fa", ">a\nACGT\n>b\nACGT\n>c\nACGT\n>d\nACG\n");
    writeFile("g.fa", ">a\nACG\n");
    EXPECT_EXIT(readFasta(false, "", "f.fa", sizes, data, freqs, positions),
                testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "ERROR: sequences must be aligned in f.fa\n\n");
    EXPECT_EXIT(readFastaByTag("b", false, false, "", "f.fa", sizes, data, freqs, positions,
                               refpop),
                testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "ERROR: sequences must be aligned in f.fa\n\n");
    EXPECT_EXIT(readFastaTwoFiles(false, "", "f.fa", "g.fa", sizes, data, freqs, positions, refpop),
                testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"),
              "ERROR: sequences must be of the same length in files f.fa and g.fa\n\n");
}
