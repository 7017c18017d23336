// Linkage disequilibrium: D' and r2 of adjacent SNPs, LD blocks and the LD
// window around a candidate.
#include "TLibQuintor.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Every test runs in a fresh scratch folder: the routines write log files.
using LDTest = ScratchFolderTest;

HaplotypeMatrix rows(const std::vector<std::vector<int>> &cells) {
    std::vector<std::string> texts;
    for (const auto &r : cells) {
        std::string text;
        for (int v : r) text.push_back(static_cast<char>('0' + v));
        texts.push_back(text);
    }
    return matrixOfRows(texts);
}

// LD vectors for a hand-made link pattern: with 100 rows, r2 = 0.5 gives a
// p-value far below any alpha in use, so the D' alone decides each link.
struct Links {
    std::vector<double> Dprime, r2;
    explicit Links(const std::string &pattern) { // '1' linked, '0' not
        for (char ch : pattern) {
            Dprime.push_back(ch == '1' ? 0.5 : 0.1);
            r2.push_back(0.5);
        }
    }
};

const std::vector<int> sizes100 = {100, 100};

} // namespace

// ---------------------------------------------------------------------------
// computeSeqDrsq_L
// ---------------------------------------------------------------------------

TEST_F(LDTest, DprimeAndR2OfHandComputedPairs) {
    std::vector<double> Dp, r2;
    // Perfect association, both reference alleles 1.
    computeSeqDrsq_L({true, true}, rows({{1, 1}, {1, 1}, {0, 0}, {0, 0}}), {4, 0}, 0,
                     {0.5, 0.5}, Dp, r2);
    ASSERT_EQ(Dp.size(), 1u);
    ASSERT_EQ(r2.size(), 1u);
    EXPECT_DOUBLE_EQ(Dp[0], 1.0);
    EXPECT_DOUBLE_EQ(r2[0], 1.0);

    // Reference of SNP i is 1, of SNP i+1 is 0: pA 0.6, pB 0.8, x11 0.6,
    // D 0.12, Dmax 0.12, den 0.0384.
    computeSeqDrsq_L({true, false},
                     rows({{1, 0}, {1, 0}, {1, 0}, {0, 1}, {0, 0}}), {5, 0}, 0,
                     {0.6, 0.2}, Dp, r2);
    EXPECT_NEAR(Dp[0], 1.0, 1e-12);
    EXPECT_NEAR(r2[0], 0.375, 1e-12);

    // Repulsion: the two reference alleles never meet, D' = -1.
    computeSeqDrsq_L({true, true}, rows({{1, 0}, {1, 0}, {0, 1}, {0, 1}}), {4, 0}, 0,
                     {0.5, 0.5}, Dp, r2);
    EXPECT_DOUBLE_EQ(Dp[0], -1.0);
    EXPECT_DOUBLE_EQ(r2[0], 1.0);
}

TEST_F(LDTest, NegativeDAtUnequalFrequenciesUsesItsOwnBound) {
    // Ten rows, p = 0.3, q = 0.4, both reference alleles 1; one row carries
    // both: x11 = 0.1, D = -0.02, Dmax = min(0.7 * 0.6, 0.3 * 0.4) = 0.12.
    std::vector<double> Dp, r2;
    computeSeqDrsq_L({true, true},
                     rows({{1, 1}, {1, 0}, {1, 0}, {0, 1}, {0, 1}, {0, 1}, {0, 0}, {0, 0}, {0, 0},
                           {0, 0}}),
                     {10, 0}, 0, {0.3, 0.4}, Dp, r2);
    EXPECT_NEAR(Dp[0], -0.02 / 0.12, 1e-12);
    EXPECT_NEAR(r2[0], 0.0004 / (0.21 * 0.24), 1e-12);
}

