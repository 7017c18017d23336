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
#include <cstring>
#include <iostream>
#include <limits>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// ---------------------------------------------------------------------------
// Haplotype matrix: one cell, 0 or 1, per sampled chromosome (row) and SNP
// (site); the rows of population 0 come first, then those of population 1.
// The rows are kept in slices of at most 64 consecutive rows that share one
// number of sites. A slice holds one 64-bit word per site whose bit b is the
// cell of row firstRow + b, so that the cells of a site are a few words:
// counting, comparing and cutting sites work on whole words. Populations
// may have different numbers of sites (until the unshared sites are cut).
// ---------------------------------------------------------------------------

struct HaplotypeSlice {
    size_t firstRow = 0;
    size_t rows = 0;             // 1 .. 64
    std::vector<uint64_t> sites; // one word per site
};

// One row seen as its cells: row[s] is 0 or 1, row.size() its sites.
struct HaplotypeRowView {
    const HaplotypeSlice *slice = nullptr;
    unsigned bit = 0;
    size_t size() const { return slice->sites.size(); }
    char operator[](size_t site) const { return static_cast<char>((slice->sites[site] >> bit) & 1u); }
};

struct HaplotypeMatrix {
    std::vector<HaplotypeSlice> slices; // in row order
    size_t rowCount = 0;

    size_t size() const { return rowCount; }
    bool empty() const { return rowCount == 0; }
    // Empties the matrix and gives its memory back.
    void clear() {
        std::vector<HaplotypeSlice>().swap(slices);
        rowCount = 0;
    }
    HaplotypeRowView operator[](size_t row) const;
};

// Number of bits set (portable: the build targets no particular processor).
inline unsigned popcount64(uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<unsigned>((x * 0x0101010101010101ull) >> 56);
}

// The two counting loops over site words: counts[j] += the bits of
// words[j] & mask; together[i] += the bits of x_i & x_(i+1) & mask, where
// x_i = words[i] ^ flips[i]. Processors that have an instruction for it
// count the bits with it (the same counts, sooner).
inline void addOnesPortable(const uint64_t *words, size_t n, uint64_t mask, uint32_t *counts) {
    for (size_t j = 0; j < n; ++j) counts[j] += popcount64(words[j] & mask);
}
inline void addPairsPortable(const uint64_t *words, const uint64_t *flips, size_t n, uint64_t mask,
                             uint32_t *together) {
    for (size_t i = 0; i + 1 < n; ++i)
        together[i] += popcount64((words[i] ^ flips[i]) & (words[i + 1] ^ flips[i + 1]) & mask);
}
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("popcnt"))) inline void addOnesInstruction(const uint64_t *words, size_t n,
                                                                 uint64_t mask, uint32_t *counts) {
    for (size_t j = 0; j < n; ++j) counts[j] += static_cast<uint32_t>(__builtin_popcountll(words[j] & mask));
}
__attribute__((target("popcnt"))) inline void addPairsInstruction(const uint64_t *words,
                                                                  const uint64_t *flips, size_t n,
                                                                  uint64_t mask, uint32_t *together) {
    for (size_t i = 0; i + 1 < n; ++i)
        together[i] += static_cast<uint32_t>(
            __builtin_popcountll((words[i] ^ flips[i]) & (words[i + 1] ^ flips[i + 1]) & mask));
}
inline bool popcountInstruction() {
    static const bool present = __builtin_cpu_supports("popcnt");
    return present;
}
#else
inline void addOnesInstruction(const uint64_t *words, size_t n, uint64_t mask, uint32_t *counts) {
    addOnesPortable(words, n, mask, counts);
}
inline void addPairsInstruction(const uint64_t *words, const uint64_t *flips, size_t n, uint64_t mask,
                                uint32_t *together) {
    addPairsPortable(words, flips, n, mask, together);
}
inline bool popcountInstruction() { return false; }
#endif
inline void addOnes(const uint64_t *words, size_t n, uint64_t mask, uint32_t *counts) {
    if (popcountInstruction()) addOnesInstruction(words, n, mask, counts);
    else addOnesPortable(words, n, mask, counts);
}
inline void addPairs(const uint64_t *words, const uint64_t *flips, size_t n, uint64_t mask,
                     uint32_t *together) {
    if (popcountInstruction()) addPairsInstruction(words, flips, n, mask, together);
    else addPairsPortable(words, flips, n, mask, together);
}

