// The J test: candidate lookup, HAC classes and JHac, and the J step of a
// file (candidates, windows, class counts, records) on hand-made data.
#include "driver.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// Upper tail of the chi-square distribution with an even number of degrees
// of freedom: e^-y * sum_{k < df/2} y^k / k!, y = x / 2.
double evenDfPvalue(double x, int df) {
    const double y = x / 2.0;
    double term = 1.0, sum = 0.0;
    for (int k = 0; k < df / 2; ++k) {
        if (k > 0) term *= y / k;
        sum += term;
    }
    return std::exp(-y) * sum;
}

// One degree of freedom: erfc(sqrt(x / 2)).
double oneDfPvalue(double x) { return std::erfc(std::sqrt(x / 2.0)); }

} // namespace

// ---------------------------------------------------------------------------
// findInSorted
// ---------------------------------------------------------------------------

TEST(FindInSorted, ExactValuesOnly) {
    const std::vector<double> empty;
    EXPECT_EQ(findInSorted(empty, 1.0), -1);
    const std::vector<double> v = {0.5, 1.0, 2.0, 2.0, 3.5};
    EXPECT_EQ(findInSorted(v, 0.5), 0);
    EXPECT_EQ(findInSorted(v, 2.0), 2); // the first of equal values
    EXPECT_EQ(findInSorted(v, 3.5), 4);
    EXPECT_EQ(findInSorted(v, 0.25), -1);
    EXPECT_EQ(findInSorted(v, 1.5), -1);
    EXPECT_EQ(findInSorted(v, 4.0), -1);
    const std::vector<double> tenths = {0.1, 0.3};
    EXPECT_EQ(findInSorted(tenths, 0.1 + 0.2), -1); // 0.30000000000000004
    EXPECT_EQ(findInSorted(tenths, 0.3), 1);
}

// ---------------------------------------------------------------------------
// computeJHac
// ---------------------------------------------------------------------------

TEST(ComputeJHac, OneClassGivesZeroAndOne) {
    double pval = -1.0;
    const double jhac = computeJHac({{0, 3, 5, 5}, {1, 2, 4}}, 1, 6, pval);
    EXPECT_EQ(jhac, 0.0);
    EXPECT_EQ(pval, 1.0);
}

TEST(ComputeJHac, IdenticalDistributionsGiveZeroAndOne) {
    double pval = -1.0;
    const double jhac = computeJHac({{0, 1, 1, 2, 7}, {2, 1, 7, 0, 1}}, 3, 4, pval);
    EXPECT_EQ(jhac, 0.0);
    EXPECT_EQ(pval, 1.0);
}

TEST(ComputeJHac, FiftyAgainstFiftyInTwoClasses) {
    // K = 2, classSpan 11: S = 10, d = 5; class 0 holds 0..4, class 1 holds
    // 5..9 and 10. Counts (40, 10) and (10, 40).
    std::vector<std::vector<double>> hacs(2);
    for (int i = 0; i < 40; ++i) hacs[0].push_back(i % 5);
    for (int i = 0; i < 10; ++i) hacs[0].push_back(5 + i % 5);
    for (int i = 0; i < 10; ++i) hacs[1].push_back(4);
    for (int i = 0; i < 40; ++i) hacs[1].push_back(i % 2 ? 10 : 9);
    double pval = -1.0;
    const double jhac = computeJHac(hacs, 2, 11, pval);
    const double expected = 25.0 * 2.0 * (30.0 / 51.0) * std::log(40.5 / 10.5);
    EXPECT_NEAR(jhac, expected, 1e-12);
    EXPECT_NEAR(jhac, 39.7, 0.05);
    EXPECT_NEAR(pval, oneDfPvalue(expected), 1e-9 * oneDfPvalue(expected));
    EXPECT_LT(pval, 1e-8);
}

TEST(ComputeJHac, ElevenClassesOfOneValueEach) {
    // Window of 11 SNPs with the candidate inside: K = 11, classSpan 12 (S = 11,
    // d = 1): class j holds j, class 10 holds 10 and 11.
    std::vector<std::vector<double>> hacs(2);
    for (int x = 0; x <= 11; ++x) hacs[0].push_back(x); // classes 0..9 once, class 10 twice
    hacs[1].assign(12, 0.0);                              // class 0 twelve times
    double pval = -1.0;
    const double jhac = computeJHac(hacs, 11, 12, pval);
    // N = 12 each, denominators 12 + 5.5.
    const double sum = (1.5 - 12.5) / 17.5 * std::log(1.5 / 12.5) + 9 * (1.0 / 17.5) * std::log(3.0) +
                       (2.0 / 17.5) * std::log(5.0);
    EXPECT_NEAR(jhac, 6.0 * sum, 1e-12);
    EXPECT_NEAR(pval, evenDfPvalue(6.0 * sum, 10), 1e-9 * evenDfPvalue(6.0 * sum, 10));
}

