// Chi-square p-values, nucleotide diversity and Fst, k-means of outliers.
#include "TLibQuintor.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The tests that write log files run in a fresh scratch folder of their own.
using ChiSquareDeath = ScratchFolderTest;
using FstDeath = ScratchFolderTest;
using DiversityDeath = ScratchFolderTest;
using KmeansDeath = ScratchFolderTest;

// In the child of a death test: what the process prints goes to the file.
void sendStdoutTo(const char *name) { std::freopen(name, "w", stdout); }

HaplotypeMatrix matrixOf(const std::vector<std::string> &rows) { return matrixOfRows(rows); }

const double kEps = 2.220446049250313e-16;

}  // namespace

// ---------------------------------------------------------------------------
// Chi-square p-values
// ---------------------------------------------------------------------------

TEST(ChiSquare, ReferenceValues) {
    EXPECT_EQ(chiSquarePvalue(0.0, 0), 1.0);
    EXPECT_EQ(chiSquarePvalue(0.0, 3), 1.0);
    // df = 2: Q(1, x/2) = e^(-x/2); x = 2 uses the series, x = 10 the fraction.
    EXPECT_NEAR(chiSquarePvalue(2.0, 2), 0.36787944117144233, 4 * kEps);
    EXPECT_NEAR(chiSquarePvalue(10.0, 2), 0.006737946999085467, 4 * kEps * 0.0068);
    EXPECT_NEAR(chiSquarePvalue(3.841458820694124, 1), 0.05, 1e-12);
    // df = 1: Q(1/2, y) = erfc(sqrt(y)); df = 4: Q(2, y) = e^-y (1 + y).
    EXPECT_NEAR(chiSquarePvalue(1.0, 1), std::erfc(std::sqrt(0.5)), 1e-12);
    EXPECT_NEAR(chiSquarePvalue(7.0, 1), std::erfc(std::sqrt(3.5)), 1e-12);
    EXPECT_NEAR(chiSquarePvalue(5.0, 4), std::exp(-2.5) * 3.5, 1e-12);
    EXPECT_EQ(chiSquarePvalue(HUGE_VAL, 1), 0.0);
}

TEST(ChiSquare, EvaluatorsAndLnGamma) {
    double result = -1.0, gln = -1.0;
    double a = 1.0, x = 1.0;
    gser(&result, &a, &x, &gln);
    EXPECT_NEAR(result, 1.0 - std::exp(-1.0), 4 * kEps);
    EXPECT_NEAR(gln, 0.0, 1e-10);  // ln Gamma(1)
    a = 0.5;
    x = 0.0;
    gser(&result, &a, &x, &gln);
    EXPECT_EQ(result, 0.0);
    EXPECT_NEAR(gln, 0.5 * std::log(M_PI), 1e-10);  // ln Gamma(1/2)
    a = 1.0;
    x = 5.0;
    gcf(&result, &a, &x, &gln);
    EXPECT_NEAR(result, std::exp(-5.0), 1e-17);
    a = 4.0;
    x = 2.0;
    gcf(&result, &a, &x, &gln);
    EXPECT_NEAR(gln, std::log(6.0), 1e-10);
    // At x = a + 1 exactly the continued fraction answers.
    a = 1.0;
    x = 2.0;
    gcf(&result, &a, &x, &gln);
    EXPECT_EQ(gammq(1.0, 2.0), result);
    double below = std::nextafter(2.0, 0.0);
    gser(&result, &a, &below, &gln);
    EXPECT_EQ(gammq(1.0, below), 1.0 - result);
}

TEST_F(ChiSquareDeath, InvalidArguments) {
    EXPECT_EXIT((sendStdoutTo("out1.txt"), chiSquarePvalue(-1.0, 1)),
                ::testing::ExitedWithCode(11), "");
    EXPECT_EQ(readFile("out1.txt"), "x: -0.5 a: 0.5\n");
    EXPECT_EQ(readFile("TLib_ERROR.log"), "Invalid arguments in gammq 11\n");
    std::remove("TLib_ERROR.log");
    EXPECT_EXIT((sendStdoutTo("out2.txt"), chiSquarePvalue(3.0, 0)),
                ::testing::ExitedWithCode(11), "");
    EXPECT_EQ(readFile("out2.txt"), "x: 1.5 a: 0\n");
    EXPECT_EQ(readFile("TLib_ERROR.log"), "Invalid arguments in gammq 11\n");
    EXPECT_EXIT(gammq(1.0, std::nan("")), ::testing::ExitedWithCode(11), "");
}