// Index of the slice holding the row (row < rowCount).
inline size_t sliceOfRow(const HaplotypeMatrix &matrix, size_t row) {
    QUINTOR_CHECK(row < matrix.rowCount);
    const auto after = std::upper_bound(
        matrix.slices.begin(), matrix.slices.end(), row,
        [](size_t r, const HaplotypeSlice &slice) { return r < slice.firstRow; });
    return static_cast<size_t>(after - matrix.slices.begin()) - 1;
}

inline HaplotypeRowView HaplotypeMatrix::operator[](size_t row) const {
    const HaplotypeSlice &slice = slices[sliceOfRow(*this, row)];
    return HaplotypeRowView{&slice, static_cast<unsigned>(row - slice.firstRow)};
}

// Number of sites of a row (0 for a row the matrix does not hold).
inline size_t rowLength(const HaplotypeMatrix &matrix, size_t row) {
    return row < matrix.rowCount ? matrix[row].size() : 0;
}

// The bits of a slice's rows that lie in [firstRow, endRow).
inline uint64_t sliceRowMask(const HaplotypeSlice &slice, size_t firstRow, size_t endRow) {
    const size_t from = firstRow > slice.firstRow ? firstRow - slice.firstRow : 0;
    const size_t to = std::min(endRow, slice.firstRow + slice.rows) - slice.firstRow;
    if (from >= to) return 0;
    const uint64_t upTo = to == 64 ? ~uint64_t(0) : (uint64_t(1) << to) - 1;
    return upTo & ~((uint64_t(1) << from) - 1);
}

// Calls visit(slice, mask) for every slice holding rows of [firstRow,
// endRow), with the mask of those rows.
template <typename Visit>
void forEachSliceOfRows(const HaplotypeMatrix &matrix, size_t firstRow, size_t endRow, Visit visit) {
    endRow = std::min(endRow, matrix.rowCount);
    if (firstRow >= endRow) return;
    for (size_t i = sliceOfRow(matrix, firstRow); i < matrix.slices.size(); ++i) {
        const HaplotypeSlice &slice = matrix.slices[i];
        if (slice.firstRow >= endRow) break;
        visit(slice, sliceRowMask(slice, firstRow, endRow));
    }
}

// A new slice for `rows` rows of `sites` sites (all 0) after the last row.
inline HaplotypeSlice &startSlice(HaplotypeMatrix &matrix, size_t rows, size_t sites) {
    HaplotypeSlice slice;
    slice.firstRow = matrix.rowCount;
    slice.rows = rows;
    slice.sites.assign(sites, 0);
    matrix.slices.push_back(std::move(slice));
    matrix.rowCount += rows;
    return matrix.slices.back();
}

// The readers fill the matrix through these calls, population after
// population; `cells` holds one byte per cell, 0 or 1 (any other value
// counts as 1).
// A reader that delivers a haplotype per line appends it as the next row.
inline void appendHaplotype(HaplotypeMatrix &matrix, const char *cells, size_t sites) {
    HaplotypeSlice *slice = matrix.slices.empty() ? nullptr : &matrix.slices.back();
    if (slice == nullptr || slice->rows == 64 || slice->sites.size() != sites) {
        slice = &startSlice(matrix, 1, sites);
    } else {
        ++slice->rows;
        ++matrix.rowCount;
    }
    const unsigned bit = static_cast<unsigned>(slice->rows - 1);
    uint64_t *word = slice->sites.data();
    for (size_t s = 0; s < sites; ++s) word[s] |= static_cast<uint64_t>(cells[s] != 0) << bit;
}

// Appends `rows` rows of no site after the last row, in slices of up to 64.
inline void appendRows(HaplotypeMatrix &matrix, size_t rows) {
    for (size_t done = 0; done < rows; done += 64) startSlice(matrix, std::min<size_t>(64, rows - done), 0);
}

// A reader that delivers a site per line appends it as the next site of the
// population whose rows are [firstRow, firstRow + rows); the first call for
// a population makes its rows (unless appendRows did), right after the rows
// already there.
inline void appendSite(HaplotypeMatrix &matrix, size_t firstRow, const char *cells, size_t rows) {
    if (rows == 0) return;
    if (firstRow == matrix.rowCount) appendRows(matrix, rows);
    QUINTOR_CHECK(firstRow + rows <= matrix.rowCount);
    size_t i = sliceOfRow(matrix, firstRow);
    for (size_t done = 0; done < rows; ++i) {
        HaplotypeSlice &slice = matrix.slices[i];
        QUINTOR_CHECK(slice.firstRow == firstRow + done && done + slice.rows <= rows);
        uint64_t word = 0;
        size_t b = 0;
        // Eight cells at a time: the high bit of each non-zero byte, then
        // the eight high bits gathered into one byte, cell b at bit b.
        for (; b + 8 <= slice.rows; b += 8) {
            uint64_t chunk;
            std::memcpy(&chunk, cells + done + b, 8);
            const uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
            const uint64_t nonZero = (((chunk & low7) + low7) | chunk) & ~low7;
            word |= (((nonZero >> 7) * 0x0102040810204080ull) >> 56) << b;
        }
        for (; b < slice.rows; ++b)
            word |= static_cast<uint64_t>(cells[done + b] != 0) << b;
        slice.sites.push_back(word);
        done += slice.rows;
    }
}