TEST(ComputeJHac, WindowOfAllSnpsCountsOnlyTheLargestValue) {
    // K = 11, classSpan 11: S = 10, d = 0. Only values equal to 10 are counted
    // (class 10); every other value is in no class but counts in N.
    double pval = -1.0;
    const double jhac = computeJHac({{10, 10, 3, 0}, {0, 1, 2, 9}}, 11, 11, pval);
    const double expected = (16.0 / 8.0) * (2.0 / 9.5) * std::log(5.0);
    EXPECT_NEAR(jhac, expected, 1e-12);
    EXPECT_NEAR(pval, evenDfPvalue(expected, 10), 1e-9 * evenDfPvalue(expected, 10));
}

TEST(ComputeJHac, ValueAboveTheLastRangeThatIsNotTheSpanIsInNoClass) {
    // K = 2, classSpan 12: S = 11, d = 5; classes 0..4 and 5..9 (+ 11); 10 is
    // in no class.
    double pval = -1.0;
    const double jhac = computeJHac({{0, 10}, {0, 11}}, 2, 12, pval);
    const double expected = (4.0 / 4.0) * (std::log(3.0) / 3.0);
    EXPECT_NEAR(jhac, expected, 1e-12);
    EXPECT_NEAR(pval, oneDfPvalue(expected), 1e-9);
}

TEST(ComputeJHac, UnequalSampleSizes) {
    // K = 2, classSpan 3 (S = 2, d = 1): class 0 holds 0, class 1 holds 1 and 2.
    double pval = -1.0;
    const double jhac = computeJHac({{0, 0, 0}, {2, 1}}, 2, 3, pval);
    const double f1[2] = {3.5 / 4.0, 0.5 / 4.0};
    const double f2[2] = {0.5 / 3.0, 2.5 / 3.0};
    const double expected = (6.0 / 5.0) * ((f1[0] - f2[0]) * std::log(f1[0] / f2[0]) +
                                           (f1[1] - f2[1]) * std::log(f1[1] / f2[1]));
    EXPECT_NEAR(jhac, expected, 1e-12);
    EXPECT_NEAR(pval, oneDfPvalue(expected), 1e-9);
}

// ---------------------------------------------------------------------------
// runJTest on hand-made files
// ---------------------------------------------------------------------------

namespace {

// One population's rows as texts of '0' and '1'.
typedef std::vector<std::string> Rows;

// Rows whose cell at SNP s of row r is (r + s + shift) mod 2: every pair of
// neighbouring SNPs is complementary, so no pair is in positive LD.
Rows parityRows(int rows, int snps, int shift = 0) {
    Rows out(static_cast<size_t>(rows), std::string(static_cast<size_t>(snps), '0'));
    for (int r = 0; r < rows; ++r)
        for (int s = 0; s < snps; ++s)
            if ((r + s + shift) % 2) out[static_cast<size_t>(r)][static_cast<size_t>(s)] = '1';
    return out;
}

// Sets SNPs [first, end) of every row to the row's value in `pattern`.
void setColumns(Rows &rows, int first, int end, const std::string &pattern) {
    for (size_t r = 0; r < rows.size(); ++r)
        for (int s = first; s < end; ++s) rows[r][static_cast<size_t>(s)] = pattern[r];
}

std::vector<double> positionsFrom(int snps, double first, double step) {
    std::vector<double> out;
    for (int i = 0; i < snps; ++i) out.push_back(first + step * i);
    return out;
}

// Every test runs in a fresh scratch folder: the notes go to "Quintor.log".
class JTestRun : public ScratchFolderTest {
protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        verbose = false;
        minDprime = 0.4;
        context.formatCode = FormatCode::MS;
        context.autoRef = true;
    }
    void TearDown() override {
        verbose = false;
        ScratchFolderTest::TearDown();
    }

