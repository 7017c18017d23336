// driver: the SNPs shared by both populations at the minimum allele
// frequency, the cut matrix, the pooled metapopulation and the SNP names.
#include "driver.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <iostream>
#include <limits>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

int64_t truncateToInteger(double value) {
    if (!(value == value)) return 0;
    if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
    if (value <= -9.2e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

int countDistinctNonMissing(std::vector<double> &values, const int &missing, int64_t &firstRepeat) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    int distinct = 0;
    bool repeatFound = false;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0 && values[i] == values[i - 1]) {
            if (!repeatFound) {
                // The values ascend, so the first repeat met is the smallest.
                firstRepeat = truncateToInteger(values[i]);
                repeatFound = true;
            }
            continue;
        }
        if (values[i] != static_cast<double>(missing)) ++distinct;
    }
    return distinct;
}

void keepCommonSites(HaplotypeMatrix &matrix, const int p, const std::vector<int32_t> &samplesizes,
                     std::vector<double> &freqs, std::vector<double> &positions,
                     const std::vector<double> &commons) {
    // The sites whose position is not shared, in ascending order; they are
    // then cut from every row in one pass, as erasing them one at a time would.
    std::vector<int32_t> dropped;
    const bool ascending = std::is_sorted(positions.begin(), positions.end()) &&
                           std::none_of(positions.begin(), positions.end(), [](double x) { return x != x; });
    auto shared = commons.begin();
    for (size_t i = 0; i < freqs.size(); ++i) {
        bool isShared = false;
        if (i < positions.size()) {
            // Ascending positions walk along the shared ones; others search.
            if (ascending) {
                while (shared != commons.end() && *shared < positions[i]) ++shared;
            } else {
                shared = std::lower_bound(commons.begin(), commons.end(), positions[i]);
            }
            isShared = shared != commons.end() && *shared == positions[i];
        }
        if (!isShared) dropped.push_back(static_cast<int32_t>(i));
    }
    if (dropped.empty()) return;
    int64_t ini = 0;
    for (int q = 0; q < p; ++q) ini += samplesizes[q];
    const size_t first = static_cast<size_t>(dropped[0]);
    const std::vector<unsigned char> keep = keepMarksWithout(dropped, freqs.size());
    for (int64_t r = ini; r < ini + samplesizes[p] && r < static_cast<int64_t>(matrix.size()); ++r) {
        HaplotypeRow &row = matrix[static_cast<size_t>(r)];
        if (row.size() >= freqs.size()) keepMarkedElements(row, first, keep);
        else eraseIndices(row, dropped);
    }
    eraseIndices(freqs, dropped);
    eraseIndices(positions, dropped);
}

std::vector<std::vector<bool>> computePopulationReferences(const HaplotypeMatrix &matrix,
                                                           const std::vector<int32_t> &samplesizes) {
    const size_t length = matrix.empty() ? 0 : matrix[0].size();
    std::vector<std::vector<bool>> references(samplesizes.size(), std::vector<bool>(length, false));
    std::vector<uint32_t> carriers(length);
    size_t ini = 0;
    for (size_t p = 0; p < samplesizes.size(); ++p) {
        const size_t rows = static_cast<size_t>(std::max(0, samplesizes[p]));
        countNonZeroCells(matrix, ini, ini + rows, carriers);
        const int64_t half = samplesizes[p] / 2;
        for (size_t j = 0; j < length; ++j) references[p][j] = carriers[j] > half;
        ini += rows;
    }
    return references;
}

namespace {
// Frequency of non-zero cells at each of the `length` sites among the rows
// [firstRow, endRow), divided by `rows`. Counts are exact, so this equals
// adding 1.0 per carrier row.
void rowFrequencies(const HaplotypeMatrix &matrix, size_t firstRow, size_t endRow, size_t length,
                    double rows, std::vector<double> &freqs) {
    std::vector<uint32_t> counts(length);
    countNonZeroCells(matrix, firstRow, endRow, counts);
    freqs.assign(length, 0.0);
    for (size_t j = 0; j < length; ++j) freqs[j] = static_cast<double>(counts[j]) / rows;
}
} // namespace

