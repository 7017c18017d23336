// SNPSelTools: the phased HapMap reader, and the coding of nucleotide
// haplotypes against the reference population's minor allele that it shares
// with the fastPHASE reader.
#include "SNPSelTools.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <unordered_map>

void reportReadingException(const std::string &name, const std::string &otherName) {
    try {
        throw;
    } catch (const std::overflow_error &error) {
        std::cout << error.what() << std::endl;
    } catch (const std::exception &) {
        std::cout << "An exception occurred when reading " << name << std::endl;
    } catch (...) {
        std::cout << "Unexpected problem occurred when reading " << otherName << std::endl;
    }
}

// ---------------------------------------------------------------------------
// Major and minor nucleotide, and the coding of nucleotide haplotypes
// ---------------------------------------------------------------------------

void majorMinorNucleotide(const int32_t counts[5], int32_t n, char &major, char &minor) {
    static const char letters[] = {'A', 'C', 'G', 'T', 'N'};
    int best = 0;
    for (int k = 1; k < 5; ++k)
        if (counts[k] > counts[best]) best = k;
    major = letters[best];
    // A site whose most frequent character is not a nucleotide has no minor.
    if (best == 4 || counts[best] + counts[4] == n) {
        minor = 'N';
        return;
    }
    int64_t lowest = 0;
    int low = -1;
    for (int k = 0; k < 4; ++k) {
        const int64_t count = counts[k] == 0 ? static_cast<int64_t>(n) + 1 : counts[k];
        if (low < 0 || count < lowest) {
            lowest = count;
            low = k;
        }
    }
    minor = letters[low];
}

namespace {

inline int nucleotideIndex(char c) {
    switch (c) {
    case 'A': return 0;
    case 'C': return 1;
    case 'G': return 2;
    case 'T': return 3;
    default: return 4;
    }
}

} // namespace

