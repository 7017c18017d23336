// SNPSelToolsGenepop: the reader of genepop files. A title line, the locus
// names (one per line or comma-separated), then one or two populations,
// each opened by a line holding "POP" in any case, with one line per
// individual: its name, a comma, and one genotype per locus written as two
// allele numbers of equal width ("0102", "001002"; 0 is a missing copy).
#include "SNPSelTools.h"

#include <algorithm>
#include <climits>
#include <iostream>

namespace {

bool holdsPop(const std::string &upperText) { return upperText.find("POP") != std::string::npos; }

std::string toUpper(const std::string &text) {
    std::string upper(text);
    for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

} // namespace

bool readGenepop(const std::string &path, const std::string &file, std::vector<int> &samplesizes,
                 AlleleCountTables &tables, std::vector<std::string> &locnames) {
    std::ifstream stream;
    if (!openInputFile(path, file, stream, false)) return false;
    locnames.clear();
    std::string line;
    long long lineNumber = 0;
    if (!nextDataLine(stream, line, lineNumber) || stream.eof()) return false;
    samplesizes.clear();

    const std::string where = " in file " + file + " at line ";
    int32_t numpopulations = 0;
    int32_t individuals = 0;
    size_t numloci = 0;
    bool lociFixed = false;
    long long firstIndividualLine = 0;
    // The individuals' allele codes, row after row, 2 per locus.
    std::vector<uint32_t> datamatrix;
    while (nextDataLine(stream, line, lineNumber)) {
        if (numpopulations == 0) {
            const std::vector<std::string> pieces = splitOnChar(line, ',');
            if (pieces.size() != 1) locnames.insert(locnames.end(), pieces.begin(), pieces.end());
            else if (!holdsPop(toUpper(pieces[0]))) locnames.push_back(pieces[0]);
        }
        line = toUpper(line);
        if (holdsPop(line)) {
            if (numpopulations == 2)
                fatalError(3, "\nERROR reading genpop format: Only two populations are allowed and found " +
                                   toString<int>(3) + "\n");
            if (numpopulations == 1) {
                samplesizes.push_back(individuals);
                individuals = 0;
            }
            ++numpopulations;
            continue;
        }
        if (numpopulations == 0) continue;
        const std::vector<std::string> pieces = splitOnChar(line, ',');
        if (pieces.size() != 2)
            fatalError(1, "ERROR reading genpop format: When separating loci names word number was " +
                               toString<size_t>(pieces.size()) + " should be 2" + "\n");
        const std::vector<std::string> genotypes = splitOnWhitespace(pieces[1]);
        if (numpopulations == 1 && individuals == 0 && !lociFixed) {
            if (genotypes.size() >= static_cast<size_t>(INT_MAX))
                fatalError(0, "ERROR: There is an excessive number of loci in file " + file + "\n");
            numloci = genotypes.size();
            lociFixed = true;
            firstIndividualLine = lineNumber;
        }
        if (genotypes.size() != numloci)
            fatalError(1, "ERROR reading genpop format: " + toString<size_t>(genotypes.size()) +
                               " genotypes but should be " + toString<size_t>(numloci) + where +
                               toString<long long>(lineNumber) + "\n");
        for (const std::string &token : genotypes) {
            const size_t half = token.size() / 2;
            datamatrix.push_back(static_cast<uint32_t>(textToInt(token.substr(0, half).c_str())));
            datamatrix.push_back(static_cast<uint32_t>(textToInt(token.c_str() + half)));
        }
        ++individuals;
    }
    if (numpopulations == 0)
        fatalError(1, "ERROR reading genpop format: No population line" + where +
                           toString<long long>(lineNumber) + " (the end of the file)\n");
    samplesizes.push_back(individuals);
    if (locnames.size() < numloci)
        fatalError(1, "ERROR reading genpop format: " + toString<size_t>(locnames.size()) +
                           " loci names but " + toString<size_t>(numloci) + " loci" + where +
                           toString<long long>(firstIndividualLine) + "\n");

    // The census, population after population.
    tables.clear();
    tables.numloci = numloci;
    tables.numpops = static_cast<size_t>(numpopulations);
    std::vector<uint32_t> codes;
    std::vector<uint32_t> states;
    std::vector<float> counts;
    size_t firstRow = 0;
    for (size_t p = 0; p < samplesizes.size(); ++p) {
        const size_t n = static_cast<size_t>(samplesizes[p]);
        for (size_t l = 0; l < numloci; ++l) {
            codes.clear();
            for (size_t r = firstRow; r < firstRow + n; ++r) {
                codes.push_back(datamatrix[(r * numloci + l) * 2]);
                codes.push_back(datamatrix[(r * numloci + l) * 2 + 1]);
            }
            int32_t numberOfCodes = 0;
            countAlleleStates(codes, 0, states, counts, numberOfCodes);
            int32_t present = 0;
            for (float c : counts) present = static_cast<int32_t>(static_cast<float>(present) + c);
            const int32_t missing = numberOfCodes - present;
            float major = tooManyMissing;
            if (!counts.empty() &&
                static_cast<float>(missing) < static_cast<float>(samplesizes[p] - 1))
                major = *std::max_element(counts.begin(), counts.end());
            tables.alleleStates.insert(tables.alleleStates.end(), states.begin(), states.end());
            tables.alleleCounts.insert(tables.alleleCounts.end(), counts.begin(), counts.end());
            tables.closeEntry(major);
        }
        firstRow += n;
    }
    std::cout << "Read " << path << file << std::endl;
    return true;
}
