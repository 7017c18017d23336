// The SNPs shared by both populations: the haplotype helpers, the filter at
// the minimum allele frequency, the cut matrix, the metapopulation, the SNP
// names, the run-log lines and the files skipped or rejected.
#include "driver.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <limits>

namespace {

HaplotypeRow row(const std::string &cells) {
    HaplotypeRow r;
    for (char c : cells) r.push_back(static_cast<char>(c - '0'));
    return r;
}

// Every test runs in a fresh scratch folder: the notes go to "Quintor.log".
class SharedSnps : public ScratchFolderTest {
protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        GTEST_FLAG_SET(death_test_style, "fast");
        verbose = false;
        settings.input1 = settings.input2 = "pair.ms";
        settings.minWinSize = 7;
        analysis.fileLabel = "pair.ms";
        analysis.popReferences.assign(2, std::vector<bool>());
    }
    void TearDown() override {
        verbose = false;
        ScratchFolderTest::TearDown();
    }

    // Two populations of the given rows and positions; the frequencies are
    // those of cell value 1, as the driver computes them after an ms read.
    void load(const std::vector<std::string> &rows0, const std::vector<double> &positions0,
              const std::vector<std::string> &rows1, const std::vector<double> &positions1) {
        analysis.data.clear();
        analysis.filelocnames.clear();
        for (const std::string &r : rows0) analysis.data.push_back(row(r));
        for (const std::string &r : rows1) analysis.data.push_back(row(r));
        analysis.samplesizes = {static_cast<int32_t>(rows0.size()), static_cast<int32_t>(rows1.size())};
        analysis.snpositions = {positions0, positions1};
        analysis.snpfreqs.assign(2, std::vector<double>());
        const std::vector<const std::vector<std::string> *> pops{&rows0, &rows1};
        for (size_t p = 0; p < 2; ++p) {
            const std::vector<std::string> &rows = *pops[p];
            const size_t sites = rows.empty() ? 0 : rows[0].size();
            for (size_t j = 0; j < sites; ++j) {
                double carriers = 0;
                for (const std::string &r : rows) carriers += r[j] == '1';
                analysis.snpfreqs[p].push_back(carriers / static_cast<double>(rows.size()));
            }
        }
    }

    SharedOutcome prepare(int32_t run = 0) {
        return prepareSharedSnps(settings, context, results, run, analysis);
    }

    Settings settings;
    RunContext context;
    RunResults results;
    AnalysisData analysis;
};

using SharedSnpsDeathTest = SharedSnps;

}  // namespace

TEST(CountDistinctNonMissing, CountsAndReportsTheSmallestRepeat) {
    std::vector<double> values{3, 1, 3, -99};
    int64_t firstRepeat = -1;
    EXPECT_EQ(countDistinctNonMissing(values, -99, firstRepeat), 2);
    EXPECT_EQ(firstRepeat, 3);

    values = {1, 2};
    firstRepeat = 42;
    EXPECT_EQ(countDistinctNonMissing(values, -99, firstRepeat), 2);
    EXPECT_EQ(firstRepeat, 42);

    values.clear();
    EXPECT_EQ(countDistinctNonMissing(values, -99, firstRepeat), 0);
    EXPECT_EQ(firstRepeat, 42);

    // Several repeated values: the smallest is reported, truncated.
    values = {7.5, 2.75, 7.5, 9, 2.75, 2.75};
    EXPECT_EQ(countDistinctNonMissing(values, -99, firstRepeat), 3);
    EXPECT_EQ(firstRepeat, 2);
    values = {-1.5, 4, -1.5};
    EXPECT_EQ(countDistinctNonMissing(values, -99, firstRepeat), 2);
    EXPECT_EQ(firstRepeat, -1);

    // The missing value is not counted, once or repeated.
    values = {-99, 5, -99};
    EXPECT_EQ(countDistinctNonMissing(values, -99, firstRepeat), 1);
    EXPECT_EQ(firstRepeat, -99);

    // A base-pair position beyond the 32-bit range is reported as it is.
    values = {5000000000.5, 5000000000.5};
    EXPECT_EQ(countDistinctNonMissing(values, -99, firstRepeat), 1);
    EXPECT_EQ(firstRepeat, 5000000000);
}

