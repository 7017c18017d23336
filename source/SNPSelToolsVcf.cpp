// SNPSelTools: the phased VCF reader. Two files, one population each, with
// GT genotypes "a|b" only. A data line is one site: its cells go straight
// into the haplotype matrix, two rows per individual (haplotype 1, then 2).
// Each file is read once, so a pipe does as well as a file.
#include "SNPSelTools.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>

namespace {

// A file and its lines.
struct VcfInput {
    std::ifstream stream;
    std::string name;
    LineReader lines{stream};
};

// The next line, without its line feed, as [text, text + length); false at
// the end of the file.
bool nextLine(VcfInput &in, const char *&text, size_t &length) {
    const char *end = nullptr;
    if (!in.lines.next(text, end)) return false;
    length = static_cast<size_t>(end - text);
    return true;
}

inline bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool isLeadingBlank(char c) { return c == ' ' || c == '\f' || c == '\n' || c == '\r' || c == '\t' || c == '\v'; }

// One column of a line: [begin, end).
struct Column {
    const char *begin;
    const char *end;
    size_t size() const { return static_cast<size_t>(end - begin); }
    std::string text() const { return std::string(begin, end); }
};

// Splits the line into its columns (separated by blanks, tabs, carriage
// returns), reusing `columns`: all of them, or the first `limit`. Returns
// where the rest of the line begins.
const char *splitColumns(const char *text, size_t length, std::vector<Column> &columns,
                         size_t limit = SIZE_MAX) {
    columns.clear();
    const char *p = text, *stop = text + length;
    while (columns.size() < limit) {
        while (p < stop && isSeparator(*p)) ++p;
        if (p == stop) break;
        const char *begin = p;
        while (p < stop && !isSeparator(*p)) ++p;
        columns.push_back(Column{begin, p});
    }
    return p;
}

// The position column as the C library's atof reads it; an integer of up
// to 15 digits, the usual case, is exact in a double and read directly.
double positionValue(const Column &column) {
    if (column.size() == 0 || column.size() > 15) return std::atof(column.text().c_str());
    uint64_t value = 0;
    for (const char *c = column.begin; c < column.end; ++c) {
        const unsigned digit = static_cast<unsigned char>(*c - '0');
        if (digit > 9) return std::atof(column.text().c_str());
        value = value * 10 + digit;
    }
    return static_cast<double>(value);
}

// An allele of a genotype "a|b": one character, neither a blank nor '|'.
inline bool isAllele(char c) { return !isSeparator(c) && c != '|'; }
inline bool isPhasedPair(const char *p) { return isAllele(p[0]) && p[1] == '|' && isAllele(p[2]); }
inline bool isZeroOrOne(char c) { return (c & ~1) == '0'; }

// Codes the genotype columns in [p, stop) (p may stand on the separator
// after FORMAT) when they are exactly `samples` phased pairs: cell 1 where
// the allele is `coded`; `ones` counts the cells 1, and `zeroOne` tells
// whether every allele is 0 or 1. False otherwise (nothing is reported).
bool codeGenotypes(const char *p, const char *stop, size_t samples, char coded, char *cells,
                   size_t &ones, bool &zeroOne) {
    ones = 0;
    zeroOne = true;
    while (p < stop && isSeparator(*p)) ++p;
    for (size_t k = 0; k < samples; ++k) {
        // The usual genotype, "0|1" and the like and a single tab, is taken
        // at once; any other is checked in full.
        const bool atOnce = k + 1 < samples && stop - p >= 4 && isZeroOrOne(p[0]) && p[1] == '|' &&
                           isZeroOrOne(p[2]) && p[3] == '\t';
        if (!atOnce) {
            while (p < stop && isSeparator(*p)) ++p;
            if (stop - p < 3 || !isPhasedPair(p) || (stop - p > 3 && !isSeparator(p[3])))
                return false;
            zeroOne = zeroOne && isZeroOrOne(p[0]) && isZeroOrOne(p[2]);
        }
        const char a = p[0] == coded, b = p[2] == coded;
        cells[2 * k] = a;
        cells[2 * k + 1] = b;
        ones += static_cast<size_t>(a) + static_cast<size_t>(b);
        p += atOnce ? 4 : 3;
    }
    while (p < stop && isSeparator(*p)) ++p;
    return p == stop;
}

// Trims the start of the line; false when it is then empty.
bool trimLine(const char *&text, size_t &length) {
    while (length > 0 && isLeadingBlank(*text)) {
        ++text;
        --length;
    }
    return length > 0;
}

std::string upperCase(const Column &column) {
    std::string text = column.text();
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

[[noreturn]] void rejectLine(const VcfInput &in, const std::string &reason) {
    fatalError(0, "ERROR: Bad VCF-Quintor format in file " + in.name + " line " +
              toString<long long>(in.lines.lineNumber) + ": " + reason + "\n");
}

// Opens the file `name` and reads up to its header line; returns the number
// of samples, or -1 when the file cannot be opened or ends first. `second`
// selects the second file's message texts.
long long openVcf(const std::string &path, const std::string &name, bool second, VcfInput &in,
                  std::vector<Column> &columns) {
    in.name = name;
    if (!openInputFile(path, in.name, in.stream, false)) {
        std::cout << "\nERROR: can not find input file " << in.name << "\n" << std::endl;
        return -1;
    }
    const char *text;
    size_t length;
    for (;;) {
        if (!nextLine(in, text, length)) return -1;
        if (!trimLine(text, length)) continue;
        if (length >= 2 && text[0] == '#' && text[1] == '#') continue;
        break;
    }
    splitColumns(text, length, columns);
    if (columns[0].text() != "#CHROM")
        fatalError(0, second ? "ERROR #CHROM header tag lacking: Bad VCF format in file " + in.name + "\n"
                         : "ERROR #CHROM header tag lacking: " + columns[0].text() +
                               ". Bad VCF format in file " + in.name + "\n");
    if (columns.size() < 9 || columns[8].text() != "FORMAT")
        fatalError(0, "ERROR FORMAT header tag lacking: Bad VCF format in file " + in.name + "\n");
    if (columns.size() < 10) rejectLine(in, "the header names no sample");
    return static_cast<long long>(columns.size()) - 9;
}

// What the two files share while they are read.
struct VcfSites {
    std::vector<double> positions;     // file 1's, in line order
    std::string refs;                  // file 1's REF texts, one after the other
    std::vector<size_t> refEnds;       // end of each REF text in `refs`
    std::vector<unsigned char> refDiffers; // REF of file 2 is another text
    int32_t chromosome = 0;
    // Population 0 is coded on allele 1 as file 1 is read; file 2 may then
    // ask for allele 0 at the sites whose REF texts differ. There its cells
    // are the complement, except at the sites where some allele is neither
    // 0 nor 1, whose cells of allele 0 are kept here.
    std::vector<size_t> otherSites;    // in increasing order
    HaplotypeMatrix zeroCells;         // one site per entry of `otherSites`
};

// Reads the data lines of one file as population p: rows [firstRow,
// firstRow + 2 * samples) are made, then get one cell per site, 1 where the
// allele is the population's coded allele of the site ('1', or '0' where
// `codeZero` says so).
void readVcfSites(VcfInput &in, size_t p, long long samples, size_t firstRow, VcfSites &sites,
                  const std::vector<unsigned char> &codeZero, HaplotypeMatrix &data,
                  std::vector<double> &freqs, std::vector<Column> &columns,
                  const std::string &file1) {
    const size_t rows = static_cast<size_t>(2 * samples);
    const size_t expected = static_cast<size_t>(samples) + 9;
    QUINTOR_CHECK(firstRow == data.size());
    appendRows(data, rows);
    std::vector<char> cells(rows);
    const char *text;
    size_t length;
    size_t site = 0;
    while (nextLine(in, text, length)) {
        if (!trimLine(text, length) || text[0] == '#') continue;
        // The usual line: nine columns, then well-formed genotypes that are
        // coded as they are found; any other line is split whole and checked.
        const char coded = site < codeZero.size() && codeZero[site] ? '0' : '1';
        size_t ones = 0;
        bool zeroOne = true;
        const char *rest = splitColumns(text, length, columns, 9);
        const bool usual = codeGenotypes(rest, text + length, static_cast<size_t>(samples), coded,
                                         cells.data(), ones, zeroOne);
        if (!usual) {
            splitColumns(text, length, columns);
            if (columns.size() != expected)
                rejectLine(in, "the line has " + toString<size_t>(columns.size()) +
                                   " columns, the header " + toString<size_t>(expected));
        }
        const int32_t chromosome = textToInt(columns[0].text().c_str());
        if (p == 0 && site == 0) sites.chromosome = chromosome;
        if (chromosome != sites.chromosome)
            fatalError(0, p == 0 ? "ERROR there is more than one chromosome in the file: Bad "
                               "VCF-Quintor format in file " + in.name + "\n"
                             : "ERROR there are different chromosomes in file: " + file1 +
                                   " and file " + in.name + ". Bad VCF-Quintor format.\n");
        const double position = positionValue(columns[1]);
        if (!std::isfinite(position))
            rejectLine(in, "the position " + columns[1].text() + " is not a finite number");
        const std::string ref = upperCase(columns[3]);
        if (p == 0) {
            if (sites.positions.size() >= longestSequenceText)
                fatalError(0, "ERROR: There is an excessive number of SNPs in file " + in.name + "\n");
            sites.positions.push_back(position);
            sites.refs += ref;
            sites.refEnds.push_back(sites.refs.size());
        } else {
            if (site >= sites.positions.size())
                rejectLine(in, "the file has more SNPs than " + file1 + " (" +
                                   toString<size_t>(sites.positions.size()) + ")");
            if (position != sites.positions[site])
                rejectLine(in, "the position " + columns[1].text() + " is not " +
                                   toString<double>(sites.positions[site]) +
                                   ", the position of the same SNP in " + file1);
            const size_t from = site == 0 ? 0 : sites.refEnds[site - 1];
            sites.refDiffers.push_back(
                sites.refs.compare(from, sites.refEnds[site] - from, ref) != 0);
        }
        const Column &format = columns[8];
        if (format.size() != 2 || std::toupper(static_cast<unsigned char>(format.begin[0])) != 'G' ||
            std::toupper(static_cast<unsigned char>(format.begin[1])) != 'T')
            rejectLine(in, "the FORMAT is " + columns[8].text() + ", only GT is read");
        for (size_t k = 0; !usual && k < static_cast<size_t>(samples); ++k) {
            const Column &genotype = columns[9 + k];
            if (genotype.size() != 3 || !isPhasedPair(genotype.begin))
                rejectLine(in, "the genotype " + genotype.text() + " of sample " +
                                   toString<size_t>(k + 1) +
                                   " is not two phased alleles of one character each");
        }
        // Every genotype is well formed: the whole line is.
        QUINTOR_CHECK(usual);
        // The REF of this line decides the coding of population 1's cells.
        const char now = site < codeZero.size() && codeZero[site] ? '0' : '1';
        if (now != coded)
            codeGenotypes(rest, text + length, static_cast<size_t>(samples), now, cells.data(), ones,
                          zeroOne);
        appendSite(data, firstRow, cells.data(), rows);
        freqs.push_back(static_cast<double>(ones) / static_cast<double>(rows));
        if (p == 0 && !zeroOne) {
            codeGenotypes(rest, text + length, static_cast<size_t>(samples), '0', cells.data(), ones,
                          zeroOne);
            appendSite(sites.zeroCells, 0, cells.data(), rows);
            sites.otherSites.push_back(site);
        }
        ++site;
    }
    if (p == 1 && site != sites.positions.size())
        rejectLine(in, "the file has fewer SNPs (" + toString<size_t>(site) + ") than " + file1 +
                           " (" + toString<size_t>(sites.positions.size()) + ")");
}

// Population 0 (rows [0, rows)), coded on allele 1, codes allele 0 at the
// sites whose REF texts differ; its frequencies there follow.
void codeAlleleZero(HaplotypeMatrix &data, size_t rows, const VcfSites &sites,
                    std::vector<double> &freqs) {
    size_t other = 0; // the first entry of `otherSites` not below the site
    for (size_t u = 0; u < sites.refDiffers.size(); ++u) {
        while (other < sites.otherSites.size() && sites.otherSites[other] < u) ++other;
        if (!sites.refDiffers[u]) continue;
        const bool kept = other < sites.otherSites.size() && sites.otherSites[other] == u;
        size_t ones = 0;
        for (size_t i = 0; i < data.slices.size() && data.slices[i].firstRow < rows; ++i) {
            HaplotypeSlice &slice = data.slices[i];
            uint64_t &word = slice.sites[u];
            if (kept) {
                QUINTOR_CHECK(i < sites.zeroCells.slices.size() &&
                              sites.zeroCells.slices[i].firstRow == slice.firstRow);
                word = sites.zeroCells.slices[i].sites[other];
            } else {
                word = ~word & sliceRowMask(slice, 0, rows);
            }
            ones += popcount64(word);
        }
        freqs[u] = static_cast<double>(ones) / static_cast<double>(rows);
    }
}

} // namespace

bool readVCFPhased(const std::string &path, const std::string &file1, const std::string &file2,
                   std::vector<int> &samplesizes, HaplotypeMatrix &data,
                   std::vector<std::vector<double>> &snpfreqs,
                   std::vector<std::vector<double>> &snpositions, int &refpop) {
    try {
        if (file1 == file2) {
            std::cout << "\nERROR: same two files under VCF format: " << file1 << " and " << file2
                      << "\n" << std::endl;
            return false;
        }
        if (samplesizes.size() < 2) samplesizes.resize(2);
        snpfreqs.resize(2);
        snpositions.resize(2);
        data.clear();
        std::vector<Column> columns;
        VcfSites sites;
        const std::vector<unsigned char> noZero;

        // Each file is read once, from its start to its end, so that input
        // that can be read only once (a pipe) does as well as a file.
        VcfInput in1;
        const long long n0 = openVcf(path, file1, false, in1, columns);
        if (n0 < 0) return false;
        samplesizes[0] = static_cast<int>(n0);
        snpfreqs[0].clear();
        readVcfSites(in1, 0, n0, 0, sites, noZero, data, snpfreqs[0], columns, file1);
        in1.stream.close();
        std::cout << "\nFile " << file1 << " was read" << std::endl;

        VcfInput in2;
        const long long n1 = openVcf(path, file2, true, in2, columns);
        if (n1 < 0) return false;
        samplesizes[1] = static_cast<int>(n1);
        if (n0 != n1) refpop = n0 < n1 ? 1 : 0;
        // The non-reference population codes allele 0 where the REF texts
        // differ; when that is population 1, each line's REF is compared
        // before its cells are coded, else population 0 is coded again now.
        snpfreqs[1].clear();
        readVcfSites(in2, 1, n1, static_cast<size_t>(2 * n0), sites,
                     refpop == 0 ? sites.refDiffers : noZero, data, snpfreqs[1], columns, file1);
        in2.stream.close();
        std::cout << "\nFile " << file2 << " was read" << std::endl;
        if (refpop == 1) codeAlleleZero(data, static_cast<size_t>(2 * n0), sites, snpfreqs[0]);
        sites.zeroCells.clear();

        const size_t S = sites.positions.size();
        std::cout << "\nBegin to parse data\n" << std::endl;
        std::cout << "\n Number of SNPs is " << S << std::endl;
        snpositions[0] = sites.positions;
        snpositions[1].swap(sites.positions);
        std::cout << "\n Sample sizes are " << n0 << " and " << n1 << std::endl;
        std::cout << "\nParsed pop " << 1 << std::endl;
        std::cout << "\nParsed pop " << 2 << std::endl;
        samplesizes[0] = static_cast<int>(2 * n0);
        samplesizes[1] = static_cast<int>(2 * n1);
        return true;
    } catch (...) {
        reportReadingException(file1, file2);
    }
    return false;
}
