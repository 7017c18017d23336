// TLibQuintor: the statistics library of Quintor (header only).
// Shared data types, number-to-text conversions, the log-file writers and the
// numerical routines: chi-square p-values, nucleotide diversity and Fst,
// linkage disequilibrium, LD blocks and windows, and the k-means of outliers.
#ifndef TLIBQUINTOR_H
#define TLIBQUINTOR_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <limits>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Internal consistency check that stays active in every build type: a failed
// check names the source file and line and aborts.
#define QUINTOR_CHECK(condition)                                                   \
    do {                                                                           \
        if (!(condition)) {                                                        \
            std::fprintf(stderr, "%s:%d: internal check failed: %s\n", __FILE__,   \
                         __LINE__, #condition);                                    \
            std::abort();                                                          \
        }                                                                          \
    } while (0)

// One sampled chromosome per row, one byte (0 or 1) per SNP column; the rows
// of population 0 come first, then those of population 1. Each row is one
// contiguous block of cells, so that the per-site passes over whole
// chromosomes run at memory speed.
typedef std::vector<char> HaplotypeRow;
typedef std::deque<HaplotypeRow> HaplotypeMatrix;

// The readers fill the matrix through these two calls only, population after
// population; `cells` holds one byte, 0 or 1, per cell.
// A reader that delivers a haplotype per line appends it as the next row.
inline void appendHaplotype(HaplotypeMatrix &matrix, const char *cells, size_t sites) {
    matrix.emplace_back(cells, cells + sites);
}
// A reader that delivers a site per line appends it as the next site of the
// population whose rows are [firstRow, firstRow + rows).
inline void appendSite(HaplotypeMatrix &matrix, size_t firstRow, const char *cells, size_t rows) {
    if (matrix.size() < firstRow + rows) matrix.resize(firstRow + rows);
    for (size_t r = 0; r < rows; ++r) matrix[firstRow + r].push_back(cells[r]);
}

// Counts, for each site j < counts.size(), the rows of [firstRow, endRow)
// whose cell j is not 0 (rows shorter than the counts are counted as far as
// they reach). Returns false when some counted cell holds a value other
// than 0 or 1.
inline bool countNonZeroCells(const HaplotypeMatrix &matrix, size_t firstRow, size_t endRow,
                              std::vector<uint32_t> &counts) {
    std::fill(counts.begin(), counts.end(), 0u);
    unsigned char others = 0;
    if (endRow > matrix.size()) endRow = matrix.size();
    for (size_t r = firstRow; r < endRow; ++r) {
        const HaplotypeRow &row = matrix[r];
        const size_t sites = row.size() < counts.size() ? row.size() : counts.size();
        const unsigned char *cell = reinterpret_cast<const unsigned char *>(row.data());
        uint32_t *count = counts.data();
        for (size_t j = 0; j < sites; ++j) {
            count[j] += cell[j] != 0;
            others |= static_cast<unsigned char>(cell[j] & 0xFE);
        }
    }
    return others == 0;
}

// Fst of one shared SNP and its Lk-test p-value (1.0 untested, 0.0 no test).
struct FstEntry {
    double fst = 0.0;
    double lkPval = 0.0;
};

// An EOS outlier record: the unit of outlier selection, k-means and the
// Fst-outlier summary.
struct SiteRecord {
    std::string id;
    double pos = 0.0;
    double fst = 0.0;
    double lkPval = 0.0;
    double weight = 1.0;
};

// An LD block: the population whose LD made it, its first SNP and one past
// its last SNP.
struct LDBlock {
    int32_t pop = 0;
    int32_t first = 0;
    int32_t end = 0;
};

// ---------------------------------------------------------------------------
// Number-to-text conversions and log-file writers
// ---------------------------------------------------------------------------

// The value's text through a fresh string stream with default formatting
// (six significant digits for floating-point values).
template <typename T>
std::string toString(const T &value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

// Writes the message, then " " and the code when the code is not 0, then a
// line end, to the named file (replacing it, or appending when asked).
// Returns false when the file could not be opened, written or closed.
inline bool writeMessageToFile(const int &code, const std::string &message,
                               const std::string &fileName, bool append) {
    std::ofstream file(fileName.c_str(), append ? std::ios::app : std::ios::trunc);
    file << message;
    if (code != 0) file << " " << code;
    file << std::endl;
    file.close();
    return !file.fail();
}

// Writes one value in decimal and a line end to the named file.
template <typename T>
void writeValueToFile(const T &value, const std::string &fileName, bool append) {
    std::ofstream file(fileName.c_str(), append ? std::ios::app : std::ios::trunc);
    file << value << std::endl;
    file.close();
}

// The exit status of a process that ends on an error with the given code: the
// code itself when the shell sees it as non-zero, else 1, so that no failure
// ever reads as success (codes 0 and multiples of 256 become 1).
inline int failureStatus(int code) {
    return (code & 0xFF) != 0 ? code : 1;
}

// Writes a log message and ends the process with the code (see failureStatus).
[[noreturn]] inline void exitWithLog(const int &code, const std::string &message,
                                     const std::string &fileName) {
    writeMessageToFile(code, message, fileName, false);
    std::exit(failureStatus(code));
}

// ---------------------------------------------------------------------------
// Chi-square p-values through the regularized incomplete gamma function
// (series and modified Lentz continued fraction, Lanczos' ln Gamma).
// ---------------------------------------------------------------------------

// Largest number of iterations of the series and of the continued fraction.
const double ITMAX = 5000;
// Relative accuracy: the double machine epsilon, 2^-52.
const double gammaEPS = 2.220446049250313e-16;
// The smallest normal double (2^-1022) divided by the accuracy.
const double gammaFPMIN = 1.0020841800044864e-292;

// ln Gamma(a), Lanczos' approximation in its six-term form.
inline double lnGammaLanczos(const double &a) {
    static const double coef[6] = {76.18009172947146,     -86.50532032941678,
                                   24.01409824083091,     -1.231739572450155,
                                   0.001208650973866179, -5.395239384953e-06};
    double tmp = a + 5.5;
    double ser = 1.000000000190015;
    for (int j = 0; j < 6; ++j) ser += coef[j] / (a + (j + 1));
    return std::log(2.5066282746310005 * ser / a) - (tmp - (a + 0.5) * std::log(tmp));
}

// Series for the lower regularized incomplete gamma P(a, x).
inline void gser(double *gamser, const double *a, const double *x, double *gln) {
    *gln = lnGammaLanczos(*a);
    if (*x < 0.0) exitWithLog(8, "x less than 0 in gser", "TLib_ERROR.log");
    if (*x == 0.0) {
        *gamser = 0.0;
        return;
    }
    double ap = *a;
    double sum = 1.0 / *a;
    double del = sum;
    for (int n = 1; n <= static_cast<int>(ITMAX); ++n) {
        ap += 1.0;
        del *= *x / ap;
        sum += del;
        if (std::fabs(del) < std::fabs(sum) * gammaEPS) {
            *gamser = sum * std::exp(-*x + *a * std::log(*x) - *gln);
            return;
        }
    }
    const std::string message = "a too large, ITMAX too small in routine gser";
    std::cout << message << " x = " << *x << std::endl;
    exitWithLog(9, message, "TLib_ERROR.log");
}

// Continued fraction for the upper regularized incomplete gamma Q(a, x).
inline void gcf(double *gammcf, const double *a, const double *x, double *gln) {
    *gln = lnGammaLanczos(*a);
    double b = *x + 1.0 - *a;
    double c = 1.0 / gammaFPMIN;
    double d = 1.0 / b;
    double h = d;
    for (int i = 1; i <= static_cast<int>(ITMAX); ++i) {
        double an = -i * (i - *a);
        b += 2.0;
        d = an * d + b;
        if (std::fabs(d) < gammaFPMIN) d = gammaFPMIN;
        c = b + an / c;
        if (std::fabs(c) < gammaFPMIN) c = gammaFPMIN;
        d = 1.0 / d;
        double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) <= gammaEPS) {
            *gammcf = std::exp(-*x + *a * std::log(*x) - *gln) * h;
            return;
        }
    }
    const std::string message = "a too large, ITMAX too small in routine gcf";
    std::cout << message << " x = " << *x << std::endl;
    // The code is the integer part of x, kept inside the 32-bit range.
    int code = 1;
    if (*x >= 2147483647.0)
        code = 2147483647;
    else if (*x > -2147483648.0)
        code = static_cast<int>(*x);
    exitWithLog(code, message, "TLib_ERROR.log");
}

