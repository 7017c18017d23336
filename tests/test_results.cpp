// The result name, the significant-rows table name and the results tables.
#include "driver.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

namespace {

// Tests that write the tables run in a fresh folder of their own.
using ResultsTest = ScratchFolderTest;

const std::string kHeader = "File\t#SNPs\tCandidate\tSNP\tWide\tIni\tEnd\tNCLASSES\tMeanFST\tFST\t"
                            "FSTindex\tfstPval\tn1\tn2\tJHac\tPval\tSig\n";
const std::string kHapMapHeader = "File\t#SNPs\tCandidate\trsid\tPos\tWide\tIni\tEnd\tNCLASSES\t"
                                  "MeanFST\tFST\tFSTindex\tfstPval\tn1\tn2\tJHac\tPval\tSig\n";
const std::string kSummaryHeader = "SegSites\tCandidate\tMean_size\tMean_pos\t%PowerJ\t%FPJJ\n";

CandidateResult record(double pos, int32_t wide, double pval, double jhac = 1.5) {
    CandidateResult r;
    r.candidate = 1;
    r.snpIndex = 0;
    r.nclasses = 11;
    r.jhac = jhac;
    r.pval = pval;
    r.pos = pos;
    r.iniPos.assign(2, static_cast<int32_t>(pos) - 10);
    r.endPos.assign(2, static_cast<int32_t>(pos) + 10);
    r.wide = wide;
    r.fst = 0.0;
    r.fstIndex = 0.0;
    r.fstPval = 0.0;
    return r;
}

// Adds a kept file to the per-file vectors; `records` empty = the file did
// not run the J test.
void keepFile(RunResults &results, const std::string &label, int32_t nsnps, double meanFst,
              bool highFst, std::vector<int32_t> sizes, size_t run,
              const std::vector<CandidateResult> &records, bool ranJ = true) {
    if (ranJ) {
        results.jfiles.push_back(records);
        results.jfileKept.push_back(results.names.size());
        results.jfileRuns.push_back(run);
        results.maxCands = std::max<uint64_t>(results.maxCands, records.size());
        results.totalSnps += nsnps;
    }
    results.names.push_back(label);
    results.fstfiles.emplace_back();
    results.nonEOSfiles.emplace_back();
    results.highfstfiles.push_back(highFst);
    results.nsnpsfiles.push_back(nsnps);
    results.meanfsts.push_back(meanFst);
    results.samplesizesfiles.push_back(sizes);
    ++results.validRunCount;
}

} // namespace

// ---------------------------------------------------------------------------
// Result name
// ---------------------------------------------------------------------------

class ResultNameTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedOldSweep_ = oldSweep;
        oldSweep = false;
        context_.outputPrefix = "Quintor_Results/Quintor_out_";
    }
    void TearDown() override { oldSweep = savedOldSweep_; }
    Settings settings_;
    RunContext context_;
    bool savedOldSweep_ = false;
};

TEST_F(ResultNameTest, DefaultsGiveAutomaticReferenceAndBlocks) {
    // One MS run, no -reference: the file's automatic reference is population 0.
    context_.autoRef = true;
    EXPECT_EQ(buildResultBase(settings_, context_, 0),
              "Quintor_Results/Quintor_out_AutoRefPop1_MAF_0.01_Blocks");
    EXPECT_EQ(context_.resultBase, "Quintor_Results/Quintor_out_AutoRefPop1_MAF_0.01_Blocks");
    EXPECT_EQ(significantTableName(context_.resultBase + ".tsv"),
              "Quintor_Results/Quintor_out_AutoRefPop1_MAF_0.01_Blocks_SIG.tsv");
}

TEST_F(ResultNameTest, EveryPieceInItsOrder) {
    // -reference 2 -runs 10 -window 21 -old -maf 0.05, after a file reached the J step.
    settings_.popforHB = 1;
    settings_.runs = 10;
    settings_.fixwinsize = 21;
    settings_.useblocks = false; // a fixed window turns the blocks off
    settings_.maf = 0.05;
    oldSweep = true;
    context_.autoRef = false;
    EXPECT_EQ(buildResultBase(settings_, context_, 1),
              "Quintor_Results/Quintor_out_RefPop2_MAF_0.05_NF10_OldSweep_W21");

    settings_ = Settings();
    oldSweep = false;
    settings_.noGaps = true;
    settings_.fastaTag = "rnd0";
    context_.autoRef = true;
    EXPECT_EQ(buildResultBase(settings_, context_, 1),
              "Quintor_Results/Quintor_out_AutoRefPop2_MAF_0.01_Blocks_NoGaps_RND");
}

