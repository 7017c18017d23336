// SNPSelTools: command line, logs, input readers and text helpers of Quintor.
#ifndef SNPSELTOOLS_H
#define SNPSELTOOLS_H

#include "TLibQuintor.h"

#include <cstdint>
#include <fstream>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

// Every setting of the command line, under the names the analysis uses. The
// driver gives each its default before the command line is parsed; the two
// global flags (`oldSweep`, `verbose`) are handed to the parser separately.
struct Settings {
    std::string fastaTag;                 // -tag
    bool noGaps = false;                  // -nogaps
    bool saveSubsets = false;             // -store, -save
    std::string path;                     // -path
    std::string format = "MS";            // -format
    bool onepopbyfile = false;            // -singlepopfile
    std::string input1;                   // -inputfile, -inputfile1, -input, -input1
    std::string input2;                   // -inputfile2, -input2
    std::string output = "Quintor_out";   // -outputfile, -output
    bool inputGiven = false;              // a first input name was given
    int32_t runs = 1;                     // -runs
    int32_t popforHB = -1;                // -reference (value minus 1)
    std::vector<double> selectives;       // -selectives
    int32_t fixwinsize = 0;               // -window
    int32_t sample = 50;                  // -sample
    int32_t sample2 = 0;                  // -sample2
    int32_t minWinSize = 11;              // -minwin
    int32_t MaxWinSize = 1000;            // -maxwin
    double maf = 0.01;                    // -maf
    double SL = 0.05;                     // -SL
    bool doEOS = true;                    // -doEOS and variants
    bool onlyEOS = false;                 // -onlyEOS
    bool EPOH = false;                    // -EPOH (stored, never read)
    double numdesvs = 1.25;               // -cutoff
    bool fixseed = false;                 // -fixseed
    bool useblocks = true;                // -useblocks
    bool rsidInfo = false;                // -rsidInfo
    bool onlyrsidInfo = false;            // -onlyrsidInfo
    float version = 0.2f;                 // shown by the help text only
};

// ---------------------------------------------------------------------------
// Error log, run log and fatal exit
// ---------------------------------------------------------------------------

// Writes the message (and the code when not 0) to "Quintor_ERROR.log" and
// ends the process; the exit status is the code, or 1 when the shell would
// read the code as success.
[[noreturn]] void errorExit(int code, const std::string &message);

// fatal: as errorExit. Otherwise replaces "Quintor.log" with the message
// (and the code when not 0) and returns; a log that cannot be written ends
// the process as failedWrite does.
void writeLogFile(int code, const std::string &message, bool fatal);

// Prints a fatal error's message with a line end, then ends the process
// through errorExit.
[[noreturn]] void fatalError(int code, const std::string &message);

// A file of results or logs could not be opened, written or closed: prints
// the message naming it and ends the process with status 1.
[[noreturn]] void failedWrite(const std::string &name);

// ---------------------------------------------------------------------------
// Command line and help
// ---------------------------------------------------------------------------

void parseArguments(int argc, char *argv[], Settings &settings, bool &oldSweep,
                    bool &verbose);
void printHelp(std::ostream &out, const float &version);

// ---------------------------------------------------------------------------
// Text helpers, input-file opening and reader globals
// ---------------------------------------------------------------------------

extern std::string commentPrefix;           // "#"
extern std::set<std::string> nucleotideSet; // "A", "C", "G", "T"

// The six characters trimmed from the start of every input line.
extern const std::string readerBlanks;

// Builds `commentPrefix` and `nucleotideSet`; run before main.
void initReaderGlobals();

std::string toLower(const std::string &text);
std::vector<std::string> splitOnWhitespace(const std::string &text);
std::vector<std::string> splitOnChar(const std::string &text, const char separator);
void trimLeading(std::string &text, const std::string &characters);
std::string cutAtPattern(const std::string &text, const std::string &pattern,
                         bool keepBefore, bool fromEnd);

// Keeps the elements from `first` on whose entry keep[i - first] is not 0,
// in order, and drops the others, in one pass without a branch per element.
template <typename Container>
void keepMarkedElements(Container &container, size_t first, const std::vector<unsigned char> &keep) {
    auto out = container.begin() + static_cast<std::ptrdiff_t>(first);
    auto in = out;
    for (size_t k = 0; k < keep.size() && in != container.end(); ++k, ++in) {
        *out = *in;
        out += keep[k] != 0;
    }
    container.erase(out, in);
}