// Upper regularized incomplete gamma Q(a, x) = 1 - P(a, x).
inline double gammq(const double &a, const double &x) {
    // NaN arguments are rejected like negative ones.
    if (!(x >= 0.0) || !(a > 0.0)) {
        std::cout << "x: " << x << " a: " << a << std::endl;
        exitWithLog(11, "Invalid arguments in gammq", "TLib_ERROR.log");
    }
    // The whole mass lies below an infinite x.
    if (x == std::numeric_limits<double>::infinity()) return 0.0;
    double result = 0.0;
    double gln = 0.0;
    if (x < a + 1.0) {
        gser(&result, &a, &x, &gln);
        return 1.0 - result;
    }
    gcf(&result, &a, &x, &gln);
    return result;
}

// Upper-tail probability of the chi-square distribution with df degrees of
// freedom at the statistic x.
inline double chiSquarePvalue(double x, const int &df) {
    if (x == 0.0) return 1.0;
    return gammq(static_cast<double>(df) * 0.5, x * 0.5);
}

// ---------------------------------------------------------------------------
// Nucleotide diversity and Fst from pairwise differences between rows.
// Two cells differ when their byte values differ. The pair counts come from
// the number of rows carrying each byte value at a site: among n rows with
// c_v rows of value v there are (n^2 - sum c_v^2) / 2 differing pairs, and
// between n_p and n_q rows there are n_p n_q - sum c_p(v) c_q(v). These are
// exact integers, so the diversities equal the pair-by-pair sums exactly.
// ---------------------------------------------------------------------------

