// driver: the selection analysis driver of Quintor. Start-up values, the
// driver's globals and the steps that main runs.
#ifndef DRIVER_H
#define DRIVER_H

#include "SNPSelTools.h"
#include "TLibQuintor.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

// Input formats, as the -format text selects them.
enum class FormatCode { MS, FASTA, HM, FP, VCF, BS, GP, PL, PL2 };

inline bool isAlleleCountFormat(FormatCode code) {
    return code == FormatCode::BS || code == FormatCode::GP || code == FormatCode::PL ||
           code == FormatCode::PL2;
}
inline bool isPlinkFormat(FormatCode code) {
    return code == FormatCode::PL || code == FormatCode::PL2;
}

// Values that start-up fixes for the loop over input files.
struct RunContext {
    int32_t numpops = 2;
    std::string inputBase = "QuintorF";
    int32_t minblock = 11;
    int32_t savedReference = -1;
    std::string outputPrefix;
    std::string resultBase;
    FormatCode formatCode = FormatCode::MS;
    std::clock_t startClock = 0;
    std::string runLog;
    bool autoRef = true;
    int32_t filesRead = 0;          // files of the run that a reader could read
};

// Every container of an analysis. The driver owns them for the whole
// invocation; the per-file ones are emptied at the start of every run.
struct AnalysisData {
    // Filled by the readers (per file). Once cut to the shared SNPs it is
    // also the pooled metapopulation on which the statistics run: both
    // populations' rows, population 0's first.
    HaplotypeMatrix data;
    std::vector<std::vector<double>> snpositions;
    std::vector<std::vector<double>> snpfreqs;
    std::vector<int32_t> samplesizes;
    int32_t refpop = 0;
    std::string fileLabel;                 // the run's input name, as messages show it

    // False in the run loop: each container of a file is given back as soon
    // as the file's analysis has no further use for it, and SNP names that
    // are the positions themselves are not stored but written from the
    // positions where they are needed. True keeps every container filled.
    bool keepWorkingContainers = true;

    // Shared SNPs and metapopulation.
    uint64_t numSNPmin = 0;
    std::vector<double> commons;
    uint64_t sharedCount = 0;              // size of `commons` before it is given back
    std::vector<double> metapopsnpositions;
    int32_t metapopsamplesize = 0;         // rows of the metapopulation
    uint64_t genomesize = 0;
    std::vector<std::string> filelocnames;
    std::vector<double> metapopfreqs;
    std::vector<int32_t> numsnps = std::vector<int32_t>(1, 0);
    std::vector<int32_t> fileSampleSizes;  // becomes the file's `samplesizesfiles` entry
    std::vector<std::vector<bool>> popReferences;
    bool skipJ = false;
    bool countedAsValid = false;           // the file raised `validRunCount`
    int32_t curWin = 0;                    // window size of the file

    // EOS test.
    std::vector<FstEntry> fstdistrib;
    double fsttot = 0.0;
    double FstMax = 1.0;
    double cutoff = 0.0;
    bool highFst = false;                  // the file's Fst mean exceeds 0.5
    std::vector<SiteRecord> eosOutliers;
    std::vector<SiteRecord> nonEosOutliers;
    std::vector<double> eosCandidates;
};

// The J-test result of one candidate.
struct CandidateResult {
    uint64_t candidate = 0;        // ordinal in the order found, from 1
    int32_t snpIndex = 0;          // index among the shared SNPs
    int32_t nclasses = 0;
    double jhac = 0.0;
    double pval = 1.0;
    double pos = 0.0;
    std::vector<int64_t> iniPos;   // position of the window's first SNP, per population
    std::vector<int64_t> endPos;   // position of the window's last SNP, per population
    int32_t wide = 0;              // SNPs in the window
    double fst = 0.0;
    double fstIndex = 0.0;
    double fstPval = 1.0;
};

// The per-file result vectors (one entry per kept file) and run-wide counters.
struct RunResults {
    std::vector<std::string> names;
    std::vector<std::vector<CandidateResult>> jfiles;
    std::vector<size_t> jfileKept;          // per jfiles entry: its index among the kept files
    std::vector<size_t> jfileRuns;          // per jfiles entry: its run
    std::vector<std::vector<SiteRecord>> fstfiles;
    std::vector<std::vector<SiteRecord>> nonEOSfiles;
    std::vector<bool> highfstfiles;
    std::vector<int32_t> nsnpsfiles;
    std::vector<double> meanfsts;
    std::vector<std::vector<int32_t>> samplesizesfiles;
    // By run number, one entry per file read: they grow with the files, not
    // with the number of runs asked for.
    std::map<int32_t, RsidMap> rsidMaps;          // HapMap input
    std::map<int32_t, std::string> rsidTables;    // SNP information table
    std::map<int32_t, std::string> rsidFileNames;
    uint64_t validRunCount = 0;
    uint64_t maxCands = 0;
    double totalSnps = 0.0;
};

// Globals of the driver.
extern int64_t seed;       // start time in seconds; 777 with -fixseed
extern double minDprime;   // smallest D' of an LD link; 2.0 under -old
extern bool oldSweep;      // -old
extern bool verbose;       // -verbose

void initDriverGlobals();

// The banner lines as the run log keeps them (without the line ends that
// separate them on the console).
extern const std::string dashLine69;
extern const std::string bannerTitle;
extern const std::string bannerAuthor;
extern const std::string bannerAddress;

void printBanner();

// Decides the format code from the -format text (upper-cased in place).
FormatCode selectFormatCode(std::string &format);