    // The file as the shared-SNP step leaves it.
    void load(const Rows &pop0, const Rows &pop1, const std::vector<double> &positions) {
        AnalysisData &d = a;
        for (const Rows *rows : {&pop0, &pop1})
            for (const std::string &text : *rows) {
                ASSERT_EQ(text.size(), positions.size());
                HaplotypeRow row;
                for (char c : text) row.push_back(c == '1' ? 1 : 0);
                d.data.push_back(row);
            }
        d.samplesizes = {static_cast<int32_t>(pop0.size()), static_cast<int32_t>(pop1.size())};
        d.fileSampleSizes = d.samplesizes;
        d.snpositions = {positions, positions};
        d.snpfreqs.assign(2, std::vector<double>(positions.size(), 0.0));
        size_t r = 0;
        for (size_t p = 0; p < 2; ++p) {
            for (int k = 0; k < d.samplesizes[p]; ++k, ++r)
                for (size_t s = 0; s < positions.size(); ++s) d.snpfreqs[p][s] += d.data[r][s];
            for (double &f : d.snpfreqs[p]) f /= d.samplesizes[p];
        }
        d.metapopdata = d.data;
        d.metapopsnpositions = positions;
        d.genomesize = positions.size();
        d.numsnps.assign(1, static_cast<int32_t>(positions.size()));
        d.fstdistrib.assign(positions.size(), FstEntry());
        d.refpop = 0;
        d.fileLabel = "test.ms";
    }

    // Three rows a population, without LD, at the positions; a fixed window
    // of `size` SNPs and no blocks.
    void loadWithFixedWindow(const std::vector<double> &positions, int size) {
        const int snps = static_cast<int>(positions.size());
        load(parityRows(3, snps), parityRows(3, snps, 1), positions);
        settings.fixwinsize = size;
        settings.useblocks = false;
    }

    JOutcome run() {
        context.minblock = settings.minWinSize;
        context.savedReference = settings.popforHB;
        if (settings.fixwinsize != 0) a.curWin = settings.fixwinsize;
        return runJTest(settings, context, results, 3, a, records, candidates);
    }

    Settings settings;
    RunContext context;
    RunResults results;
    size_t candidates = 0;
    AnalysisData a;
    std::vector<CandidateResult> records;
};

} // namespace

TEST_F(JTestRun, FixedWindowOfElevenOnFiveHundredSnps) {
    const int n = 500;
    const std::vector<double> pos = positionsFrom(n, 1000.5, 10.0);
    load(parityRows(4, n), parityRows(4, n, 1), pos);
    a.fstdistrib[100] = FstEntry{0.4, 0.002};
    a.fsttot = 0.1;
    settings.fixwinsize = 11;
    settings.useblocks = false;
    settings.selectives = {pos[0], pos[499], pos[100]};
    ASSERT_EQ(run(), JOutcome::Kept);

    EXPECT_EQ(a.curWin, 12); // 11 classes, then one more SNP
    ASSERT_EQ(records.size(), 3u);
    // Sorted by position; `candidate` keeps the order found.
    const int first[3] = {0, 95, 488}, last[3] = {11, 106, 499}, index[3] = {0, 100, 499};
    const uint64_t ordinal[3] = {1, 3, 2};
    for (size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(records[k].candidate, ordinal[k]);
        EXPECT_EQ(records[k].snpIndex, index[k]);
        EXPECT_EQ(records[k].pos, pos[static_cast<size_t>(index[k])]);
        EXPECT_EQ(records[k].nclasses, 11);
        EXPECT_EQ(records[k].wide, 12);
        EXPECT_EQ(records[k].iniPos, std::vector<int64_t>(2, 1000 + 10 * first[k]));
        EXPECT_EQ(records[k].endPos, std::vector<int64_t>(2, 1000 + 10 * last[k]));
    }
    EXPECT_EQ(records[1].fst, 0.4);
    EXPECT_NEAR(records[1].fstIndex, 0.3, 1e-15);
    EXPECT_EQ(records[1].fstPval, 0.002);
    EXPECT_EQ(records[0].fst, 0.0);
    EXPECT_NEAR(records[0].fstIndex, -0.1, 1e-15);
    EXPECT_EQ(records[0].fstPval, 0.0);

    EXPECT_EQ(results.totalSnps, 500.0);
    EXPECT_EQ(results.maxCands, 3u);
    ASSERT_EQ(results.jfiles.size(), 1u);
    EXPECT_EQ(results.jfiles[0].size(), 3u);
    EXPECT_EQ(results.jfiles[0][2].pos, pos[499]);
    EXPECT_EQ(results.jfileKept, std::vector<size_t>{0});
    EXPECT_EQ(results.jfileRuns, std::vector<size_t>{3});
    EXPECT_TRUE(context.autoRef);
    EXPECT_EQ(settings.popforHB, 0);
    EXPECT_NE(context.runLog.find("\nNumber of true SNPs shared in pop 1 is 500"
                                  "\nNumber of true SNPs shared in pop 2 is 500"),
              std::string::npos);
}