// Transposes a 64 x 64 bit block: afterwards bit k of a[j] is the former
// bit j of a[k].
inline void transposeBits64(uint64_t a[64]) {
    uint64_t mask = 0x00000000FFFFFFFFull;
    // Swaps, for blocks of j rows and j columns, the upper right block
    // with the lower left one; halving j each time.
    for (unsigned j = 32; j != 0; j >>= 1, mask ^= mask << j) {
#ifdef __SSE2__
        // Two rows at a time while the blocks hold two rows or more.
        if (j >= 2) {
            const __m128i blockMask = _mm_set1_epi64x(static_cast<long long>(mask));
            const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(j));
            for (unsigned first = 0; first < 64; first += 2 * j) {
                for (unsigned k = first; k < first + j; k += 2) {
                    __m128i *upper = reinterpret_cast<__m128i *>(a + k);
                    __m128i *lower = reinterpret_cast<__m128i *>(a + k + j);
                    const __m128i u = _mm_loadu_si128(upper);
                    const __m128i l = _mm_loadu_si128(lower);
                    const __m128i t = _mm_and_si128(_mm_xor_si128(_mm_srl_epi64(u, shift), l), blockMask);
                    _mm_storeu_si128(upper, _mm_xor_si128(u, _mm_sll_epi64(t, shift)));
                    _mm_storeu_si128(lower, _mm_xor_si128(l, t));
                }
            }
            continue;
        }
#endif
        for (unsigned first = 0; first < 64; first += 2 * j) {
            uint64_t *upper = a + first;
            uint64_t *lower = a + first + j;
            for (unsigned k = 0; k < j; ++k) {
                const uint64_t t = ((upper[k] >> j) ^ lower[k]) & mask;
                upper[k] ^= t << j;
                lower[k] ^= t;
            }
        }
    }
}

// Appends up to 64 haplotypes given as packed rows, as a slice of its own:
// row k's cell at site s is bit s % 64 of rowBits[k * stride + s / 64].
inline void appendHaplotypeBits(HaplotypeMatrix &matrix, const uint64_t *rowBits, size_t rows,
                                size_t stride, size_t sites) {
    QUINTOR_CHECK(rows >= 1 && rows <= 64 && stride * 64 >= sites);
    HaplotypeSlice &slice = startSlice(matrix, rows, 0);
    slice.sites.reserve(sites);
    uint64_t block[64];
    for (size_t w = 0; w * 64 < sites; ++w) {
        for (size_t k = 0; k < 64; ++k) block[k] = k < rows ? rowBits[k * stride + w] : 0;
        transposeBits64(block);
        const size_t count = std::min<size_t>(64, sites - w * 64);
        slice.sites.insert(slice.sites.end(), block, block + count);
    }
}

// Gives back the memory of every cell; the rows stay, with no site.
inline void releaseSites(HaplotypeMatrix &matrix) {
    for (HaplotypeSlice &slice : matrix.slices) std::vector<uint64_t>().swap(slice.sites);
}

// Makes a slice start at the row (unless one does, or the row is past the
// matrix): the slice holding it is split in two.
inline void splitSlicesAt(HaplotypeMatrix &matrix, size_t row) {
    if (row == 0 || row >= matrix.rowCount) return;
    const size_t i = sliceOfRow(matrix, row);
    HaplotypeSlice &lower = matrix.slices[i];
    if (lower.firstRow == row) return;
    const unsigned below = static_cast<unsigned>(row - lower.firstRow);
    HaplotypeSlice upper;
    upper.firstRow = row;
    upper.rows = lower.rows - below;
    upper.sites.resize(lower.sites.size());
    const uint64_t lowMask = (uint64_t(1) << below) - 1;
    for (size_t s = 0; s < lower.sites.size(); ++s) {
        upper.sites[s] = lower.sites[s] >> below;
        lower.sites[s] &= lowMask;
    }
    lower.rows = below;
    matrix.slices.insert(matrix.slices.begin() + static_cast<std::ptrdiff_t>(i + 1), std::move(upper));
}