void codeNucleotideHaplotypes(const std::vector<std::string> &sequences,
                              const std::vector<int> &samplesizes, int refpop,
                              std::vector<std::vector<double>> &snpositions,
                              HaplotypeMatrix &data, std::vector<std::vector<double>> &snpfreqs) {
    QUINTOR_CHECK(samplesizes.size() == 2 && (refpop == 0 || refpop == 1));
    QUINTOR_CHECK(samplesizes[0] > 0 && samplesizes[1] > 0 &&
                  sequences.size() == static_cast<size_t>(samplesizes[0]) + samplesizes[1]);
    const size_t firstSample[2] = {0, static_cast<size_t>(samplesizes[0])};
    size_t sites[2];
    for (int p = 0; p < 2; ++p) {
        sites[p] = sequences[firstSample[p]].size();
        QUINTOR_CHECK(snpositions[static_cast<size_t>(p)].size() == sites[p]);
        for (int s = 0; s < samplesizes[p]; ++s)
            QUINTOR_CHECK(sequences[firstSample[p] + static_cast<size_t>(s)].size() == sites[p]);
    }
    const size_t r = static_cast<size_t>(refpop), q = 1 - r;
    // Every column of the other population needs a minor letter.
    QUINTOR_CHECK(sites[q] <= sites[r]);

    // Counts of A, C, G, T and any other character at each reference site.
    std::vector<int32_t> counts(5 * sites[r], 0);
    for (int s = 0; s < samplesizes[r]; ++s) {
        const std::string &text = sequences[firstSample[r] + static_cast<size_t>(s)];
        for (size_t i = 0; i < sites[r]; ++i) ++counts[5 * i + nucleotideIndex(text[i])];
    }
    std::string minor(sites[r], 'N');
    std::vector<int32_t> deleted[2];
    for (size_t i = 0; i < sites[r]; ++i) {
        char major;
        majorMinorNucleotide(&counts[5 * i], samplesizes[r], major, minor[i]);
        if (major == 'N') deleted[r].push_back(static_cast<int32_t>(i));
    }
    // A deleted reference site goes in the other population at the first
    // column with the same position.
    std::unordered_map<double, int32_t> firstColumn;
    for (size_t i = 0; i < sites[q]; ++i)
        firstColumn.emplace(snpositions[q][i], static_cast<int32_t>(i));
    for (int32_t d : deleted[r]) {
        const auto found = firstColumn.find(snpositions[r][static_cast<size_t>(d)]);
        if (found != firstColumn.end()) deleted[q].push_back(found->second);
    }
    std::sort(deleted[q].begin(), deleted[q].end());
    deleted[q].erase(std::unique(deleted[q].begin(), deleted[q].end()), deleted[q].end());

    // The minor letter of each column: that of the reference site of the same
    // index when it holds the same position (the same SNP list), else that of
    // the first reference site at the column's position (N when none is).
    std::string minors[2];
    minors[r] = minor;
    minors[q].assign(sites[q], 'N');
    std::unordered_map<double, size_t> firstSite;
    for (size_t i = 0; i < sites[r]; ++i) firstSite.emplace(snpositions[r][i], i);
    for (size_t i = 0; i < sites[q]; ++i) {
        if (snpositions[q][i] == snpositions[r][i]) {
            minors[q][i] = minor[i];
            continue;
        }
        const auto found = firstSite.find(snpositions[q][i]);
        if (found != firstSite.end()) minors[q][i] = minor[found->second];
    }

    data.clear();
    snpfreqs.resize(2);
    for (size_t p = 0; p < 2; ++p) {
        const std::string &letters = minors[p];
        std::vector<unsigned char> keep(sites[p], 1);
        for (int32_t d : deleted[p]) keep[static_cast<size_t>(d)] = 0;
        std::vector<double> freqs(sites[p], 0.0);
        std::vector<char> cells;
        cells.reserve(sites[p]);
        for (int s = 0; s < samplesizes[p]; ++s) {
            const std::string &text = sequences[firstSample[p] + static_cast<size_t>(s)];
            cells.clear();
            for (size_t i = 0; i < sites[p]; ++i) {
                if (!keep[i]) continue;
                const char cell = text[i] == letters[i] && text[i] != 'N';
                freqs[i] += cell;
                cells.push_back(cell);
            }
            appendHaplotype(data, cells.data(), cells.size());
        }
        keepMarkedElements(freqs, 0, keep);
        keepMarkedElements(snpositions[p], 0, keep);
        for (double &f : freqs) f /= static_cast<double>(samplesizes[p]);
        snpfreqs[p].swap(freqs);
    }
}

// ---------------------------------------------------------------------------
// Phased HapMap reader
// ---------------------------------------------------------------------------

