// driver: the program's entry. Start-up, the loop over input files and the
// end of the run.
#include "driver.h"

#include <chrono>
#include <ctime>
#include <iostream>
#include <limits>
#include <stdexcept>

namespace {

const std::string dashLine48(48, '-');

// Empties the containers of a file's data; the per-population lists keep
// one empty entry per population.
void emptyFileContainers(const RunContext &context, AnalysisData &a) {
    for (std::vector<bool> &references : a.popReferences) references.clear();
    a.data.clear();
    for (std::vector<double> &positions : a.snpositions) positions.clear();
    a.snpositions.resize(static_cast<size_t>(context.numpops));
    for (std::vector<double> &freqs : a.snpfreqs) freqs.clear();
    a.snpfreqs.resize(static_cast<size_t>(context.numpops));
    a.metapopdata.clear();
    a.metapopsnpositions.clear();
    a.commons.clear();
    a.fstdistrib.clear();
}

// Run head: the file name of the run and empty per-file containers.
void startRun(Settings &s, const RunContext &context, int32_t run, AnalysisData &a) {
    s.popforHB = context.savedReference;
    if (s.fixwinsize != 0) a.curWin = s.fixwinsize;
    if (!s.inputGiven) s.input1 = context.inputBase;
    if (s.runs > 1) s.input1 = context.inputBase + toString<int>(run) + ".txt";
    emptyFileContainers(context, a);
    a.filelocnames.clear();
    a.eosOutliers.clear();
    a.nonEosOutliers.clear();
    a.eosCandidates.clear();
    a.fsttot = 0.0;
    a.FstMax = 1.0;
    a.highFst = false;
    a.skipJ = false;
    a.countedAsValid = false;
    a.fileLabel = s.input1;
    if (verbose) std::cout << "... Identifying file format ..." << std::endl;
}

// A reader returned false: fatal for a single run, else the file is skipped.
void readFailure(const Settings &s, RunContext &context, const std::string &name,
                 const std::string &formatText, bool alwaysFatal) {
    const std::string message = "\nERROR: \nFail when reading " + name + formatText;
    std::cout << message << std::endl;
    if (s.runs == 1 || alwaysFatal) writeLogFile(1, message, true);
    context.runLog += message;
}

// Reads an MS file and computes the frequencies and sample sizes; false when
// the file is skipped.
bool readMSBranch(Settings &s, RunContext &context, AnalysisData &a) {
    bool read;
    if (s.sample2 == 0) {
        read = readMS(s.path, s.input1, s.sample, a.data, a.snpositions);
    } else {
        // Both sizes may be large: the total is held inside the int range.
        const int64_t sum = static_cast<int64_t>(s.sample) + s.sample2;
        int total = static_cast<int>(std::min<int64_t>(sum, std::numeric_limits<int>::max()));
        read = readMSTwoSamples(s.path, s.input1, total, s.sample, s.sample2, a.data, a.snpositions);
    }
    if (!read) {
        readFailure(s, context, s.input1, " under MS format\n", false);
        return false;
    }
    context.runLog += "\nQuintor of file " + s.input1 + ":\n";
    a.samplesizes.assign(static_cast<size_t>(context.numpops), s.sample);
    if (s.sample2 != 0) a.samplesizes[1] = s.sample2;
    const std::string sizes = "\nSample sizes are " + toString<int>(a.samplesizes[0]) + " and " +
                              toString<int>(a.samplesizes[1]) + "\n";
    context.runLog += sizes;
    if (verbose) {
        std::cout << "\nRead file " << s.input1 << std::endl;
        std::cout << sizes;
    }
    if (s.sample2 != 0 && s.sample != s.sample2)
        a.refpop = a.samplesizes[0] < a.samplesizes[1] ? 1 : 0;
    a.snpfreqs.resize(static_cast<size_t>(context.numpops));
    for (int p = 0; p < context.numpops; ++p)
        computePopulationFrequencies(a.data, p, a.samplesizes, a.snpfreqs[static_cast<size_t>(p)]);
    computeFstMax(s, context, a, false);
    return true;
}

// The population checks after a file is parsed.
void checkPopulations(const Settings &s, const RunContext &context, const AnalysisData &a) {
    const int32_t P = static_cast<int32_t>(a.snpositions.size());
    if (!s.onlyEOS && a.refpop >= P)
        fatalError(2, "\nERROR: In file" + s.input1 + "\nReference population value is out of range " +
                          toString<int>(a.refpop + 1) + " > " + toString<int>(P) + "\n");
    // Checked in every mode: the analysis pairs population 0 with population 1.
    if (context.numpops != P)
        fatalError(3, "\nERROR: In file" + s.input1 + "\nThe number of populations " +
                          toString<int>(P) + " does not coincide with the expected " +
                          toString<int>(context.numpops) + "\n");
}

// The file becomes a kept file: every per-file vector gets its entry.
void keepFileResults(AnalysisData &a, RunResults &results, size_t candidates) {
    results.names.push_back(a.fileLabel);
    results.fstfiles.push_back(a.eosOutliers);
    results.nonEOSfiles.push_back(a.nonEosOutliers);
    results.highfstfiles.push_back(a.highFst);
    results.nsnpsfiles.push_back(a.numsnps[0]);
    results.meanfsts.push_back(a.fsttot);
    results.samplesizesfiles.push_back(a.fileSampleSizes);
    a.eosOutliers.clear();
    a.nonEosOutliers.clear();
    if (verbose) std::cout << "selection indexes dimension " << candidates << std::endl;
}

// End of a file that was read: clean-up, new seed and the completion lines.
// The candidates are emptied by then, so the clean-up reports 0 of them.
void completeFile(const Settings &s, RunContext &context, AnalysisData &a, bool selectionLine) {
    if (verbose) {
        if (selectionLine) std::cout << "selection indexes dimension " << 0 << std::endl;
        std::cout << "Population references " << a.popReferences.size() << std::endl;
        std::cout << "Data size to clean " << a.data.size() << std::endl;
        std::cout << "SNP positions dimension " << a.snpositions.size() << std::endl;
        std::cout << "SNP freqs dimension " << a.snpfreqs.size() << std::endl;
        std::cout << "Metapop SNP positions dimension " << a.metapopsnpositions.size() << std::endl;
        std::cout << "commons dimension " << a.commons.size() << std::endl;
        std::cout << "Fst distribution dimension " << a.fstdistrib.size() << std::endl;
        std::cout << "Memory freed" << std::endl;
    }
    emptyFileContainers(context, a);
    if (!s.fixseed) {
        seed = static_cast<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
        context.runLog += "\nNew seed " + toString<long long>(seed) + "\n";
        if (verbose) std::cout << "\nNew seed " << toString<long long>(seed) << std::endl;
    }
    std::cout << "\nAnalysis of file " << s.input1 << " completed" << std::endl;
    std::cout << "\n" << dashLine48 << "\n" << std::endl;
}

enum class FileEnd { Completed, Skipped, RsidStop };

// One run: read the file, analyse it, keep its results and complete it.
FileEnd analyseFile(Settings &s, RunContext &context, RunResults &results, int32_t run,
                    AnalysisData &a) {
    startRun(s, context, run, a);
    bool read = false;
    switch (context.formatCode) {
    case FormatCode::MS:
        read = readMSBranch(s, context, a);
        break;
    case FormatCode::FASTA:
    case FormatCode::VCF:
    case FormatCode::HM:
    case FormatCode::FP:
        read = readHaplotypeInput(s, context, results, run, a);
        break;
    default:
        // Formats whose readers this build does not have yet.
        fatalError(1, std::string("\nERROR: \nThe input format ") + formatCodeName(context.formatCode) +
                          " is not supported yet\n");
    }
    if (!read) return FileEnd::Skipped;
    ++context.filesRead;

    std::cout << "\nFile " << s.input1 << " parsed" << std::endl;
    checkPopulations(s, context, a);

    switch (prepareSharedSnps(s, context, results, run, a)) {
    case SharedOutcome::NoCommons:
        completeFile(s, context, a, false);
        return FileEnd::Completed;
    case SharedOutcome::TooFewSnps:
        completeFile(s, context, a, true);
        return FileEnd::Completed;
    case SharedOutcome::RsidStop:
        return FileEnd::RsidStop;
    case SharedOutcome::Continue:
        break;
    }
    if (s.doEOS) runEosTest(s, context, a);
    std::vector<CandidateResult> records;
    size_t candidates = 0;
    if (!s.onlyEOS &&
        runJTest(s, context, results, run, a, records, candidates) == JOutcome::NoSelection) {
        a.eosOutliers.clear();
        a.nonEosOutliers.clear();
        completeFile(s, context, a, false);
        return FileEnd::Completed;
    }
    keepFileResults(a, results, candidates);
    completeFile(s, context, a, true);
    return FileEnd::Completed;
}

// The stop after the SNP information table of the first file.
void stopAfterRsidTable(const Settings &s, RunContext &context, RunResults &results) {
    if (verbose) {
        writeLogFile(0, context.runLog, false);
        const std::vector<std::string> labels = rsidTableLabels(s, context);
        std::cout << "\nThe SNPs information table for files" << labels[0] << " and " << labels[1]
                  << " was done" << std::endl;
    }
    if (s.runs == 1) {
        results.rsidFileNames[0] = context.outputPrefix + ".txt";
        appendBuffersToFiles(std::vector<std::string>(1, results.rsidFileNames[0]),
                             std::vector<std::string>(1, results.rsidTables[0]));
    }
}

// The result files, the end lines, the run time and the run log.
void endRun(const Settings &s, RunContext &context, RunResults &results) {
    const std::string base = buildResultBase(s, context, s.popforHB);
    const std::string tableName = base + ".tsv";
    std::cout << "WRITING Quintor OUTPUT FILE " << tableName << std::endl;
    writeOutputFile(results, tableName, s.SL);
    if (s.doEOS) writeFstSummary(s, results, base);

    const float ticks = static_cast<float>(std::clock()) - static_cast<float>(context.startClock);
    float t = static_cast<float>(static_cast<double>(ticks) / static_cast<double>(CLOCKS_PER_SEC));
    std::cout << "\n\nQuintor FINISHED. ";
    context.runLog += "\n\nQuintor FINISHED. ";
    std::string timeText;
    if (t > 60) {
        t = t / 60;
        timeText = "Time processing: " + toString<float>(t) + " minutes";
    } else {
        timeText = "Time processing: " + toString<float>(t) + " seconds";
    }
    std::cout << timeText << std::endl;
    context.runLog += timeText + "\n" + dashLine69 + "\n";
    if (verbose) writeLogFile(0, context.runLog, false);
    // A series whose files were all skipped has no result: that is a failure.
    if (context.filesRead == 0)
        fatalError(1, "\nERROR: \nNo input file of the run could be read\n");
}

} // namespace

