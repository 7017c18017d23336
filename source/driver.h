// driver: the selection analysis driver of Quintor. Start-up values, the
// driver's globals and the steps that main runs.
#ifndef DRIVER_H
#define DRIVER_H

#include "SNPSelTools.h"
#include "TLibQuintor.h"

#include <cstdint>
#include <ctime>
#include <string>

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

// Prints a fatal error's message and ends the process through the error log.
[[noreturn]] void fatalError(int code, const std::string &message);

// Decides the format code from the -format text (upper-cased in place).
FormatCode selectFormatCode(std::string &format);

// Validates and completes the settings after the command line, up to the
// results folder and the input names; a fatal combination ends the process.
void validateSettings(Settings &settings, RunContext &context);

#endif