TEST_F(LDTest, PartialLinkageAndTheSignFollowTheReferenceFlags) {
    // Six rows, p = q = 0.5; two rows 1,1, two rows 0,0, one 1,0, one 0,1.
    const HaplotypeMatrix m =
        rows({{1, 1}, {1, 1}, {1, 0}, {0, 1}, {0, 0}, {0, 0}});
    std::vector<double> Dp, r2;
    // x11 = 2/6, D = 1/3 - 1/4 = 1/12, Dmax = 1/4: D' = 1/3, r2 = 1/9.
    computeSeqDrsq_L({true, true}, m, {6, 0}, 0, {0.5, 0.5}, Dp, r2);
    EXPECT_NEAR(Dp[0], 1.0 / 3, 1e-12);
    EXPECT_NEAR(r2[0], 1.0 / 9, 1e-12);
    // Mixed flags count the rows 1,0: x11 = 1/6, D = -1/12, D' = -1/3.
    computeSeqDrsq_L({true, false}, m, {6, 0}, 0, {0.5, 0.5}, Dp, r2);
    EXPECT_NEAR(Dp[0], -1.0 / 3, 1e-12);
    EXPECT_NEAR(r2[0], 1.0 / 9, 1e-12);
}

TEST_F(LDTest, SecondPopulationUsesItsOwnRowsAndMonomorphicSnpsGiveZero) {
    // Population 0 (two rows) would give repulsion; population 1 starts at
    // row 2. SNP 2 is monomorphic in population 1.
    const HaplotypeMatrix m = rows({{1, 0, 1},
                                    {0, 1, 0},
                                    {1, 1, 0},
                                    {1, 1, 0},
                                    {0, 0, 0},
                                    {0, 0, 0}});
    std::vector<double> Dp = {9, 9, 9, 9}, r2 = {9};
    computeSeqDrsq_L({true, true, false}, m, {2, 4}, 1, {0.5, 0.5, 0.0}, Dp, r2);
    ASSERT_EQ(Dp.size(), 2u);
    ASSERT_EQ(r2.size(), 2u);
    EXPECT_DOUBLE_EQ(Dp[0], 1.0);
    EXPECT_DOUBLE_EQ(r2[0], 1.0);
    EXPECT_EQ(Dp[1], 0.0);
    EXPECT_EQ(r2[1], 0.0);
}

TEST_F(LDTest, PopulationWithoutRowsHasNoLD) {
    std::vector<double> Dp, r2;
    computeSeqDrsq_L({true, true, true}, rows({{1, 1, 1}, {0, 0, 0}}), {2, 0}, 1,
                     {0.5, 0.5, 0.5}, Dp, r2);
    EXPECT_EQ(Dp, std::vector<double>({0.0, 0.0}));
    EXPECT_EQ(r2, std::vector<double>({0.0, 0.0}));
}

TEST_F(LDTest, FewerThanTwoSnpsEndWithTheirCount) {
    std::vector<double> Dp, r2;
    EXPECT_EXIT(computeSeqDrsq_L({true}, rows({{1}, {0}}), {2, 0}, 0, {0.5}, Dp, r2),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("computeSeqDrsq_L.err"), "1\n");
    EXPECT_EXIT(computeSeqDrsq_L({}, rows({{}, {}}), {2, 0}, 0, {}, Dp, r2),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("computeSeqDrsq_L.err"), "0\n");
}

TEST_F(LDTest, RowsShorterThanTheSnpCountAreRejectedNotRead) {
    std::vector<double> Dp, r2;
    EXPECT_DEATH(computeSeqDrsq_L({true, true, true}, rows({{1, 1}, {0, 0}}), {2, 0}, 0,
                                  {0.5, 0.5, 0.5}, Dp, r2),
                 "internal check failed");
}

// ---------------------------------------------------------------------------
// The link test (through computeBlocks on two SNPs)
// ---------------------------------------------------------------------------

namespace {
// Pair 0 under test, pair 1 never linked: a block of 2 exists iff pair 0 links.
bool linked(double alpha, double Dp, double r2, int n, double minDprime) {
    std::vector<LDBlock> blocks;
    computeBlocks(alpha, {Dp, -1.0}, {r2, 0.0}, 2, minDprime, {n}, 0, {0.0, 0.0, 0.0},
                  blocks);
    return !blocks.empty();
}
} // namespace

