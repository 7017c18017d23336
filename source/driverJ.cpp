// driver: the J test. Reference population and LD, the J candidates (user
// positions, EOS candidates or LD-block centres), their windows and class
// counts, the HAC values of every haplotype and the statistic JHac.
#include "driver.h"

#include <algorithm>
#include <cmath>
#include <iostream>

int findInSorted(const std::vector<double> &sorted, const double value) {
    const auto found = std::lower_bound(sorted.begin(), sorted.end(), value);
    if (found == sorted.end() || *found != value) return -1;
    return static_cast<int>(found - sorted.begin());
}

namespace {

// Class count of a window of w SNPs.
int32_t classCount(int32_t w) { return w <= 29 ? w : w / 2; }

// The J-step state of one file.
struct JState {
    bool twoRef = false;
    int32_t other = 1;                              // 1 - popforHB
    std::vector<double> Dprime[2], r2[2];           // LD of popforHB, then of the other
    double meanDprime[2] = {0.0, 0.0};
    std::vector<int> candidateIndexes;
    std::vector<LDBlock> blocks;
    int32_t nclasses = 0;
    int32_t classSpan = 0;
};

// Index of the shared position nearest to a user position that is not
// shared; ties go to the lower position.
int nearestSharedIndex(const std::vector<double> &shared, double value) {
    if (shared.empty()) return -1;
    const auto above = std::lower_bound(shared.begin(), shared.end(), value);
    if (above == shared.end()) return static_cast<int>(shared.size()) - 1;
    if (above == shared.begin()) return 0;
    const auto below = above - 1;
    return static_cast<int>((value - *below <= *above - value ? below : above) - shared.begin());
}

void reportChangedCandidate(RunContext &context, const AnalysisData &a, int index) {
    if (!verbose) return;
    std::cout << "\nCandidate changed to position " << index << std::endl;
    context.runLog += "\nBecause proposed candidate is not shared the site is changed to position " +
                      toString<double>(a.metapopsnpositions[static_cast<size_t>(index)]) + "\n";
}

// The LD window of a candidate for one population; true when it reaches
// the minimum window.
bool ldWindow(const Settings &s, const RunContext &context, const AnalysisData &a, JState &j,
              int which, int pop, int c, int &winIni, int &winEnd) {
    int nLD = 0;
    double meanR2 = 0.0;
    const int L = static_cast<int>(a.genomesize);
    ShortGenomeComputeWinSizesSeq(s.SL, L, j.Dprime[which], j.r2[which], context.minblock, minDprime,
                                  a.samplesizes, pop, c, winIni, winEnd, nLD, j.meanDprime[which],
                                  meanR2);
    return winEnd - winIni >= context.minblock;
}

// The no-selection messages; `form` is 'o' (no outliers), 'b' (no blocks) or
// 'u' (no block for any user position).
void reportNoSelection(RunContext &context, const AnalysisData &a, int32_t run, char form) {
    if (verbose) {
        if (form == 'o') {
            std::cout << "No outliers detected in run " << run
                      << " so blocks centered on outliers cannot be made." << std::endl;
            std::cout << "The JHac method cannot detect selection without haplotype blocks."
                      << std::endl;
        } else {
            std::cout << "No blocks detected in run " << run
                      << ". The HAC method cannot detect selection without haplotype blocks."
                      << std::endl;
        }
    }
    if (form == 'b')
        context.runLog += "\n\n******* No blocks detected in file " + a.fileLabel +
                          ". The HAC method cannot detect selection without haplotype blocks.*******\n\n";
    std::cout << "\n***NO SELECTION DETECTED IN THIS FILE.***\n" << std::endl;
    if (form == 'u') context.runLog += "\n\n***NO SELECTION DETECTED IN THIS FILE.***\n";
}

// Chooses the candidates; false when the file has no selection to test.
bool chooseCandidates(const Settings &s, RunContext &context, const AnalysisData &a, JState &j,
                      int32_t run) {
    const int32_t popforHB = s.popforHB;
    if (!s.selectives.empty()) {
        const size_t shared = a.metapopsnpositions.size();
        for (double value : s.selectives) {
            int i = findInSorted(a.metapopsnpositions, value);
            if (i < 0) {
                if (context.formatCode == FormatCode::MS) {
                    // A fraction of the sequence; no SNP beyond the shared ones.
                    const double index = std::trunc(value * static_cast<double>(shared));
                    if (!(index >= 0.0 && index < static_cast<double>(shared))) continue;
                    i = static_cast<int>(index);
                } else {
                    i = nearestSharedIndex(a.metapopsnpositions, value);
                    if (i < 0) continue;
                }
                reportChangedCandidate(context, a, i);
            }
            j.candidateIndexes.push_back(i);
        }
        if (j.candidateIndexes.empty())
            writeLogFile(1,
                         "Quintor ERROR:\nCannot found between-population-shared SNP with frequency "
                         "above MAF and close to any of the proposed candidate SNPs for studying "
                         "selection.",
                         true);
        if (s.fixwinsize == 0) {
            std::vector<int> kept;
            for (int c : j.candidateIndexes) {
                int winIni = 0, winEnd = 0;
                if (ldWindow(s, context, a, j, 0, popforHB, c, winIni, winEnd)) {
                    j.blocks.push_back(LDBlock{popforHB, winIni, winEnd});
                } else if (j.twoRef && ldWindow(s, context, a, j, 1, j.other, c, winIni, winEnd)) {
                    j.blocks.push_back(LDBlock{j.other, winIni, winEnd});
                } else {
                    continue;
                }
                kept.push_back(c);
            }
            j.candidateIndexes.swap(kept);
            if (j.blocks.empty()) {
                reportNoSelection(context, a, run, 'u');
                return false;
            }
        }
        return true;
    }
    if (!s.useblocks) {
        for (double position : a.eosCandidates) {
            const int i = findInSorted(a.metapopsnpositions, position);
            if (i >= 0) j.candidateIndexes.push_back(i);
        }
        if (j.candidateIndexes.empty()) {
            reportNoSelection(context, a, run, 'o');
            return false;
        }
        return true;
    }
    const size_t pop = static_cast<size_t>(popforHB);
    computeBlocks(s.SL, j.Dprime[0], j.r2[0], context.minblock, minDprime, a.samplesizes, popforHB,
                  a.snpfreqs[pop], j.blocks);
    if (j.blocks.empty() && j.twoRef)
        computeBlocks(s.SL, j.Dprime[1], j.r2[1], context.minblock, minDprime, a.samplesizes,
                      j.other, a.snpfreqs[static_cast<size_t>(j.other)], j.blocks);
    for (const LDBlock &block : j.blocks) j.candidateIndexes.push_back((block.first + block.end) / 2);
    if (j.candidateIndexes.empty()) {
        reportNoSelection(context, a, run, 'b');
        return false;
    }
    return true;
}

// Class count and span of a fixed window, once per file.
void setUpFixedWindow(RunContext &context, AnalysisData &a, JState &j) {
    const int32_t n = a.numsnps[0];
    if (n < a.curWin) {
        const std::string note = "\nFixed Window size is: " + toString<int>(a.curWin) +
                                 ".\nIn metapopulation " + toString<int>(1) + " only " +
                                 toString<int>(n) +
                                 " true SNPs in the sample. The window size is changed for file " +
                                 a.fileLabel + ". New window size is: ";
        context.runLog += note;
        j.nclasses = classCount(n);
        a.curWin = n;
        writeLogFile(a.curWin, note, false);
    } else {
        j.nclasses = classCount(a.curWin);
        const int32_t r = a.curWin % j.nclasses;
        a.curWin = r <= j.nclasses / 2 ? a.curWin - r : a.curWin + j.nclasses - r;
        if (n > a.curWin) a.curWin += 1;
    }
    j.classSpan = a.curWin;
}

// Class count and span of a variable window of the candidate.
void setUpVariableClasses(const Settings &s, int winIni, int winEnd, JState &j) {
    int32_t w = winEnd - winIni;
    if (s.MaxWinSize > 0) w = std::min(w, s.MaxWinSize);
    j.nclasses = classCount(w);
    QUINTOR_CHECK(j.nclasses >= 1);
    const int32_t r = w % j.nclasses;
    j.classSpan = (r <= j.nclasses / 2 ? w - r : w + j.nclasses - r) + 1;
}

// The number of window SNPs (the candidate excluded) at which each row of
// each population differs from the window reference.
void computeHacValues(const AnalysisData &a, const std::vector<bool> &reference, int winIni,
                      int winEnd, int c, std::vector<std::vector<double>> &popHACS) {
    size_t ini = 0;
    for (size_t p = 0; p < a.samplesizes.size(); ++p) {
        popHACS[p].clear();
        const size_t rows = static_cast<size_t>(a.samplesizes[p]);
        for (size_t r = ini; r < ini + rows; ++r) {
            const HaplotypeRow &row = a.metapopdata[r];
            int32_t hac = 0;
            auto cell = row.begin() + winIni;
            for (int site = winIni; site < winEnd; ++site, ++cell)
                if (site != c && (*cell != 0) != reference[static_cast<size_t>(site)]) ++hac;
            popHACS[p].push_back(static_cast<double>(hac));
        }
        QUINTOR_CHECK(popHACS[p].size() == static_cast<size_t>(a.samplesizes[p]));
        if (verbose)
            std::cout << "Population " << p << ". Window range " << winIni << "-" << winEnd << "."
                      << std::endl;
        ini += rows;
    }
}

} // namespace