void computePopulationFrequencies(const HaplotypeMatrix &data, const int p,
                                  const std::vector<int32_t> &samplesizes,
                                  std::vector<double> &freqs) {
    size_t ini = 0;
    for (int q = 0; q < p; ++q) ini += static_cast<size_t>(std::max(0, samplesizes[q]));
    const size_t length = ini < data.size() ? data[ini].size() : 0;
    rowFrequencies(data, ini, ini + static_cast<size_t>(std::max(0, samplesizes[p])), length,
                   static_cast<double>(samplesizes[p]), freqs);
}

void computeMetapopFrequencies(const HaplotypeMatrix &matrix, std::vector<double> &freqs) {
    const size_t length = matrix.empty() ? 0 : matrix[0].size();
    rowFrequencies(matrix, 0, matrix.size(), length, static_cast<double>(matrix.size()), freqs);
}

std::vector<std::string> rsidTableLabels(const Settings &s, const RunContext &context) {
    if (s.input1 == s.input2) return {"1", "2"};
    return {context.inputBase, s.input2};
}

namespace {

// The note on the SNPs dropped below the minimum allele frequency.
std::string discardedNote(uint64_t count, double maf) {
    return "A number of " + toString<size_t>(count) + " SNPs at frequency lower than " +
           toString<double>(maf) + " has been discarded:" + "\n";
}

// The file has no SNP shared at the minimum frequency: run-log lines and the
// verbose report.
void reportNoCommons(const Settings &s, RunContext &context, const AnalysisData &a) {
    const std::string q = toString<double>(s.maf);
    const std::string none = "\nThere are not common SNPs at frequency >= " + q + "in the file " +
                             a.fileLabel + "\n";
    const std::string discarded = discardedNote(a.numSNPmin, s.maf);
    context.runLog += "\n From a total of " + toString<size_t>(a.snpositions[1].size());
    context.runLog += none;
    if (verbose) {
        std::cout << "From " << toString<size_t>(a.snpositions[0].size()) << " SNPs" << std::endl;
        std::cout << none;
        std::cout << "The total number of SNPs is " << toString<size_t>(a.numSNPmin) << std::endl;
        std::cout << "The number of commons SNPs with a frequency higher than maf is " << 0
                  << std::endl;
        std::cout << discarded;
        std::cout << "This run will be skipped" << std::endl;
    }
    context.runLog += discarded;
}

// Collects the positions of population 0 that population 1 also holds and
// whose pooled frequency reaches the minimum allele frequency.
void collectCommons(const Settings &s, AnalysisData &a) {
    const std::vector<double> &pos0 = a.snpositions[0];
    const std::vector<double> &pos1 = a.snpositions[1];
    // Column of population 1 holding a position (its first such column):
    // by binary search when population 1's positions ascend, else by hash.
    const bool ascending1 = std::is_sorted(pos1.begin(), pos1.end()) &&
                            std::none_of(pos1.begin(), pos1.end(), [](double x) { return x != x; });
    std::unordered_map<double, size_t> firstInPop1;
    if (!ascending1) {
        firstInPop1.reserve(pos1.size());
        for (size_t j = 0; j < pos1.size(); ++j) firstInPop1.emplace(pos1[j], j);
    }
    auto columnInPop1 = [&](double x) -> size_t {
        if (ascending1) {
            const auto found = std::lower_bound(pos1.begin(), pos1.end(), x);
            return found != pos1.end() && *found == x ? static_cast<size_t>(found - pos1.begin())
                                                      : pos1.size();
        }
        const auto found = firstInPop1.find(x);
        return found == firstInPop1.end() ? pos1.size() : found->second;
    };

    const double N = static_cast<double>(a.samplesizes[0]) + static_cast<double>(a.samplesizes[1]);
    const double s0 = a.samplesizes[0];
    const double s1 = a.samplesizes[1];
    // Positions already collected; only needed once they stop ascending.
    std::unordered_set<double> collected;
    bool collectedAscend = true;
    a.commons.clear();
    a.commons.reserve(static_cast<size_t>(a.numSNPmin));
    for (size_t i = 0; i < pos0.size() && a.commons.size() < a.numSNPmin; ++i) {
        const double x = pos0[i];
        const size_t j = columnInPop1(x);
        if (j >= pos1.size()) continue;
        if (i >= a.snpfreqs[0].size() || j >= a.snpfreqs[1].size()) continue;
        const double f = (s1 * a.snpfreqs[1][j] + a.snpfreqs[0][i] * s0) / N;
        if (f < s.maf) continue;
        if (collectedAscend && (a.commons.empty() || x > a.commons.back())) {
            a.commons.push_back(x);
            continue;
        }
        if (collectedAscend) {
            collected.insert(a.commons.begin(), a.commons.end());
            collectedAscend = false;
        }
        if (collected.insert(x).second) a.commons.push_back(x);
    }
}

// Rejects a file in which a population still holds more columns than there
// are shared positions: a shared position is repeated.
void checkRepeatedPositions(const AnalysisData &a) {
    const size_t shared = a.commons.size();
    if (a.snpositions[0].size() == shared && a.snpositions[1].size() == shared) return;
    int64_t firstRepeat = -1;
    std::vector<double> copy0(a.snpositions[0]);
    std::vector<double> copy1(a.snpositions[1]);
    const int c0 = countDistinctNonMissing(copy0, -99, firstRepeat);
    const int c1 = countDistinctNonMissing(copy1, -99, firstRepeat);
    const size_t d0 = a.snpfreqs[0].size() - static_cast<size_t>(c0);
    const size_t d1 = a.snpfreqs[1].size() - static_cast<size_t>(c1);
    const size_t k = std::max(d0, d1);
    // The population whose columns differ from the shared positions.
    const size_t held =
        a.snpositions[0].size() != shared ? a.snpositions[0].size() : a.snpositions[1].size();
    if (k == 0)
        fatalError(5, "\nERROR:" + toString<size_t>(held) + "positions is different number that " +
                          toString<size_t>(shared) + " common SNPs. Please check your files." +
                          "\n");
    fatalError(4, "\nERROR:" + toString<size_t>(held) + " is different from " +
                      toString<size_t>(shared) + ". This may be caused by " + toString<size_t>(k) +
                      " repeated positions in your files. Please check position " +
                      toString<long long>(firstRepeat) + "\n");
}

// Puts a population's columns in ascending order of position when they are
// not (a corrected repeated position can overtake the next one): the pooled
// positions are sorted, and each column must stay with its own position.
void orderColumnsByPosition(AnalysisData &a, size_t p) {
    std::vector<double> &positions = a.snpositions[p];
    if (std::is_sorted(positions.begin(), positions.end())) return;
    std::vector<size_t> order(positions.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&positions](size_t x, size_t y) { return positions[x] < positions[y]; });
    auto permute = [&order](auto &values) {
        auto original = values;
        for (size_t i = 0; i < order.size(); ++i) values[i] = original[order[i]];
    };
    permute(positions);
    permute(a.snpfreqs[p]);
    size_t ini = 0;
    for (size_t q = 0; q < p; ++q) ini += static_cast<size_t>(a.samplesizes[q]);
    for (size_t r = ini; r < ini + static_cast<size_t>(a.samplesizes[p]) && r < a.data.size(); ++r)
        permute(a.data[r]);
}