TEST_F(LDTest, LinkNeedsSignificantR2AndEnoughDprime) {
    // n r2 = 1: P(chi2 with 1 df > 1) = erfc(1/sqrt(2)) = 0.31731050786...
    EXPECT_FALSE(linked(0.3173, 1.0, 0.01, 100, 0.4));
    EXPECT_TRUE(linked(0.3174, 1.0, 0.01, 100, 0.4));
    // D' at the threshold links, just below does not; negative D' never.
    EXPECT_TRUE(linked(0.05, 0.4, 0.5, 100, 0.4));
    EXPECT_FALSE(linked(0.05, 0.3999, 0.5, 100, 0.4));
    EXPECT_FALSE(linked(0.05, -1.0, 1.0, 100, 0.4));
    // r2 = 0 has the p-value 1: it links only with alpha 1.
    EXPECT_FALSE(linked(0.99, 1.0, 0.0, 100, 0.4));
    EXPECT_TRUE(linked(1.0, 1.0, 0.0, 100, 0.4));
    // No D' reaches 2.
    EXPECT_FALSE(linked(1.0, 1.0, 1.0, 100, 2.0));
}

TEST_F(LDTest, LinkBoundsDecideAsTheExactPvalueAroundTheCrossing) {
    // For several levels, statistics densely around (and far from) the
    // crossing are linked with the bounds exactly when without them.
    for (double alpha : {0.05, 0.001, 1e-12, 0.3}) {
        const LinkBounds bounds = linkBounds(alpha);
        ASSERT_TRUE(bounds.usable);
        const double middle = (bounds.low + bounds.high) / 2;
        std::vector<double> r2, Dprime;
        for (int k = -2000; k <= 2000; ++k) {
            r2.push_back(middle * (1 + k * 1e-9) / 100.0);
            Dprime.push_back(1.0);
        }
        for (double x : {0.0, 1e-3, middle * 0.5, middle * 2, 5000.0}) {
            r2.push_back(x / 100.0);
            Dprime.push_back(1.0);
        }
        for (std::size_t j = 0; j < r2.size(); ++j)
            ASSERT_EQ(ldPairLinked(alpha, Dprime, r2, j, 100.0, 0.4, bounds),
                      ldPairLinked(alpha, Dprime, r2, j, 100.0, 0.4))
                << alpha << " " << r2[j];
    }
    // Levels at which the bounds are not used.
    EXPECT_FALSE(linkBounds(0.5).usable);
    EXPECT_FALSE(linkBounds(1.0).usable);
    EXPECT_FALSE(linkBounds(0.0).usable);
}

TEST_F(LDTest, NegativeR2EndsThroughTheGammaArgumentCheck) {
    std::vector<LDBlock> blocks;
    EXPECT_EXIT(computeBlocks(0.05, {1.0, 1.0}, {0.5, -0.5}, 2, 0.4, {10}, 0,
                              {0.0, 0.0, 0.0}, blocks),
                ::testing::ExitedWithCode(11), "");
    EXPECT_EQ(readFile("TLib_ERROR.log"), "Invalid arguments in gammq 11\n");
}

// ---------------------------------------------------------------------------
// computeBlocks
// ---------------------------------------------------------------------------

TEST_F(LDTest, BlockScanFindsEveryLongEnoughRun) {
    // 20 SNPs: runs 0-4 (5), 5-6 (2), 7-11 (5), 12-19 (8, up to the end).
    const Links l("1111010111101111111");
    ASSERT_EQ(l.Dprime.size(), 19u);
    std::vector<LDBlock> blocks(3); // replaced, not appended to
    computeBlocks(0.05, l.Dprime, l.r2, 3, 0.4, sizes100, 1,
                  std::vector<double>(20), blocks);
    ASSERT_EQ(blocks.size(), 3u);
    const int expected[3][2] = {{0, 5}, {7, 12}, {12, 20}};
    for (int b = 0; b < 3; ++b) {
        EXPECT_EQ(blocks[b].pop, 1);
        EXPECT_EQ(blocks[b].first, expected[b][0]);
        EXPECT_EQ(blocks[b].end, expected[b][1]);
    }
    // Block size 6 keeps only the final run.
    computeBlocks(0.05, l.Dprime, l.r2, 6, 0.4, sizes100, 0, std::vector<double>(20),
                  blocks);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].first, 12);
    EXPECT_EQ(blocks[0].end, 20);
    // A final run one SNP too short is dropped.
    computeBlocks(0.05, l.Dprime, l.r2, 9, 0.4, sizes100, 0, std::vector<double>(20),
                  blocks);
    EXPECT_TRUE(blocks.empty());
}