// Writes one value to a log file and ends the process with the code.
template <typename T>
[[noreturn]] void exitWithValueLog(const int &code, const T &value, const std::string &fileName) {
    writeValueToFile<T>(value, fileName, false);
    std::exit(failureStatus(code));
}

// Per-site tally of the byte values of a set of rows, one table per group of
// rows. Values are recorded in the order they first appear so that clearing
// and summing touch only the values present.
struct ValueTally {
    std::vector<uint64_t> counts;  // group * 256 + value
    unsigned char seen[256];
    bool isSeen[256];
    int nseen = 0;
};

inline void initValueTally(ValueTally &tally, size_t groups) {
    tally.counts.assign(groups * 256, 0);
    std::fill(tally.isSeen, tally.isSeen + 256, false);
    tally.nseen = 0;
}

inline void tallyCell(ValueTally &tally, size_t group, char cell) {
    const unsigned char v = static_cast<unsigned char>(cell);
    if (!tally.isSeen[v]) {
        tally.isSeen[v] = true;
        tally.seen[tally.nseen++] = v;
    }
    ++tally.counts[group * 256 + v];
}

// Records `count` cells of one value at once.
inline void tallyCells(ValueTally &tally, size_t group, unsigned char v, uint64_t count) {
    if (!tally.isSeen[v]) {
        tally.isSeen[v] = true;
        tally.seen[tally.nseen++] = v;
    }
    tally.counts[group * 256 + v] += count;
}

inline void clearValueTally(ValueTally &tally, size_t groups) {
    for (int t = 0; t < tally.nseen; ++t) {
        const unsigned char v = tally.seen[t];
        tally.isSeen[v] = false;
        for (size_t g = 0; g < groups; ++g) tally.counts[g * 256 + v] = 0;
    }
    tally.nseen = 0;
}

// Differing pairs among the n rows of a group.
inline uint64_t pairsWithinGroup(const ValueTally &tally, size_t group, uint64_t n) {
    uint64_t same = 0;
    for (int t = 0; t < tally.nseen; ++t) {
        const uint64_t c = tally.counts[group * 256 + tally.seen[t]];
        same += c * c;
    }
    return (n * n - same) / 2;
}

// Differing pairs (one row of group g, one row of group h).
inline uint64_t pairsBetweenGroups(const ValueTally &tally, size_t g, size_t h, uint64_t ng,
                                   uint64_t nh) {
    uint64_t same = 0;
    for (int t = 0; t < tally.nseen; ++t) {
        const unsigned char v = tally.seen[t];
        same += tally.counts[g * 256 + v] * tally.counts[h * 256 + v];
    }
    return ng * nh - same;
}

// First row of each population (and the end of the last one, at index k).
inline std::vector<int64_t> populationOffsets(const std::vector<int32_t> &samplesizes) {
    std::vector<int64_t> offsets(samplesizes.size() + 1, 0);
    for (size_t p = 0; p < samplesizes.size(); ++p)
        offsets[p + 1] = offsets[p] + samplesizes[p];
    return offsets;
}

