// The Fst-outlier summary of a run and the SNP information table: exact file
// texts, number formats and appending.
#include "driver.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

SiteRecord record(const std::string &id, double pos, double fst, double lkPval) {
    return SiteRecord{id, pos, fst, lkPval, 1.0};
}

// Every test runs in a fresh scratch folder.
class ResultTexts : public ScratchFolderTest {
protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        GTEST_FLAG_SET(death_test_style, "fast");
    }

    void keep(const std::string &name, int32_t snps, const std::vector<SiteRecord> &nonEos,
              const std::vector<SiteRecord> &eos) {
        results.names.push_back(name);
        results.nsnpsfiles.push_back(snps);
        results.nonEOSfiles.push_back(nonEos);
        results.fstfiles.push_back(eos);
    }

    Settings settings;
    RunResults results;
};

const std::string stars(52, '*');

std::string fileHead(const std::string &name, int snps) {
    return "\n" + stars + "\nFILE " + name + "\n" + stars + "\n\n#SNPs\t" + std::to_string(snps) + "\n";
}

const std::string rowsHeader = "\n\t\t\tID\tPos\tFST\tpval(LK test)";

}  // namespace

TEST_F(ResultTexts, FstSummaryOfThreeFiles) {
    // Lists in ascending Fst, as the EOS test leaves them.
    keep("run0.txt", 1200,
         {record("a", 100.5, 0.31, 0.0123456789012345), record("b", 2000, 0.35, 0.001)}, {});
    keep("run1.txt", 37, {},
         {record("12345.6789", 12345.6789, 0.123456789012345, 1e-20), record("y", 5e6, 0.9, 0.5)});
    keep("run2.txt", 11, {}, {});
    writeFstSummary(settings, results, "out");

    const std::string expected =
        "MAF = 0.01\n"
        "% FILES WITH K-MEANS EXTREME POSITIVE OUTLIERS = 33.3333%\n" +
        fileHead("run0.txt", 1200) +
        "\n*************** Non-EOS FST OUTLIERS\n2\n" + rowsHeader +
        "\n\t\t\tb\t2000\t0.35\t0.001"
        "\n\t\t\ta\t100.5\t0.31\t0.0123456789012\n"
        "\n*************** EOS FST OUTLIERS\n0\n" +
        fileHead("run1.txt", 37) +
        "\n*************** Non-EOS FST OUTLIERS\n0\n\n"
        "\n*************** EOS FST OUTLIERS\n2\n" + rowsHeader +
        "\n\t\t\ty\t5000000\t0.9\t0.5"
        "\n\t\t\t12345.6789\t12345.6789\t0.123456789012\t1e-20\n" +
        fileHead("run2.txt", 11) +
        "\n*************** Non-EOS FST OUTLIERS\n0\n\n"
        "\n*************** EOS FST OUTLIERS\n0\n";
    EXPECT_EQ(readFile("out_FSTs.txt"), expected);
}

TEST_F(ResultTexts, FstSummaryHeadUsesSixDigitsAndIsAppended) {
    settings.maf = 0.123456789;
    keep("only.ms", 25, {record("7", 7, 0.5, 0.25)}, {record("9", 9, 0.987654321, 0.0625)});
    writeFstSummary(settings, results, "Quintor_out_EOS__MAF0.123457");
    const std::string one =
        "MAF = 0.123457\n% FILES WITH K-MEANS EXTREME POSITIVE OUTLIERS = 100%\n" +
        fileHead("only.ms", 25) + "\n*************** Non-EOS FST OUTLIERS\n1\n" + rowsHeader +
        "\n\t\t\t7\t7\t0.5\t0.25\n\n*************** EOS FST OUTLIERS\n1\n" + rowsHeader +
        "\n\t\t\t9\t9\t0.987654321\t0.0625\n";
    EXPECT_EQ(readFile("Quintor_out_EOS__MAF0.123457_FSTs.txt"), one);
    // A second run with the same name adds a second summary.
    writeFstSummary(settings, results, "Quintor_out_EOS__MAF0.123457");
    EXPECT_EQ(readFile("Quintor_out_EOS__MAF0.123457_FSTs.txt"), one + one);
}

TEST_F(ResultTexts, FstSummaryWithoutFilesIsAnEmptyFile) {
    writeFstSummary(settings, results, "empty");
    ASSERT_TRUE(std::filesystem::exists("empty_FSTs.txt"));
    EXPECT_EQ(readFile("empty_FSTs.txt"), "");
    // A folder that does not exist: the run ends on an error naming the file.
    keep("x", 1, {}, {});
    EXPECT_EXIT(writeFstSummary(settings, results, "missing/folder/out"),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"),
              "\nERROR: \nCould not write the file missing/folder/out_FSTs.txt\n 1\n");
    EXPECT_FALSE(std::filesystem::exists("missing"));
}

TEST_F(ResultTexts, SnpInformationTableText) {
    std::string out = "old text";
    formatRsidTable({"pop1", "pop2"}, {"rs1", "rs2"}, {{123456789012.0, 12345.678912345}, {123456789012.0, 12345.678912345}},
                    {{0.3333333, 1}, {0.5, 0}}, out);
    EXPECT_EQ(out,
              "\nPopulation\trsID\tPosition\tFrequency\n"
              "pop1\n\trs1\t1.23456789e+11\t0.333333\n\trs2\t12345.67891\t1\n"
              "pop2\n\trs1\t1.23456789e+11\t0.5\n\trs2\t12345.67891\t0\n");
    formatRsidTable({"1", "2"}, {}, {{}, {}}, {{}, {}}, out);
    EXPECT_EQ(out, "\nPopulation\trsID\tPosition\tFrequency\n1\n2\n");
}

TEST_F(ResultTexts, SnpInformationTableNeedsOneEntryPerName) {
    std::string out;
    EXPECT_DEATH(formatRsidTable({"1", "2"}, {"a", "b"}, {{1.0}, {1.0, 2.0}}, {{0.5, 0.5}, {0.5, 0.5}}, out),
                 "internal check failed");
}

TEST_F(ResultTexts, BuffersAreAppendedWithALineEnd) {
    writeFile("a.txt", "old\n");
    appendBuffersToFiles({"a.txt", "b.txt"}, {"x", "y\nz"});
    EXPECT_EQ(readFile("a.txt"), "old\nx\n");
    EXPECT_EQ(readFile("b.txt"), "y\nz\n");
    appendBuffersToFiles({"b.txt"}, {""});
    EXPECT_EQ(readFile("b.txt"), "y\nz\n\n");
}