// Marks for keepMarkedElements the elements from the first listed position
// to `size`, dropping the listed ones (distinct, ascending, below `size`).
inline std::vector<unsigned char> keepMarksWithout(const std::vector<int32_t> &indices, size_t size) {
    const size_t first = indices.empty() ? size : static_cast<size_t>(indices[0]);
    std::vector<unsigned char> keep(size - first, 1);
    for (int32_t position : indices) keep[static_cast<size_t>(position) - first] = 0;
    return keep;
}

// Removes the listed positions, walking the list from its end; an entry that
// is negative or past the container's current end is skipped. A list of
// distinct ascending positions inside the container, the usual case, is
// removed in one pass.
template <typename Container>
void eraseIndices(Container &container, const std::vector<int32_t> &indices) {
    bool ascendingInside = true;
    for (size_t k = 0; k < indices.size() && ascendingInside; ++k)
        ascendingInside = indices[k] >= 0 &&
                          static_cast<size_t>(indices[k]) < container.size() &&
                          (k == 0 || indices[k] > indices[k - 1]);
    if (ascendingInside) {
        if (indices.empty()) return;
        keepMarkedElements(container, static_cast<size_t>(indices[0]),
                           keepMarksWithout(indices, container.size()));
        return;
    }
    for (size_t k = indices.size(); k-- > 0;) {
        const int32_t position = indices[k];
        if (position < 0 || static_cast<size_t>(position) >= container.size()) continue;
        container.erase(container.begin() + position);
    }
}

// Reads the leading integer of a text as the C library's strtol does (a text
// without digits reads as 0); a value beyond the 32-bit range reads as the
// nearest bound. Every integer read from the command line or a file goes
// through it.
int32_t textToInt(const char *text);

// Reads a file line by line in large blocks, handing out each line in
// place, without its line feed (a last line without one included). The byte
// after a line is its line feed or a NUL, so a number at the end of a line
// can be converted in place.
struct LineReader {
    std::istream &in;
    std::vector<char> buffer = std::vector<char>(size_t(1) << 20);
    size_t start = 0;   // first byte of the next line
    size_t filled = 0;  // bytes of the buffer holding input
    bool inputEnded = false;
    long long lineNumber = 0;

    explicit LineReader(std::istream &stream) : in(stream) {}

    // [begin, end): the next line, valid until the next call. False at the
    // end of the input.
    bool next(const char *&begin, const char *&end);
    // The next data line: trimmed at its start, neither empty nor a comment.
    bool nextData(const char *&begin, const char *&end);
};

int32_t findElementInSorted(const std::vector<double> &values, const int32_t &index,
                            const std::vector<double> &sorted);
int32_t countAlleleStates(const std::vector<uint32_t> &codes, uint32_t missingCode,
                          std::vector<uint32_t> &states, std::vector<float> &counts,
                          int32_t &numberOfCodes);
bool openInputFile(const std::string &prefix, const std::string &name,
                   std::ifstream &stream, bool boolalpha);

// Reads the next data line of a reader's input: trimmed at its start, neither
// empty nor a comment. Returns false at the end of the input.
bool nextDataLine(std::istream &stream, std::string &line);
// The same, counting in `lineNumber` every line read.
bool nextDataLine(std::istream &stream, std::string &line, long long &lineNumber);

// ---------------------------------------------------------------------------
// MS readers (SNPSelToolsMS.cpp)
// ---------------------------------------------------------------------------

// Reads one ms block per population from path + fileName, each block with
// `sample` haplotype lines. Rows are appended to `data`; `snpositions` gets
// one vector of positions per block. Returns false when the file cannot be
// opened or holds no segregating-sites line; a malformed block ends the
// process through errorExit.
bool readMS(const std::string &path, const std::string &fileName, int &sample,
            HaplotypeMatrix &data, std::vector<std::vector<double>> &snpositions);

// Reads the first ms block of path + fileName: its first `sample` lines are
// population 0, the next `sample2` lines population 1; `total` is the number
// of rows the block must give. Repeated or decreasing positions are moved up
// by 1e-07 (noted on the console and in "Quintor.log"); both vectors of
// `snpositions` hold the corrected positions. Results and failures as readMS.
bool readMSTwoSamples(const std::string &path, const std::string &fileName, int &total,
                      int &sample, int &sample2, HaplotypeMatrix &data,
                      std::vector<std::vector<double>> &snpositions);

