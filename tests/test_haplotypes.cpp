// The bit-packed haplotype matrix at the edges of its 64-row words and of the
// 4,096-site chunks that Fst and LD work in: the three ways of filling it
// give the same cells, and the counts, the column cut, Fst and LD over it
// equal a cell-by-cell evaluation of the same rows.
#include "driver.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Rows;

// Rows of '0'/'1' from a fixed pseudo-random sequence.
Rows randomRows(size_t rows, size_t sites, uint32_t seed) {
    Rows texts(rows, std::string(sites, '0'));
    for (std::string &text : texts)
        for (char &cell : text) {
            seed = seed * 1103515245u + 12345u;
            cell = (seed >> 16) % 3 == 0 ? '1' : '0';
        }
    return texts;
}

// The same rows, given a site at a time per population.
HaplotypeMatrix bySites(const Rows &rows, const std::vector<int32_t> &sizes) {
    HaplotypeMatrix matrix;
    size_t first = 0;
    for (int32_t n : sizes) {
        for (size_t s = 0; s < rows[first].size(); ++s) {
            std::string cells;
            for (size_t r = first; r < first + static_cast<size_t>(n); ++r) cells.push_back(rows[r][s] == '1');
            appendSite(matrix, first, cells.data(), cells.size());
        }
        first += static_cast<size_t>(n);
    }
    return matrix;
}

// The same rows as packed bits, at most 64 to a call.
HaplotypeMatrix byPackedRows(const Rows &rows) {
    HaplotypeMatrix matrix;
    const size_t sites = rows[0].size(), stride = (sites + 63) / 64;
    for (size_t first = 0; first < rows.size(); first += 64) {
        const size_t count = std::min<size_t>(64, rows.size() - first);
        std::vector<uint64_t> bits(count * stride, 0);
        for (size_t k = 0; k < count; ++k)
            for (size_t s = 0; s < sites; ++s)
                if (rows[first + k][s] == '1') bits[k * stride + s / 64] |= uint64_t(1) << (s % 64);
        appendHaplotypeBits(matrix, bits.data(), count, stride, sites);
    }
    return matrix;
}

uint32_t onesAt(const Rows &rows, size_t first, size_t end, size_t s) {
    uint32_t ones = 0;
    for (size_t r = first; r < end; ++r) ones += rows[r][s] == '1';
    return ones;
}

}  // namespace

