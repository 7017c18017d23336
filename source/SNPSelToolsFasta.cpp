// SNPSelToolsFasta: the readers of aligned nucleotide sequences in FASTA text.
// All four read the text the same way and code the sequences the same way:
// a column's major is the reference population's most frequent nucleotide,
// and a cell is 1 where a sequence carries another nucleotide. They differ in
// how the sequences are split into the two populations: one file in halves,
// one file per population, by a tag in the headers, or dealt in turn.
#include "SNPSelTools.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iostream>

namespace {

// One sequence of the alignment: its header line ('>' included) and its text
// (upper-cased, without blanks or carriage returns).
struct FastaRecord {
    std::string header;
    std::string sequence;
};

// Sequences beyond this length cannot be held as 32-bit column numbers.
const size_t largestSequence = 2147483646;

// Drops every carriage return, so that a file with DOS line ends reads as its
// twin with plain line feeds.
void dropCarriageReturns(std::string &line) {
    size_t out = 0;
    for (char c : line)
        if (c != '\r') line[out++] = c;
    line.resize(out);
}

// Appends a sequence line to the sequence: blanks and carriage returns are
// dropped, letters upper-cased.
void appendSequenceLine(const std::string &line, std::string &sequence) {
    for (char c : line)
        if (c != ' ' && c != '\r')
            sequence.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
}

// Reads the FASTA text of path + file and appends its sequences to `records`.
// Lines before the first header are trimmed at their start and skipped when
// empty or comments; after it every line is taken whole. Returns false, with
// a message where there is something to say, when the file cannot be opened,
// holds no header, does not begin with one, or has a header without sequence
// text. A first sequence too long for the column numbering ends the process.
bool readFastaText(const std::string &path, const std::string &file,
                   std::vector<FastaRecord> &records) {
    std::ifstream stream;
    if (!openInputFile(path, file, stream, false)) return false;
    const std::string fullName = path + file;
    const size_t first = records.size();

    std::string line;
    long long lineNumber = 0;
    if (!nextDataLine(stream, line, lineNumber) || stream.eof()) return false;
    if (line[0] != '>') {
        std::cout << "\nEmpty file or wrong format when reading fasta " << fullName << "\n"
                  << std::endl;
        return false;
    }

    // A header must be followed by sequence text before the next header or
    // the end of the file: otherwise headers and sequences no longer pair up.
    long long headerLine = lineNumber;
    auto closeRecord = [&]() {
        if (!records.back().sequence.empty()) return true;
        std::cout << "\nERROR: Header " << records.back().header << " in file " << fullName
                  << " line " << headerLine << " is not followed by a sequence\n"
                  << std::endl;
        return false;
    };
    dropCarriageReturns(line);
    records.push_back({line, std::string()});
    while (std::getline(stream, line)) {
        ++lineNumber;
        if (line.empty()) continue;
        if (line[0] != '>') {
            appendSequenceLine(line, records.back().sequence);
            continue;
        }
        if (!closeRecord()) return false;
        headerLine = lineNumber;
        dropCarriageReturns(line);
        records.push_back({line, std::string()});
    }
    if (!closeRecord()) return false;

    if (records[first].sequence.size() > largestSequence)
        fatalError(0, "ERROR: Sequence too large in file " + file + "\n");
    return true;
}

// Every sequence must have the length of the first one; otherwise the
// process ends with the message.
void checkAligned(const std::vector<const FastaRecord *> &rows, const std::string &message) {
    for (const FastaRecord *record : rows)
        if (record->sequence.size() != rows[0]->sequence.size()) fatalError(0, message);
}

// The class of each character in a column count: 0 to 3 for the nucleotides
// A, C, G, T (in that order), 4 for any other character.
std::array<unsigned char, 256> nucleotideClasses() {
    std::array<unsigned char, 256> classes;
    classes.fill(4);
    unsigned char next = 0;
    for (const std::string &nucleotide : nucleotideSet)
        if (nucleotide.size() == 1 && next < 4)
            classes[static_cast<unsigned char>(nucleotide[0])] = next++;
    return classes;
}

}  // namespace

