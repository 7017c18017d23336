// SNPSelToolsPlink: the readers of plink map and ped text files, with
// nucleotide (A, C, G, T) or numeric alleles. A population is a run of ped
// lines with the same family identifier. A ped line of a chromosome-sized
// data set holds millions of allele tokens: it is read in place, and the
// alleles are counted as the lines go by, one population at a time.
#include "SNPSelTools.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string_view>

namespace {

enum class AlleleKind { Nucleotide, Numeric };

// The separators of a line's tokens: the blank, the tab, the line feed and
// the carriage return.
struct SeparatorTable {
    bool separator[256] = {};
    SeparatorTable() {
        for (unsigned char c : {' ', '\t', '\n', '\r'}) separator[c] = true;
    }
};
const SeparatorTable separators;

inline bool isSeparator(char c) { return separators.separator[static_cast<unsigned char>(c)]; }

// Walks the tokens of a line: maximal runs of characters other than the
// separators.
struct TokenCursor {
    const char *at;
    const char *end;
    TokenCursor(const char *begin, const char *end) : at(begin), end(end) {}
    bool next(std::string_view &token) {
        while (at != end && isSeparator(*at)) ++at;
        if (at == end) return false;
        const char *begin = at;
        while (at != end && !isSeparator(*at)) ++at;
        token = std::string_view(begin, static_cast<size_t>(at - begin));
        return true;
    }
};

// Converts one token with `convert` (a C library conversion of a text). The
// byte after a token is a separator, a line feed or a NUL, so a conversion
// that starts on a character other than white space ends inside the token.
// One that starts on a form feed or vertical tab (white space that does not
// separate tokens) would skip on into the next token or line: such a token
// converts on a copy of its own.
template <typename Convert>
auto convertToken(std::string_view token, Convert convert) {
    if (!token.empty() && !std::isspace(static_cast<unsigned char>(token[0])))
        return convert(token.data());
    return convert(std::string(token).c_str());
}

size_t countTokens(TokenCursor cursor) {
    std::string_view token;
    size_t count = 0;
    while (cursor.next(token)) ++count;
    return count;
}

// Opens a plink file, trying its lower-cased name second, with the
// messages of the file kind.
bool openPlinkFile(std::ifstream &stream, const std::string &fullName, const char *couldNotOpen,
                   const char *notFound) {
    if (stream.is_open()) stream.close();
    stream.clear();
    stream.open(fullName.c_str());
    if (stream.is_open()) return true;
    std::cout << couldNotOpen << fullName << std::endl;
    const std::string lowerName = toLower(fullName);
    std::cout << "\nTRYING FILE NAME " << lowerName << std::endl;
    stream.clear();
    stream.open(lowerName.c_str());
    if (stream.is_open()) return true;
    std::cout << notFound << toString<int>(2) << " tries\n" << std::endl;
    return false;
}

bool fail(const std::string &message) {
    std::cout << message << std::endl;
    return false;
}

bool readMap(std::ifstream &stream, const std::string &path, const std::string &mapFile,
             const int32_t numpops, std::vector<std::vector<double>> &snpositions,
             std::vector<std::string> &locnames) {
    const std::string fullName = path + mapFile;
    if (!openPlinkFile(stream, fullName, "\nCould not open map file: ",
                       "\nERROR: can not find map input file after "))
        return false;
    snpositions.clear();
    snpositions.resize(static_cast<size_t>(std::max(numpops, 1)));
    locnames.clear();
    std::vector<std::string_view> tokens;
    size_t columns = 0;
    LineReader lines(stream);
    const char *begin = nullptr;
    const char *end = nullptr;
    while (lines.nextData(begin, end)) {
        tokens.clear();
        TokenCursor cursor(begin, end);
        std::string_view token;
        while (cursor.next(token)) tokens.push_back(token);
        if (columns == 0 && (tokens.size() == 3 || tokens.size() == 4)) columns = tokens.size();
        if (tokens.size() != columns || columns == 0)
            return fail("\nERROR: problem reading map file " + fullName + " . Num of columns were " +
                        toString<size_t>(tokens.size()) + "\n");
        if (locnames.size() >= 2147483646u)
            throw std::overflow_error("ERROR: There is an excessive number of SNPs in file " +
                                      mapFile + "\n");
        locnames.emplace_back(tokens[1]);
        snpositions[0].push_back(
            convertToken(tokens[columns - 1], [](const char *text) { return std::atof(text); }));
    }
    if (columns == 0) return fail("\nERROR: empty map file " + fullName + "\n");
    if (snpositions.size() > 1) snpositions[1] = snpositions[0];
    stream.close();
    return true;
}

// The alleles of the population being read, counted per locus.
struct PopulationCensus {
    AlleleKind kind = AlleleKind::Nucleotide;
    size_t numloci = 0;
    int32_t individuals = 0;
    std::vector<uint32_t> nucleotideCounts;  // 4 per locus: A, C, G, T
    std::vector<uint32_t> numericCodes;      // numeric: 2 codes per locus per individual
};

// Index of a one-letter nucleotide allele token, in either case (a ped line
// reads as upper-cased); 4 for a missing one.
struct NucleotideTable {
    unsigned char index[256];
    NucleotideTable() {
        for (unsigned char &i : index) i = 4;
        const char *letters = "ACGT";
        for (unsigned char k = 0; k < 4; ++k) {
            index[static_cast<unsigned char>(letters[k])] = k;
            index[static_cast<unsigned char>(letters[k] - 'A' + 'a')] = k;
        }
    }
};
const NucleotideTable nucleotides;

// Adds the genotypes of one ped line, whose allele tokens start at the
// cursor. Returns the number of allele tokens on the line; only the first
// 2 * numloci of them are counted.
size_t addIndividual(TokenCursor cursor, PopulationCensus &census) {
    std::string_view token;
    size_t tokens = 0;
    const size_t wanted = 2 * census.numloci;
    if (census.kind == AlleleKind::Nucleotide) {
        uint32_t *counts = census.nucleotideCounts.data();
        const char *at = cursor.at;
        const char *end = cursor.end;
        while (tokens < wanted) {
            while (at != end && isSeparator(*at)) ++at;
            if (at == end) break;
            unsigned index = 4;
            if (end - at >= 2 && isSeparator(at[1])) {
                // The usual one-letter token.
                index = nucleotides.index[static_cast<unsigned char>(*at)];
                at += 2;
            } else {
                const char *begin = at;
                while (at != end && !isSeparator(*at)) ++at;
                if (at - begin == 1) index = nucleotides.index[static_cast<unsigned char>(*begin)];
            }
            if (index < 4) ++counts[(tokens / 2) * 4 + index];
            ++tokens;
        }
        cursor.at = at;
    } else {
        while (tokens < wanted && cursor.next(token)) {
            census.numericCodes.push_back(static_cast<uint32_t>(convertToken(token, textToInt)));
            ++tokens;
        }
    }
    while (cursor.next(token)) ++tokens;
    ++census.individuals;
    return tokens;
}

// The major count of a locus, or the mark of too many missing copies.
float majorCount(const std::vector<float> &counts, int32_t individuals) {
    float present = 0.0f;
    for (float c : counts) present += c;
    const float missing = static_cast<float>(2.0 * individuals - static_cast<double>(present));
    if (counts.empty() || missing >= static_cast<float>(individuals - 1)) return tooManyMissing;
    return *std::max_element(counts.begin(), counts.end());
}

// Closes the population: its census goes into the tables as the next
// population, and the counters start again.
void closePopulation(PopulationCensus &census, AlleleCountTables &tables, size_t numpops) {
    static const uint32_t nucleotideCodes[4] = {'A', 'C', 'G', 'T'};
    std::vector<uint32_t> states;
    std::vector<float> counts;
    std::vector<uint32_t> codes;
    const size_t n = static_cast<size_t>(census.individuals);
    if (census.kind == AlleleKind::Nucleotide) {
        // Room for this population's alleles. The first population's count,
        // with an eighth more, stands for each later one, so that the tables
        // seldom grow again.
        size_t alleles = 0;
        for (size_t k = 0; k < census.nucleotideCounts.size(); ++k)
            alleles += census.nucleotideCounts[k] != 0;
        size_t room = tables.alleleCounts.size() + alleles;
        if (tables.alleleCounts.empty()) room = alleles * std::max<size_t>(numpops, 1) + alleles / 8;
        if (room > tables.alleleCounts.capacity()) {
            tables.alleleCounts.reserve(room);
            tables.alleleStates.reserve(room);
        }
    }
    for (size_t l = 0; l < census.numloci; ++l) {
        if (census.kind == AlleleKind::Nucleotide) {
            states.clear();
            counts.clear();
            for (size_t k = 0; k < 4; ++k) {
                const uint32_t count = census.nucleotideCounts[l * 4 + k];
                if (count == 0) continue;
                states.push_back(nucleotideCodes[k]);
                counts.push_back(static_cast<float>(count));
            }
        } else {
            codes.clear();
            for (size_t r = 0; r < n; ++r) {
                codes.push_back(census.numericCodes[(r * census.numloci + l) * 2]);
                codes.push_back(census.numericCodes[(r * census.numloci + l) * 2 + 1]);
            }
            int32_t numberOfCodes = 0;
            countAlleleStates(codes, 0, states, counts, numberOfCodes);
        }
        tables.alleleStates.insert(tables.alleleStates.end(), states.begin(), states.end());
        tables.alleleCounts.insert(tables.alleleCounts.end(), counts.begin(), counts.end());
        tables.closeEntry(majorCount(counts, census.individuals));
    }
    ++tables.numpops;
    std::fill(census.nucleotideCounts.begin(), census.nucleotideCounts.end(), 0u);
    census.numericCodes.clear();
    census.individuals = 0;
}

bool readPed(std::ifstream &stream, const std::string &path, const std::string &pedFile,
             const int32_t numpops, AlleleKind kind, size_t mapLoci,
             std::vector<int> &samplesizes, AlleleCountTables &tables) {
    const std::string fullName = path + pedFile;
    if (!openPlinkFile(stream, fullName, "\nCould not open file: ",
                       "\nERROR: can not find ped file after "))
        return false;
    std::cout << std::string(48, '-') << "\n" << std::endl;

    PopulationCensus census;
    census.kind = kind;
    std::string family;
    size_t alleleTokens = 0;
    bool first = true;
    LineReader lines(stream);
    const char *begin = nullptr;
    const char *end = nullptr;
    while (lines.nextData(begin, end)) {
        const long long lineNumber = lines.lineNumber;
        // Families compare upper-cased, as the C locale has it; alleles are
        // read in either case.
        TokenCursor cursor(begin, end);
        std::string_view token;
        cursor.next(token);
        std::string lineFamily(token);
        for (char &c : lineFamily)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        for (int k = 0; k < 5; ++k) cursor.next(token);

        if (first) {
            const size_t tokens = countTokens(TokenCursor(begin, end));
            if (tokens < 8) return fail("\nERROR: problem reading ped file " + fullName + "\n");
            alleleTokens = tokens - 6;
            if (alleleTokens >= static_cast<size_t>(INT_MAX))
                throw std::overflow_error("ERROR: There is an excessive number of SNPs in file " +
                                          fullName + "\n");
            if (alleleTokens % 2 != 0)
                return fail("\nERROR: wrong number of genotypes in ped file " + fullName + "\n");
            if (alleleTokens / 2 != mapLoci)
                return fail("\nERROR: inconsistency between number of loci in map and ped files: " +
                            toString<size_t>(mapLoci) + " vs " + toString<size_t>(alleleTokens / 2) +
                            "\n");
            TokenCursor firstAllele = cursor;
            firstAllele.next(token);
            const unsigned char c =
                static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(token[0])));
            if (kind == AlleleKind::Nucleotide && !std::isalpha(c))
                return fail("\nERROR: wrong plink nucleotide genotype format in ped file " + fullName +
                            " have read " + std::string(1, static_cast<char>(c)) + "\n");
            if (kind == AlleleKind::Numeric && !(c >= '0' && c <= '9'))
                return fail("\nERROR: wrong plink numeric genotype format in ped file " + fullName +
                            " have read " + std::string(1, static_cast<char>(c)) + "\n");
            census.numloci = mapLoci;
            if (kind == AlleleKind::Nucleotide) census.nucleotideCounts.assign(4 * mapLoci, 0u);
            tables.clear();
            tables.numloci = mapLoci;
            tables.entryEnds.reserve(mapLoci * static_cast<size_t>(std::max(numpops, 1)));
            tables.majorAlleleCounts.reserve(tables.entryEnds.capacity());
            samplesizes.clear();
            family = lineFamily;
            first = false;
        } else if (lineFamily != family) {
            samplesizes.push_back(census.individuals);
            if (static_cast<int64_t>(samplesizes.size()) >= numpops)
                return fail("\nERROR: family " + lineFamily + " at line " +
                            toString<long long>(lineNumber) + " of ped file " + fullName +
                            " opens population " + toString<size_t>(samplesizes.size() + 1) +
                            ", but there should be " + toString<int>(numpops) + "\n");
            closePopulation(census, tables, static_cast<size_t>(std::max(numpops, 1)));
            family = lineFamily;
        }
        const size_t tokens = addIndividual(cursor, census);
        if (tokens != alleleTokens)
            return fail("\nERROR: wrong number of genotypes in ped file " + fullName + " at line " +
                        toString<long long>(lineNumber) + ": " + toString<size_t>(tokens) +
                        " allele tokens, but the first line has " + toString<size_t>(alleleTokens) +
                        "\n");
    }
    if (first) return fail("\nERROR: empty ped file " + fullName + "\n");
    samplesizes.push_back(census.individuals);
    if (static_cast<int64_t>(samplesizes.size()) != numpops)
        return fail("\nERROR: ped file " + fullName + " ends at line " +
                    toString<long long>(lines.lineNumber) + " with " +
                    toString<size_t>(samplesizes.size()) + " population, but there should be " +
                    toString<int>(numpops) + "\n");
    closePopulation(census, tables, static_cast<size_t>(std::max(numpops, 1)));
    return true;
}