TEST(KeepCommonSites, CutsOnlyThatPopulationsColumns) {
    HaplotypeMatrix matrix{row("101"), row("010"), row("110"), row("011"), row("111")};
    const std::vector<int32_t> samplesizes{2, 3};
    std::vector<double> freqs{0.25, 0.5, 0.75};
    std::vector<double> positions{5, 7, 9};
    keepCommonSites(matrix, 1, samplesizes, freqs, positions, {5, 9, 11});
    EXPECT_EQ(matrix, (HaplotypeMatrix{row("101"), row("010"), row("10"), row("01"), row("11")}));
    EXPECT_EQ(freqs, (std::vector<double>{0.25, 0.75}));
    EXPECT_EQ(positions, (std::vector<double>{5, 9}));

    // A repeated shared position is kept every time; population 0 from row 0.
    matrix = {row("1100"), row("0011"), row("11")};
    freqs = {0.5, 0.5, 0.5, 0.5};
    positions = {5, 5, 6, 9};
    keepCommonSites(matrix, 0, {2, 1}, freqs, positions, {5, 9});
    EXPECT_EQ(matrix, (HaplotypeMatrix{row("110"), row("001"), row("11")}));
    EXPECT_EQ(positions, (std::vector<double>{5, 5, 9}));
    EXPECT_EQ(freqs.size(), 3u);

    // Nothing shared: every column goes.
    positions = {1, 2, 3};
    freqs = {0.5, 0.5, 0.5};
    matrix = {row("110"), row("001"), row("11")};
    keepCommonSites(matrix, 0, {2, 1}, freqs, positions, {});
    EXPECT_EQ(matrix, (HaplotypeMatrix{HaplotypeRow(), HaplotypeRow(), row("11")}));
    EXPECT_TRUE(positions.empty());
}

// A position that is not a number equals nothing, so it is never found among
// the shared positions and its column goes.
TEST(KeepCommonSites, PositionThatIsNotANumberIsNotShared) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    HaplotypeMatrix matrix{row("101"), row("011")};
    std::vector<double> freqs{0.5, 0.5, 1.0};
    std::vector<double> positions{nan, 0.1, 0.2};
    keepCommonSites(matrix, 0, {2, 0}, freqs, positions, {0.1, 0.2});
    EXPECT_EQ(positions, (std::vector<double>{0.1, 0.2}));
    EXPECT_EQ(matrix, (HaplotypeMatrix{row("01"), row("11")}));
}

TEST(ComputePopulationReferences, MoreThanHalfOfThePopulationsRows) {
    // Population 0: 4 rows; population 1: 5 rows.
    const HaplotypeMatrix matrix{row("1110"), row("1100"), row("0100"), row("0000"),
                                 row("1110"), row("1100"), row("1011"), row("0011"), row("0000")};
    const std::vector<std::vector<bool>> references = computePopulationReferences(matrix, {4, 5});
    ASSERT_EQ(references.size(), 2u);
    // 2 of 4 carriers is not more than half; 3 of 4 is.
    EXPECT_EQ(references[0], (std::vector<bool>{false, true, false, false}));
    // 3 of 5 carriers is more than floor(5/2); 2 of 5 is not.
    EXPECT_EQ(references[1], (std::vector<bool>{true, false, true, false}));

    const std::vector<std::vector<bool>> none = computePopulationReferences(HaplotypeMatrix(), {2, 2});
    EXPECT_EQ(none, (std::vector<std::vector<bool>>{{}, {}}));
}

TEST(ComputeMetapopFrequencies, FractionOfAllRows) {
    std::vector<double> freqs{9, 9, 9, 9, 9};
    computeMetapopFrequencies({row("110"), row("100"), row("000"), row("101")}, freqs);
    EXPECT_EQ(freqs, (std::vector<double>{0.75, 0.25, 0.25}));
    computeMetapopFrequencies({row("01"), row("11"), row("01")}, freqs);
    EXPECT_EQ(freqs, (std::vector<double>{1.0 / 3.0, 1.0}));
}

