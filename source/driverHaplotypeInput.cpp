// driver: reading the FASTA, HapMap, fastPHASE and VCF input of a run. The
// readers fill the matrix, positions and frequencies themselves; this step
// chooses the reader, records the file in the run log, gives a file read
// from two files its label "first vs second" and sets the Fst bound.
#include "driver.h"

#include <cctype>
#include <iostream>

namespace {

// The message of a failed read; fatal for a single run, else the file is
// skipped with the message kept in the run log.
void haplotypeReadFailure(const Settings &s, RunContext &context, const std::string &head,
                          const std::string &tail) {
    const std::string message = head + s.input1 + tail;
    std::cout << message << std::endl;
    if (s.runs == 1) writeLogFile(1, message, true);
    context.runLog += message;
}

} // namespace

bool readHaplotypeInput(Settings &s, RunContext &context, RunResults &results, int32_t run,
                        AnalysisData &a) {
    bool read = false;
    bool paired = false;
    bool dealt = false;
    std::string head = "\nERROR: \nFail when reading ";
    std::string tail;
    switch (context.formatCode) {
    case FormatCode::FASTA:
        tail = " under fasta format\n";
        if (verbose) std::cout << "Fasta file" << std::endl;
        if (s.onepopbyfile) {
            read = readFastaTwoFiles(s.noGaps, s.path, s.input1, s.input2, a.samplesizes, a.data,
                                     a.snpfreqs, a.snpositions, a.refpop);
        } else if (s.fastaTag.empty()) {
            head = "\nERROR:\nFail when reading ";
            read = readFasta(s.noGaps, s.path, s.input1, a.samplesizes, a.data, a.snpfreqs,
                             a.snpositions);
        } else {
            // The setting itself is lower-cased: the result name reads it later.
            for (char &c : s.fastaTag)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (s.fastaTag == "rnd0") {
                dealt = true;
                read = readFastaAlternating(s.saveSubsets, s.noGaps, s.path, s.input1,
                                            a.samplesizes, a.data, a.snpfreqs, a.snpositions,
                                            a.refpop);
            } else {
                read = readFastaByTag(s.fastaTag, s.saveSubsets, s.noGaps, s.path, s.input1,
                                      a.samplesizes, a.data, a.snpfreqs, a.snpositions, a.refpop);
            }
        }
        break;
    case FormatCode::VCF:
        tail = " under VCF phased format\n";
        paired = true;
        read = readVCFPhased(s.path, s.input1, s.input2, a.samplesizes, a.data, a.snpfreqs,
                             a.snpositions, a.refpop);
        break;
    case FormatCode::HM:
        tail = " under hapmap phased format\n";
        paired = s.onepopbyfile;
        read = readHapMapPhased(s.path, s.input1, s.input2, s.onepopbyfile, a.samplesizes, a.data,
                                a.snpfreqs, a.snpositions,
                                results.rsidMaps[run], a.refpop);
        break;
    case FormatCode::FP:
        tail = " under fastPhase format\n";
        paired = true;
        read = readFastPhase(s.path, s.input1, s.input2, a.samplesizes, a.data, a.snpfreqs,
                             a.snpositions, a.refpop);
        break;
    default:
        QUINTOR_CHECK(false);
    }
    if (!read) {
        haplotypeReadFailure(s, context, head, tail);
        return false;
    }
    // Every reader of these formats leaves two sample sizes.
    QUINTOR_CHECK(a.samplesizes.size() == 2);

    if (paired)
        context.runLog += "\nQuintor of files " + s.input1 + " and " + s.input2 + "\n";
    else
        context.runLog += std::string(dealt ? "\nQuintor of randomized file " : "\nQuintor of file ") +
                          s.input1 + ":\n";
    const std::string sizes = "\nSample sizes are " + toString<int>(a.samplesizes[0]) + " and " +
                              toString<int>(a.samplesizes[1]) + "\n";
    context.runLog += sizes;
    if (verbose) {
        if (paired) std::cout << "\nRead files " << s.input1 << " and " << s.input2 << std::endl;
        else std::cout << "\nRead file " << s.input1 << std::endl;
        std::cout << sizes;
    }
    if (paired) {
        s.input1 = s.input1 + " vs " + s.input2;
        a.fileLabel = s.input1;
    }
    computeFstMax(s, context, a, false);
    return true;
}