bool readPlink(AlleleKind kind, const std::string &path, const std::string &mapFile,
               const std::string &pedFile, const int32_t numpops,
               std::vector<std::vector<double>> &snpositions, std::vector<int> &samplesizes,
               AlleleCountTables &tables, std::vector<std::string> &locnames) {
    try {
        std::ifstream stream;
        if (!readMap(stream, path, mapFile, numpops, snpositions, locnames)) return false;
        if (!readPed(stream, path, pedFile, numpops, kind, locnames.size(), samplesizes, tables))
            return false;
        std::cout << "Read " << mapFile << (kind == AlleleKind::Numeric ? " and numeric " : " and ")
                  << pedFile << std::endl;
        return true;
    } catch (const std::overflow_error &error) {
        std::cout << error.what() << std::endl;
    } catch (const std::exception &) {
        std::cout << "An exception occurred when reading " << mapFile << std::endl;
    } catch (...) {
        std::cout << "Unexpected problem occurred when reading " << mapFile << std::endl;
    }
    return false;
}

} // namespace

bool readPlinkNucleotide(const std::string &path, const std::string &mapFile,
                         const std::string &pedFile, const int32_t numpops,
                         std::vector<std::vector<double>> &snpositions,
                         std::vector<int> &samplesizes, AlleleCountTables &tables,
                         std::vector<std::string> &locnames) {
    return readPlink(AlleleKind::Nucleotide, path, mapFile, pedFile, numpops, snpositions,
                     samplesizes, tables, locnames);
}

bool readPlinkNumeric(const std::string &path, const std::string &mapFile,
                      const std::string &pedFile, const int32_t numpops,
                      std::vector<std::vector<double>> &snpositions,
                      std::vector<int> &samplesizes, AlleleCountTables &tables,
                      std::vector<std::string> &locnames) {
    return readPlink(AlleleKind::Numeric, path, mapFile, pedFile, numpops, snpositions,
                     samplesizes, tables, locnames);
}