// Pools both populations into the metapopulation and names the shared SNPs.
void dataFusion(RunResults &results, int32_t run, FormatCode code, AnalysisData &a) {
    if (verbose) std::cout << "\n... Updating metapopulation information ...\n" << std::endl;
    if (a.data.empty() || a.snpositions.empty()) {
        const std::string message = "Empty data in dataFusion.";
        fatalError(static_cast<int>(a.data.size()), message);
    }
    a.metapopdata = a.data;
    // The populations' positions merged in ascending order (each list is
    // usually ascending already), then without repeats.
    a.metapopsnpositions.clear();
    a.metapopsnpositions.reserve(a.snpositions[0].size() * a.snpositions.size());
    std::vector<double> merged;
    for (const std::vector<double> &positions : a.snpositions) {
        if (std::is_sorted(positions.begin(), positions.end())) {
            merged.clear();
            std::merge(a.metapopsnpositions.begin(), a.metapopsnpositions.end(), positions.begin(),
                       positions.end(), std::back_inserter(merged));
            a.metapopsnpositions.swap(merged);
        } else {
            a.metapopsnpositions.insert(a.metapopsnpositions.end(), positions.begin(),
                                        positions.end());
            std::sort(a.metapopsnpositions.begin(), a.metapopsnpositions.end());
        }
    }
    a.metapopsnpositions.erase(
        std::unique(a.metapopsnpositions.begin(), a.metapopsnpositions.end()),
        a.metapopsnpositions.end());
    a.metapopsamplesize = static_cast<int32_t>(a.metapopdata.size());

    QUINTOR_CHECK(a.metapopdata.size() == static_cast<size_t>(a.metapopsamplesize));
    QUINTOR_CHECK(a.metapopsnpositions.size() == a.metapopdata[0].size());
    QUINTOR_CHECK(a.metapopsnpositions.size() == a.snpositions[0].size());
    QUINTOR_CHECK(a.metapopsnpositions.size() == a.commons.size());
    a.genomesize = a.metapopsnpositions.size();

    if (code == FormatCode::HM) {
        RsidMap &names = results.rsidMaps[run];
        for (double position : a.commons) a.filelocnames.push_back(names[position]);
    } else {
        // The position with 12 significant digits in general notation, as a
        // stream of that precision writes it.
        char text[64];
        a.filelocnames.reserve(a.filelocnames.size() + a.commons.size());
        for (size_t i = 0; i < a.commons.size(); ++i) {
            const std::to_chars_result written = std::to_chars(
                text, text + sizeof text, a.metapopsnpositions[i], std::chars_format::general, 12);
            a.filelocnames.emplace_back(text, written.ptr);
        }
    }
    computeMetapopFrequencies(a.metapopdata, a.metapopfreqs);
    a.numsnps[0] = static_cast<int32_t>(a.metapopsnpositions.size());
    a.fstdistrib.resize(static_cast<size_t>(a.numsnps[0]));
}

} // namespace