// Index range [first, end) of the slices holding exactly the rows
// [firstRow, endRow), after splitting the slices that cross its bounds.
inline std::pair<size_t, size_t> isolateRows(HaplotypeMatrix &matrix, size_t firstRow, size_t endRow) {
    endRow = std::min(endRow, matrix.rowCount);
    if (firstRow >= endRow) return {0, 0};
    splitSlicesAt(matrix, firstRow);
    splitSlicesAt(matrix, endRow);
    const size_t first = sliceOfRow(matrix, firstRow);
    const size_t end = sliceOfRow(matrix, endRow - 1) + 1;
    return {first, end};
}

// Counts, for each site firstSite + j (j < counts.size()), the rows of
// [firstRow, endRow) whose cell there is 1 (rows shorter than that are
// counted as far as they reach).
inline void countOnesAt(const HaplotypeMatrix &matrix, size_t firstRow, size_t endRow,
                        size_t firstSite, std::vector<uint32_t> &counts) {
    std::fill(counts.begin(), counts.end(), 0u);
    forEachSliceOfRows(matrix, firstRow, endRow, [&](const HaplotypeSlice &slice, uint64_t mask) {
        if (slice.sites.size() <= firstSite) return;
        const size_t sites = std::min(slice.sites.size() - firstSite, counts.size());
        addOnes(slice.sites.data() + firstSite, sites, mask, counts.data());
    });
}

