// The EOS test: the Fst bound, the outlier finders, the Lk test, the split
// into EOS and Non-EOS outliers, the candidate walk and the high-Fst branch.
#include "driver.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>

namespace {

// Upper tail of the chi-square distribution with one degree of freedom (the
// program evaluates it through the incomplete gamma function, with ln Gamma
// from a series accurate to about 1e-13 here).
double chiSquareOneDf(double x) { return std::erfc(std::sqrt(x / 2.0)); }

std::vector<double> positionsOf(const std::vector<SiteRecord> &records) {
    std::vector<double> positions;
    for (const SiteRecord &r : records) positions.push_back(r.pos);
    return positions;
}

std::vector<std::string> idsOf(const std::vector<SiteRecord> &records) {
    std::vector<std::string> ids;
    for (const SiteRecord &r : records) ids.push_back(r.id);
    return ids;
}

std::vector<FstEntry> entries(const std::vector<double> &fsts, double lkPval = 0.0) {
    std::vector<FstEntry> out;
    for (double f : fsts) out.push_back(FstEntry{f, lkPval});
    return out;
}

std::vector<std::string> namesFor(size_t n) {
    std::vector<std::string> names;
    for (size_t i = 0; i < n; ++i) names.push_back("s" + std::to_string(i));
    return names;
}

std::vector<double> columnPositions(size_t n) {
    std::vector<double> positions;
    for (size_t i = 0; i < n; ++i) positions.push_back(static_cast<double>(i));
    return positions;
}

// A file whose Fst values are given (the allele-count path of the EOS test,
// which takes `fstdistrib` and `fsttot` as they are).
class EosTest : public ::testing::Test {
protected:
    void SetUp() override {
        verbose = false;
        context.formatCode = FormatCode::BS;
    }
    void TearDown() override { verbose = false; }

    void sites(const std::vector<double> &fsts, const std::vector<double> &positions, double fsttot) {
        analysis.fstdistrib = entries(fsts);
        analysis.metapopsnpositions = positions;
        analysis.filelocnames.clear();
        for (double p : positions) analysis.filelocnames.push_back(toString<double>(p));
        analysis.genomesize = fsts.size();
        analysis.numsnps[0] = static_cast<int32_t>(fsts.size());
        analysis.fsttot = fsttot;
        analysis.FstMax = 0.96116885663855656;
    }

    // 16 background sites of Fst 0.01 at 100 .. 115 and the four outliers
    // given, spread among them.
    void backgroundWith(const std::vector<std::pair<double, double>> &outliers) {
        std::vector<double> fsts(16, 0.01), positions;
        for (int i = 0; i < 16; ++i) positions.push_back(100 + i);
        size_t at = 3;
        for (const auto &o : outliers) {
            fsts.insert(fsts.begin() + static_cast<long>(at), o.second);
            positions.insert(positions.begin() + static_cast<long>(at), o.first);
            at += 4;
        }
        sites(fsts, positions, 0.05);
    }

    std::string run() {
        testing::internal::CaptureStdout();
        runEosTest(settings, context, analysis);
        return testing::internal::GetCapturedStdout();
    }

    Settings settings;
    RunContext context;
    AnalysisData analysis;
};

}  // namespace

TEST(FstMax, BoundFromMafAndSampleSizes) {
    Settings settings;
    RunContext context;
    AnalysisData analysis;
    // Allele counts: no sample-size correction.
    analysis.samplesizes = {50, 50};
    computeFstMax(settings, context, analysis, true);
    EXPECT_NEAR(analysis.FstMax, 0.961169, 5e-7);
    // ms with the default sample size 50: c = 50/49.
    computeFstMax(settings, context, analysis, false);
    EXPECT_NEAR(analysis.FstMax, 0.960392, 5e-7);
    // Two sizes: the mean of 20/19 and 30/29.
    analysis.samplesizes = {20, 30};
    computeFstMax(settings, context, analysis, false);
    EXPECT_NEAR(analysis.FstMax, 0.959511722, 1e-9);
    // A population of one row has no correction (factor 1).
    analysis.samplesizes = {1, 50};
    computeFstMax(settings, context, analysis, false);
    EXPECT_NEAR(analysis.FstMax, 0.960780391, 1e-9);
    // -maf 0.5: H = 0.5 c, X = 1 - 2H / (H + 1); with c = 1, X = 1/3.
    settings.maf = 0.5;
    computeFstMax(settings, context, analysis, true);
    EXPECT_NEAR(analysis.FstMax, 1.0 / 3.0, 1e-15);
    // -maf 0: no bound below 1.
    settings.maf = 0.0;
    computeFstMax(settings, context, analysis, false);
    EXPECT_EQ(analysis.FstMax, 1.0);
}