TEST_F(ResultNameTest, TagIsComparedAsGivenAndNoJStepGivesPopulationZero) {
    settings_.fastaTag = "RND0";
    settings_.useblocks = false;
    settings_.runs = 1;
    EXPECT_EQ(buildResultBase(settings_, context_, -1),
              "Quintor_Results/Quintor_out_AutoRefPop0_MAF_0.01");
}

TEST_F(ResultNameTest, OnlyEosModeCompletesTheEosName) {
    settings_.onlyEOS = true;
    context_.resultBase = context_.outputPrefix + "EOS_";
    EXPECT_EQ(buildResultBase(settings_, context_, -1), "Quintor_Results/Quintor_out_EOS__MAF0.01");
    EXPECT_EQ(context_.resultBase, "Quintor_Results/Quintor_out_EOS__MAF0.01");
}

TEST(SignificantTableName, CutAtTheLastDot) {
    EXPECT_EQ(significantTableName("a/b.tsv"), "a/b_SIG.tsv");
    EXPECT_EQ(significantTableName("x.y.tsv"), "x.y_SIG.tsv");
    EXPECT_EQ(significantTableName("noext"), "noext_SIG.tsv");
    EXPECT_EQ(significantTableName("Quintor_Results/out_MAF_0.01.tsv"),
              "Quintor_Results/out_MAF_0.01_SIG.tsv");
}

// ---------------------------------------------------------------------------
// writeOutputFile
// ---------------------------------------------------------------------------

TEST_F(ResultsTest, SingleFileHasNoSummaryAndEndsWithAnEmptyLine) {
    RunResults results;
    CandidateResult first = record(1500.25, 12, 0.01, 12.5);
    first.iniPos.assign(2, 1400);
    first.endPos.assign(2, 1600);
    first.fst = 0.5;
    first.fstIndex = 0.375;
    first.fstPval = 0.001;
    CandidateResult second = record(2500, 12, 1.0 / 3.0, 2.0 / 3.0);
    second.iniPos.assign(2, 2400);
    second.endPos.assign(2, 2600);
    second.nclasses = 6;
    second.fst = 0.0;
    second.fstIndex = -0.125;
    second.fstPval = 1.0;
    keepFile(results, "run.ms", 120, 0.125, false, {10, 12}, 0, {first, second});

    writeOutputFile(results, "out.tsv", 0.05);
    const std::string row1 = "run.ms\t120\t1\t1500.25\t12\t1400\t1600\t11\t0.125\t0.5\t0.375\t0.001\t"
                             "10\t12\t12.5\t0.01\t*\n";
    const std::string row2 = "run.ms\t120\t2\t2500\t12\t2400\t2600\t6\t0.125\t0\t-0.125\t1\t10\t12\t"
                             "0.666666666667\t0.333333333333\tns\n";
    EXPECT_EQ(readFile("out.tsv"), kHeader + row1 + row2 + "\n");
    EXPECT_EQ(readFile("out_SIG.tsv"), kHeader + row1);
}

TEST_F(ResultsTest, RowsAreNumberedByRankNotByCandidateOrdinal) {
    RunResults results;
    CandidateResult a = record(120, 12, 0.5);
    a.candidate = 2;
    CandidateResult b = record(300, 12, 0.5);
    b.candidate = 1;
    CandidateResult c = record(450, 12, 0.5);
    c.candidate = 3;
    keepFile(results, "f", 50, 0.0, false, {4, 4}, 0, {a, b, c});
    writeOutputFile(results, "t.tsv", 0.05);
    const std::string tail = "\t0\t0\t0\t0\t4\t4\t1.5\t0.5\tns\n";
    EXPECT_EQ(readFile("t.tsv"), kHeader + "f\t50\t1\t120\t12\t110\t130\t11" + tail +
                                     "f\t50\t2\t300\t12\t290\t310\t11" + tail +
                                     "f\t50\t3\t450\t12\t440\t460\t11" + tail + "\n");
}