SharedOutcome prepareSharedSnps(const Settings &s, RunContext &context, RunResults &results,
                                int32_t run, AnalysisData &a) {
    if (verbose) std::cout << "Managing population structure" << std::endl;
    a.numSNPmin = std::numeric_limits<uint64_t>::max();
    for (const std::vector<double> &positions : a.snpositions)
        a.numSNPmin = std::min<uint64_t>(a.numSNPmin, positions.size());

    if (isAlleleCountFormat(context.formatCode)) {
        QUINTOR_CHECK(static_cast<size_t>(a.numsnps[0]) == a.filelocnames.size());
    } else {
        if (verbose) std::cout << "Management of low frequency polymorphisms." << std::endl;
        collectCommons(s, a);
        if (a.commons.empty()) {
            reportNoCommons(s, context, a);
            return SharedOutcome::NoCommons;
        }
        if (!std::is_sorted(a.commons.begin(), a.commons.end()))
            std::sort(a.commons.begin(), a.commons.end());
        ++results.validRunCount;
        a.countedAsValid = true;
        for (int p = 0; p < 2; ++p) {
            keepCommonSites(a.data, p, a.samplesizes, a.snpfreqs[p], a.snpositions[p], a.commons);
            QUINTOR_CHECK(a.snpfreqs[p].size() == a.snpositions[p].size());
        }
        if (verbose) {
            std::cout << "The total number of SNPs is " << toString<size_t>(a.numSNPmin) << std::endl;
            std::cout << "The number of SNPs with a frequency higher than maf is "
                      << toString<size_t>(a.commons.size()) << std::endl;
            const std::string discarded = discardedNote(a.numSNPmin - a.commons.size(), s.maf);
            std::cout << discarded;
            context.runLog += discarded;
        }
        checkRepeatedPositions(a);
        for (size_t p = 0; p < a.snpositions.size(); ++p) orderColumnsByPosition(a, p);
        dataFusion(results, run, context.formatCode, a);
    }

    if (s.rsidInfo || s.onlyrsidInfo) {
        const std::vector<std::string> labels = rsidTableLabels(s, context);
        formatRsidTable(labels, a.filelocnames, a.snpositions, a.snpfreqs,
                        results.rsidTables[run]);
        if (s.onlyrsidInfo) return SharedOutcome::RsidStop;
    }

    a.fileSampleSizes = a.samplesizes;
    context.runLog += "Number of pops is " + toString<int>(context.numpops);
    if (verbose) std::cout << "... Preparing Quintor analysis ..." << std::endl;
    a.skipJ = a.metapopfreqs.size() < 2;
    // Only a file that counted as analysed gives its count back.
    if (a.skipJ && a.countedAsValid) --results.validRunCount;
    if (a.numsnps[0] < s.minWinSize) {
        const std::string note = "\nIn file " + a.fileLabel + ": too few SNPS " +
                                 toString<int>(a.numsnps[0]) + " < " + toString<int>(s.minWinSize) +
                                 "\n";
        std::cout << note << std::endl;
        writeLogFile(a.numsnps[0], note, false);
        return SharedOutcome::TooFewSnps;
    }
    return SharedOutcome::Continue;
}
