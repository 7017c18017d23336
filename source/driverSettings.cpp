// driver: globals, banner, and the validation and completion of the settings.
#include "driver.h"

#include <cctype>
#include <chrono>
#include <iostream>
#include <sys/stat.h>

int64_t seed = 0;
double minDprime = 0.4;
bool oldSweep = false;
bool verbose = false;

void initDriverGlobals() {
    seed = static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count());
}

namespace {
struct DriverGlobalsInit {
    DriverGlobalsInit() { initDriverGlobals(); }
};
DriverGlobalsInit driverGlobalsInit;
} // namespace

const std::string dashLine69(69, '-');
const std::string bannerTitle =
    " Quintor: Program to identify patterns of natural selection using information-based "
    "statistics\n";
const std::string bannerAuthor = " Written by the Quintor developers\t\t\t\n";
const std::string bannerAddress = " Usage and file formats: see the README of the distribution\t\t\t\n";

void printBanner() {
    for (const std::string &line :
         {dashLine69 + "\n", bannerTitle, bannerAuthor, bannerAddress, dashLine69 + "\n"})
        std::cout << std::endl << line;
    std::cout << std::endl << std::endl;
}

FormatCode selectFormatCode(std::string &format) {
    for (char &c : format) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const struct {
        const char *word;
        FormatCode code;
    } table[] = {{"FASTA", FormatCode::FASTA}, {"HM", FormatCode::HM},  {"FP", FormatCode::FP},
                 {"VCF", FormatCode::VCF},     {"BS", FormatCode::BS},  {"GP", FormatCode::GP},
                 {"PL2", FormatCode::PL2},     {"PL", FormatCode::PL}};
    for (const auto &row : table)
        if (format.find(row.word) != std::string::npos) return row.code;
    return FormatCode::MS;
}

void validateSettings(Settings &s, RunContext &context) {
    // Window limits.
    if (s.fixwinsize != 0 && (s.fixwinsize > s.MaxWinSize || s.fixwinsize < s.minWinSize))
        fatalError(static_cast<int>(s.doEOS) + static_cast<int>(s.useblocks),
                   "\nERROR: \nDefined window size of " + toString<int>(s.fixwinsize) +
                       " is out of limits: [" + toString<int>(s.minWinSize) + ", " +
                       toString<int>(s.MaxWinSize) + "]\n");
    if (oldSweep) minDprime = 2.0;
    if (s.onlyEOS) s.doEOS = true;
    else if (!s.useblocks && !s.doEOS)
        fatalError(0, "\nERROR: \nOption without automatic blocks requires the doEOS tag set "
                      "to 1 (default)\n");

    // User candidate positions and automatic blocks.
    if (!s.selectives.empty() && s.selectives[0] < 0) s.selectives.clear();
    std::string note;
    if (s.useblocks && s.fixwinsize != 0) {
        s.useblocks = false;
        note = "\nUseblocks option desactivated when there is user defined window size.\n";
    } else if (!s.selectives.empty() && !s.useblocks && s.fixwinsize == 0) {
        s.useblocks = true;
        note = "\nUseblocks is mandatory when there are user defined sites. It was changed to "
               "1.\n";
    }
    if (!note.empty()) {
        std::cout << note << std::endl;
        context.runLog += note;
    }
    context.minblock = s.minWinSize;

    // Format code and the settings it forces.
    context.formatCode = selectFormatCode(s.format);
    switch (context.formatCode) {
    case FormatCode::FASTA:
        if (!s.input2.empty()) s.onepopbyfile = true;
        break;
    case FormatCode::FP:
    case FormatCode::VCF:
        s.onepopbyfile = true;
        break;
    case FormatCode::PL:
    case FormatCode::PL2:
        s.runs = 1;
        s.onlyEOS = true;
        s.doEOS = true;
        break;
    case FormatCode::BS:
    case FormatCode::GP:
        s.onlyEOS = true;
        s.doEOS = true;
        break;
    default:
        break;
    }

    if (s.MaxWinSize > 0 && s.MaxWinSize < s.minWinSize)
        fatalError(s.MaxWinSize, "\nERROR: \nMaxWinSize is lower than minWinSize: " +
                                     toString<int>(s.minWinSize) +
                                     ". You should define a higher value\n");

    // Seed.
    if (s.fixseed) {
        seed = 777;
        context.runLog +=
            "\nWARNING: Fixed seed mode is on. Fixed seed is " + toString<long long>(seed);
    } else {
        context.runLog += "\nInitial seed " + toString<long long>(seed) + "\n";
    }

    // Results folder and prefix; an existing folder is fine.
    struct stat folder;
    if (mkdir("Quintor_Results", 0777) != 0 &&
        (stat("Quintor_Results", &folder) != 0 || !S_ISDIR(folder.st_mode)))
        fatalError(1, "\nERROR: \nCould not create the results folder Quintor_Results\n");
    context.outputPrefix = "Quintor_Results/" + s.output + "_";

    // Input names.
    if (!s.onepopbyfile) {
        s.input2 = s.input1;
        if (s.inputGiven && s.runs > 1) context.inputBase = s.input1;
    } else {
        s.inputGiven = true;
        s.runs = 1;
        if (s.input1 == s.input2)
            fatalError(0, "\nERROR: \nEqual file names under onepopbyfile option\n");
    }
    // A tab or a line break in an input name would break the rows of the
    // results tables, whose File column shows it.
    for (const std::string *name : {&s.input1, &s.input2})
        if (name->find_first_of("\t\n\r") != std::string::npos)
            fatalError(1, "\nERROR: \nAn input file name may not hold a tab or a line break: " +
                              *name + "\n");
    if (s.onlyEOS) context.resultBase = context.outputPrefix + "EOS_";
}

void prepareLoop(const Settings &, const RunContext &context, AnalysisData &a,
                 RunResults &results) {
    const size_t numpops = static_cast<size_t>(context.numpops);
    a.snpositions.assign(numpops, std::vector<double>());
    a.snpfreqs.assign(numpops, std::vector<double>());
    a.popReferences.assign(numpops, std::vector<bool>());
    a.numsnps.assign(1, 0);
    a.metapopfreqs.clear();
    // The per-run slots of the SNP names and tables are made as files are read.
    results.rsidMaps.clear();
    results.rsidTables.clear();
    results.rsidFileNames.clear();
}