TEST_F(ResultsTest, SummaryOverThreeFilesByRank) {
    RunResults results;
    // File 0: four candidates, ranks 1 and 2 significant.
    keepFile(results, "f0", 100, 0.1, false, {10, 10}, 0,
             {record(500, 12, 0.001), record(1000, 20, 0.01), record(1500, 14, 0.5),
              record(2000, 16, 0.9)});
    // File 1: two candidates, none significant.
    keepFile(results, "f1", 200, 0.2, false, {10, 10}, 1, {record(700, 12, 0.2), record(800, 12, 0.3)});
    // File 2: three candidates, rank 2 significant.
    keepFile(results, "f2", 300, 0.3, false, {10, 10}, 2,
             {record(2000, 12, 0.7), record(3000, 30, 0.04), record(4000, 12, 0.06)});
    ASSERT_EQ(results.maxCands, 4u);
    ASSERT_EQ(results.validRunCount, 3u);

    writeOutputFile(results, "s.tsv", 0.05);
    const std::string table = readFile("s.tsv");
    const std::string summary = kSummaryHeader + "200" +
                                "\t1\t12\t500\t33.3333333333\t33.3333333333\n"
                                "\t2\t25\t2000\t66.6666666667\t66.6666666667\n"
                                "\t3\t0\t-1\t0\t0\n"
                                "\t4\t0\t-1\t0\t0\n";
    ASSERT_GE(table.size(), summary.size() + 2);
    EXPECT_EQ(table.substr(table.size() - summary.size() - 2), "\n\n" + summary);
    // Nine rows and the header, then the empty line and the summary.
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 10 + 1 + 5);
    EXPECT_NE(table.find("f2\t300\t3\t4000\t12\t3990\t4010\t11\t0.3\t0\t0\t0\t10\t10\t1.5\t0.06\tns\n"),
              std::string::npos);
    EXPECT_DOUBLE_EQ(results.totalSnps, 200.0);

    // The significant rows: three rows, no empty line, no summary.
    const std::string sig = readFile("s_SIG.tsv");
    EXPECT_EQ(sig, kHeader +
                       "f0\t100\t1\t500\t12\t490\t510\t11\t0.1\t0\t0\t0\t10\t10\t1.5\t0.001\t*\n"
                       "f0\t100\t2\t1000\t20\t990\t1010\t11\t0.1\t0\t0\t0\t10\t10\t1.5\t0.01\t*\n"
                       "f2\t300\t2\t3000\t30\t2990\t3010\t11\t0.3\t0\t0\t0\t10\t10\t1.5\t0.04\t*\n");
}

TEST_F(ResultsTest, MeansAreFloatingPointAndFalsePositivesUseTheValidRuns) {
    RunResults results;
    keepFile(results, "a", 10, 0.0, false, {4, 4}, 0, {record(1000, 20, 0.01)});
    keepFile(results, "b", 13, 0.0, false, {4, 4}, 1, {record(1001, 25, 0.02)});
    results.validRunCount = 4; // two more files with shared SNPs were dropped
    writeOutputFile(results, "m.tsv", 0.05);
    const std::string table = readFile("m.tsv");
    const std::string summary = kSummaryHeader + "11.5\t1\t22.5\t1000.5\t100\t50\n";
    EXPECT_EQ(table.substr(table.size() - summary.size() - 2), "\n\n" + summary);
}

TEST_F(ResultsTest, PvalueEqualToTheLevelIsSignificant) {
    RunResults results;
    keepFile(results, "f", 20, 0.0, false, {5, 6}, 0,
             {record(10, 12, 0.05), record(20, 12, std::nextafter(0.05, 1.0))});
    writeOutputFile(results, "p.tsv", 0.05);
    const std::string row1 = "f\t20\t1\t10\t12\t0\t20\t11\t0\t0\t0\t0\t5\t6\t1.5\t0.05\t*\n";
    const std::string row2 = "f\t20\t2\t20\t12\t10\t30\t11\t0\t0\t0\t0\t5\t6\t1.5\t0.05\tns\n";
    EXPECT_EQ(readFile("p.tsv"), kHeader + row1 + row2 + "\n");
    EXPECT_EQ(readFile("p_SIG.tsv"), kHeader + row1);
}

TEST_F(ResultsTest, HapMapVariantNamesEachPosition) {
    RunResults results;
    results.rsidMaps[0][1500.25] = "WRONG_RUN";
    results.rsidMaps[1][1500.25] = "RS12";
    keepFile(results, "chr1.hap", 120, 0.0, false, {4, 4}, 1,
             {record(1500.25, 12, 0.5), record(2500, 12, 0.5)});
    writeOutputFile(results, "h.tsv", 0.05);
    const std::string tail = "\t0\t0\t0\t0\t4\t4\t1.5\t0.5\tns\n";
    EXPECT_EQ(readFile("h.tsv"), kHapMapHeader +
                                     "chr1.hap\t120\t1\tRS12\t1500.25\t12\t1490\t1510\t11" + tail +
                                     "chr1.hap\t120\t2\t\t2500\t12\t2490\t2510\t11" + tail + "\n");
    EXPECT_EQ(readFile("h_SIG.tsv"), kHapMapHeader);
}

