// Linkage-disequilibrium routines of TLibQuintor; included by TLibQuintor.h.
// D' and r2 of adjacent SNPs, genome-wide LD blocks, and the LD window grown
// around one candidate SNP.
#pragma once
#include "TLibQuintor.h"
#include "TLibQuintorStats.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

// First row of population `pop` in the matrix: the sum of the sample sizes of
// the populations before it.
inline long long ldFirstRowOfPop(const std::vector<int> &samplesizes, const int &pop) {
    long long ini = 0;
    for (int p = 0; p < pop; ++p) ini += samplesizes[p];
    return ini;
}

// The LD link test of the adjacent pair (j, j+1): the pair is linked when its
// r2, scaled by the number of rows n, is significant at level alpha as a
// chi-square with one degree of freedom, and its D' reaches minDprime.
inline bool ldPairLinked(const double &alpha, const std::vector<double> &Dprime,
                         const std::vector<double> &r2, const std::size_t &j,
                         const double &n, const double &minDprime) {
    const double X = n * r2[j];
    double pvalue = 1.0;
    if (X != 0) pvalue = gammq(0.5, X / 2);
    return alpha >= pvalue && Dprime[j] >= minDprime;
}

// Signed D' and r2 of every adjacent SNP pair (i, i+1) of population `pop`,
// counting at each SNP the population's reference allele (flag set: cell
// value 1, clear: cell value 0). `freqs` holds the population's frequency of
// cell value 1 at each SNP; its length is the number of SNPs S. Both outputs
// become S - 1 values. Fewer than two SNPs end the process (status 1) after
// writing the SNP count to "computeSeqDrsq_L.err". A population without rows
// has no measurable LD: every D' and r2 is 0.
inline void computeSeqDrsq_L(const std::vector<bool> &references,
                             const HaplotypeMatrix &data,
                             const std::vector<int> &samplesizes, const int &pop,
                             const std::vector<double> &freqs,
                             std::vector<double> &Dprime, std::vector<double> &r2) {
    const std::size_t S = freqs.size();
    if (S < 2) {
        writeValueToFile<int>(static_cast<int>(S), "computeSeqDrsq_L.err", false);
        std::exit(failureStatus(1));
    }
    Dprime.assign(S - 1, 0.0);
    r2.assign(S - 1, 0.0);

    QUINTOR_CHECK(pop >= 0 && static_cast<std::size_t>(pop) < samplesizes.size());
    QUINTOR_CHECK(references.size() == S);
    const int n = samplesizes[pop];
    QUINTOR_CHECK(n >= 0);
    if (n == 0) return;
    const long long ini = ldFirstRowOfPop(samplesizes, pop);
    QUINTOR_CHECK(ini >= 0 && ini + n <= static_cast<long long>(data.size()));

    // Reference allele of each SNP as a cell value.
    std::vector<char> refCell(S);
    for (std::size_t i = 0; i < S; ++i) refCell[i] = references[i] ? 1 : 0;

    // Rows carrying the reference allele at both SNPs of each pair; one
    // sweep along every row of the population.
    std::vector<int> together(S - 1, 0);
    for (long long r = ini; r < ini + n; ++r) {
        const HaplotypeRow &row = data[static_cast<std::size_t>(r)];
        QUINTOR_CHECK(row.size() == S);
        HaplotypeRow::const_iterator cell = row.begin();
        bool previous = (*cell == refCell[0]);
        ++cell;
        for (std::size_t i = 1; i < S; ++i, ++cell) {
            const bool current = (*cell == refCell[i]);
            together[i - 1] += (previous && current) ? 1 : 0;
            previous = current;
        }
    }

    for (std::size_t i = 0; i + 1 < S; ++i) {
        const double x11 = static_cast<double>(together[i]) / n;
        const double p = freqs[i];
        const double q = freqs[i + 1];
        const double pA = references[i] ? p : 1 - p;
        const double pB = references[i + 1] ? q : 1 - q;
        const double D = x11 - pA * pB;
        const double Dmax = D >= 0 ? std::min((1 - pA) * pB, pA * (1 - pB))
                                   : std::min((1 - pA) * (1 - pB), pA * pB);
        const double den = p * (1 - p) * q * (1 - q);
        if (den > 0) {
            r2[i] = D * D / den;
            // Dmax is positive whenever the frequencies match the rows; a
            // zero bound (inconsistent frequencies) gives no D' rather than
            // an infinite one.
            Dprime[i] = Dmax != 0 ? D / Dmax : 0.0;
        }
    }
}