TEST(FindPositiveOutliers, InterquartileRule) {
    // n = 8: Q1 is rank 2 (0.01), Q3 rank 6 (0.02), threshold 0.05.
    const std::vector<FstEntry> fst{{0.01, 0.5}, {0.01, 0.5}, {0.9, 0.001}, {0.01, 0.5},
                                    {0.01, 0.5}, {0.02, 0.4}, {0.01, 0.5}, {0.01, 0.5}};
    std::vector<SiteRecord> out(3);
    findPositiveOutliers(fst, {10, 20, 30, 40, 50, 60, 70, 80}, namesFor(8), 3.0, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].id, "s2");
    EXPECT_EQ(out[0].pos, 30);
    EXPECT_EQ(out[0].fst, 0.9);
    EXPECT_EQ(out[0].lkPval, 0.001);
    EXPECT_EQ(out[0].weight, 1.0);

    // n = 5: ranks 1 and 3 (0.2 and 0.4); with k = 0 the threshold is Q3
    // and a value equal to it is not an outlier.
    const std::vector<FstEntry> five = entries({0.5, 0.1, 0.4, 0.2, 0.3});
    findPositiveOutliers(five, columnPositions(5), namesFor(5), 0.0, out);
    EXPECT_EQ(idsOf(out), (std::vector<std::string>{"s0"}));
    // k = 0.5: threshold 0.2 * 0.5 + 0.4 = 0.5, so 0.5 is not above it.
    findPositiveOutliers(five, columnPositions(5), namesFor(5), 0.5, out);
    EXPECT_TRUE(out.empty());
    // n = 10: ranks 2 and 7 (0.2 and 0.7); k = 0 keeps 0.8 and 0.9.
    const std::vector<FstEntry> ten = entries({0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.2, 0.1, 0.0});
    findPositiveOutliers(ten, columnPositions(10), namesFor(10), 0.0, out);
    std::vector<std::string> ids = idsOf(out);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"s0", "s1"}));
    // A single site is never above its own quartiles.
    findPositiveOutliers(entries({0.7}), {1}, namesFor(1), 3.0, out);
    EXPECT_TRUE(out.empty());
    findPositiveOutliers({}, {}, {}, 3.0, out);
    EXPECT_TRUE(out.empty());
}

TEST(FindPositiveOutliers, ThirdQuartileWhenTheCountIsThreeModuloFour) {
    // n = 7: Q1 is rank 1 (0.1), Q3 rank 4 (0.4); k = 1 gives 0.7, so 0.8
    // is an outlier (rank 5 as Q3 would give 0.9 and none).
    std::vector<SiteRecord> out;
    findPositiveOutliers(entries({0.3, 0.8, 0.0, 0.5, 0.1, 0.4, 0.2}), columnPositions(7),
                         namesFor(7), 1.0, out);
    EXPECT_EQ(idsOf(out), (std::vector<std::string>{"s1"}));
    // n = 11: ranks 2 and 8 (0.2 and 0.8); k = 0.25 gives 0.95.
    findPositiveOutliers(entries({1.0, 0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.2, 0.1, 0.96}),
                         columnPositions(11), namesFor(11), 0.25, out);
    std::vector<std::string> ids = idsOf(out);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"s0", "s10"}));
}

TEST(FindPositiveOutliers, ManyDistinctValuesAsFewOnes) {
    // 40001 distinct values (too many to count one by one), in a scrambled
    // order: Q1 is rank 10000, Q3 rank 30000; k = 0 keeps the 10000 above.
    const size_t n = 40001;
    std::vector<double> fsts(n);
    for (size_t i = 0; i < n; ++i) fsts[(i * 7919) % n] = static_cast<double>(i) / n;
    std::vector<SiteRecord> out;
    findPositiveOutliers(entries(fsts), columnPositions(n), {}, 0.0, out);
    ASSERT_EQ(out.size(), 10000u);
    for (const SiteRecord &r : out) ASSERT_GT(r.fst, 30000.0 / n);
    // k = 0.5: threshold 0.5 * (30000 - 10000) / n + 30000 / n.
    findPositiveOutliers(entries(fsts), columnPositions(n), {}, 0.5, out);
    EXPECT_EQ(out.size(), 0u);
    // Names left empty are the positions' 12-digit texts.
    findPositiveOutliers(entries({0.0, 0.0, 0.0, 0.9, 0.0, 0.0, 0.0, 0.0}),
                         {1, 2, 3, 123456789.25, 5, 6, 7, 8}, {}, 3.0, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].id, "123456789.25");
}