// Nucleotide diversity within rows [firstRow, endRow): the differing cells
// summed over every pair of rows and every site of [firstSite, endSite),
// divided by the number of pairs (not by the number of sites, which goes to
// nsites).
inline double Theta_Pi(const HaplotypeMatrix &data, const size_t &firstRow, const size_t &endRow,
                       const size_t &firstSite, const size_t &endSite, size_t &nsites) {
    size_t first = firstRow;
    size_t end = endRow;
    size_t n = end - first;
    if (n < 2) exitWithValueLog<int>(1, static_cast<int>(n), "Theta_Pi_Error.log");
    if (n > data.size()) {
        first = 0;
        end = n = data.size();
        // Too few rows in the whole matrix as well.
        if (n < 2) exitWithValueLog<int>(1, static_cast<int>(n), "Theta_Pi_Error.log");
    }
    QUINTOR_CHECK(end <= data.size());
    nsites = endSite - firstSite;
    bool tooLong = nsites > data[first].size();
    for (size_t r = first; r < end && !tooLong; ++r) tooLong = endSite > data[r].size();
    if (tooLong) exitWithValueLog<size_t>(2, 2, "Theta_Pi_Error.log");

    ValueTally tally;
    initValueTally(tally, 1);
    uint64_t differing = 0;
    for (size_t s = firstSite; s < endSite; ++s) {
        for (size_t r = first; r < end; ++r) tallyCell(tally, 0, data[r][s]);
        differing += pairsWithinGroup(tally, 0, n);
        clearValueTally(tally, 1);
    }
    const uint64_t pairs = static_cast<uint64_t>(n) * (n - 1) / 2;
    return static_cast<double>(differing) / static_cast<double>(pairs);
}

// Nucleotide diversity between populations p and q: the differing cells
// summed over every (row of p, row of q) pair and every site of
// [firstSite, endSite), divided by n_p n_q and by the number of sites.
inline double ThetaPia(const HaplotypeMatrix &data, const size_t &p, const size_t &q,
                       const std::vector<int32_t> &samplesizes, const size_t &firstSite,
                       const size_t &endSite) {
    QUINTOR_CHECK(p < samplesizes.size() && q < samplesizes.size());
    const std::vector<int64_t> offsets = populationOffsets(samplesizes);
    const int64_t rows = static_cast<int64_t>(data.size());
    const int64_t iniP = offsets[p];
    const int64_t iniQ = offsets[q];
    const int64_t np = samplesizes[p];
    const int64_t nq = samplesizes[q];
    QUINTOR_CHECK(iniP >= 0 && iniP < rows && iniQ >= 0);
    QUINTOR_CHECK(iniP + std::max<int64_t>(np, 0) <= rows && iniQ + std::max<int64_t>(nq, 0) <= rows);

    const size_t nsites = endSite - firstSite;
    bool tooLong = nsites > data[iniP].size();
    for (int64_t r = iniP; r < iniP + np && !tooLong; ++r) tooLong = endSite > data[r].size();
    for (int64_t r = iniQ; r < iniQ + nq && !tooLong; ++r) tooLong = endSite > data[r].size();
    if (tooLong) exitWithValueLog<size_t>(1, nsites, "ThetaPia_Error.log");

    uint64_t differing = 0;
    if (np > 0 && nq > 0) {
        ValueTally tally;
        initValueTally(tally, 2);
        for (size_t s = firstSite; s < endSite; ++s) {
            for (int64_t r = iniP; r < iniP + np; ++r) tallyCell(tally, 0, data[r][s]);
            for (int64_t r = iniQ; r < iniQ + nq; ++r) tallyCell(tally, 1, data[r][s]);
            differing += pairsBetweenGroups(tally, 0, 1, np, nq);
            clearValueTally(tally, 2);
        }
    }
    return static_cast<double>(differing) / static_cast<double>(np * nq) /
           static_cast<double>(nsites);
}