TEST_F(LDTest, AllLinkedIsOneBlockAndNoLinkIsNone) {
    const Links all("111111111");
    std::vector<LDBlock> blocks;
    computeBlocks(0.05, all.Dprime, all.r2, 7, 0.4, sizes100, 0,
                  std::vector<double>(10), blocks);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].first, 0);
    EXPECT_EQ(blocks[0].end, 10);
    blocks.assign(2, LDBlock{});
    computeBlocks(0.05, all.Dprime, all.r2, 7, 2.0, sizes100, 0,
                  std::vector<double>(10), blocks);
    EXPECT_TRUE(blocks.empty());
}

TEST_F(LDTest, TooLargeBlockIsHalvedWithANote) {
    // 8 SNPs, 7 links; block size 11 becomes 5: run 0-4 (5) kept, 5-7 (3) not.
    const Links l("1111011");
    std::vector<LDBlock> blocks;
    const int blockSize = 11;
    computeBlocks(0.05, l.Dprime, l.r2, blockSize, 0.4, sizes100, 0,
                  std::vector<double>(8), blocks);
    EXPECT_EQ(blockSize, 11);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].first, 0);
    EXPECT_EQ(blocks[0].end, 5);
    EXPECT_EQ(readFile("Genome size 7 too short for block of size 11 so block is halved.log"),
              "7\n");
}

TEST_F(LDTest, StillTooLargeHalvedBlockEndsWithTheHalvedSize) {
    const Links l("1111");
    std::vector<LDBlock> blocks;
    EXPECT_EXIT(computeBlocks(0.05, l.Dprime, l.r2, 11, 0.4, sizes100, 0,
                              std::vector<double>(5), blocks),
                ::testing::ExitedWithCode(5), "");
    EXPECT_EQ(readFile("Genome size 4 too short for block of size 11 so block is halved.log"),
              "4\n");
    EXPECT_EQ(readFile("Genome size 4 too short for reduced block of size 5. Exiting the "
                       "program.log"),
              "4\n");
}

TEST_F(LDTest, HalvedBlockSizeThatReadsAsSuccessExitsWithOne) {
    const Links l("111");
    std::vector<LDBlock> blocks;
    EXPECT_EXIT(computeBlocks(0.05, l.Dprime, l.r2, 513, 0.4, sizes100, 0,
                              std::vector<double>(4), blocks),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Genome size 3 too short for reduced block of size 256. Exiting the "
                       "program.log"),
              "3\n");
}

TEST_F(LDTest, BlocksNeedAtLeastTwoSnps) {
    std::vector<LDBlock> blocks;
    EXPECT_EXIT(computeBlocks(0.05, {}, {}, 7, 0.4, sizes100, 0, {0.1}, blocks),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("computeBlocksError.log"), "0\n");
    std::remove("computeBlocksError.log");
    EXPECT_EXIT(computeBlocks(0.05, {}, {}, 7, 0.4, sizes100, 0, {}, blocks),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("computeBlocksError.log"), "0\n");
}

// ---------------------------------------------------------------------------
// ShortGenomeComputeWinSizesSeq
// ---------------------------------------------------------------------------

namespace {
struct Window {
    int ini = -1, end = -1, nLD = -1;
    double meanDprime = -9, meanR2 = -9;
};

Window walk(const Links &l, int wide, int c, double minDprime = 0.4) {
    Window w;
    const int L = static_cast<int>(l.Dprime.size()) + 1;
    ShortGenomeComputeWinSizesSeq(0.05, L, l.Dprime, l.r2, wide, minDprime, sizes100, 0, c,
                                  w.ini, w.end, w.nLD, w.meanDprime, w.meanR2);
    return w;
}

// 99 links, every one unlinked except those listed.
Links pattern100(const std::vector<int> &linkedPairs) {
    std::string p(99, '0');
    for (int j : linkedPairs) p[j] = '1';
    return Links(p);
}
} // namespace