double computeJHac(const std::vector<std::vector<double>> &popHACS, const int32_t nclasses,
                   const int32_t classSpan, double &pval) {
    const int32_t K = nclasses;
    QUINTOR_CHECK(K >= 1 && popHACS.size() == 2);
    const int32_t S = classSpan - 1;
    const int32_t d = S / K;
    std::vector<double> f[2];
    for (size_t p = 0; p < 2; ++p) {
        std::vector<int64_t> counts(static_cast<size_t>(K), 0);
        for (double x : popHACS[p]) {
            if (d > 0 && x >= 0 && x <= static_cast<double>(K) * d - 1)
                ++counts[static_cast<size_t>(static_cast<int64_t>(x) / d)];
            else if (x == static_cast<double>(S))
                ++counts[static_cast<size_t>(K - 1)];
        }
        const double N = static_cast<double>(popHACS[p].size());
        f[p].resize(static_cast<size_t>(K));
        for (size_t j = 0; j < static_cast<size_t>(K); ++j)
            f[p][j] = (static_cast<double>(counts[j]) + 0.5) / (N + 0.5 * K);
    }
    const int64_t N1 = static_cast<int64_t>(popHACS[0].size());
    const int64_t N2 = static_cast<int64_t>(popHACS[1].size());
    double sum = 0.0;
    for (size_t j = 0; j < static_cast<size_t>(K); ++j)
        if (f[0][j] != f[1][j]) sum += (f[0][j] - f[1][j]) * std::log(f[0][j] / f[1][j]);
    const double jhac = (static_cast<double>(N1 * N2) / static_cast<double>(N1 + N2)) * sum;
    pval = chiSquarePvalue(jhac, K - 1);
    return jhac;
}