// Fst of every site of [ini, end) into fstdistrib[0 ..] (field fst) and the
// genome-wide Fst into globalFst, from the pairwise differences within and
// between the populations whose row counts samplesizes gives.
inline void FSTdT(const HaplotypeMatrix &data, const std::vector<int32_t> &samplesizes, size_t ini,
                  size_t end, std::vector<FstEntry> &fstdistrib, double &globalFst) {
    const size_t k = samplesizes.size();
    if (k == 0) exitWithValueLog<size_t>(1, data.size(), "FSTdT_Error1.log");
    if (k == 1) {
        writeValueToFile<size_t>(data.size(), "FSTdT.log", false);
        return;
    }
    // The populations must lie inside the matrix.
    const std::vector<int64_t> offsets = populationOffsets(samplesizes);
    for (size_t p = 0; p < k; ++p) QUINTOR_CHECK(samplesizes[p] >= 0);
    QUINTOR_CHECK(offsets[k] <= static_cast<int64_t>(data.size()));

    // Every population starts with a row as long as row 0 (an empty
    // population has no row of its own to compare).
    const size_t length0 = data.empty() ? 0 : data[0].size();
    for (size_t p = 1; p < k; ++p) {
        if (samplesizes[p] == 0) continue;
        const size_t lengthP = data[offsets[p]].size();
        if (lengthP != length0)
            exitWithLog(2, "L1 = " + toString<size_t>(length0) + "; L2 = " +
                               toString<size_t>(lengthP) + "\n",
                        "FSTdT_Error2.log");
    }
    if (end > length0) end = length0;
    if (ini >= end) exitWithValueLog<size_t>(3, ini, "FSTdT_Error3.log");
    const int64_t d = static_cast<int64_t>(end - ini);
    const int64_t outSize = static_cast<int64_t>(fstdistrib.size());
    if (d > outSize) exitWithValueLog<size_t>(4, static_cast<size_t>(d - outSize), "FSTdT_Error4.log");

    // Within-population diversity needs two rows per population.
    for (size_t p = 0; p < k; ++p)
        if (samplesizes[p] < 2) exitWithValueLog<int>(1, samplesizes[p], "Theta_Pi_Error.log");
    // A row shorter than the range would be read past its end.
    for (int64_t r = 0; r < offsets[k]; ++r) {
        if (data[r].size() < end)
            exitWithLog(2, "L1 = " + toString<size_t>(length0) + "; L2 = " +
                               toString<size_t>(data[r].size()) + "\n",
                        "FSTdT_Error2.log");
    }

    // Everything the per-site loop needs, prepared once.
    std::vector<const HaplotypeRow *> rows(static_cast<size_t>(offsets[k]));
    for (size_t r = 0; r < rows.size(); ++r) rows[r] = &data[r];
    std::vector<double> withinPairs(k);
    for (size_t p = 0; p < k; ++p) {
        const uint64_t n = static_cast<uint64_t>(samplesizes[p]);
        withinPairs[p] = static_cast<double>(n * (n - 1) / 2);
    }
    ValueTally tally;
    initValueTally(tally, k);
    const double kd = static_cast<double>(k);
    const double k2 = static_cast<double>(k * k);

    // Cells of value 1 per site and population, counted row by row. When
    // every cell is 0 or 1 these counts give each site's tally directly.
    std::vector<std::vector<uint32_t>> ones(k, std::vector<uint32_t>(end));
    bool binary = true;
    for (size_t p = 0; p < k; ++p)
        binary = countNonZeroCells(data, static_cast<size_t>(offsets[p]),
                                   static_cast<size_t>(offsets[p + 1]), ones[p]) &&
                 binary;

    double sumHw = 0.0;
    double sumHt = 0.0;
    for (int64_t j = 0; j < d; ++j) {
        const size_t s = ini + static_cast<size_t>(j);
        if (binary) {
            for (size_t p = 0; p < k; ++p) {
                const uint32_t one = ones[p][s];
                const uint32_t zero = static_cast<uint32_t>(samplesizes[p]) - one;
                if (zero) tallyCells(tally, p, 0, zero);
                if (one) tallyCells(tally, p, 1, one);
            }
        } else {
            for (size_t p = 0; p < k; ++p)
                for (int64_t r = offsets[p]; r < offsets[p + 1]; ++r)
                    tallyCell(tally, p, (*rows[r])[s]);
        }
        // Within each population (the single site divides by 1, which is exact).
        double sumPi = 0.0;
        for (size_t p = 0; p < k; ++p) {
            sumPi += static_cast<double>(pairsWithinGroup(tally, p, samplesizes[p])) / withinPairs[p];
        }
        const double Hw = sumPi / kd;
        // Between every pair of populations.
        double sumPiPQ = 0.0;
        for (size_t p = 0; p < k; ++p) {
            for (size_t q = p + 1; q < k; ++q) {
                const int64_t npq = static_cast<int64_t>(samplesizes[p]) * samplesizes[q];
                sumPiPQ += static_cast<double>(pairsBetweenGroups(tally, p, q, samplesizes[p],
                                                                  samplesizes[q])) /
                           static_cast<double>(npq);
            }
        }
        const double Hb = 2.0 * sumPiPQ / k2;
        const double Ht = Hb + Hw / kd;
        fstdistrib[j].fst = Ht > 0.0 ? std::max(0.0, 1.0 - Hw / Ht) : 0.0;
        sumHw += Hw;
        sumHt += Ht;
        clearValueTally(tally, k);
    }
    // No varying site at all: no differentiation.
    globalFst = sumHt == 0.0 ? 0.0 : std::max(0.0, 1.0 - sumHw / sumHt);
}