TEST_F(JTestRun, FixedWindowOfFortyGrowsToFortyOne) {
    loadWithFixedWindow(positionsFrom(100, 1.0, 1.0), 40);
    settings.selectives = {51.0}; // SNP 50
    ASSERT_EQ(run(), JOutcome::Kept);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].nclasses, 20);
    EXPECT_EQ(records[0].wide, 41);
    EXPECT_EQ(records[0].iniPos[0], 31); // [30, 71)
    EXPECT_EQ(records[0].endPos[0], 71);
}

TEST_F(JTestRun, FixedWindowOfThirtyOneRoundsDownThenGrows) {
    loadWithFixedWindow(positionsFrom(100, 1.0, 1.0), 31);
    settings.selectives = {51.0};
    ASSERT_EQ(run(), JOutcome::Kept);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].nclasses, 15);
    EXPECT_EQ(records[0].wide, 31);
    EXPECT_EQ(records[0].iniPos[0], 36); // [35, 66)
    EXPECT_EQ(records[0].endPos[0], 66);
}

TEST_F(JTestRun, FixedWindowLargerThanTheSharedSnpsIsLowered) {
    loadWithFixedWindow(positionsFrom(35, 1.0, 1.0), 50);
    settings.MaxWinSize = 1000;
    settings.selectives = {3.0, 30.0};
    ASSERT_EQ(run(), JOutcome::Kept);
    const std::string note = "\nFixed Window size is: 50.\nIn metapopulation 1 only 35 true SNPs in the "
                             "sample. The window size is changed for file test.ms. New window size is: ";
    EXPECT_EQ(readFile("Quintor.log"), note + " 35\n");
    EXPECT_NE(context.runLog.find(note), std::string::npos);
    EXPECT_EQ(a.curWin, 35);
    ASSERT_EQ(records.size(), 2u);
    for (const CandidateResult &r : records) {
        EXPECT_EQ(r.nclasses, 17);
        EXPECT_EQ(r.wide, 35);
        EXPECT_EQ(r.iniPos[0], 1);
        EXPECT_EQ(r.endPos[0], 35);
    }
}

TEST_F(JTestRun, MsValueIsAFractionOfTheSharedSnps) {
    const std::vector<double> pos = positionsFrom(200, 0.25 / 200, 1.0 / 200);
    loadWithFixedWindow(pos, 11);
    // 0.5 -> SNP 100; 0.999 -> 199; 1.0 and -0.25 have no SNP and are dropped.
    settings.selectives = {0.5, 1.0, -0.25, 0.999};
    ASSERT_EQ(run(), JOutcome::Kept);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].snpIndex, 100);
    EXPECT_EQ(records[0].candidate, 1u);
    EXPECT_EQ(records[1].snpIndex, 199);
    EXPECT_EQ(records[1].candidate, 2u);
    EXPECT_EQ(context.runLog.find("Because"), std::string::npos); // not verbose
}

TEST_F(JTestRun, OtherFormatsTakeTheNearestSharedPositionTiesGoingDown) {
    const std::vector<double> pos = positionsFrom(12, 100.0, 100.0); // 100 .. 1200
    context.formatCode = FormatCode::HM;
    loadWithFixedWindow(pos, 11);
    settings.selectives = {250.0, 260.0, 50.0, 5000.0, 700.0};
    verbose = true;
    testing::internal::CaptureStdout();
    const JOutcome outcome = run();
    const std::string console = testing::internal::GetCapturedStdout();
    verbose = false;
    ASSERT_EQ(outcome, JOutcome::Kept);
    ASSERT_EQ(records.size(), 5u);
    const double expectedPos[5] = {100, 200, 300, 700, 1200};
    const uint64_t ordinal[5] = {3, 1, 2, 5, 4};
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(records[k].pos, expectedPos[k]);
        EXPECT_EQ(records[k].candidate, ordinal[k]);
    }
    EXPECT_NE(console.find("\nCandidate changed to position 1\n\nCandidate changed to position 2\n"
                           "\nCandidate changed to position 0\n\nCandidate changed to position 11\n"
                           "Population references computed: "),
              std::string::npos);
    const std::string because = "\nBecause proposed candidate is not shared the site is changed to position ";
    EXPECT_NE(context.runLog.find(because + "200\n" + because + "300\n" + because + "100\n" +
                                  because + "1200\n\nNumber of true SNPs"),
              std::string::npos);
    EXPECT_NE(console.find("Number of candidates to analize 5.\n"), std::string::npos);
    EXPECT_NE(console.find("\nAnalizing CANDIDATE 1 which corresponds to SNP 1 in the metapopulation.\n"
                           "Population 0. Window range 0-12.\nPopulation 1. Window range 0-12.\n"),
              std::string::npos);
}