TEST_F(LDTest, WindowStopsAtTheFirstBreakOnEachSide) {
    // Pairs 45..49 and 50 linked, 44 and 51 not; wide 11 (half 5).
    const Window w = walk(pattern100({45, 46, 47, 48, 49, 50}), 11, 50);
    EXPECT_EQ(w.ini, 44);
    EXPECT_EQ(w.end, 55);
    EXPECT_EQ(w.nLD, 6);
    // Pairs 44..53: 0.1, six times 0.5, three times 0.1 -> 3.4 / 10.
    EXPECT_NEAR(w.meanDprime, 0.34, 1e-12);
    EXPECT_DOUBLE_EQ(w.meanR2, 0.5);
}

TEST_F(LDTest, WindowKeepsHalfTheMinimumOnEachSide) {
    // No link next to the candidate: [50 - 5, 50 + 5).
    Window w = walk(pattern100({}), 11, 50);
    EXPECT_EQ(w.ini, 45);
    EXPECT_EQ(w.end, 55);
    EXPECT_EQ(w.nLD, 0);
    // Long LD: pairs 30..69 linked, 29 and 70 not.
    std::vector<int> longRun;
    for (int j = 30; j <= 69; ++j) longRun.push_back(j);
    w = walk(pattern100(longRun), 11, 50);
    EXPECT_EQ(w.ini, 29);
    EXPECT_EQ(w.end, 71);
    EXPECT_EQ(w.nLD, 40);
}

TEST_F(LDTest, WindowAtTheGenomeEdges) {
    // Candidate at SNP 0: no left walk; pair 0 linked, pair 1 not -> max(5, 2).
    Window w = walk(pattern100({0}), 11, 0);
    EXPECT_EQ(w.ini, 0);
    EXPECT_EQ(w.end, 5);
    EXPECT_EQ(w.nLD, 1);
    // Candidate at SNP 99 (the last): no right walk.
    w = walk(pattern100({97, 98}), 11, 99);
    EXPECT_EQ(w.ini, 94);
    EXPECT_EQ(w.end, 100);
    EXPECT_EQ(w.nLD, 2);
    // Half-width clamped to the genome: c = 2 and c = 97 with breaks next door.
    w = walk(pattern100({}), 11, 2);
    EXPECT_EQ(w.ini, 0);
    EXPECT_EQ(w.end, 7);
    w = walk(pattern100({}), 11, 97);
    EXPECT_EQ(w.ini, 92);
    EXPECT_EQ(w.end, 100);
    // Everything linked: the whole genome, every pair counted.
    w = walk(Links(std::string(99, '1')), 11, 40);
    EXPECT_EQ(w.ini, 0);
    EXPECT_EQ(w.end, 100);
    EXPECT_EQ(w.nLD, 99);
    EXPECT_DOUBLE_EQ(w.meanDprime, 0.5);
}

TEST_F(LDTest, SingleSnpWindowHasZeroMeans) {
    // c = 0, wide 2 (half 1), pair 0 unlinked: the window is SNP 0 alone.
    const Window w = walk(Links("0000"), 2, 0);
    EXPECT_EQ(w.ini, 0);
    EXPECT_EQ(w.end, 1);
    EXPECT_EQ(w.meanDprime, 0.0);
    EXPECT_EQ(w.meanR2, 0.0);
}

TEST_F(LDTest, WindowNeedsTwoSnpsAndMatchingLDVectors) {
    int ini, end, nLD;
    double mD, mR;
    EXPECT_EXIT(ShortGenomeComputeWinSizesSeq(0.05, 1, {}, {}, 11, 0.4, sizes100, 0, 0, ini,
                                              end, nLD, mD, mR),
                ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("ShortGenomeComputeWinSizesSeq.log"), "1\n");
    EXPECT_DEATH(ShortGenomeComputeWinSizesSeq(0.05, 4, {0.5, 0.5}, {0.5, 0.5, 0.5}, 11, 0.4,
                                               sizes100, 0, 1, ini, end, nLD, mD, mR),
                 "L-1 == \\(int\\)Dprime.size\\(\\)");
    // A candidate outside the genome is rejected, not walked from.
    EXPECT_DEATH(ShortGenomeComputeWinSizesSeq(0.05, 4, {0.5, 0.5, 0.5}, {0.5, 0.5, 0.5}, 11,
                                               0.4, sizes100, 0, 4, ini, end, nLD, mD, mR),
                 "internal check failed");
}