TEST(HaplotypeMatrixWords, FillingCountingCuttingFstAndLDAtWordEdges) {
    const size_t sites = 4100;  // one chunk of 64 full words and four sites more
    for (size_t n : {63, 64, 65, 127, 128, 129}) {
        const std::vector<int32_t> sizes{static_cast<int32_t>(n / 3), static_cast<int32_t>(n - n / 3)};
        const size_t n0 = static_cast<size_t>(sizes[0]);
        SCOPED_TRACE("rows " + std::to_string(n));
        const Rows rows = randomRows(n, sites, static_cast<uint32_t>(n));
        const HaplotypeMatrix byRows = matrixOfRows(rows);
        EXPECT_EQ(rowsOf(byRows), rows);
        EXPECT_EQ(rowsOf(bySites(rows, sizes)), rows);
        EXPECT_EQ(rowsOf(byPackedRows(rows)), rows);
        EXPECT_EQ(byRows.size(), n);
        EXPECT_EQ(rowLength(byRows, n - 1), sites);
        EXPECT_EQ(rowLength(byRows, n), 0u);

        // Counts per population, whatever slices the populations share.
        std::vector<uint32_t> ones(sites);
        countOnes(byRows, n0, n, ones);
        for (size_t s = 0; s < sites; ++s) ASSERT_EQ(ones[s], onesAt(rows, n0, n, s)) << s;

        // Fst and the global value from the counts, as the pairwise formulas.
        std::vector<FstEntry> fst(sites);
        double global = 0.0, sumHw = 0.0, sumHt = 0.0;
        FSTdT(bySites(rows, sizes), sizes, 0, sites, fst, global);
        for (size_t s = 0; s < sites; ++s) {
            const double c0 = onesAt(rows, 0, n0, s), c1 = onesAt(rows, n0, n, s);
            const double m0 = static_cast<double>(n0), m1 = static_cast<double>(n - n0);
            const double hw = (c0 * (m0 - c0) / (m0 * (m0 - 1) / 2) + c1 * (m1 - c1) / (m1 * (m1 - 1) / 2)) / 2.0;
            const double ht = 2.0 * ((c0 * (m1 - c1) + (m0 - c0) * c1) / (m0 * m1)) / 4.0 + hw / 2.0;
            ASSERT_EQ(fst[s].fst, ht > 0.0 ? std::max(0.0, 1.0 - hw / ht) : 0.0) << s;
            sumHw += hw;
            sumHt += ht;
        }
        EXPECT_EQ(global, std::max(0.0, 1.0 - sumHw / sumHt));

        // D' and r2 of population 1 against the cell-by-cell counts, with
        // reference flags that differ between the chunks.
        std::vector<double> freqs(sites);
        std::vector<bool> references(sites);
        const std::string flags = randomRows(1, sites, 7)[0];
        for (size_t s = 0; s < sites; ++s) {
            freqs[s] = onesAt(rows, n0, n, s) / static_cast<double>(n - n0);
            references[s] = flags[s] == '1';
        }
        std::vector<double> Dprime, r2;
        computeSeqDrsq_L(references, byPackedRows(rows), sizes, 1, freqs, Dprime, r2);
        for (size_t i = 0; i + 1 < sites; ++i) {
            double together = 0;
            for (size_t r = n0; r < n; ++r)
                together += (rows[r][i] == '1') == references[i] && (rows[r][i + 1] == '1') == references[i + 1];
            const double x11 = together / static_cast<double>(n - n0);
            const double pA = references[i] ? freqs[i] : 1 - freqs[i];
            const double pB = references[i + 1] ? freqs[i + 1] : 1 - freqs[i + 1];
            const double D = x11 - pA * pB;
            const double Dmax = D >= 0 ? std::min((1 - pA) * pB, pA * (1 - pB))
                                       : std::min((1 - pA) * (1 - pB), pA * pB);
            const double den = freqs[i] * (1 - freqs[i]) * freqs[i + 1] * (1 - freqs[i + 1]);
            ASSERT_EQ(r2[i], den > 0 ? D * D / den : 0.0) << i;
            ASSERT_EQ(Dprime[i], den > 0 ? D / Dmax : 0.0) << i;
        }

        // Cutting population 1's columns leaves population 0's rows whole.
        HaplotypeMatrix cut = byRows;
        std::vector<double> positions(sites), kept;
        for (size_t s = 0; s < sites; ++s) {
            positions[s] = static_cast<double>(s);
            if (s % 3 != 1) kept.push_back(positions[s]);
        }
        std::vector<double> cutFreqs(sites, 0.5);
        keepCommonSites(cut, 1, sizes, cutFreqs, positions, kept);
        EXPECT_EQ(positions, kept);
        const Rows cutRows = rowsOf(cut);
        for (size_t r = 0; r < n; ++r) {
            std::string expected = rows[r];
            if (r >= n0) {
                expected.clear();
                for (size_t s = 0; s < sites; ++s)
                    if (s % 3 != 1) expected.push_back(rows[r][s]);
            }
            ASSERT_EQ(cutRows[r], expected) << r;
        }
    }
}

TEST(HaplotypeMatrixWords, PopulationsOfOwnLengthAClearedMatrixAndBitCounts) {
    // Population 0's rows are longer than population 1's until the cut.
    HaplotypeMatrix m = matrixOfRows({"10110", "01101", "110", "011", "101"});
    EXPECT_EQ(rowLength(m, 1), 5u);
    EXPECT_EQ(rowLength(m, 2), 3u);
    std::vector<uint32_t> ones(5);
    countOnes(m, 0, 5, ones);  // the short rows count as far as they reach
    EXPECT_EQ(ones, (std::vector<uint32_t>{3, 3, 4, 1, 1}));
    m.clear();
    EXPECT_TRUE(m.empty());
    EXPECT_TRUE(m.slices.empty());

    // Both ways of counting bits give the same counts.
    std::vector<uint64_t> words(300), flips(300);
    uint64_t state = 88172645463325252ull;
    for (size_t i = 0; i < words.size(); ++i) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        words[i] = state;
        flips[i] = (state >> 3) % 2 ? ~uint64_t(0) : 0;
    }
    std::vector<uint32_t> portable(300, 1), instruction(300, 1);
    addOnesPortable(words.data(), words.size(), 0xF0F0FFFF0000FFFFull, portable.data());
    addOnesInstruction(words.data(), words.size(), 0xF0F0FFFF0000FFFFull, instruction.data());
    EXPECT_EQ(portable, instruction);
    addPairsPortable(words.data(), flips.data(), words.size(), ~uint64_t(0) >> 5, portable.data());
    addPairsInstruction(words.data(), flips.data(), words.size(), ~uint64_t(0) >> 5, instruction.data());
    EXPECT_EQ(portable, instruction);
    EXPECT_EQ(popcount64(~uint64_t(0)), 64u);
    EXPECT_EQ(popcount64(0x8000000000000001ull), 2u);
}