int main(int argc, char *argv[]) {
    printBanner();
    Settings settings;
    RunContext context;
    AnalysisData analysis;
    RunResults results;
    context.startClock = std::clock();
    try {
        // Local date and time, as the C library's asctime writes it.
        const std::time_t now = std::time(nullptr);
        const std::string date = std::asctime(std::localtime(&now));
        std::cout << date << std::endl;
        std::cout << dashLine48 << "\n" << std::endl;
        context.runLog = date + dashLine69 + "\n" + bannerTitle + bannerAuthor + bannerAddress +
                         dashLine69 + "\n";

        parseArguments(argc, argv, settings, oldSweep, verbose);
        validateSettings(settings, context);
        prepareLoop(settings, context, analysis, results);

        if (verbose)
            std::cout << "\nIf sample sizes are equal the reference for the analysis is computed "
                         "from population "
                      << (settings.popforHB >= 0 ? settings.popforHB + 1 : analysis.refpop + 1)
                      << std::endl;
        context.savedReference = settings.popforHB;
        std::cout << "\nOpening and parsing file(s) " << std::endl;
        context.autoRef = true;
        for (int32_t run = 0; run < settings.runs; ++run) {
            if (analyseFile(settings, context, results, run, analysis) == FileEnd::RsidStop) {
                stopAfterRsidTable(settings, context, results);
                return 0;
            }
        }
        endRun(settings, context, results);
        return 0;
    } catch (const std::overflow_error &error) {
        std::cout << error.what() << std::endl;
    } catch (const std::exception &) {
        std::cout << "\nAn exception occurred during Quintor execution" << std::endl;
    } catch (...) {
        std::cout << "\nUnexpected problem occurred during Quintor execution" << std::endl;
    }
    return 1;
}