namespace {

// What reading one HapMap file gives.
struct HapMapFile {
    std::string name;
    int32_t samples = 0;
    std::vector<long long> siteLines;  // file line of each data line
};

// Rejects a file whose layout the reader cannot code; the caller returns false.
bool badLayout(const HapMapFile &file, long long line, const std::string &reason) {
    std::cout << "\nERROR: Bad HapMap format in file " << file.name << " line " << line << ": "
              << reason << "\n"
              << std::endl;
    return false;
}

// Reads the header and data lines of one file: each sample's alleles are
// appended to its text in `sequences` (the file's samples after those
// already there), the positions to `positions`, the names to the map.
// `minimumSamples` is the fewest sample columns the header may name.
bool readHapMapFile(std::istream &in, HapMapFile &file, int32_t minimumSamples,
                    std::vector<std::string> &sequences, std::vector<double> &positions,
                    RsidMap &rsidMap) {
    std::string line;
    long long lineNumber = 0;
    // No header, or a header that ends the file: nothing to read.
    if (!nextDataLine(in, line, lineNumber) || in.eof()) return false;
    const long long fields = static_cast<long long>(splitOnWhitespace(line).size());
    if (fields - 2 < minimumSamples)
        return badLayout(file, lineNumber,
                         "the header names " + toString<long long>(fields - 2) +
                             " sample columns, " + toString<int>(minimumSamples) +
                             " are needed at least");
    file.samples = static_cast<int32_t>(fields - 2);
    const size_t first = sequences.size();
    sequences.resize(first + static_cast<size_t>(file.samples));

    while (nextDataLine(in, line, lineNumber)) {
        for (char &c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::vector<std::string> words = splitOnWhitespace(line);
        if (words.size() < 2) return badLayout(file, lineNumber, "the SNP has no position");
        if (words.size() - 2 != static_cast<size_t>(file.samples))
            return badLayout(file, lineNumber,
                             "the SNP has " + toString<size_t>(words.size() - 2) + " alleles for " +
                                 toString<int>(file.samples) + " samples");
        for (size_t k = 2; k < words.size(); ++k)
            if (words[k].size() != 1)
                return badLayout(file, lineNumber,
                                 "the allele " + words[k] + " of sample " + toString<size_t>(k - 1) +
                                     " is not one character");
        const double position = std::atof(words[1].c_str());
        if (!std::isfinite(position))
            return badLayout(file, lineNumber, "the position " + words[1] + " is not a finite number");
        positions.push_back(position);
        rsidMap.emplace(position, words[0]);
        for (size_t k = 2; k < words.size(); ++k) sequences[first + k - 2].push_back(words[k][0]);
        file.siteLines.push_back(lineNumber);
    }
    if (sequences[first].size() > longestSequenceText) {
        fatalError(0, "ERROR: There is an excessive number of SNPs in file " + file.name + "\n");
    }
    return true;
}

// Opens path + name; a failure is reported as the reader does.
bool openHapMapFile(const std::string &path, const std::string &name, std::ifstream &in) {
    if (openInputFile(path, name, in, false)) return true;
    std::cout << "\nERROR: can not find input file " << name << "\n" << std::endl;
    return false;
}

} // namespace

bool readHapMapPhased(const std::string &path, const std::string &file1,
                      const std::string &file2, bool onePopPerFile, std::vector<int> &samplesizes,
                      HaplotypeMatrix &data, std::vector<std::vector<double>> &snpfreqs,
                      std::vector<std::vector<double>> &snpositions, RsidMap &rsidMap,
                      int &refpop) {
    try {
        std::vector<std::string> sequences;
        std::vector<double> positions;
        HapMapFile files[2];
        files[0].name = file1;
        files[1].name = file2;
        std::ifstream in;
        if (!openHapMapFile(path, file1, in)) return false;
        // Each population needs two samples: one file holds both halves.
        if (!readHapMapFile(in, files[0], onePopPerFile ? 2 : 4, sequences, positions, rsidMap))
            return false;
        in.close();
        samplesizes.resize(2);
        std::vector<double> sitePositions[2];
        if (!onePopPerFile) {
            const int32_t n = files[0].samples;
            samplesizes[0] = n / 2;
            samplesizes[1] = n - n / 2;
            sitePositions[0] = positions;
            sitePositions[1].swap(positions);
        } else {
            samplesizes[0] = files[0].samples;
            if (!openHapMapFile(path, file2, in)) return false;
            const size_t sites0 = positions.size();
            if (!readHapMapFile(in, files[1], 2, sequences, positions, rsidMap)) return false;
            samplesizes[1] = files[1].samples;
            sitePositions[0].assign(positions.begin(), positions.begin() + sites0);
            sitePositions[1].assign(positions.begin() + sites0, positions.end());
        }
        if (samplesizes[0] != samplesizes[1]) refpop = samplesizes[0] < samplesizes[1] ? 1 : 0;
        // Each column of the other population is coded with the minor
        // nucleotide of the reference population's column of the same index.
        const int q = 1 - refpop;
        const size_t sitesR = sitePositions[refpop].size();
        if (sitePositions[q].size() > sitesR)
            return badLayout(files[q], files[q].siteLines[sitesR],
                             "the file has more SNPs (" + toString<size_t>(sitePositions[q].size()) +
                                 ") than the reference population's file " + files[refpop].name +
                                 " (" + toString<size_t>(sitesR) + ")");
        snpositions.resize(2);
        snpositions[0].swap(sitePositions[0]);
        snpositions[1].swap(sitePositions[1]);
        codeNucleotideHaplotypes(sequences, samplesizes, refpop, snpositions, data, snpfreqs);
        return true;
    } catch (...) {
        reportReadingException(file1, file1);
    }
    return false;
}