// Codes the aligned sequences (population 0's rows first, then population
// 1's, `samplesizes` rows each) into the haplotype matrix. The major of a
// column is the first most frequent of A, C, G, T and any other character
// among the rows of population `pref`; a column whose major is another
// character, or, with `nogaps`, that holds a gap in one of those rows, is
// removed. Cells are 1 where a row carries a nucleotide other than the major;
// positions are the columns' places in the alignment and frequencies the
// share of a population's rows with cell 1.
void codeFastaSequences(const bool &nogaps, const std::vector<const std::string *> &rows,
                        const std::vector<int> &samplesizes, int pref, HaplotypeMatrix &data,
                        std::vector<std::vector<double>> &snpfreqs,
                        std::vector<std::vector<double>> &snpositions) {
    QUINTOR_CHECK(samplesizes.size() == 2 && samplesizes[0] >= 1 && samplesizes[1] >= 1);
    QUINTOR_CHECK(rows.size() == static_cast<size_t>(samplesizes[0]) + samplesizes[1]);
    QUINTOR_CHECK(pref == 0 || pref == 1);
    const size_t columns = rows[0]->size();
    const std::array<unsigned char, 256> classes = nucleotideClasses();
    static const char majors[] = {'A', 'C', 'G', 'T', 'N'};

    // The majors are counted over the reference rows a block of columns at a
    // time, so that the counts stay small beside the sequences.
    const size_t refBegin = pref == 0 ? 0 : static_cast<size_t>(samplesizes[0]);
    const size_t refEnd = refBegin + static_cast<size_t>(samplesizes[pref]);
    const size_t blockColumns = 1 << 16;
    std::vector<std::array<uint32_t, 6>> counts;  // A, C, G, T, other, gaps
    std::vector<size_t> kept;
    std::vector<char> major;
    for (size_t begin = 0; begin < columns; begin += blockColumns) {
        const size_t end = std::min(columns, begin + blockColumns);
        counts.assign(end - begin, std::array<uint32_t, 6>{});
        for (size_t r = refBegin; r < refEnd; ++r) {
            const std::string &sequence = *rows[r];
            QUINTOR_CHECK(sequence.size() == columns);
            for (size_t i = begin; i < end; ++i) {
                const unsigned char c = static_cast<unsigned char>(sequence[i]);
                std::array<uint32_t, 6> &count = counts[i - begin];
                ++count[classes[c]];
                count[5] += c == '-';
            }
        }
        for (size_t i = begin; i < end; ++i) {
            const std::array<uint32_t, 6> &count = counts[i - begin];
            if (nogaps && count[5] > 0) continue;
            size_t best = 0;
            for (size_t k = 1; k < 5; ++k)
                if (count[k] > count[best]) best = k;
            if (best == 4) continue;
            kept.push_back(i);
            major.push_back(majors[best]);
        }
    }

    data.clear();
    snpfreqs.assign(2, std::vector<double>(kept.size(), 0.0));
    snpositions.assign(2, std::vector<double>(kept.size(), 0.0));
    std::vector<char> cells(kept.size());
    size_t r = 0;
    for (size_t p = 0; p < 2; ++p) {
        std::vector<double> &freqs = snpfreqs[p];
        for (size_t j = 0; j < kept.size(); ++j) snpositions[p][j] = static_cast<double>(kept[j]);
        for (int s = 0; s < samplesizes[p]; ++s, ++r) {
            const std::string &sequence = *rows[r];
            QUINTOR_CHECK(sequence.size() == columns);
            for (size_t j = 0; j < kept.size(); ++j) {
                const char c = sequence[kept[j]];
                const bool derived = classes[static_cast<unsigned char>(c)] < 4 && c != major[j];
                cells[j] = static_cast<char>(derived);
                freqs[j] += derived;
            }
            appendHaplotype(data, cells.data(), cells.size());
        }
        for (double &f : freqs) f /= samplesizes[p];
    }
}

namespace {

// Codes the two populations, population 0's records first.
void codePopulations(const bool &nogaps, const std::vector<const FastaRecord *> &rows,
                     const std::vector<int> &samplesizes, int pref, HaplotypeMatrix &data,
                     std::vector<std::vector<double>> &snpfreqs,
                     std::vector<std::vector<double>> &snpositions) {
    std::vector<const std::string *> sequences;
    sequences.reserve(rows.size());
    for (const FastaRecord *record : rows) sequences.push_back(&record->sequence);
    codeFastaSequences(nogaps, sequences, samplesizes, pref, data, snpfreqs, snpositions);
}

std::vector<const FastaRecord *> inFileOrder(const std::vector<FastaRecord> &records) {
    std::vector<const FastaRecord *> rows;
    rows.reserve(records.size());
    for (const FastaRecord &record : records) rows.push_back(&record);
    return rows;
}

// Writes one population's sequences as FASTA text to path + name, replacing
// the file. A file that cannot be written is reported and the run goes on.
void writeSubset(const std::string &fullName, const std::vector<const FastaRecord *> &rows) {
    std::ofstream out(fullName.c_str(), std::ios::out | std::ios::trunc);
    for (const FastaRecord *record : rows)
        out << record->header << "\n" << record->sequence << '\n';
    out.flush();
    if (!out) std::cout << "\nWARNING: could not write the file " << fullName << "\n" << std::endl;
}

// The name of the input file without its last extension (a point in a
// folder name does not count).
std::string subsetBase(const std::string &file) {
    const size_t slash = file.rfind('/');
    const size_t folderEnd = slash == std::string::npos ? 0 : slash + 1;
    return file.substr(0, folderEnd) +
           cutAtPattern(file.substr(folderEnd), ".", true, true);
}

// Splits the records into two populations by `inPopulation0`, checks that
// both are filled and aligned, codes them and writes the subset files.
// `separationError` is printed when a population stays empty, followed by
// `sizesPrefix` and the sizes.
template <typename Rule>
bool splitAndCode(const std::vector<FastaRecord> &records, Rule inPopulation0,
                  const std::string &separationError, const std::string &sizesPrefix,
                  const std::string &subsetName0, const std::string &subsetName1,
                  const bool &save, const bool &nogaps, const std::string &path,
                  const std::string &file, std::vector<int> &samplesizes, HaplotypeMatrix &data,
                  std::vector<std::vector<double>> &snpfreqs,
                  std::vector<std::vector<double>> &snpositions, int &refpop) {
    std::vector<const FastaRecord *> population0, population1;
    for (size_t k = 0; k < records.size(); ++k)
        (inPopulation0(k, records[k]) ? population0 : population1).push_back(&records[k]);
    samplesizes.assign({static_cast<int>(population0.size()), static_cast<int>(population1.size())});
    if (population0.empty() || population1.empty()) {
        std::cout << separationError << std::endl;
        std::cout << sizesPrefix << samplesizes[0] << '\t' << samplesizes[1] << '\t'
                  << records.size() << std::endl;
        return false;
    }
    std::vector<const FastaRecord *> rows(population0);
    rows.insert(rows.end(), population1.begin(), population1.end());
    checkAligned(rows, "ERROR: sequences must be aligned in " + file + "\n");

    refpop = samplesizes[0] < samplesizes[1];
    codePopulations(nogaps, rows, samplesizes, refpop, data, snpfreqs, snpositions);
    if (save) {
        const std::string base = path + subsetBase(file);
        writeSubset(base + subsetName0, population0);
        writeSubset(base + subsetName1, population1);
    }
    return true;
}

}  // namespace