// Validates and completes the settings after the command line, up to the
// results folder and the input names; a fatal combination ends the process.
void validateSettings(Settings &settings, RunContext &context);

// Sizes the containers that live through the loop over input files.
void prepareLoop(const Settings &settings, const RunContext &context, AnalysisData &analysis,
                 RunResults &results);

// Frequency of cell value 1 at each site among the rows of population p.
void computePopulationFrequencies(const HaplotypeMatrix &data, const int p,
                                  const std::vector<int32_t> &samplesizes,
                                  std::vector<double> &freqs);

// The bound X of the EOS cutoff, from the sample sizes and the minimum
// allele frequency.
void computeFstMax(const Settings &settings, const RunContext &context, AnalysisData &analysis,
                   bool countFormat);

// A position truncated toward zero, held at the 64-bit bounds; not a number
// gives 0.
int64_t truncateToInteger(double value);

// Shared SNPs and metapopulation.
enum class SharedOutcome { Continue, NoCommons, TooFewSnps, RsidStop };
int countDistinctNonMissing(std::vector<double> &values, const int &missing, int64_t &firstRepeat);
void keepCommonSites(HaplotypeMatrix &matrix, const int p, const std::vector<int32_t> &samplesizes,
                     std::vector<double> &freqs, std::vector<double> &positions,
                     const std::vector<double> &commons);
std::vector<std::vector<bool>> computePopulationReferences(const HaplotypeMatrix &matrix,
                                                           const std::vector<int32_t> &samplesizes);
void computeMetapopFrequencies(const HaplotypeMatrix &matrix, std::vector<double> &freqs);
// The two population names of the SNP information table.
std::vector<std::string> rsidTableLabels(const Settings &settings, const RunContext &context);
SharedOutcome prepareSharedSnps(const Settings &settings, RunContext &context, RunResults &results,
                                int32_t run, AnalysisData &analysis);
// The name of a SNP that a haplotype format does not name: its position with
// 12 significant digits in general notation.
std::string positionName(double position);

// EOS test. The outlier finders name each record by `names`, or by its
// position when `names` is empty.
void sortByFst(std::vector<SiteRecord> &records);
void findPositiveOutliers(const std::vector<FstEntry> &fstdistrib, const std::vector<double> &positions,
                          const std::vector<std::string> &names, const double k,
                          std::vector<SiteRecord> &out);
void findPercentileOutliers(const uint64_t n, const double q, const std::vector<FstEntry> &fstdistrib,
                            const std::vector<double> &positions,
                            const std::vector<std::string> &names, std::vector<SiteRecord> &out);
void runEosTest(const Settings &settings, const RunContext &context, AnalysisData &analysis);

// J test: candidates, windows, HAC classes and the J statistic.
enum class JOutcome { Kept, NoSelection };
int findInSorted(const std::vector<double> &sorted, const double value);
// The J statistic of two populations' HAC values in `nclasses` classes of
// values up to `classSpan` - 1; returns JHac and sets its p-value.
double computeJHac(const std::vector<std::vector<double>> &popHACS, const int32_t nclasses,
                   const int32_t classSpan, double &pval);
JOutcome runJTest(Settings &settings, RunContext &context, RunResults &results, int32_t run,
                  AnalysisData &analysis, std::vector<CandidateResult> &records,
                  size_t &candidates);

// Result names and files.
std::string buildResultBase(const Settings &settings, RunContext &context, int32_t popforHB);
std::string significantTableName(const std::string &tableName);
void writeOutputFile(RunResults &results, const std::string &tableName, const double SL);
void writeFstSummary(const Settings &settings, const RunResults &results,
                     const std::string &resultBase);
void formatRsidTable(const std::vector<std::string> &labels, const std::vector<std::string> &rsids,
                     const std::vector<std::vector<double>> &snpositions,
                     const std::vector<std::vector<double>> &snpfreqs, std::string &out);
void appendBuffersToFiles(const std::vector<std::string> &outnames,
                          const std::vector<std::string> &buffers);

// ---------------------------------------------------------------------------
// Reading FASTA, HapMap, fastPHASE and VCF input (driverHaplotypeInput.cpp)
// ---------------------------------------------------------------------------

// Reads the run's file(s) with the reader of the format and file options;
// false when the read failed and the file is skipped (a single run ends
// instead). After a read from two files the run's input name becomes the
// label "first vs second".
bool readHaplotypeInput(Settings &settings, RunContext &context, RunResults &results,
                        int32_t run, AnalysisData &analysis);
// Allele-count formats: BS, genepop, plink (driverCounts.cpp)
// ---------------------------------------------------------------------------

// The distinct allele codes of one locus over every population, other than
// the missing code, ascending; returns their number. Instances for a 32-bit
// and a 64-bit missing code.
template <typename Missing>
size_t collectAlleleStates(const AlleleCountTables &tables, size_t locus, Missing missing,
                           std::vector<uint32_t> &out);

// Reads an allele-count file (BS, GP, PL, PL2), records it in the run log,
// keeps the loci that pass the allele-frequency and missing-data tests and
// computes their Fst, the file's Fst mean and FstMax. False when the reader
// failed: `failedName` and `formatText` then complete the failure message.
bool readAlleleCountFile(Settings &s, RunContext &context, AnalysisData &a,
                         std::string &failedName, std::string &formatText);

// Keeps the loci of the tables that pass the tests and computes their Fst
// (the part of readAlleleCountFile after the read).
void filterAlleleCountLoci(const Settings &s, const RunContext &context, AnalysisData &a,
                           const AlleleCountTables &tables);

#endif