// The same from site 0.
inline void countOnes(const HaplotypeMatrix &matrix, size_t firstRow, size_t endRow,
                      std::vector<uint32_t> &counts) {
    countOnesAt(matrix, firstRow, endRow, 0, counts);
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
inline double lnGammaLanczosTerms(const double &a) {
    static const double coef[6] = {76.18009172947146,     -86.50532032941678,
                                   24.01409824083091,     -1.231739572450155,
                                   0.001208650973866179, -5.395239384953e-06};
    double tmp = a + 5.5;
    double ser = 1.000000000190015;
    for (int j = 0; j < 6; ++j) ser += coef[j] / (a + (j + 1));
    return std::log(2.5066282746310005 * ser / a) - (tmp - (a + 0.5) * std::log(tmp));
}

// The same; the value at 0.5 (one degree of freedom, every p-value of the
// Lk and LD tests) is computed once.
inline double lnGammaLanczos(const double &a) {
    static const double atHalf = lnGammaLanczosTerms(0.5);
    return a == 0.5 ? atHalf : lnGammaLanczosTerms(a);
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
// The pair counts come from the number of rows carrying value 1 at a site:
// among n rows of which c carry it there are c (n - c) differing pairs, and
// between n_p and n_q rows there are c_p (n_q - c_q) + (n_p - c_p) c_q.
// These are exact integers, so the diversities equal the pair-by-pair sums
// exactly.
// ---------------------------------------------------------------------------

// Writes one value to a log file and ends the process with the code.
template <typename T>
[[noreturn]] void exitWithValueLog(const int &code, const T &value, const std::string &fileName) {
    writeValueToFile<T>(value, fileName, false);
    std::exit(failureStatus(code));
}

// First row of each population (and the end of the last one, at index k).
inline std::vector<int64_t> populationOffsets(const std::vector<int32_t> &samplesizes) {
    std::vector<int64_t> offsets(samplesizes.size() + 1, 0);
    for (size_t p = 0; p < samplesizes.size(); ++p)
        offsets[p + 1] = offsets[p] + samplesizes[p];
    return offsets;
}

// Differing pairs among n rows of which `ones` carry value 1.
inline uint64_t pairsWithin(uint64_t n, uint64_t ones) { return ones * (n - ones); }

// Differing pairs (one of n_p rows, one of n_q rows).
inline uint64_t pairsBetween(uint64_t np, uint64_t onesP, uint64_t nq, uint64_t onesQ) {
    return onesP * (nq - onesQ) + (np - onesP) * onesQ;
}

// True when some row of [firstRow, endRow) is shorter than endSite.
inline bool rowsShorterThan(const HaplotypeMatrix &data, size_t firstRow, size_t endRow,
                            size_t endSite) {
    bool shorter = false;
    forEachSliceOfRows(data, firstRow, endRow, [&](const HaplotypeSlice &slice, uint64_t) {
        shorter = shorter || slice.sites.size() < endSite;
    });
    return shorter;
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
    if (nsites > rowLength(data, first) || rowsShorterThan(data, first, end, endSite))
        exitWithValueLog<size_t>(2, 2, "Theta_Pi_Error.log");

    std::vector<uint32_t> ones(endSite);
    countOnes(data, first, end, ones);
    uint64_t differing = 0;
    for (size_t s = firstSite; s < endSite; ++s) differing += pairsWithin(n, ones[s]);
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
    const bool tooLong =
        nsites > rowLength(data, static_cast<size_t>(iniP)) ||
        (np > 0 && rowsShorterThan(data, static_cast<size_t>(iniP), static_cast<size_t>(iniP + np), endSite)) ||
        (nq > 0 && rowsShorterThan(data, static_cast<size_t>(iniQ), static_cast<size_t>(iniQ + nq), endSite));
    if (tooLong) exitWithValueLog<size_t>(1, nsites, "ThetaPia_Error.log");

    uint64_t differing = 0;
    if (np > 0 && nq > 0) {
        std::vector<uint32_t> onesP(endSite), onesQ(endSite);
        countOnes(data, static_cast<size_t>(iniP), static_cast<size_t>(iniP + np), onesP);
        countOnes(data, static_cast<size_t>(iniQ), static_cast<size_t>(iniQ + nq), onesQ);
        for (size_t s = firstSite; s < endSite; ++s)
            differing += pairsBetween(static_cast<uint64_t>(np), onesP[s], static_cast<uint64_t>(nq), onesQ[s]);
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
    const size_t length0 = rowLength(data, 0);
    for (size_t p = 1; p < k; ++p) {
        if (samplesizes[p] == 0) continue;
        const size_t lengthP = rowLength(data, static_cast<size_t>(offsets[p]));
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
    forEachSliceOfRows(data, 0, static_cast<size_t>(offsets[k]), [&](const HaplotypeSlice &slice, uint64_t) {
        if (slice.sites.size() < end)
            exitWithLog(2, "L1 = " + toString<size_t>(length0) + "; L2 = " +
                               toString<size_t>(slice.sites.size()) + "\n",
                        "FSTdT_Error2.log");
    });

    std::vector<double> withinPairs(k);
    for (size_t p = 0; p < k; ++p) {
        const uint64_t n = static_cast<uint64_t>(samplesizes[p]);
        withinPairs[p] = static_cast<double>(n * (n - 1) / 2);
    }
    const double kd = static_cast<double>(k);
    const double k2 = static_cast<double>(k * k);

    // Cells of value 1 per population at the sites of one chunk at a time.
    const size_t chunk = 4096;
    std::vector<std::vector<uint32_t>> ones(k, std::vector<uint32_t>(chunk));
    // With two populations a site's Hw, Ht and Fst depend on its two counts
    // alone: each pair of counts met is computed once (when the table of
    // every pair stays small).
    const uint64_t width = static_cast<uint64_t>(samplesizes[k - 1]) + 1;
    const bool memo = k == 2 && (static_cast<uint64_t>(samplesizes[0]) + 1) * width <= (1u << 16);
    std::vector<double> memoHw, memoHt, memoFst;
    std::vector<char> known;
    if (memo) {
        const size_t cells = static_cast<size_t>((static_cast<uint64_t>(samplesizes[0]) + 1) * width);
        memoHw.resize(cells);
        memoHt.resize(cells);
        memoFst.resize(cells);
        known.assign(cells, 0);
    }
    double sumHw = 0.0;
    double sumHt = 0.0;
    for (int64_t j = 0; j < d; ++j) {
        const size_t s = ini + static_cast<size_t>(j);
        if (j % static_cast<int64_t>(chunk) == 0)
            for (size_t p = 0; p < k; ++p)
                countOnesAt(data, static_cast<size_t>(offsets[p]), static_cast<size_t>(offsets[p + 1]), s, ones[p]);
        const size_t c = static_cast<size_t>(j) % chunk;
        size_t cell = 0;
        if (memo) {
            cell = static_cast<size_t>(ones[0][c] * width + ones[1][c]);
            if (known[cell]) {
                fstdistrib[j].fst = memoFst[cell];
                sumHw += memoHw[cell];
                sumHt += memoHt[cell];
                continue;
            }
        }
        // Within each population (the single site divides by 1, which is exact).
        double sumPi = 0.0;
        for (size_t p = 0; p < k; ++p) {
            sumPi += static_cast<double>(pairsWithin(static_cast<uint64_t>(samplesizes[p]), ones[p][c])) /
                     withinPairs[p];
        }
        const double Hw = sumPi / kd;
        // Between every pair of populations.
        double sumPiPQ = 0.0;
        for (size_t p = 0; p < k; ++p) {
            for (size_t q = p + 1; q < k; ++q) {
                const int64_t npq = static_cast<int64_t>(samplesizes[p]) * samplesizes[q];
                sumPiPQ += static_cast<double>(pairsBetween(static_cast<uint64_t>(samplesizes[p]), ones[p][c],
                                                            static_cast<uint64_t>(samplesizes[q]), ones[q][c])) /
                           static_cast<double>(npq);
            }
        }
        const double Hb = 2.0 * sumPiPQ / k2;
        const double Ht = Hb + Hw / kd;
        fstdistrib[j].fst = Ht > 0.0 ? std::max(0.0, 1.0 - Hw / Ht) : 0.0;
        sumHw += Hw;
        sumHt += Ht;
        if (memo) {
            known[cell] = 1;
            memoHw[cell] = Hw;
            memoHt[cell] = Ht;
            memoFst[cell] = fstdistrib[j].fst;
        }
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
//
// The p-value falls as X grows. When many pairs are tested against one
// alpha, LinkBounds brackets the X at which it crosses alpha: a pair whose X
// lies clearly below `low` (or above `high`) has a p-value above (below)
// alpha whatever the last bits of gammq, and only the pairs between need it.
struct LinkBounds {
    bool usable = false;
    double low = 0.0;
    double high = 0.0;
};

inline LinkBounds linkBounds(const double &alpha) {
    LinkBounds bounds;
    if (!(alpha > 1e-300 && alpha < 0.5)) return bounds;
    double below = 0.0, above = 1.0;  // p-value above alpha at `below`, not at `above`
    while (gammq(0.5, above / 2) > alpha) {
        below = above;
        above *= 2;
        if (above > 4096.0) return bounds;
    }
    for (int step = 0; step < 64; ++step) {
        const double middle = below + (above - below) / 2;
        if (gammq(0.5, middle / 2) > alpha) below = middle;
        else above = middle;
    }
    // A relative margin far wider than the error of the p-value near alpha.
    bounds.low = below * (1 - 1e-6);
    bounds.high = above * (1 + 1e-6);
    bounds.usable = true;
    return bounds;
}

inline bool ldPairLinked(const double &alpha, const std::vector<double> &Dprime,
                         const std::vector<double> &r2, const std::size_t &j,
                         const double &n, const double &minDprime,
                         const LinkBounds &bounds = LinkBounds()) {
    const double X = n * r2[j];
    // A D' below the minimum never links: its p-value is not needed, unless
    // X is no valid argument of gammq, which rejects it.
    if (!(Dprime[j] >= minDprime) && X / 2 >= 0) return false;
    if (bounds.usable && X >= 0) {
        if (X < bounds.low) return false;
        if (X > bounds.high && X < std::numeric_limits<double>::infinity()) return true;
    }
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

    // Rows carrying the reference allele at both SNPs of each pair: the
    // cells equal to the reference allele are the word itself (reference 1)
    // or its complement (reference 0).
    // Sites are taken a chunk at a time (overlapping by one, for the pair
    // that crosses), with the flips of the chunk's reference flags.
    std::vector<uint32_t> together(S - 1, 0);
    const std::size_t chunk = 4096;
    std::vector<uint64_t> flips(chunk + 1);
    for (std::size_t first = 0; first + 1 < S; first += chunk) {
        const std::size_t count = std::min(chunk + 1, S - first);
        for (std::size_t i = 0; i < count; ++i) flips[i] = references[first + i] ? 0 : ~uint64_t(0);
        forEachSliceOfRows(data, static_cast<std::size_t>(ini), static_cast<std::size_t>(ini + n),
                           [&](const HaplotypeSlice &slice, uint64_t mask) {
            QUINTOR_CHECK(slice.sites.size() == S);
            addPairs(slice.sites.data() + first, flips.data(), count, mask, together.data() + first);
        });
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
    const LinkBounds bounds = linkBounds(alpha);
    const int snps = static_cast<int>(S);
    int start = 0;
    int count = 1; // SNPs in the current run
    for (int j = 0; j < nlinks; ++j) {
        if (ldPairLinked(alpha, Dprime, r2, static_cast<std::size_t>(j), n, minDprime, bounds)) {
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