// ---------------------------------------------------------------------------
// FASTA readers (SNPSelToolsFasta.cpp)
// ---------------------------------------------------------------------------

// The coder of the four readers: turns aligned sequences (population 0's
// first) into rows, frequencies and positions, with population `pref` as the
// reference (see SNPSelToolsFasta.cpp).
void codeFastaSequences(const bool &nogaps, const std::vector<const std::string *> &rows,
                        const std::vector<int> &samplesizes, int pref, HaplotypeMatrix &data,
                        std::vector<std::vector<double>> &snpfreqs,
                        std::vector<std::vector<double>> &snpositions);
// One file: its first half of sequences is population 0, the rest population 1.
bool readFasta(const bool &nogaps, const std::string &path, const std::string &file,
               std::vector<int> &samplesizes, HaplotypeMatrix &data,
               std::vector<std::vector<double>> &snpfreqs,
               std::vector<std::vector<double>> &snpositions);
// One file per population.
bool readFastaTwoFiles(const bool &nogaps, const std::string &path, const std::string &file1,
                       const std::string &file2, std::vector<int> &samplesizes,
                       HaplotypeMatrix &data, std::vector<std::vector<double>> &snpfreqs,
                       std::vector<std::vector<double>> &snpositions, int &refpop);
// One file split by a tag in the sequence names.
bool readFastaByTag(const std::string &tag, const bool &save, const bool &nogaps,
                    const std::string &path, const std::string &file,
                    std::vector<int> &samplesizes, HaplotypeMatrix &data,
                    std::vector<std::vector<double>> &snpfreqs,
                    std::vector<std::vector<double>> &snpositions, int &refpop);
// One file whose sequences are dealt to the populations in turn.
bool readFastaAlternating(const bool &save, const bool &nogaps, const std::string &path,
                          const std::string &file, std::vector<int> &samplesizes,
                          HaplotypeMatrix &data, std::vector<std::vector<double>> &snpfreqs,
                          std::vector<std::vector<double>> &snpositions, int &refpop);

// ---------------------------------------------------------------------------
// Phased HapMap, fastPHASE and phased VCF readers (SNPSelToolsHapMap.cpp,
// SNPSelToolsFastPhase.cpp, SNPSelToolsVcf.cpp)
// ---------------------------------------------------------------------------

// Per input file: SNP position to SNP name (upper-cased; a position keeps the
// first name read for it).
typedef std::unordered_map<double, std::string> RsidMap;

// The major and minor nucleotide of a site from the counts of A, C, G, T and
// any other character over n samples: the major is the first most frequent
// (N when another character is); the minor is N when no second nucleotide
// occurs (or the major is N), else the first least frequent nucleotide that
// occurs, so that a tie for the highest count makes the minor equal the major.
void majorMinorNucleotide(const int32_t counts[5], int32_t n, char &major, char &minor);

// Codes nucleotide texts (one per sample, populations in order, all of a
// population equally long, the other population no longer than `refpop`) as
// 0/1 rows: 1 where the character is the minor nucleotide of the reference
// population's site (the site of the same index when it has the column's
// position, else the first site at that position). Sites whose reference major is N are
// dropped, in the other population at the first column of equal position.
// `snpositions` holds one position per site on entry, the kept ones after.
void codeNucleotideHaplotypes(const std::vector<std::string> &sequences,
                              const std::vector<int> &samplesizes, int refpop,
                              std::vector<std::vector<double>> &snpositions,
                              HaplotypeMatrix &data, std::vector<std::vector<double>> &snpfreqs);

// The longest sequence text a reader accepts for one sample.
constexpr size_t longestSequenceText = 2147483646;

// Inside a reader's catch-all handler: prints what the caught exception
// gives (an overflow error's own text, "An exception occurred when reading "
// + `name`, or "Unexpected problem occurred when reading " + `otherName`).
void reportReadingException(const std::string &name, const std::string &otherName);

