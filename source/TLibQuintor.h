// TLibQuintor: the statistics library of Quintor (header only).
// Shared data types, number-to-text conversions, the log-file writers and the
// numerical routines: chi-square p-values, nucleotide diversity and Fst,
// linkage disequilibrium, LD blocks and windows, and the k-means of outliers.
#ifndef TLIBQUINTOR_H
#define TLIBQUINTOR_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
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
inline void writeMessageToFile(const int &code, const std::string &message,
                               const std::string &fileName, bool append) {
    std::ofstream file(fileName.c_str(), append ? std::ios::app : std::ios::trunc);
    file << message;
    if (code != 0) file << " " << code;
    file << std::endl;
    file.close();
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

// Chi-square p-values, nucleotide diversity and Fst, k-means of outliers.
#include "TLibQuintorStats.h"
// Linkage disequilibrium, LD blocks and windows.
#include "TLibQuintorLD.h"

#endif