TEST_F(ChiSquareDeath, EvaluatorFailures) {
    double result = 0.0, gln = 0.0, a = 1.0, x = -1.0;
    EXPECT_EXIT((sendStdoutTo("out1.txt"), gser(&result, &a, &x, &gln)),
                ::testing::ExitedWithCode(8), "");
    EXPECT_EQ(readFile("out1.txt"), "");
    EXPECT_EQ(readFile("TLib_ERROR.log"), "x less than 0 in gser 8\n");

    a = 1e8;
    x = 1e8;
    EXPECT_EXIT((sendStdoutTo("out2.txt"), gser(&result, &a, &x, &gln)),
                ::testing::ExitedWithCode(9), "");
    EXPECT_EQ(readFile("out2.txt"), "a too large, ITMAX too small in routine gser x = 1e+08\n");
    EXPECT_EQ(readFile("TLib_ERROR.log"), "a too large, ITMAX too small in routine gser 9\n");

    // The code is the integer part of x; 2000000000 is a multiple of 256, so
    // the process reports 1 instead.
    a = 1999999999.0;
    x = 2000000000.5;
    EXPECT_EXIT((sendStdoutTo("out3.txt"), gcf(&result, &a, &x, &gln)),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("out3.txt"), "a too large, ITMAX too small in routine gcf x = 2e+09\n");
    EXPECT_EQ(readFile("TLib_ERROR.log"),
              "a too large, ITMAX too small in routine gcf 2000000000\n");
    x = 2000000003.0;
    EXPECT_EXIT(gcf(&result, &a, &x, &gln), ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(readFile("TLib_ERROR.log"),
              "a too large, ITMAX too small in routine gcf 2000000003\n");
    // Beyond the 32-bit range the code stays at its largest value.
    a = 1e10;
    x = 1e10 + 1.0;
    EXPECT_EXIT(gcf(&result, &a, &x, &gln), ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(readFile("TLib_ERROR.log"),
              "a too large, ITMAX too small in routine gcf 2147483647\n");
}

// ---------------------------------------------------------------------------
// Nucleotide diversity and Fst
// ---------------------------------------------------------------------------

TEST(Diversity, ThetaPiCountsPairsOverSites) {
    // Pairs (0,1): 1 difference, (0,2): 1, (1,2): 2 -> 4 over 3 pairs.
    HaplotypeMatrix m = matrixOf({"01", "11", "00"});
    size_t nsites = 0;
    EXPECT_EQ(Theta_Pi(m, 0, 3, 0, 2, nsites), 4.0 / 3.0);
    EXPECT_EQ(nsites, 2u);
    EXPECT_EQ(Theta_Pi(m, 1, 3, 1, 2, nsites), 1.0);
    EXPECT_EQ(nsites, 1u);
    // More rows than the matrix holds: the whole matrix.
    EXPECT_EQ(Theta_Pi(m, 1, 9, 0, 2, nsites), 4.0 / 3.0);
    // 0 0 1 1 has 4 differing pairs of 6.
    HaplotypeMatrix four = matrixOf({"0", "0", "1", "1"});
    EXPECT_EQ(Theta_Pi(four, 0, 4, 0, 1, nsites), 4.0 / 6.0);
}

TEST(Diversity, ThetaPiaBetweenPopulations) {
    // Population 0: rows 01, 00; population 1: rows 11, 10, 11.
    HaplotypeMatrix m = matrixOf({"01", "00", "11", "10", "11"});
    std::vector<int32_t> sizes = {2, 3};
    // Site 0: 0 vs 1 everywhere -> 6 of 6. Site 1: 1,0 vs 1,0,1 -> 3 of 6.
    EXPECT_EQ(ThetaPia(m, 0, 1, sizes, 0, 1), 1.0);
    EXPECT_EQ(ThetaPia(m, 0, 1, sizes, 1, 2), 0.5);
    EXPECT_EQ(ThetaPia(m, 0, 1, sizes, 0, 2), 9.0 / 6.0 / 2.0);
    EXPECT_EQ(ThetaPia(m, 1, 0, sizes, 0, 2), 9.0 / 6.0 / 2.0);
}

TEST(Fst, WorkedExamplesAndGlobalValue) {
    // Sites: 0,1|0,1 (Fst 0), 0,0|1,1 (Fst 1), invariant (Fst 0).
    HaplotypeMatrix m = matrixOf({"001", "101", "011", "111"});
    std::vector<int32_t> sizes = {2, 2};
    std::vector<FstEntry> out(3);
    for (auto &e : out) e.fst = -7.0;
    double global = -1.0;
    FSTdT(m, sizes, 0, 3, out, global);
    EXPECT_EQ(out[0].fst, 0.0);
    EXPECT_EQ(out[1].fst, 1.0);
    EXPECT_EQ(out[2].fst, 0.0);
    // Hw: 1 + 0 + 0; Ht: 0.75 + 0.5 + 0.
    EXPECT_EQ(global, 1.0 - 1.0 / 1.25);
    EXPECT_EQ(out[0].lkPval, 0.0);  // untouched

    // Unequal sizes, one site: 0,0,1 | 1,1. pi0 = 2/3, pi1 = 0, pi01 = 4/6.
    HaplotypeMatrix u = matrixOf({"0", "0", "1", "1", "1"});
    std::vector<int32_t> sizes32 = {3, 2};
    std::vector<FstEntry> one(1);
    FSTdT(u, sizes32, 0, 1, one, global);
    const double hw = (2.0 / 3.0 + 0.0) / 2.0;
    const double ht = 2.0 * (4.0 / 6.0) / 4.0 + hw / 2.0;
    EXPECT_EQ(one[0].fst, 1.0 - hw / ht);
    EXPECT_NEAR(one[0].fst, 1.0 / 3.0, 1e-15);
    EXPECT_EQ(global, 1.0 - hw / ht);
}

TEST(Fst, NoVaryingSiteGivesZero) {
    HaplotypeMatrix m = matrixOf({"01", "01", "01", "01"});
    std::vector<FstEntry> out(2);
    double global = -1.0;
    FSTdT(m, {2, 2}, 0, 2, out, global);
    EXPECT_EQ(out[0].fst, 0.0);
    EXPECT_EQ(out[1].fst, 0.0);
    EXPECT_EQ(global, 0.0);
}

TEST(Fst, SiteRangeIsClampedAndOffset) {
    HaplotypeMatrix m = matrixOf({"0001", "1011", "0111", "1111"});
    std::vector<FstEntry> out(4);
    for (auto &e : out) e.fst = -7.0;
    double global = -1.0;
    // Sites 2 and 3 (end 10 lowered to 4) go to entries 0 and 1.
    FSTdT(m, {2, 2}, 2, 10, out, global);
    EXPECT_EQ(out[0].fst, 0.0);  // 0,1 | 1,1: Hw 0.5, Ht 0.5*0.5+0.25 -> Fst 0
    EXPECT_EQ(out[1].fst, 0.0);  // invariant
    EXPECT_EQ(out[2].fst, -7.0);
    EXPECT_EQ(out[3].fst, -7.0);
    EXPECT_EQ(global, 0.0);
}

// The per-site Fst and the global value equal a pair-by-pair evaluation of
// the same formulas, bit for bit, for three populations.
TEST(Fst, MatchesPairwiseEvaluation) {
    const std::vector<int32_t> sizes = {5, 3, 4};
    const size_t k = sizes.size(), rows = 12, sites = 40;
    std::vector<std::string> texts(rows, std::string(sites, '0'));
    uint32_t state = 12345;
    for (size_t r = 0; r < rows; ++r)
        for (size_t s = 0; s < sites; ++s) {
            state = state * 1103515245u + 12345u;
            texts[r][s] = static_cast<char>('0' + (state >> 16) % 2);
        }
    const HaplotypeMatrix m = matrixOf(texts);
    std::vector<FstEntry> out(sites);
    double global = 0.0;
    FSTdT(m, sizes, 0, sites, out, global);

    std::vector<size_t> start = {0, 5, 8, 12};
    double sumHw = 0.0, sumHt = 0.0;
    for (size_t s = 0; s < sites; ++s) {
        double sumPi = 0.0;
        for (size_t p = 0; p < k; ++p) {
            double d = 0.0;
            for (size_t i = start[p]; i < start[p + 1]; ++i)
                for (size_t j = i + 1; j < start[p + 1]; ++j)
                    if (m[i][s] != m[j][s]) d += 1.0;
            const size_t n = sizes[p];
            sumPi += d / static_cast<double>(n * (n - 1) / 2) / 1.0;
        }
        const double hw = sumPi / 3.0;
        double sumPq = 0.0;
        for (size_t p = 0; p < k; ++p)
            for (size_t q = p + 1; q < k; ++q) {
                double d = 0.0;
                for (size_t i = start[p]; i < start[p + 1]; ++i)
                    for (size_t j = start[q]; j < start[q + 1]; ++j)
                        if (m[i][s] != m[j][s]) d += 1.0;
                sumPq += d / static_cast<double>(sizes[p] * sizes[q]) / 1.0;
            }
        const double hb = 2.0 * sumPq / 9.0;
        const double ht = hb + hw / 3.0;
        const double fst = ht > 0.0 ? std::max(0.0, 1.0 - hw / ht) : 0.0;
        EXPECT_EQ(out[s].fst, fst) << "site " << s;
        sumHw += hw;
        sumHt += ht;
    }
    EXPECT_EQ(global, std::max(0.0, 1.0 - sumHw / sumHt));
}

TEST(Fst, OnePopulationOnlyLogs) {
    const ScratchFolder folder;
    HaplotypeMatrix m = matrixOf({"01", "11", "10"});
    std::vector<FstEntry> out(2);
    out[0].fst = 0.25;
    double global = 0.75;
    FSTdT(m, {3}, 0, 2, out, global);
    EXPECT_EQ(readFile("FSTdT.log"), "3\n");
    EXPECT_EQ(out[0].fst, 0.25);
    EXPECT_EQ(global, 0.75);
}

TEST_F(FstDeath, ChecksAndLogs) {
    HaplotypeMatrix m = matrixOf({"011", "110", "101", "111"});
    std::vector<FstEntry> out(3);
    double global = 0.0;

    EXPECT_EXIT(FSTdT(m, {}, 0, 3, out, global), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("FSTdT_Error1.log"), "4\n");

    HaplotypeMatrix shortRow = matrixOf({"011", "110", "10", "111"});
    EXPECT_EXIT(FSTdT(shortRow, {2, 2}, 0, 3, out, global), ::testing::ExitedWithCode(2), "");
    EXPECT_EQ(readFile("FSTdT_Error2.log"), "L1 = 3; L2 = 2\n 2\n");

    EXPECT_EXIT(FSTdT(m, {2, 2}, 5, 9, out, global), ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(readFile("FSTdT_Error3.log"), "5\n");

    std::vector<FstEntry> small(1);
    EXPECT_EXIT(FSTdT(m, {2, 2}, 0, 3, small, global), ::testing::ExitedWithCode(4), "");
    EXPECT_EQ(readFile("FSTdT_Error4.log"), "2\n");

    EXPECT_EXIT(FSTdT(m, {1, 3}, 0, 3, out, global), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Theta_Pi_Error.log"), "1\n");

    // A later row shorter than the range is refused before it is read.
    HaplotypeMatrix ragged = matrixOf({"011", "11", "101", "111"});
    EXPECT_EXIT(FSTdT(ragged, {2, 2}, 0, 3, out, global), ::testing::ExitedWithCode(2), "");
    EXPECT_EQ(readFile("FSTdT_Error2.log"), "L1 = 3; L2 = 2\n 2\n");
    // ... but a range that stays inside it is fine.
    FSTdT(ragged, {2, 2}, 0, 2, out, global);
    EXPECT_EQ(out[0].fst, 1.0 - 0.5 / 0.5);
}

TEST_F(DiversityDeath, ThetaChecks) {
    HaplotypeMatrix m = matrixOf({"01", "11", "10"});
    size_t nsites = 0;
    EXPECT_EXIT(Theta_Pi(m, 2, 3, 0, 2, nsites), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Theta_Pi_Error.log"), "1\n");
    EXPECT_EXIT(Theta_Pi(m, 0, 3, 0, 3, nsites), ::testing::ExitedWithCode(2), "");
    EXPECT_EQ(readFile("Theta_Pi_Error.log"), "2\n");
    // A range starting inside the row but running past its end.
    EXPECT_EXIT(Theta_Pi(m, 0, 3, 1, 3, nsites), ::testing::ExitedWithCode(2), "");
    HaplotypeMatrix lone = matrixOf({"0"});
    EXPECT_EXIT(Theta_Pi(lone, 0, 5, 0, 1, nsites), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Theta_Pi_Error.log"), "1\n");

    EXPECT_EXIT(ThetaPia(m, 0, 1, {1, 2}, 0, 3), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("ThetaPia_Error.log"), "3\n");
}

// ---------------------------------------------------------------------------
// k-means of outliers
// ---------------------------------------------------------------------------

namespace {

std::vector<SiteRecord> recordsOf(const std::vector<double> &fsts) {
    std::vector<SiteRecord> records;
    for (size_t i = 0; i < fsts.size(); ++i) {
        SiteRecord r;
        r.id = "s" + std::to_string(i);
        r.pos = 100.0 + i;
        r.fst = fsts[i];
        records.push_back(r);
    }
    return records;
}

std::vector<std::string> namesOf(const std::vector<SiteRecord> &records) {
    std::vector<std::string> names;
    for (const SiteRecord &r : records) names.push_back(r.id);
    return names;
}

typedef std::vector<std::string> Names;

}  // namespace

TEST(Kmeans, TwoClustersAndThreshold) {
    std::vector<SiteRecord> r = recordsOf({0.3, 0.9});
    kmeans(r, {0.0, 0.96}, 0.4, true);
    EXPECT_EQ(namesOf(r), Names({"s1"}));
    EXPECT_EQ(r[0].pos, 101.0);

    r = recordsOf({0.3, 0.9});
    kmeans(r, {0.0, 0.96}, 0.95, true);
    EXPECT_TRUE(r.empty());

    // Two passes: {0.1, 0.2} and {0.8, 0.85, 0.9}, cut at 0.84.
    r = recordsOf({0.1, 0.2, 0.8, 0.85, 0.9});
    kmeans(r, {0.0, 0.96}, 0.84, true);
    EXPECT_EQ(namesOf(r), Names({"s3", "s4"}));

    r = recordsOf({0.4, 0.4, 0.4});
    kmeans(r, {0.0, 0.96}, 0.0, true);
    EXPECT_TRUE(r.empty());
}

TEST(Kmeans, SingleAndEmptyInput) {
    const ScratchFolder folder;
    std::vector<SiteRecord> r = recordsOf({0.5});
    kmeans(r, {0.0, 0.96}, 0.5, true);
    EXPECT_EQ(namesOf(r), Names({"s0"}));
    kmeans(r, {0.0, 0.96}, 0.5000001, true);
    EXPECT_TRUE(r.empty());
    kmeans(r, {0.0, 0.96}, 0.0, true);
    EXPECT_TRUE(r.empty());
    EXPECT_FALSE(fileExists("kmeans.log"));
}

TEST(Kmeans, UpperClusterSortedStably) {
    // Centroids 0.1 and 0.9, then 0.1 and 0.875: the upper cluster holds
    // s1 s2 s3 s4, sorted by Fst with equal values in input order.
    std::vector<SiteRecord> r = recordsOf({0.1, 0.9, 0.9, 0.8, 0.9});
    kmeans(r, {0.0, 0.96}, 0.5, true);
    EXPECT_EQ(namesOf(r), Names({"s3", "s1", "s2", "s4"}));
}

TEST(Kmeans, RecordBeyondStartDistanceJoinsNearest) {
    // A last reference value of -5 gives no distance below the start value.
    std::vector<SiteRecord> r = recordsOf({0.1, 0.9, 0.95});
    kmeans(r, {0.0, -5.0}, 0.0, true);
    EXPECT_EQ(namesOf(r), Names({"s1", "s2"}));
}

TEST(Kmeans, RecordEqualToTheThresholdAndTheConvergenceTolerance) {
    // Two passes, {0.1, 0.2} and {0.8, 0.85, 0.9}: a record equal to the
    // threshold is the first one kept.
    std::vector<SiteRecord> r = recordsOf({0.1, 0.2, 0.8, 0.85, 0.9});
    kmeans(r, {0.0, 0.96}, 0.85, true);
    EXPECT_EQ(namesOf(r), Names({"s3", "s4"}));

    // Centroids 0.4 and 1.0; s1 lies just below their midpoint and joins
    // the lower cluster, whose mean then moves down by 4e-6: more than the
    // tolerance of 1e-6, so a second pass moves s1 to the upper cluster.
    r = recordsOf({0.4, 0.699999, 0.099989, 1.0});
    kmeans(r, {0.0, 0.96}, 0.0, true);
    EXPECT_EQ(namesOf(r), Names({"s1", "s3"}));
    // The same layout with a move of 5e-7, below the tolerance: one pass.
    r = recordsOf({0.4, 0.6999999, 0.0999986, 1.0});
    kmeans(r, {0.0, 0.96}, 0.0, true);
    EXPECT_EQ(namesOf(r), Names({"s3"}));
}

TEST_F(KmeansDeath, TooFewReferenceValues) {
    std::vector<SiteRecord> r = recordsOf({0.3, 0.9});
    EXPECT_EXIT(kmeans(r, {0.96}, 0.4, true), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("kmeans.log"), "K equal or less than 1 in kmeans 1\n");
    EXPECT_EXIT(kmeans(r, {}, 0.4, true), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("kmeans.log"), "K equal or less than 1 in kmeans\n");
}