bool readFasta(const bool &nogaps, const std::string &path, const std::string &file,
               std::vector<int> &samplesizes, HaplotypeMatrix &data,
               std::vector<std::vector<double>> &snpfreqs,
               std::vector<std::vector<double>> &snpositions) {
    std::vector<FastaRecord> records;
    if (!readFastaText(path, file, records)) return false;
    const int n = static_cast<int>(records.size());
    samplesizes.assign({n / 2, n - n / 2});
    if (n / 2 < 2) {
        std::cout << "\nERROR: low sample size found " << n / 2 << "\n" << std::endl;
        return false;
    }
    const std::vector<const FastaRecord *> rows = inFileOrder(records);
    checkAligned(rows, "ERROR: sequences must be aligned in " + file + "\n");
    codePopulations(nogaps, rows, samplesizes, samplesizes[0] < samplesizes[1], data, snpfreqs,
                    snpositions);
    return true;
}

bool readFastaTwoFiles(const bool &nogaps, const std::string &path, const std::string &file1,
                       const std::string &file2, std::vector<int> &samplesizes,
                       HaplotypeMatrix &data, std::vector<std::vector<double>> &snpfreqs,
                       std::vector<std::vector<double>> &snpositions, int &refpop) {
    std::vector<FastaRecord> records;
    if (!readFastaText(path, file1, records)) return false;
    const int samplesize1 = static_cast<int>(records.size());
    if (!readFastaText(path, file2, records)) return false;
    const int samplesize2 = static_cast<int>(records.size()) - samplesize1;

    const std::vector<const FastaRecord *> rows = inFileOrder(records);
    checkAligned(rows, "ERROR: sequences must be of the same length in files " + file1 + " and " +
                           file2 + "\n");
    samplesizes.assign({samplesize1, samplesize2});
    refpop = samplesize1 < samplesize2;
    codePopulations(nogaps, rows, samplesizes, refpop, data, snpfreqs, snpositions);
    return true;
}

bool readFastaByTag(const std::string &tag, const bool &save, const bool &nogaps,
                    const std::string &path, const std::string &file,
                    std::vector<int> &samplesizes, HaplotypeMatrix &data,
                    std::vector<std::vector<double>> &snpfreqs,
                    std::vector<std::vector<double>> &snpositions, int &refpop) {
    std::vector<FastaRecord> records;
    if (!readFastaText(path, file, records)) return false;
    auto tagged = [&tag](size_t, const FastaRecord &record) {
        return toLower(record.header).find(tag) != std::string::npos;
    };
    return splitAndCode(records, tagged, "\nERROR: The tag did not separate two populations\n",
                        tag + "\t", "_" + tag + ".fas", "_NON_" + tag + ".fas", save, nogaps, path,
                        file, samplesizes, data, snpfreqs, snpositions, refpop);
}

bool readFastaAlternating(const bool &save, const bool &nogaps, const std::string &path,
                          const std::string &file, std::vector<int> &samplesizes,
                          HaplotypeMatrix &data, std::vector<std::vector<double>> &snpfreqs,
                          std::vector<std::vector<double>> &snpositions, int &refpop) {
    std::vector<FastaRecord> records;
    if (!readFastaText(path, file, records)) return false;
    auto dealtFirst = [](size_t k, const FastaRecord &) { return k % 2 == 0; };
    return splitAndCode(records, dealtFirst, "\nERROR: Did not separate two populations\n", "",
                        "_rndPop1.fas", "_rndPop2_.fas", save, nogaps, path, file, samplesizes,
                        data, snpfreqs, snpositions, refpop);
}
