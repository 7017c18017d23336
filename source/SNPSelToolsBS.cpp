// SNPSelToolsBS: the reader of BayeScan-style allele-count files. Two count
// lines ("[loci]=N", "[populations]=M") and M "[pop]" blocks, each with one
// line per locus: its number, the allele copies n, the number of alleles K
// and the K allele counts.
#include "SNPSelTools.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iostream>

namespace {

// Reads lines up to the next one that begins with '[' (after the leading
// blanks) and returns the integer after its last '='. False when the input
// ends first, or ends on that very line without a line end.
bool readCountLine(std::ifstream &stream, int32_t &count) {
    std::string line;
    while (std::getline(stream, line)) {
        if (stream.eof()) return false;
        trimLeading(line, readerBlanks);
        if (line.empty() || line[0] != '[') continue;
        const std::vector<std::string> pieces = splitOnChar(line, '=');
        count = pieces.empty() ? 0 : textToInt(pieces.back().c_str());
        return true;
    }
    return false;
}

// Reads the next block header into `line`, as it stands, and tells whether it
// opens a "[pop]" block. False when the input ends first. The header is the
// line read last: when it ends the file without a line end, the block's
// first locus line reads it again.
bool findBlockHeader(std::ifstream &stream, std::string &line, bool &isPop) {
    std::string header;
    while (std::getline(stream, line)) {
        header = line;
        trimLeading(header, readerBlanks);
        if (header.empty()) continue;
        const std::vector<std::string> pieces = splitOnChar(header, '=');
        isPop = !pieces.empty() && pieces[0] == "[pop]";
        return true;
    }
    return false;
}

std::string locusPlace(int32_t locus, size_t block) {
    return toString<int>(locus) + " of population " + toString<int>(static_cast<int>(block + 1));
}

} // namespace

bool readBS(const std::string &path, const std::string &file, int &numpops,
            AlleleCountTables &tables, std::vector<std::string> &locnames) {
    std::ifstream stream;
    if (!openInputFile(path, file, stream, false)) return false;

    int32_t numloci = 0;
    if (!readCountLine(stream, numloci)) return false;
    if (numloci == INT_MAX)
        fatalError(0, "ERROR: There is an excessive number of loci in file " + file + "\n");
    if (numloci < 0)
        fatalError(1, "ERROR reading BScan format: Number of loci is " + toString<int>(numloci) +
                           " but cannot be negative\n");
    int32_t numpopulations = 0;
    if (!readCountLine(stream, numpopulations)) return false;
    if (numpopulations != numpops)
        fatalError(1, "ERROR reading BScan format: Number of populations is " +
                           toString<int>(numpopulations) + " but should be " +
                           toString<int>(numpops) + "\n");

    // The tables grow line by line, so a count line that promises more loci
    // than the file holds costs nothing before the shortfall is found.
    tables.clear();
    tables.numloci = static_cast<size_t>(numloci);
    tables.numpops = static_cast<size_t>(numpopulations);
    locnames.clear();
    int32_t blocksRead = 0;
    std::string line;
    bool inputLeft = true;
    // A "[pop]" block after a slot that was no "[pop]" block is still read and
    // checked; its counts are dropped, as the file is rejected in the end.
    AlleleCountTables dropped;
    for (size_t b = 0; b < tables.numpops; ++b) {
        bool isPop = false;
        inputLeft = inputLeft && findBlockHeader(stream, line, isPop);
        if (!isPop) continue;
        ++blocksRead;
        AlleleCountTables &target = blocksRead == static_cast<int32_t>(b + 1) ? tables : dropped;
        for (int32_t i = 0; i < numloci; ++i) {
            // A missing line reads as empty; after a last line without a
            // line end (a locus line or the block header) that line is read
            // again.
            std::getline(stream, line);
            const std::vector<std::string> fields = splitOnWhitespace(line);
            if (fields.empty())
                fatalError(1, "ERROR reading BScan format in loci " + locusPlace(i + 1, b) + "\n");
            if (textToInt(fields[0].c_str()) != i + 1)
                fatalError(1, "ERROR reading BScan format: Loci number was " + fields[0] +
                                   " should be " + toString<int>(i + 1) + "\n");
            if (b == 0) locnames.push_back(fields[0]);
            const int32_t K = fields.size() >= 3 ? textToInt(fields[2].c_str()) : -1;
            if (K < 0 || fields.size() - 3 < static_cast<size_t>(K))
                fatalError(1, "ERROR reading BScan format in loci " + locusPlace(i + 1, b) + "\n");
            const int32_t n = textToInt(fields[1].c_str());
            if (&target == &dropped) dropped.clear();
            double total = 0.0;
            float major = 0.0f;
            for (int32_t k = 0; k < K; ++k) {
                const double count = std::atof(fields[3 + static_cast<size_t>(k)].c_str());
                if (count < 0)
                    fatalError(3, "ERROR reading BScan format: Negative allele count " +
                                       fields[3 + static_cast<size_t>(k)] + " in loci " +
                                       locusPlace(i + 1, b) + "\n");
                total += count;
                target.alleleCounts.push_back(static_cast<float>(count));
                major = k == 0 ? target.alleleCounts.back() : std::max(major, target.alleleCounts.back());
            }
            if (total != static_cast<double>(n))
                fatalError(3, "ERROR reading BScan format: Total alleles are " +
                                   toString<double>(total) + " should be " + toString<int>(n) + "\n");
            target.closeEntry(major);
        }
    }
    if (blocksRead != numpops)
        fatalError(1, "ERROR reading BScan format: Read " + toString<int>(blocksRead) +
                           " populations but should be " + toString<int>(numpops) + "\n");
    while (std::getline(stream, line)) {
    }
    std::cout << "Read " << path << file << std::endl;
    return true;
}