// Phased HapMap: one file whose sample columns are split in halves, or with
// onePopPerFile one file per population. Cells are 1 where the allele is the
// reference population's minor nucleotide. False when a file cannot be
// opened, its layout is broken (the message names the file and line) or an
// exception was caught.
bool readHapMapPhased(const std::string &path, const std::string &file1,
                      const std::string &file2, bool onePopPerFile, std::vector<int> &samplesizes,
                      HaplotypeMatrix &data, std::vector<std::vector<double>> &snpfreqs,
                      std::vector<std::vector<double>> &snpositions, RsidMap &rsidMap,
                      int &refpop);

// fastPHASE output, one file per population: one row per individual, its
// first haplotype; positions are the site indices.
bool readFastPhase(const std::string &path, const std::string &file1, const std::string &file2,
                   std::vector<int> &samplesizes, HaplotypeMatrix &data,
                   std::vector<std::vector<double>> &snpfreqs,
                   std::vector<std::vector<double>> &snpositions, int &refpop);

// Phased VCF, one file per population, GT genotypes only: two rows per
// individual; cells are 1 for allele 1, or for allele 0 in the
// non-reference population at SNPs whose REF differs between the files.
bool readVCFPhased(const std::string &path, const std::string &file1, const std::string &file2,
                   std::vector<int> &samplesizes, HaplotypeMatrix &data,
                   std::vector<std::vector<double>> &snpfreqs,
                   std::vector<std::vector<double>> &snpositions, int &refpop);
// Allele-count readers: BS (SNPSelToolsBS.cpp), plink (SNPSelToolsPlink.cpp),
// genepop (SNPSelToolsGenepop.cpp)
// ---------------------------------------------------------------------------

// The allele census of every locus in every population. The entries are
// kept population after population: entry p * numloci + l is locus l of
// population p, its alleles at [entryBegin, entryEnd) of `alleleCounts` and,
// for every format but BS, of the parallel `alleleStates`.
struct AlleleCountTables {
    size_t numloci = 0;
    size_t numpops = 0;
    std::vector<uint32_t> entryEnds;         // end of each entry's alleles
    std::vector<float> alleleCounts;         // count of each allele
    std::vector<uint32_t> alleleStates;      // allele codes, ascending per entry
    std::vector<float> majorAlleleCounts;    // per entry: the largest count, or -99

    size_t entry(size_t locus, size_t pop) const { return pop * numloci + locus; }
    size_t entryBegin(size_t e) const { return e == 0 ? 0 : entryEnds[e - 1]; }
    size_t entryEnd(size_t e) const { return entryEnds[e]; }
    // Closes the entry whose alleles were appended last. The tables hold
    // at most 2^32 - 1 alleles.
    void closeEntry(float major) {
        if (alleleCounts.size() > UINT32_MAX)
            throw std::overflow_error("ERROR: There are too many alleles to count\n");
        entryEnds.push_back(static_cast<uint32_t>(alleleCounts.size()));
        majorAlleleCounts.push_back(major);
    }
    void clear() { *this = AlleleCountTables(); }
};

// The major-count mark of a locus with too many missing allele copies.
constexpr float tooManyMissing = -99.0f;

// Reads a BayeScan-style count file: "[loci]=N", "[populations]=M", then M
// "[pop]" blocks of N lines "locus n K count1 .. countK". Returns false when
// the file cannot be opened or lacks a count line; format errors end the
// process through errorExit.
bool readBS(const std::string &path, const std::string &file, int &numpops,
            AlleleCountTables &tables, std::vector<std::string> &locnames);

// Read plink map and ped files with nucleotide (A, C, G, T) or numeric
// alleles. Each run of equal family identifiers is a population. Return
// false, after a message, on any problem with the files.
bool readPlinkNucleotide(const std::string &path, const std::string &mapFile,
                         const std::string &pedFile, const int32_t numpops,
                         std::vector<std::vector<double>> &snpositions,
                         std::vector<int> &samplesizes, AlleleCountTables &tables,
                         std::vector<std::string> &locnames);
bool readPlinkNumeric(const std::string &path, const std::string &mapFile,
                      const std::string &pedFile, const int32_t numpops,
                      std::vector<std::vector<double>> &snpositions,
                      std::vector<int> &samplesizes, AlleleCountTables &tables,
                      std::vector<std::string> &locnames);

// Reads a genepop file of one or two populations. Returns false when the
// file cannot be opened or holds no line after its title; format errors end
// the process through errorExit.
bool readGenepop(const std::string &path, const std::string &file, std::vector<int> &samplesizes,
                 AlleleCountTables &tables, std::vector<std::string> &locnames);

#endif