TEST_F(SharedSnps, SharedPositionsCutMatrixMetapopulationAndNames) {
    load({"101", "010"}, {1, 2, 3}, {"110", "001"}, {2, 3, 4});
    EXPECT_EQ(prepare(), SharedOutcome::TooFewSnps);
    EXPECT_EQ(analysis.numSNPmin, 3u);
    EXPECT_EQ(analysis.commons, (std::vector<double>{2, 3}));
    EXPECT_EQ(analysis.data, (HaplotypeMatrix{row("01"), row("10"), row("11"), row("00")}));
    EXPECT_EQ(analysis.snpositions, (std::vector<std::vector<double>>{{2, 3}, {2, 3}}));
    EXPECT_EQ(analysis.snpfreqs, (std::vector<std::vector<double>>{{0.5, 0.5}, {0.5, 0.5}}));
    EXPECT_EQ(analysis.metapopdata, analysis.data);
    EXPECT_EQ(analysis.metapopsnpositions, (std::vector<double>{2, 3}));
    EXPECT_EQ(analysis.metapopsamplesize, 4);
    EXPECT_EQ(analysis.genomesize, 2u);
    EXPECT_EQ(analysis.filelocnames, (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(analysis.metapopfreqs, (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(analysis.numsnps[0], 2);
    ASSERT_EQ(analysis.fstdistrib.size(), 2u);
    EXPECT_EQ(analysis.fstdistrib[1].fst, 0.0);
    EXPECT_EQ(analysis.fstdistrib[1].lkPval, 0.0);
    EXPECT_EQ(analysis.fileSampleSizes, (std::vector<int32_t>{2, 2}));
    EXPECT_FALSE(analysis.skipJ);
    EXPECT_EQ(results.validRunCount, 1u);
    EXPECT_EQ(context.runLog, "Number of pops is 2");
    // Too few SNPs for -minwin 7: a note in the run log file, the file skipped.
    EXPECT_EQ(readFile("Quintor.log"), "\nIn file pair.ms: too few SNPS 2 < 7\n 2\n");
}

TEST_F(SharedSnps, FilePassesWithAsManySnpsAsTheMinimumWindow) {
    load({"1111111", "0000000"}, {1, 2, 3, 4, 5, 6, 7}, {"1010101", "0101010"}, {1, 2, 3, 4, 5, 6, 7});
    testing::internal::CaptureStdout();
    EXPECT_EQ(prepare(), SharedOutcome::Continue);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(std::filesystem::exists("Quintor.log"));
    EXPECT_EQ(analysis.numsnps[0], 7);
}

TEST_F(SharedSnps, PooledFrequencyEqualToMafIsKeptBelowIsDropped) {
    // Five rows per population, -maf 0.2. Positions 1 and 2: one carrier in
    // each population, pooled 0.2 exactly; position 3: population 1's
    // frequency one step below 0.4, none in population 0, pooled one step
    // below 0.2; position 4: pooled 0.1; position 5: no carrier.
    load({"11010", "00000", "00000", "00000", "00000"}, {1, 2, 3, 4, 5},
         {"11100", "00000", "00000", "00000", "00000"}, {1, 2, 3, 4, 5});
    settings.maf = 0.2;
    analysis.snpfreqs[1][2] = std::nextafter(0.4, 0.0);
    ASSERT_LT((5 * analysis.snpfreqs[1][2] + analysis.snpfreqs[0][2] * 5) / 10, 0.2);
    prepare();
    EXPECT_EQ(analysis.commons, (std::vector<double>{1, 2}));
    // With the frequency at 0.4 itself the pooled value is 0.2 and it stays.
    load({"11010", "00000", "00000", "00000", "00000"}, {1, 2, 3, 4, 5},
         {"11100", "00100", "00000", "00000", "00000"}, {1, 2, 3, 4, 5});
    prepare();
    EXPECT_EQ(analysis.commons, (std::vector<double>{1, 2, 3}));

    // The frequency is that of value 1, not folded: a site where every row
    // carries it passes.
    load({"1", "1", "1"}, {8}, {"1", "1", "1"}, {8});
    settings.maf = 0.05;
    prepare();
    EXPECT_EQ(analysis.commons, (std::vector<double>{8}));
}

TEST_F(SharedSnps, PositionOfPopulationOneOnlyIsNeverShared) {
    load({"11", "01"}, {1, 2}, {"111", "110"}, {2, 3, 1});
    prepare();
    EXPECT_EQ(analysis.commons, (std::vector<double>{1, 2}));
    // Position 3 goes; population 1's columns (positions 2, 1) are then put in
    // ascending order with their positions and frequencies, so that column j
    // of every row belongs to shared position j.
    EXPECT_EQ(analysis.snpositions[1], (std::vector<double>{1, 2}));
    EXPECT_EQ(analysis.snpfreqs[1], (std::vector<double>{0.5, 1.0}));
    EXPECT_EQ(analysis.data[2], row("11"));
    EXPECT_EQ(analysis.data[3], row("01"));
    EXPECT_EQ(analysis.metapopsnpositions, (std::vector<double>{1, 2}));
}

TEST_F(SharedSnps, SnpNamesHaveTwelveSignificantDigits) {
    const double sum = 0.1 + 0.2;
    load({"111", "000"}, {sum, 1234567, 123456789.5}, {"101", "010"}, {sum, 1234567, 123456789.5});
    prepare();
    EXPECT_EQ(analysis.filelocnames, (std::vector<std::string>{"0.3", "1234567", "123456789.5"}));
}

TEST_F(SharedSnps, OneSharedSnpSkipsTheJTestAndGivesItsCountBack) {
    load({"10", "01"}, {1, 2}, {"1", "1"}, {2});
    results.validRunCount = 4;
    testing::internal::CaptureStdout();
    EXPECT_EQ(prepare(), SharedOutcome::TooFewSnps);
    const std::string note = "\nIn file pair.ms: too few SNPS 1 < 7\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), note + "\n");
    EXPECT_TRUE(analysis.skipJ);
    EXPECT_EQ(results.validRunCount, 4u);
    EXPECT_EQ(readFile("Quintor.log"), note + " 1\n");
}

TEST_F(SharedSnps, NoSharedSnpLeavesTheCountAndLogsTheFile) {
    load({"10", "01"}, {1, 2}, {"110", "011"}, {3, 4, 5});
    results.validRunCount = 3;
    context.runLog = "X";
    testing::internal::CaptureStdout();
    EXPECT_EQ(prepare(), SharedOutcome::NoCommons);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(results.validRunCount, 3u);
    EXPECT_EQ(context.runLog,
              "X\n From a total of 3\nThere are not common SNPs at frequency >= 0.01in the file "
              "pair.ms\nA number of 2 SNPs at frequency lower than 0.01 has been discarded:\n");
    // Nothing is cut and no metapopulation is built.
    EXPECT_EQ(analysis.data.size(), 4u);
    EXPECT_EQ(analysis.data[2], row("110"));
    EXPECT_TRUE(analysis.metapopdata.empty());
    EXPECT_FALSE(std::filesystem::exists("Quintor.log"));

    // Shared positions whose pooled frequency is below -maf: the same branch.
    load({"00", "00"}, {1, 2}, {"00", "00"}, {1, 2});
    EXPECT_EQ(prepare(), SharedOutcome::NoCommons);
    EXPECT_EQ(results.validRunCount, 3u);
}

TEST_F(SharedSnps, VerboseReportOfAFileWithoutSharedSnps) {
    load({"10", "01"}, {1, 2}, {"110", "011"}, {3, 4, 5});
    verbose = true;
    testing::internal::CaptureStdout();
    prepare();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Managing population structure\nManagement of low frequency polymorphisms.\n"
              "From 2 SNPs\n\nThere are not common SNPs at frequency >= 0.01in the file pair.ms\n"
              "The total number of SNPs is 2\n"
              "The number of commons SNPs with a frequency higher than maf is 0\n"
              "A number of 2 SNPs at frequency lower than 0.01 has been discarded:\n"
              "This run will be skipped\n");
}

TEST_F(SharedSnps, VerboseReportOfSharedSnps) {
    load({"0011111", "0100000"}, {1, 2, 3, 4, 5, 6, 7}, {"0111111", "0000000"}, {1, 2, 3, 4, 5, 6, 7});
    settings.maf = 0.25;
    verbose = true;
    testing::internal::CaptureStdout();
    EXPECT_EQ(prepare(), SharedOutcome::TooFewSnps);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Managing population structure\nManagement of low frequency polymorphisms.\n"
              "The total number of SNPs is 7\n"
              "The number of SNPs with a frequency higher than maf is 6\n"
              "A number of 1 SNPs at frequency lower than 0.25 has been discarded:\n"
              "\n... Updating metapopulation information ...\n\n"
              "... Preparing Quintor analysis ...\n"
              "\nIn file pair.ms: too few SNPS 6 < 7\n\n");
    EXPECT_EQ(context.runLog,
              "A number of 1 SNPs at frequency lower than 0.25 has been discarded:\nNumber of pops is 2");
}

TEST_F(SharedSnps, SnpInformationTableOfTheFile) {
    auto table = [](const std::string &first, const std::string &second) {
        std::string rows;
        for (int i = 1; i <= 7; ++i)
            rows += "\t" + std::to_string(i) + "\t" + std::to_string(i) + "\t0.5\n";
        return "\nPopulation\trsID\tPosition\tFrequency\n" + first + "\n" + rows + second + "\n" + rows;
    };
    load({"1111111", "0000000"}, {1, 2, 3, 4, 5, 6, 7}, {"1010101", "0101010"}, {1, 2, 3, 4, 5, 6, 7});
    settings.rsidInfo = true;
    results.rsidTables.clear();
    EXPECT_EQ(prepare(1), SharedOutcome::Continue);
    EXPECT_EQ(results.rsidTables[1], table("1", "2"));
    EXPECT_EQ(results.rsidTables[0], "");
    EXPECT_EQ(context.runLog, "Number of pops is 2");

    // A series: the run's name differs from the second name, so the labels
    // are the base name and the second name; -onlyrsidInfo stops the file
    // before its preparation.
    load({"1111111", "0000000"}, {1, 2, 3, 4, 5, 6, 7}, {"1010101", "0101010"}, {1, 2, 3, 4, 5, 6, 7});
    settings.onlyrsidInfo = true;
    settings.input1 = "run0.txt";
    settings.input2 = "";
    context.inputBase = "run";
    context.runLog.clear();
    EXPECT_EQ(prepare(0), SharedOutcome::RsidStop);
    EXPECT_EQ(results.rsidTables[0], table("run", ""));
    EXPECT_EQ(context.runLog, "");
}

TEST_F(SharedSnpsDeathTest, RepeatedSharedPositionEndsWithStatusFour) {
    load({"101", "011", "000"}, {100, 100, 200}, {"110", "001", "100"}, {100, 100, 200});
    const std::string message =
        "\nERROR:3 is different from 2. This may be caused by 1 repeated positions in your files. "
        "Please check position 100\n";
    EXPECT_EXIT(
        {
            testing::internal::CaptureStdout();
            prepare();
        },
        ::testing::ExitedWithCode(4), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), message + " 4\n");
}

TEST_F(SharedSnpsDeathTest, MessageOfTheRepeatedPositionOnTheConsole) {
    load({"101", "011", "000"}, {100, 100, 200}, {"110", "001", "100"}, {100, 100, 200});
    // The message goes to standard output; the death test watches stderr, so
    // the child copies its output there.
    EXPECT_EXIT(
        {
            std::cout.rdbuf(std::cerr.rdbuf());
            prepare();
        },
        ::testing::ExitedWithCode(4),
        "\nERROR:3 is different from 2\\. This may be caused by 1 repeated positions in your "
        "files\\. Please check position 100\n");
}

TEST_F(SharedSnpsDeathTest, PopulationOneAloneRepeatingIsRejectedToo) {
    load({"10", "01"}, {100, 200}, {"110", "011"}, {100, 100, 200});
    EXPECT_EXIT(
        {
            testing::internal::CaptureStdout();
            prepare();
        },
        ::testing::ExitedWithCode(4), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"),
              "\nERROR:3 is different from 2. This may be caused by 1 repeated positions in your "
              "files. Please check position 100\n 4\n");
}