TEST_F(ResultsTest, HighFstWarningInBothTables) {
    RunResults results;
    keepFile(results, "low.ms", 30, 0.2, false, {4, 4}, 0, {record(5, 12, 0.5)});
    keepFile(results, "high.ms", 40, 0.75, true, {4, 4}, 1, {record(7, 12, 0.01)});
    writeOutputFile(results, "w.tsv", 0.05);
    const std::string warning = "\nWARNING: THE AVERAGE FST WAS GREATER THAN 0.5 IN FILE high.ms\n\n";
    const std::string low = "low.ms\t30\t1\t5\t12\t-5\t15\t11\t0.2\t0\t0\t0\t4\t4\t1.5\t0.5\tns\n";
    const std::string high = "high.ms\t40\t1\t7\t12\t-3\t17\t11\t0.75\t0\t0\t0\t4\t4\t1.5\t0.01\t*\n";
    const std::string table = readFile("w.tsv");
    EXPECT_EQ(table.substr(0, kHeader.size() + low.size() + warning.size() + high.size() + 1),
              kHeader + low + warning + high + "\n");
    EXPECT_EQ(readFile("w_SIG.tsv"), kHeader + warning + high);
}

TEST_F(ResultsTest, RowsShowTheirOwnFilesValuesWhenAKeptFileSkippedTheJTest) {
    RunResults results;
    keepFile(results, "first.ms", 30, 0.1, false, {4, 5}, 0, {record(5, 12, 0.5)});
    // Kept without J results (no J test), with values of its own.
    keepFile(results, "middle.ms", 99, 0.9, true, {7, 8}, 1, {}, false);
    keepFile(results, "last.ms", 40, 0.3, false, {6, 7}, 2, {record(7, 12, 0.5)});
    writeOutputFile(results, "k.tsv", 0.05);
    const std::string table = readFile("k.tsv");
    EXPECT_EQ(table.substr(0, table.find("\n\nSegSites")),
              kHeader + "first.ms\t30\t1\t5\t12\t-5\t15\t11\t0.1\t0\t0\t0\t4\t5\t1.5\t0.5\tns\n" +
                  "last.ms\t40\t1\t7\t12\t-3\t17\t11\t0.3\t0\t0\t0\t6\t7\t1.5\t0.5\tns");
    EXPECT_EQ(table.find("middle.ms"), std::string::npos);
    // Summary over the two files with J results; three valid runs.
    EXPECT_NE(table.find(kSummaryHeader + "35\t1\t0\t-1\t0\t0\n"), std::string::npos);
}

TEST_F(ResultsTest, NoJResultsCreatesBothTablesEmpty) {
    std::filesystem::create_directory("Quintor_Results");
    RunResults results;
    keepFile(results, "eos.ms", 30, 0.1, false, {4, 5}, 0, {}, false);
    writeOutputFile(results, "Quintor_Results/Quintor_out_EOS__MAF0.01.tsv", 0.05);
    EXPECT_TRUE(std::filesystem::exists("Quintor_Results/Quintor_out_EOS__MAF0.01.tsv"));
    EXPECT_TRUE(std::filesystem::exists("Quintor_Results/Quintor_out_EOS__MAF0.01_SIG.tsv"));
    EXPECT_EQ(readFile("Quintor_Results/Quintor_out_EOS__MAF0.01.tsv"), "");
    EXPECT_EQ(readFile("Quintor_Results/Quintor_out_EOS__MAF0.01_SIG.tsv"), "");
}

TEST_F(ResultsTest, RepeatedRunsAppend) {
    writeFile("again.tsv", "old\n");
    RunResults results;
    keepFile(results, "f", 20, 0.0, false, {5, 6}, 0, {record(10, 12, 0.5)});
    writeOutputFile(results, "again.tsv", 0.05);
    const std::string row = "f\t20\t1\t10\t12\t0\t20\t11\t0\t0\t0\t0\t5\t6\t1.5\t0.5\tns\n";
    EXPECT_EQ(readFile("again.tsv"), "old\n" + kHeader + row + "\n");
}