TEST_F(JTestRun, GivenReferenceIsUsedAndNamesTheResult) {
    loadWithFixedWindow(positionsFrom(20, 1.0, 1.0), 11);
    settings.popforHB = 1; // -reference 2
    settings.selectives = {10.0};
    ASSERT_EQ(run(), JOutcome::Kept);
    EXPECT_EQ(settings.popforHB, 1);
    EXPECT_FALSE(context.autoRef);
}

TEST_F(JTestRun, NoEosCandidateMeansNoSelection) {
    loadWithFixedWindow(positionsFrom(20, 1.0, 1.0), 11);
    testing::internal::CaptureStdout();
    const JOutcome outcome = run();
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(outcome, JOutcome::NoSelection);
    EXPECT_EQ(console, "\n***NO SELECTION DETECTED IN THIS FILE.***\n\n");
    EXPECT_TRUE(results.jfiles.empty());
    EXPECT_EQ(results.totalSnps, 0.0);
    EXPECT_TRUE(context.autoRef);
}

// A population whose rows are constant over [first, end): 6 of 10 rows carry
// value 1, so every pair inside is in complete LD.
Rows linkedRows(int snps, int first, int end) {
    Rows rows = parityRows(10, snps);
    setColumns(rows, first, end, "1111110000");
    return rows;
}

TEST_F(JTestRun, VariableWindowClassesWithAndWithoutCap) {
    const int n = 45;
    const std::vector<double> pos = positionsFrom(n, 10.0, 10.0);
    const int caps[4] = {0, -3, 1000, 30};
    const int32_t expected[4] = {22, 22, 22, 15};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(caps[k]);
        a = AnalysisData();
        records.clear();
        results = RunResults();
        settings.popforHB = -1;
        load(linkedRows(n, 0, n), parityRows(10, n), pos);
        settings.fixwinsize = 0;
        settings.useblocks = true;
        settings.MaxWinSize = caps[k];
        settings.selectives = {pos[22]};
        ASSERT_EQ(run(), JOutcome::Kept);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].wide, 45); // the whole LD window
        EXPECT_EQ(records[0].nclasses, expected[k]);
        EXPECT_EQ(records[0].iniPos[0], 10);
        EXPECT_EQ(records[0].endPos[0], 450);
    }
}

TEST_F(JTestRun, UserPositionWithoutAnyBlockMeansNoSelection) {
    load(parityRows(10, 30), parityRows(10, 30, 1), positionsFrom(30, 1.0, 1.0));
    settings.fixwinsize = 0;
    settings.useblocks = true;
    settings.popforHB = 0; // -reference 1: no retry
    settings.selectives = {11.0};
    testing::internal::CaptureStdout();
    const JOutcome outcome = run();
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(outcome, JOutcome::NoSelection);
    EXPECT_EQ(console, "\n***NO SELECTION DETECTED IN THIS FILE.***\n\n");
    const std::string tail = "\n\n***NO SELECTION DETECTED IN THIS FILE.***\n";
    ASSERT_GE(context.runLog.size(), tail.size());
    EXPECT_EQ(context.runLog.substr(context.runLog.size() - tail.size()), tail);
    EXPECT_FALSE(context.autoRef);
}