JOutcome runJTest(Settings &s, RunContext &context, RunResults &results, int32_t run,
                  AnalysisData &a, std::vector<CandidateResult> &records, size_t &candidates) {
    JState j;
    if (context.savedReference < 0) {
        s.popforHB = a.refpop;
        j.twoRef = context.autoRef;
    }
    j.other = 1 - s.popforHB;
    const size_t ref = static_cast<size_t>(s.popforHB);
    const size_t other = static_cast<size_t>(j.other);

    a.popReferences = computePopulationReferences(a.metapopdata, a.samplesizes);
    computeSeqDrsq_L(a.popReferences[ref], a.metapopdata, a.samplesizes, s.popforHB, a.snpfreqs[ref],
                     j.Dprime[0], j.r2[0]);
    if (j.twoRef)
        computeSeqDrsq_L(a.popReferences[other], a.metapopdata, a.samplesizes, j.other,
                         a.snpfreqs[other], j.Dprime[1], j.r2[1]);

    if (!chooseCandidates(s, context, a, j, run)) {
        context.autoRef = j.twoRef;
        return JOutcome::NoSelection;
    }
    candidates = j.candidateIndexes.size();

    size_t ini = 0;
    for (size_t p = 0; p < a.samplesizes.size(); ++p) {
        context.runLog += "\nNumber of true SNPs shared in pop " + toString<int>(static_cast<int>(p) + 1) +
                          " is " + toString<size_t>(a.snpfreqs[p].size());
        QUINTOR_CHECK(a.data[ini].size() == a.snpfreqs[p].size() &&
                      a.snpfreqs[p].size() == a.snpositions[p].size());
        ini += static_cast<size_t>(a.samplesizes[p]);
    }

    const int32_t n = a.numsnps[0];
    const bool fixedWindow = s.fixwinsize > 0;
    if (fixedWindow) setUpFixedWindow(context, a, j);
    else a.curWin = context.minblock;
    if (a.skipJ) {
        context.autoRef = j.twoRef;
        return JOutcome::Kept;
    }

    QUINTOR_CHECK(static_cast<size_t>(n) == a.metapopsnpositions.size());
    results.totalSnps += static_cast<double>(a.metapopsnpositions.size());
    results.maxCands = std::max<uint64_t>(results.maxCands, j.candidateIndexes.size());
    if (verbose) {
        std::cout << "Population references computed: "
                  << std::count(a.popReferences[0].begin(), a.popReferences[0].end(), true) << ","
                  << std::count(a.popReferences[1].begin(), a.popReferences[1].end(), true)
                  << std::endl;
        std::cout << "Number of candidates to analize " << j.candidateIndexes.size() << "."
                  << std::endl;
        std::cout << "\n... Beginning J analysis ...\n" << std::endl;
    }
    const int32_t halfwin = (a.curWin - 1) / 2;
    const bool eosWay = !s.useblocks && !a.eosCandidates.empty();

    std::vector<std::vector<double>> popHACS(a.samplesizes.size());
    CandidateResult recordTemplate;
    recordTemplate.iniPos.assign(a.samplesizes.size(), -1);
    recordTemplate.endPos.assign(a.samplesizes.size(), -1);
    recordTemplate.fstPval = 1.0;
    for (size_t k = 0; k < j.candidateIndexes.size(); ++k) {
        const int c = j.candidateIndexes[k];
        if (verbose)
            std::cout << "\nAnalizing CANDIDATE " << k + 1 << " which corresponds to SNP " << c
                      << " in the metapopulation." << std::endl;
        int winIni = c - halfwin;
        int winEnd = winIni + a.curWin;
        if (winIni < 0) {
            winIni = 0;
            winEnd = a.curWin;
        } else if (winEnd > n) {
            winEnd = n;
            winIni = n - a.curWin;
        }
        const std::vector<bool> *reference = &a.popReferences[ref];
        if (!fixedWindow) {
            if (!eosWay) {
                const LDBlock &block = j.blocks[k];
                winIni = block.first;
                winEnd = block.end;
                reference = &a.popReferences[static_cast<size_t>(block.pop)];
            } else if (!ldWindow(s, context, a, j, 0, s.popforHB, c, winIni, winEnd)) {
                bool reached = false;
                if (j.twoRef) {
                    reached = ldWindow(s, context, a, j, 1, j.other, c, winIni, winEnd);
                    reference = &a.popReferences[other];
                }
                if (!reached) {
                    winEnd = winIni + context.minblock;
                    if (static_cast<uint64_t>(winEnd) > a.genomesize) {
                        const int stretchedEnd = winEnd;
                        winIni = static_cast<int>(a.genomesize) - context.minblock;
                        winEnd = static_cast<int>(a.genomesize);
                        writeLogFile(winIni,
                                     "\nQuintor ERROR: window end " + toString<int>(stretchedEnd) +
                                         " out of the genome range and changed to " +
                                         toString<size_t>(a.genomesize) + ".\n",
                                     false);
                    }
                }
            }
            setUpVariableClasses(s, winIni, winEnd, j);
        }
        QUINTOR_CHECK(winIni >= 0 && winIni <= winEnd && winEnd <= n);

        computeHacValues(a, *reference, winIni, winEnd, c, popHACS);
        CandidateResult record = recordTemplate;
        const bool degenerate = !s.useblocks && !fixedWindow && !(j.meanDprime[0] > 0) &&
                                !(j.meanDprime[1] > 0);
        if (degenerate) {
            record.jhac = 0.0;
            record.pval = 1.0;
        } else {
            record.jhac = computeJHac(popHACS, j.nclasses, j.classSpan, record.pval);
        }
        record.candidate = k + 1;
        record.snpIndex = c;
        record.nclasses = j.nclasses;
        record.pos = a.metapopsnpositions[static_cast<size_t>(c)];
        std::fill(record.iniPos.begin(), record.iniPos.end(),
                  truncateToInteger(a.metapopsnpositions[static_cast<size_t>(winIni)]));
        std::fill(record.endPos.begin(), record.endPos.end(),
                  truncateToInteger(a.metapopsnpositions[static_cast<size_t>(winEnd - 1)]));
        record.wide = winEnd - winIni;
        records.push_back(record);
    }

    if (verbose) std::cout << "\nStoring Fst index p-values" << std::endl;
    for (CandidateResult &record : records) {
        const FstEntry &e = a.fstdistrib[static_cast<size_t>(record.snpIndex)];
        record.fst = e.fst;
        record.fstIndex = e.fst - a.fsttot;
        record.fstPval = e.lkPval;
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const CandidateResult &x, const CandidateResult &y) { return x.pos < y.pos; });
    results.jfiles.push_back(records);
    results.jfileKept.push_back(results.names.size());
    results.jfileRuns.push_back(static_cast<size_t>(run));
    context.autoRef = j.twoRef;
    return JOutcome::Kept;
}