// ---------------------------------------------------------------------------
// One-dimensional k-means of outlier records by their Fst.
// ---------------------------------------------------------------------------

// Clusters the records by Fst into K.size() clusters (started from the
// records at both ends of the given order) and replaces them by the records
// of the highest cluster from its first record with Fst >= threshold on,
// ascending by Fst. Records keep their given order inside a cluster until the
// final (stable) sort. Only the highest-cluster mode exists.
inline void kmeans(std::vector<SiteRecord> &records, const std::vector<double> &K,
                   const double &threshold, bool lastClusterOnly) {
    size_t k = K.size();
    if (k < 2) {
        writeMessageToFile(static_cast<int>(k), "K equal or less than 1 in kmeans", "kmeans.log",
                           false);
        std::exit(failureStatus(1));
    }
    QUINTOR_CHECK(lastClusterOnly);
    if (records.empty()) return;
    const size_t n = records.size();
    if (n < k) k = n;
    if (n == 1) {
        if (!(records[0].fst >= threshold)) records.clear();
        return;
    }

    std::vector<double> centroids(k);
    for (size_t j = 0; j + 1 < k; ++j) centroids[j] = records[j].fst;
    centroids[k - 1] = records[n - 1].fst;

    // Clusters hold record indices, in record order.
    std::vector<std::vector<size_t>> clusters(k);
    const double startDistance = K.back() + 1.0;
    bool changed = true;
    while (changed) {
        for (auto &cluster : clusters) cluster.clear();
        for (size_t r = 0; r < n; ++r) {
            const double fst = records[r].fst;
            double best = startDistance;
            size_t candidate = k;
            for (size_t j = 0; j < k; ++j) {
                const double diff = fst - centroids[j];
                const double dist = std::fabs(diff);
                if (dist < best) {
                    candidate = j;
                    best = dist;
                    if (diff == 0.0) break;
                }
            }
            // Farther than the start distance from every centroid: the
            // nearest centroid takes it (the lower one on a tie; cluster 0
            // when the distances are not numbers).
            if (candidate == k) {
                candidate = 0;
                for (size_t j = 1; j < k; ++j)
                    if (std::fabs(fst - centroids[j]) < std::fabs(fst - centroids[candidate]))
                        candidate = j;
            }
            clusters[candidate].push_back(r);
        }
        changed = false;
        for (size_t j = 0; j < k; ++j) {
            if (clusters[j].empty()) continue;
            double sum = 0.0;
            for (size_t r : clusters[j]) sum += records[r].fst;
            const double mean = sum / static_cast<double>(clusters[j].size());
            if (std::fabs(centroids[j] - mean) > 0.000001) {
                centroids[j] = mean;
                changed = true;
            }
        }
    }

    std::vector<size_t> &top = clusters[k - 1];
    std::stable_sort(top.begin(), top.end(),
                     [&records](size_t a, size_t b) { return records[a].fst < records[b].fst; });
    std::vector<SiteRecord> kept;
    size_t from = 0;
    while (from < top.size() && !(records[top[from]].fst >= threshold)) ++from;
    kept.reserve(top.size() - from);
    for (size_t i = from; i < top.size(); ++i) kept.push_back(records[top[i]]);
    records.swap(kept);
}

// ---------------------------------------------------------------------------
// Linkage disequilibrium: D' and r2 of adjacent SNPs, genome-wide LD blocks,
// and the LD window grown around one candidate SNP.
// ---------------------------------------------------------------------------

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

#endif