// Genome-wide LD blocks of population `pop`: every maximal run of SNPs whose
// adjacent pairs are all linked and which holds at least `blockSize` SNPs,
// in genome order, each as [first, end). The number of SNPs is the length of
// `sizes`. A block size above the number of links is halved (with a note
// file); when still too large the process ends with the halved size.
inline void computeBlocks(const double &alpha, const std::vector<double> &Dprime,
                          const std::vector<double> &r2, const int &blockSize,
                          const double &minDprime, const std::vector<int> &samplesizes,
                          const int &pop, const std::vector<double> &sizes,
                          std::vector<LDBlock> &blocks) {
    const std::size_t S = sizes.size();
    if (S < 2) {
        writeValueToFile<int>(0, "computeBlocksError.log", false);
        std::exit(failureStatus(1));
    }
    const std::size_t linkCount = S - 1;
    const int nlinks = static_cast<int>(linkCount);
    QUINTOR_CHECK(Dprime.size() == linkCount);
    QUINTOR_CHECK(r2.size() == linkCount);
    QUINTOR_CHECK(pop >= 0 && static_cast<std::size_t>(pop) < samplesizes.size());

    int B = blockSize;
    if (B > nlinks) {
        writeValueToFile<int>(nlinks,
                              "Genome size " + toString<std::size_t>(linkCount) +
                                  " too short for block of size " + toString<int>(B) +
                                  " so block is halved.log",
                              false);
        B = B / 2;
        if (B > nlinks) {
            writeValueToFile<int>(nlinks,
                                  "Genome size " + toString<std::size_t>(linkCount) +
                                      " too short for reduced block of size " +
                                      toString<int>(B) + ". Exiting the program.log",
                                  false);
            std::exit(failureStatus(B));
        }
    }

    blocks.clear();
    const double n = static_cast<double>(samplesizes[pop]);
    const int snps = static_cast<int>(S);
    int start = 0;
    int count = 1; // SNPs in the current run
    for (int j = 0; j < nlinks; ++j) {
        if (ldPairLinked(alpha, Dprime, r2, static_cast<std::size_t>(j), n, minDprime)) {
            ++count;
            if (j == nlinks - 1) {
                if (snps - start >= B) blocks.push_back(LDBlock{pop, start, snps});
                break;
            }
        } else {
            if (count >= B) blocks.push_back(LDBlock{pop, start, j + 1});
            start = j + 1;
            if (start >= nlinks) break; // the last SNP alone is not a run
            count = 1;
        }
    }
}

// The LD window [winIni, winEnd) around candidate SNP c among L SNPs: walks
// left and right from c over linked pairs and stops at the first unlinked
// one, keeping at least wide/2 SNPs on each side of c where the genome
// allows. nLD counts the linked pairs passed; meanDprime and meanR2 average
// the pairs inside the window (0 when the window holds a single SNP).
// Fewer than two SNPs end the process (status 1) after writing L to
// "ShortGenomeComputeWinSizesSeq.log".
inline void ShortGenomeComputeWinSizesSeq(const double &alpha, const int &L,
                                          const std::vector<double> &Dprime,
                                          const std::vector<double> &r2, const int &wide,
                                          const double &minDprime,
                                          const std::vector<int> &samplesizes,
                                          const int &pop, const int &c, int &winIni,
                                          int &winEnd, int &nLD, double &meanDprime,
                                          double &meanR2) {
    if (L < 2) {
        writeValueToFile<int>(L, "ShortGenomeComputeWinSizesSeq.log", false);
        std::exit(failureStatus(1));
    }
    QUINTOR_CHECK(L-1 == (int)Dprime.size());
    QUINTOR_CHECK(L-1== (int)r2.size());
    QUINTOR_CHECK(pop >= 0 && static_cast<std::size_t>(pop) < samplesizes.size());
    QUINTOR_CHECK(c >= 0 && c < L);

    const double n = static_cast<double>(samplesizes[pop]);
    const long long halfWide = wide / 2;
    nLD = 0;

    // Left walk: pairs c-1 down to 0.
    winIni = 0;
    for (int j = c - 1; j >= 0; --j) {
        if (ldPairLinked(alpha, Dprime, r2, static_cast<std::size_t>(j), n, minDprime)) {
            ++nLD;
        } else {
            const long long left = std::min(static_cast<long long>(c) - halfWide,
                                            static_cast<long long>(j));
            winIni = static_cast<int>(std::max(left, 0LL));
            break;
        }
    }

    // Right walk: pairs c up to L-2; pair (k-1, k) unlinked leaves SNP k out.
    winEnd = L;
    for (int k = c + 1; k <= L - 1; ++k) {
        if (ldPairLinked(alpha, Dprime, r2, static_cast<std::size_t>(k - 1), n,
                         minDprime)) {
            ++nLD;
        } else {
            const long long right = std::max(static_cast<long long>(c) + halfWide,
                                             static_cast<long long>(k));
            winEnd = static_cast<int>(std::min(static_cast<long long>(L), right));
            break;
        }
    }

    // Means over the pairs inside the window, winIni .. winEnd-2.
    double sumDprime = 0.0;
    double sumR2 = 0.0;
    for (int j = winIni; j <= winEnd - 2; ++j) {
        sumDprime += Dprime[static_cast<std::size_t>(j)];
        sumR2 += r2[static_cast<std::size_t>(j)];
    }
    const int pairs = winEnd - 1 - winIni;
    if (pairs > 0) {
        meanDprime = sumDprime / static_cast<double>(pairs);
        meanR2 = sumR2 / static_cast<double>(pairs);
    } else {
        meanDprime = 0.0;
        meanR2 = 0.0;
    }
}
