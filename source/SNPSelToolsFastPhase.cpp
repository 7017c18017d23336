// SNPSelTools: the reader of fastPHASE haplotype output, one file per
// population. Each individual of the genotype block is an identifying line
// (holding "#") and two haplotype lines; the first haplotype becomes the
// individual's row.
#include "SNPSelTools.h"

#include <cctype>
#include <iostream>

namespace {

bool badBlock(const std::string &name, long long line, const std::string &reason) {
    std::cout << "\nERROR: Bad fastPhase format in file " << name << " line " << line << ": "
              << reason << "\n"
              << std::endl;
    return false;
}

// The haplotype text without white space, upper-cased.
std::string haplotypeText(const std::string &line) {
    std::string text;
    text.reserve(line.size());
    for (char c : line)
        if (!std::isspace(static_cast<unsigned char>(c)))
            text.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return text;
}

// Reads the genotype block of one file: every individual's first haplotype
// is appended to `sequences`; `individuals` counts the identifying lines.
bool readFastPhaseFile(const std::string &path, const std::string &name,
                       std::vector<std::string> &sequences, int &individuals) {
    std::ifstream in;
    if (!openInputFile(path, name, in, false)) {
        std::cout << "\nERROR: can not find input file " << name << "\n" << std::endl;
        return false;
    }
    std::string line;
    long long lineNumber = 0;
    bool begun = false;
    while (!begun && std::getline(in, line)) {
        ++lineNumber;
        begun = line.find("BEGIN GENOTYPES") != std::string::npos;
    }
    if (!begun || in.eof()) return false;

    const size_t first = sequences.size();
    individuals = 0;
    bool pending = false;      // the current individual has no haplotype yet
    long long idLine = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (line.find("END GENOTYPES") != std::string::npos) break;
        if (line.find('#') != std::string::npos) {
            if (pending) return badBlock(name, idLine, "the individual has no haplotypes");
            ++individuals;
            pending = true;
            idLine = lineNumber;
            continue;
        }
        std::string text = haplotypeText(line);
        if (text.empty()) continue;
        if (!pending)
            return badBlock(name, lineNumber, "the haplotype follows no identifying line");
        sequences.push_back(std::move(text));
        pending = false;
        // The second haplotype plays no part.
        if (std::getline(in, line)) ++lineNumber;
    }
    if (pending) return badBlock(name, idLine, "the individual has no haplotypes");
    if (individuals == 0) return badBlock(name, lineNumber, "the genotype block holds no haplotypes");
    // A population of one haplotype has no diversity of its own to compare.
    if (individuals == 1)
        return badBlock(name, idLine, "the genotype block holds 1 individual, 2 are needed at least");
    if (sequences[first].size() > longestSequenceText) {
        fatalError(0, "ERROR: There is an excessive number of SNPs in file " + name + "\n");
    }
    return true;
}

} // namespace

bool readFastPhase(const std::string &path, const std::string &file1, const std::string &file2,
                   std::vector<int> &samplesizes, HaplotypeMatrix &data,
                   std::vector<std::vector<double>> &snpfreqs,
                   std::vector<std::vector<double>> &snpositions, int &refpop) {
    try {
        std::vector<std::string> sequences;
        samplesizes.resize(2);
        if (!readFastPhaseFile(path, file1, sequences, samplesizes[0])) return false;
        if (!readFastPhaseFile(path, file2, sequences, samplesizes[1])) return false;
        if (samplesizes[0] != samplesizes[1]) refpop = samplesizes[0] < samplesizes[1] ? 1 : 0;

        snpositions.resize(2);
        size_t next = 0;
        for (size_t p = 0; p < 2; ++p) {
            const size_t sites = sequences[next].size();
            for (int s = 1; s <= samplesizes[p]; ++s, ++next)
                if (sequences[next].size() != sites)
                    fatalError(0, "ERROR: There are SNPs lacking in sequence " + toString<int>(s) +
                                    " from population " + toString<size_t>(p + 1) + "\n");
            snpositions[p].resize(sites);
            for (size_t i = 0; i < sites; ++i) snpositions[p][i] = static_cast<double>(i);
        }
        // Positions are site indices: both files must hold the same sites.
        if (snpositions[0].size() != snpositions[1].size())
            fatalError(0, "ERROR: The files " + file1 + " and " + file2 +
                            " hold different numbers of SNPs: " +
                            toString<size_t>(snpositions[0].size()) + " and " +
                            toString<size_t>(snpositions[1].size()) + "\n");
        codeNucleotideHaplotypes(sequences, samplesizes, refpop, snpositions, data, snpfreqs);
        return true;
    } catch (...) {
        reportReadingException(file1, file1);
    }
    return false;
}