TEST_F(JTestRun, BlockCentresAreTheCandidates) {
    const int n = 70;
    const std::vector<double> pos = positionsFrom(n, 0.5, 1.0);
    Rows pop0 = parityRows(10, n);
    setColumns(pop0, 0, 12, "1111110000");
    setColumns(pop0, 40, 61, "1111000000");
    load(pop0, parityRows(10, n, 1), pos);
    settings.fixwinsize = 0;
    settings.useblocks = true;
    ASSERT_EQ(run(), JOutcome::Kept);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].snpIndex, 6);
    EXPECT_EQ(records[0].wide, 12);
    EXPECT_EQ(records[0].nclasses, 12);
    EXPECT_EQ(records[1].snpIndex, 50);
    EXPECT_EQ(records[1].wide, 21);
    EXPECT_EQ(records[1].nclasses, 21);
    EXPECT_EQ(records[1].iniPos[0], 40);
    EXPECT_EQ(records[1].endPos[0], 60);
}

// Population 0: complementary neighbours (negative D' everywhere).
// Population 1: rows X (6) carry b, rows Y (4) its complement, with b = 1
// before SNP 20 and 0 from it on: D' = 1 everywhere, reference alleles b.
Rows retryRows(int snps) {
    Rows rows(10, std::string(static_cast<size_t>(snps), '0'));
    for (int r = 0; r < 10; ++r)
        for (int s = 0; s < snps; ++s) {
            const bool b = s < 20;
            const bool value = r < 6 ? b : !b;
            rows[static_cast<size_t>(r)][static_cast<size_t>(s)] = value ? '1' : '0';
        }
    return rows;
}

TEST_F(JTestRun, StretchedWindowKeepsTheReferenceOfTheRetry) {
    const int n = 40;
    const std::vector<double> pos = positionsFrom(n, 100.0, 10.0);
    load(parityRows(10, n), retryRows(n), pos);
    settings.fixwinsize = 0;
    settings.useblocks = false;
    settings.SL = 1e-300; // no pair is linked: both LD windows stay short
    a.eosCandidates = {pos[20]};
    ASSERT_EQ(run(), JOutcome::Kept);
    ASSERT_EQ(records.size(), 1u);
    // [15, 25) from both populations, stretched to [15, 26); 11 classes, d = 1.
    EXPECT_EQ(records[0].wide, 11);
    EXPECT_EQ(records[0].iniPos[0], 250);
    EXPECT_EQ(records[0].endPos[0], 350);
    EXPECT_EQ(records[0].nclasses, 11);
    // Against population 1's reference alleles: population 0 all HAC 5,
    // population 1 six rows HAC 0 and four rows HAC 10.
    const double jhac =
        5.0 * (6.0 * std::log(13.0) + 10.0 * std::log(21.0) + 4.0 * std::log(9.0)) / 15.5;
    EXPECT_NEAR(records[0].jhac, jhac, 1e-12);
    EXPECT_NEAR(records[0].pval, evenDfPvalue(jhac, 10), 1e-9 * evenDfPvalue(jhac, 10));
}

TEST_F(JTestRun, NoRetryAndNoPositiveMeanDprimeGivesZero) {
    const int n = 40;
    const std::vector<double> pos = positionsFrom(n, 100.0, 10.0);
    load(parityRows(10, n), retryRows(n), pos);
    settings.fixwinsize = 0;
    settings.useblocks = false;
    settings.popforHB = 0; // -reference 1: no retry with population 1
    settings.SL = 1e-300;
    a.eosCandidates = {pos[20]};
    ASSERT_EQ(run(), JOutcome::Kept);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].wide, 11);
    EXPECT_EQ(records[0].jhac, 0.0);
    EXPECT_EQ(records[0].pval, 1.0);
}

TEST_F(JTestRun, StretchedWindowPastTheLastSnpIsMovedBack) {
    const int n = 40;
    const std::vector<double> pos = positionsFrom(n, 100.0, 10.0);
    load(parityRows(10, n), retryRows(n), pos);
    settings.fixwinsize = 0;
    settings.useblocks = false;
    settings.SL = 1e-300;
    a.eosCandidates = {pos[38]};
    ASSERT_EQ(run(), JOutcome::Kept);
    // [33, 40) stretched to end 44, moved back to [29, 40).
    EXPECT_EQ(readFile("Quintor.log"),
              "\nQuintor ERROR: window end 44 out of the genome range and changed to 40.\n 29\n");
    EXPECT_EQ(context.runLog.find("window end"), std::string::npos);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].wide, 11);
    EXPECT_EQ(records[0].iniPos[0], 390);
    EXPECT_EQ(records[0].endPos[0], 490);
}