TEST(SortByFst, EqualFstKeepTheirOrder) {
    std::vector<SiteRecord> records;
    for (const auto &r : std::vector<std::pair<std::string, double>>{
             {"a", 0.5}, {"b", 0.2}, {"c", 0.5}, {"d", 0.2}, {"e", 0.1}, {"f", 0.5}})
        records.push_back(SiteRecord{r.first, 0.0, r.second, 0.0, 1.0});
    sortByFst(records);
    EXPECT_EQ(idsOf(records), (std::vector<std::string>{"e", "b", "d", "a", "c", "f"}));
}

TEST(FindPercentileOutliers, TopTenthCountedInDoublePrecision) {
    std::vector<SiteRecord> out(2);
    // Ten or fewer sites: no record.
    findPercentileOutliers(10, 0.9, entries({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), columnPositions(10),
                           namesFor(10), out);
    EXPECT_TRUE(out.empty());
    const std::vector<std::pair<uint64_t, size_t>> counts{{11, 1}, {100, 9}, {200, 19}, {1000, 99}};
    for (const auto &c : counts) {
        std::vector<double> fsts;
        for (uint64_t i = 0; i < c.first; ++i) fsts.push_back(static_cast<double>((i * 37) % c.first));
        findPercentileOutliers(c.first, 0.9, entries(fsts), columnPositions(c.first),
                               namesFor(c.first), out);
        ASSERT_EQ(out.size(), c.second) << c.first;
        // The greatest values, in descending order.
        for (size_t k = 0; k < out.size(); ++k)
            EXPECT_EQ(out[k].fst, static_cast<double>(c.first - 1 - k)) << c.first;
    }
}

TEST(FindPercentileOutliers, EqualFstAtTheBoundaryInColumnOrder) {
    // 100 sites: 9 records. Five of Fst 0.9, then ten of 0.5 compete for
    // the last four places; the rest 0.1.
    std::vector<double> fsts(100, 0.1);
    for (size_t i : {80, 10, 55, 30, 5}) fsts[i] = 0.9;
    for (size_t i : {99, 3, 47, 12, 64, 20, 71, 33, 8, 90}) fsts[i] = 0.5;
    std::vector<FstEntry> fst = entries(fsts);
    fst[10].lkPval = 0.25;
    std::vector<SiteRecord> out;
    findPercentileOutliers(100, 0.9, fst, columnPositions(100), namesFor(100), out);
    EXPECT_EQ(idsOf(out), (std::vector<std::string>{"s5", "s10", "s30", "s55", "s80", "s3", "s8",
                                                    "s12", "s20"}));
    EXPECT_EQ(out[1].pos, 10.0);
    EXPECT_EQ(out[1].lkPval, 0.25);
    // n above the number of sites takes at most every site.
    findPercentileOutliers(1000, 0.9, entries({0.3, 0.7}), {1, 2}, namesFor(2), out);
    EXPECT_EQ(idsOf(out), (std::vector<std::string>{"s1", "s0"}));
}

TEST_F(EosTest, CandidateWalkOfTheEosAndNonEosOutliers) {
    // Ascending Fst: 11.0 (0.3), 30.0 (0.35) | 10.0 (0.8), 10.5 (0.85).
    backgroundWith({{10.0, 0.8}, {30.0, 0.35}, {10.5, 0.85}, {11.0, 0.3}});
    verbose = true;
    EXPECT_EQ(run(), "\n... Beginning EOS analysis ...\n\n\nPerformed Lk test. #* = 4\n"
                     "\nLooking for positive outliers. Found 4\n\nEOS analysis completed\n");
    EXPECT_FALSE(analysis.highFst);
    EXPECT_DOUBLE_EQ(analysis.cutoff, 0.96116885663855656 / 3.0 * 1.25 + 0.05);
    EXPECT_EQ(positionsOf(analysis.eosOutliers), (std::vector<double>{10.0, 10.5}));
    EXPECT_EQ(positionsOf(analysis.nonEosOutliers), (std::vector<double>{11.0, 30.0}));
    EXPECT_EQ(analysis.eosOutliers[1].id, "10.5");
    // 10.5 replaces 10.0 for its smaller p-value, 11.0 replaces 10.5 for its
    // larger one, 30.0 is appended.
    EXPECT_EQ(analysis.eosCandidates, (std::vector<double>{11.0, 30.0}));

    // The Lk p-values: T = Fst / 0.05 with one degree of freedom.
    EXPECT_NEAR(analysis.eosOutliers[0].lkPval, chiSquareOneDf(16.0), 1e-15);
    EXPECT_NEAR(analysis.eosOutliers[1].lkPval / chiSquareOneDf(17.0), 1.0, 1e-12);
    EXPECT_NEAR(analysis.nonEosOutliers[0].lkPval, chiSquareOneDf(6.0), 1e-12);
    EXPECT_NEAR(analysis.fstdistrib[0].lkPval, chiSquareOneDf(0.2), 1e-12);
    EXPECT_NEAR(analysis.fstdistrib[0].lkPval, 0.654720846, 1e-9);
}

TEST_F(EosTest, CandidatesOneApartAndLaterNonEosOutliersNearby) {
    // EOS: 10.5 (0.8) then 10.0 (0.85) replaces it; Non-EOS: 11.0 (0.3) is
    // exactly 1.0 from 10.0 and is appended; 11.5 (0.35) is nearer than 1.0
    // but its p-value is smaller, so 11.0 stays.
    backgroundWith({{10.5, 0.8}, {11.5, 0.35}, {10.0, 0.85}, {11.0, 0.3}});
    run();
    EXPECT_EQ(positionsOf(analysis.eosOutliers), (std::vector<double>{10.5, 10.0}));
    EXPECT_EQ(analysis.eosCandidates, (std::vector<double>{10.0, 11.0}));
}

TEST_F(EosTest, OutliersBelowTheCutoffAreAllNonEos) {
    // The upper cluster (0.35) is below the cutoff: no EOS outlier.
    backgroundWith({{40.0, 0.3}, {40.5, 0.35}, {90.0, 0.32}, {20.0, 0.3}});
    run();
    EXPECT_TRUE(analysis.eosOutliers.empty());
    // Equal Fst keep their column order (40.0 before 20.0).
    EXPECT_EQ(positionsOf(analysis.nonEosOutliers), (std::vector<double>{40.0, 20.0, 90.0, 40.5}));
    EXPECT_EQ(analysis.eosCandidates, (std::vector<double>{40.0, 20.0, 90.0, 40.5}));
}

TEST_F(EosTest, NoPositiveOutlier) {
    sites({0.1, 0.2, 0.1, 0.2, 0.1, 0.2, 0.1, 0.2}, columnPositions(8), 0.15);
    analysis.eosCandidates = {3.0};
    verbose = true;
    EXPECT_EQ(run(), "\n... Beginning EOS analysis ...\n\n\nPerformed Lk test. #* = 0\n"
                     "\nLooking for positive outliers. Found 0\n\nEOS analysis completed\n");
    EXPECT_TRUE(analysis.eosOutliers.empty());
    EXPECT_TRUE(analysis.nonEosOutliers.empty());
    EXPECT_TRUE(analysis.eosCandidates.empty());
}

TEST_F(EosTest, ZeroFstIsNotTestedAndZeroMeanLeavesTUnscaled) {
    sites({0.0, 0.1, 0.0, 0.1, 0.0, 0.1, 0.0, 0.1}, columnPositions(8), 0.05);
    settings.SL = 1.0;
    verbose = true;
    const std::string out = run();
    EXPECT_NE(out.find("\nPerformed Lk test. #* = 4\n"), std::string::npos);
    EXPECT_EQ(analysis.fstdistrib[0].lkPval, 1.0);
    EXPECT_NEAR(analysis.fstdistrib[1].lkPval, chiSquareOneDf(2.0), 1e-12);

    sites({0.5, 0.0, 0.0, 0.0}, columnPositions(4), 0.0);
    run();
    EXPECT_NEAR(analysis.fstdistrib[0].lkPval, chiSquareOneDf(0.5), 1e-12);
    EXPECT_NEAR(analysis.fstdistrib[0].lkPval, 0.479500122, 1e-9);
    EXPECT_EQ(analysis.fstdistrib[1].lkPval, 1.0);
}

TEST_F(EosTest, HighFstBranchTakesTheTopTenth) {
    // 100 sites; the ten greatest Fst at the positions below, in descending
    // Fst order; 9 are taken.
    std::vector<double> fsts(100, 0.1), positions;
    for (int i = 0; i < 100; ++i) positions.push_back(1000 + i);
    const std::vector<std::pair<double, double>> top{
        {50.0, 0.99}, {51.0, 0.98}, {51.5, 0.97}, {53.0, 0.96}, {60.0, 0.95},
        {61.2, 0.94}, {70.0, 0.93}, {70.5, 0.92}, {80.0, 0.91}, {90.0, 0.90}};
    for (size_t k = 0; k < top.size(); ++k) {
        positions[k * 9 + 4] = top[k].first;
        fsts[k * 9 + 4] = top[k].second;
    }
    sites(fsts, positions, 0.5000001);
    verbose = true;
    EXPECT_EQ(run(), "\n... Beginning EOS analysis ...\n\n"
                     "\nFST mean too high (>0.5). Sites with Fst in the 90th percentile are "
                     "considered as candidates if option -useblocks 0 was chosen.\n");
    EXPECT_TRUE(analysis.highFst);
    // 51.0 is exactly 1.0 from 50.0 and 70.5 within 1.0 of 70.0: passed over.
    EXPECT_EQ(analysis.eosCandidates, (std::vector<double>{50.0, 51.5, 53.0, 60.0, 61.2, 70.0, 80.0}));
    EXPECT_TRUE(analysis.eosOutliers.empty());
    EXPECT_TRUE(analysis.nonEosOutliers.empty());
    for (const FstEntry &e : analysis.fstdistrib) EXPECT_EQ(e.lkPval, 0.0);

    // Ten sites: no candidate.
    sites({0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.3, 0.2, 0.1, 0.0}, columnPositions(10), 0.7);
    run();
    EXPECT_TRUE(analysis.highFst);
    EXPECT_TRUE(analysis.eosCandidates.empty());
}

TEST_F(EosTest, MeanOfExactlyOneHalfTakesTheLkBranch) {
    backgroundWith({{10.0, 0.8}, {30.0, 0.35}, {10.5, 0.85}, {11.0, 0.3}});
    analysis.fsttot = 0.5;
    run();
    EXPECT_FALSE(analysis.highFst);
    EXPECT_NEAR(analysis.fstdistrib[0].lkPval, chiSquareOneDf(0.02), 1e-12);
    // Cutoff 0.5 + 0.4005: even 0.85 is below it, so every outlier is Non-EOS.
    EXPECT_NEAR(analysis.cutoff, 0.900487023599398, 1e-12);
    EXPECT_TRUE(analysis.eosOutliers.empty());
    EXPECT_EQ(positionsOf(analysis.nonEosOutliers), (std::vector<double>{11.0, 30.0, 10.0, 10.5}));
}

TEST_F(EosTest, HaplotypeFormatsComputeFstFromTheMetapopulation) {
    context.formatCode = FormatCode::MS;
    // Site 0: rows 0,0 | 1,1 (Fst 1); site 1: rows 0,1 | 0,1 (Hw 1, Ht 0.75).
    // Global: 1 - (0 + 1) / (0.5 + 0.75) = 0.2.
    analysis.data = matrixOfRows({"00", "01", "10", "11"});
    analysis.samplesizes = {2, 2};
    analysis.metapopsnpositions = {7, 8};
    analysis.filelocnames = {"7", "8"};
    analysis.genomesize = 2;
    analysis.fstdistrib.assign(2, FstEntry{});
    verbose = true;
    const std::string out = run();
    EXPECT_NEAR(analysis.fsttot, 0.2, 1e-15);
    EXPECT_EQ(analysis.fstdistrib[0].fst, 1.0);
    EXPECT_EQ(analysis.fstdistrib[1].fst, 0.0);
    EXPECT_NEAR(analysis.fstdistrib[0].lkPval, chiSquareOneDf(5.0), 1e-12);
    EXPECT_EQ(analysis.fstdistrib[1].lkPval, 1.0);
    const std::string head =
        "\n... Beginning EOS analysis ...\n\n\nComputed Fst distribution (n= 2). Fst mean = 0.2\n\n";
    EXPECT_EQ(out.substr(0, head.size()), head);

    // No site varies: the mean is 0 and nothing is tested.
    analysis.data = matrixOfRows({"01", "01", "01", "01"});
    analysis.fstdistrib.assign(2, FstEntry{});
    run();
    EXPECT_EQ(analysis.fsttot, 0.0);
    EXPECT_EQ(analysis.fstdistrib[0].lkPval, 1.0);
    EXPECT_EQ(analysis.fstdistrib[1].lkPval, 1.0);
}
