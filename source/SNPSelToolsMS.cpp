// SNPSelToolsMS: the readers of ms-format simulator output. A block is a
// segregating-sites line, a positions line and one 0/1 line per sampled
// chromosome; `readMS` reads one block per population, `readMSTwoSamples`
// one block holding both populations.
#include "SNPSelTools.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <system_error>
#include <utility>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

const char *const dashLine = "------------------------------------------------------------\n";

// An ms file being read, with the number of lines read so far. The stream
// reads through a buffer large enough for few reads of long sample lines.
struct MsInput {
    std::vector<char> buffer = std::vector<char>(1 << 18);
    std::ifstream stream;
    std::string fullName;
    long long lineNumber = 0;
};

// Reads the next line into `line` (emptied at the end of the input).
bool readLine(MsInput &in, std::string &line) {
    if (!std::getline(in.stream, line)) {
        line.clear();
        return false;
    }
    ++in.lineNumber;
    return true;
}

// Word separators of the ms lines: blank, tab, line feed, carriage return.
inline bool isWordSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// White space trimmed from the ends of a sample line (the C character class).
inline bool isBlankCharacter(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Finds the next word of the line at or after `from`: [begin, end). Returns
// false when no word is left; `from` moves past the word.
bool nextWord(const std::string &line, size_t &from, size_t &begin, size_t &end) {
    size_t i = from;
    while (i < line.size() && isWordSeparator(line[i])) ++i;
    if (i == line.size()) {
        from = i;
        return false;
    }
    begin = i;
    while (i < line.size() && !isWordSeparator(line[i])) ++i;
    end = from = i;
    return true;
}

// A segregating-sites line is one whose first word begins with "segsites";
// simulator command lines and seed lines are not.
bool isSegsitesLine(const std::string &line) {
    size_t from = 0, begin = 0, end = 0;
    if (!nextWord(line, from, begin, end)) return false;
    return end - begin >= 8 && line.compare(begin, 8, "segsites") == 0;
}

// Reads lines up to the next segregating-sites line. False when the input
// ends first, or ends on that very line (a last line without a line break).
bool findSegsitesLine(MsInput &in, std::string &line) {
    while (readLine(in, line)) {
        if (in.stream.eof()) return false;
        if (isSegsitesLine(line)) return true;
    }
    return false;
}

// The number of segregating sites: the line's second word as a decimal
// integer (its leading digits; none gives 0). Numbers beyond 32 bits are held
// at the nearest bound, so that a too large count meets the check for
// 2147483647. A line without a second word ends the process.
int segsitesCount(const MsInput &in, const std::string &line) {
    size_t from = 0, begin = 0, end = 0;
    nextWord(line, from, begin, end);
    if (!nextWord(line, from, begin, end))
        fatalError(1, "ERROR: There is a format problem reading segregating sites in file " +
                          in.fullName + " line " + toString(in.lineNumber) +
                          ": the number of segregating sites is missing\n");
    return textToInt(line.substr(begin, end - begin).c_str());
}

// Converts the word [begin, end) of the line as the C library's strtod reads
// a text of its own (leading numeric part; none gives 0.0).
// A decimal number without exponent of at most 15 significant digits, of
// which at most 22 after the point, as the ms positions are: its digits N
// and 10^k are exact doubles, so N / 10^k is the correctly rounded value, the
// one strtod gives. Reads from `text` up to the first character that cannot
// continue the number (`stop`); false when what it read is no such number.
bool shortDecimal(const char *text, const char *end, double &value, const char *&stop) {
    static const double powers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const uint64_t limit = 1000000000000000ull;  // 10^15: more than 15 digits from the first non-zero
    const bool negative = text < end && *text == '-';
    if (negative) ++text;
    uint64_t digits = 0;
    // Digits from `text` on, eight at a time where it can; false when they
    // pass the limit.
    auto readDigits = [&](int &count) {
        const char *first = text;
        while (end - text >= 8) {
            uint64_t chunk;
            std::memcpy(&chunk, text, 8);
            const uint64_t high = 0xF0F0F0F0F0F0F0F0ull;
            if (((chunk & high) | (((chunk + 0x0606060606060606ull) & high) >> 4)) != 0x3333333333333333ull)
                break;
            if (digits >= limit / 10000) return false;
            // The eight digits' value: pairs, then fours, then all eight.
            chunk -= 0x3030303030303030ull;
            chunk = chunk * 10 + (chunk >> 8);
            chunk = (((chunk & 0x000000FF000000FFull) * 0x000F424000000064ull) +
                     (((chunk >> 16) & 0x000000FF000000FFull) * 0x0000271000000001ull)) >> 32;
            digits = digits * 100000000 + (chunk & 0xFFFFFFFFull);
            text += 8;
        }
        for (; text < end && static_cast<unsigned char>(*text - '0') <= 9; ++text) {
            if (digits >= limit) return false;
            digits = digits * 10 + static_cast<unsigned char>(*text - '0');
        }
        count = static_cast<int>(text - first);
        return true;
    };
    int whole = 0, decimals = 0;
    if (!readDigits(whole)) return false;
    if (text < end && *text == '.') {
        ++text;
        if (!readDigits(decimals)) return false;
    }
    stop = text;
    if (whole + decimals == 0 || digits >= limit || decimals > 22) return false;
    value = static_cast<double>(digits) / powers[decimals];
    if (negative) value = -value;
    return true;
}

double wordToDouble(const std::string &line, size_t begin, size_t end) {
    // A plain decimal number, read whole, is read the same (correctly
    // rounded) by from_chars, and much faster.
    double value = 0.0;
    const char *stop = nullptr;
    if (shortDecimal(line.data() + begin, line.data() + end, value, stop) && stop == line.data() + end)
        return value;
    const std::from_chars_result read = std::from_chars(line.data() + begin, line.data() + end, value);
    if (read.ec == std::errc() && read.ptr == line.data() + end) return value;
    const char *start = line.c_str() + begin;
    if (*start != '\f' && *start != '\v') {
        char *stop = nullptr;
        value = std::strtod(start, &stop);
        if (stop <= line.c_str() + end) return value;
    }
    // strtod would skip the form feed or vertical tab into the next word.
    return std::strtod(line.substr(begin, end - begin).c_str(), nullptr);
}

// Splits a positions line in one pass: false when its first word is not
// "positions:"; otherwise `positions` holds every further word converted.
bool parsePositions(const std::string &line, int segsites, std::vector<double> &positions) {
    positions.clear();
    size_t from = 0, begin = 0, end = 0;
    if (!nextWord(line, from, begin, end) || line.compare(begin, end - begin, "positions:") != 0)
        return false;
    if (segsites > 0)
        positions.reserve(std::min(static_cast<size_t>(segsites), line.size() / 2 + 1));
    const char *const lineEnd = line.data() + line.size();
    while (true) {
        while (from < line.size() && isWordSeparator(line[from])) ++from;
        if (from == line.size()) break;
        // A short decimal ending the word is read in the same pass.
        double value = 0.0;
        const char *stop = nullptr;
        if (shortDecimal(line.data() + from, lineEnd, value, stop) &&
            (stop == lineEnd || isWordSeparator(*stop))) {
            positions.push_back(value);
            from = static_cast<size_t>(stop - line.data());
            continue;
        }
        nextWord(line, from, begin, end);
        positions.push_back(wordToDouble(line, begin, end));
    }
    return true;
}

// Sample lines turned into rows of bits (bit s % 64 of word s / 64 is the
// cell of site s: 1 for '1', else 0), handed to the matrix 64 rows at a time
// and at the end of each population, so that a population's rows start a
// slice of their own.
struct RowPacker {
    size_t sites = 0;
    size_t stride = 0; // words per row
    size_t rows = 0;   // rows waiting
    std::vector<uint64_t> bits;
};

// Every row written fills its words, so the buffer is only sized (and kept
// from one population to the next).
void startRows(RowPacker &packer, size_t sites) {
    packer.sites = sites;
    packer.stride = (sites + 63) / 64;
    packer.rows = 0;
    if (packer.bits.size() < 64 * packer.stride) packer.bits.resize(64 * packer.stride);
}

// Room for a positions line of S positions, so that reading it takes no
// repeated growth (a bound keeps a wrong S from asking too much).
void reservePositionsLine(std::string &line, int segsites) {
    const size_t positions = static_cast<size_t>(std::min(std::max(segsites, 0), 1 << 24));
    line.reserve(16 + 16 * positions);
}

void flushRows(RowPacker &packer, HaplotypeMatrix &data) {
    if (packer.rows == 0) return;
    appendHaplotypeBits(data, packer.bits.data(), packer.rows, packer.stride, packer.sites);
    packer.rows = 0;
}

#ifdef __SSE2__
// Bit k is set when byte k of the 64 bytes is '1'.
inline uint64_t onesOfSixtyFour(const char *text) {
    const __m128i one = _mm_set1_epi8('1');
    uint64_t bits = 0;
    for (unsigned k = 0; k < 4; ++k) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + 16 * k));
        const uint64_t mask = static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, one)));
        bits |= mask << (16 * k);
    }
    return bits;
}
#else
// Bit k is set when byte k of the eight bytes is '1'.
inline uint64_t onesOfEight(const char *text) {
    uint64_t x;
    std::memcpy(&x, text, 8);
    const uint64_t t = x ^ 0x3131313131313131ull; // zero bytes where '1'
    const uint64_t low = (t & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full;
    const uint64_t zero = ~(low | t) & 0x8080808080808080ull; // high bit of each zero byte
    // Gathers the eight high bits, byte k's into bit k.
    return ((zero >> 7) * 0x0102040810204080ull) >> 56;
}

inline uint64_t onesOfSixtyFour(const char *text) {
    uint64_t bits = 0;
    for (unsigned k = 0; k < 8; ++k) bits |= onesOfEight(text + 8 * k) << (8 * k);
    return bits;
}
#endif

// Adds the characters [begin, begin + sites) of the line as the next row.
void appendRow(const std::string &line, size_t begin, RowPacker &packer, HaplotypeMatrix &data) {
    const char *cells = line.data() + begin;
    uint64_t *word = packer.bits.data() + packer.rows * packer.stride;
    const size_t full = packer.sites / 64;
    for (size_t w = 0; w < full; ++w, cells += 64) word[w] = onesOfSixtyFour(cells);
    if (full < packer.stride) {
        uint64_t bits = 0;
        for (size_t s = 0; s < packer.sites - full * 64; ++s)
            bits |= static_cast<uint64_t>(cells[s] == '1') << s;
        word[full] = bits;
    }
    if (++packer.rows == 64) flushRows(packer, data);
}

// Ends the process when the file ends before a block's sample lines do.
[[noreturn]] void rejectTruncatedBlock(int code, const MsInput &in, int sampleLine,
                                       const std::string &pop) {
    fatalError(code, "ERROR: In file " + in.fullName + ". The file ends after line " +
                         toString(in.lineNumber) + " before sample " + toString(sampleLine) +
                         " in pop " + pop + "\n");
}

// Rejects a positions line: not starting with "positions:" (status 2), or
// with a number of positions other than S (status 3). `where` names the
// population or the file, as the reader's messages do.
void checkPositions(bool wellFormed, const std::vector<double> &positions, int segsites,
                    const std::string &where) {
    if (!wellFormed)
        fatalError(2, "ERROR: There is a format problem reading positions in " + where + "\n");
    if (static_cast<long long>(positions.size()) != segsites)
        fatalError(3, "ERROR: There is a problem reading positions in " + where +
                          " Expected number of positions " + toString(segsites) +
                          " was different of observed " + toString(positions.size()) + "\n");
}

// Rejects (status 2) a position that is not a finite number: such a position
// has no place on the sequence.
void checkFinitePositions(const MsInput &in, const std::vector<double> &positions,
                          const std::string &where) {
    for (double x : positions)
        if (!std::isfinite(x))
            fatalError(2, "ERROR: There is a format problem reading positions in " + where +
                              " line " + toString(in.lineNumber) + ": position " + toString(x) +
                              " is not a finite number\n");
}

std::string haploSizeMessage(int sampleLine, const std::string &pop, int segsites,
                             size_t length) {
    return "ERROR: In sample " + toString(sampleLine) +
           " there is a problem with haplotype size in pop " + pop + " Expected haplo size " +
           toString(segsites) + " was different of observed " + toString(length) + "\n";
}

std::string dataSizeMessage(const std::string &fullName, size_t rows, long long expected) {
    return "ERROR: In file " + fullName + ". There is a problem with data size which is " +
           toString(rows) + " and should be " + toString(expected) + "\n";
}

// Reads `count` sample lines of the two-sample block, taken as read apart
// from a carriage return at the end (a file with DOS line ends). `sampleLine`
// goes on counting across both populations.
void readTwoSampleGroup(MsInput &in, std::string &line, int count, int segsites, int code,
                        const std::string &pop, int &sampleLine, RowPacker &packer,
                        HaplotypeMatrix &data) {
    startRows(packer, static_cast<size_t>(std::max(segsites, 0)));
    for (int n = 0; n < count; ++n) {
        ++sampleLine;
        if (!readLine(in, line)) rejectTruncatedBlock(code, in, sampleLine, pop);
        size_t length = line.size();
        if (length > 0 && line[length - 1] == '\r') --length;
        if (length != static_cast<size_t>(segsites))
            fatalError(code, haploSizeMessage(sampleLine, pop, segsites, length));
        appendRow(line, 0, packer, data);
    }
    flushRows(packer, data);
}

}  // namespace

bool readMS(const std::string &path, const std::string &fileName, int &sample,
            HaplotypeMatrix &data, std::vector<std::vector<double>> &snpositions) {
    MsInput in;
    in.stream.rdbuf()->pubsetbuf(in.buffer.data(), static_cast<std::streamsize>(in.buffer.size()));
    if (!openInputFile(path, fileName, in.stream, false)) return false;
    in.fullName = path + fileName;
    snpositions.clear();

    std::vector<int> blocks;  // S of each block read so far
    std::string line;
    std::vector<double> positions;
    RowPacker packer;
    while (findSegsitesLine(in, line)) {
        const int segsites = segsitesCount(in, line);
        blocks.push_back(segsites);
        const std::string pop = toString(blocks.size());
        std::cout << "Read segsites " << segsites << std::endl;
        if (segsites == INT_MAX)
            fatalError(0, "ERROR: There is an excessive number of segregating sites in pop " +
                              pop + "\n");

        std::cout << "Reading positions..." << std::endl;
        reservePositionsLine(line, segsites);
        // The last line of the file stands for the positions line when none
        // begins with 'p'; an empty last line fails the check below.
        while (readLine(in, line) && (line.empty() || line[0] != 'p') && !in.stream.eof()) {
        }
        const bool wellFormed = parsePositions(line, segsites, positions);
        checkPositions(wellFormed, positions, segsites, "pop " + pop);
        checkFinitePositions(in, positions, "pop " + pop + " of file " + in.fullName);
        snpositions.push_back(positions);
        std::string().swap(line);  // a long positions line is not kept for the sample lines

        std::cout << "Reading sample of size " << sample << std::endl;
        startRows(packer, static_cast<size_t>(std::max(segsites, 0)));
        for (int j = 1; j <= sample; ++j) {
            if (!readLine(in, line)) rejectTruncatedBlock(4, in, j, pop);
            size_t begin = 0, end = line.size();
            while (begin < end && isBlankCharacter(line[begin])) ++begin;
            while (end > begin && isBlankCharacter(line[end - 1])) --end;
            if (end - begin != static_cast<size_t>(segsites))
                fatalError(4, haploSizeMessage(j, pop, segsites, end - begin));
            appendRow(line, begin, packer, data);
        }
        flushRows(packer, data);
    }
    if (blocks.empty()) return false;

    const long long expected = static_cast<long long>(blocks.size()) * sample;
    if (static_cast<long long>(data.size()) != expected)
        fatalError(5, dataSizeMessage(in.fullName, data.size(), expected));
    std::cout << dashLine << std::endl;
    in.stream.close();
    return true;
}

bool readMSTwoSamples(const std::string &path, const std::string &fileName, int &total,
                      int &sample, int &sample2, HaplotypeMatrix &data,
                      std::vector<std::vector<double>> &snpositions) {
    MsInput in;
    in.stream.rdbuf()->pubsetbuf(in.buffer.data(), static_cast<std::streamsize>(in.buffer.size()));
    if (!openInputFile(path, fileName, in.stream, false)) return false;
    in.fullName = path + fileName;
    snpositions.clear();
    snpositions.resize(2);

    std::string line;
    if (!findSegsitesLine(in, line)) return false;
    const int segsites = segsitesCount(in, line);
    std::cout << "Read segsites " << segsites << std::endl;
    if (segsites == INT_MAX)
        fatalError(0, "ERROR: There is an excessive number of segregating sites in pop " +
                          toString(1) + "\n");

    std::cout << "Reading positions..." << std::endl;
    reservePositionsLine(line, segsites);
    bool positionsFound = false;
    while (readLine(in, line) && !in.stream.eof()) {
        if (!line.empty() && line[0] == 'p') {
            positionsFound = true;
            break;
        }
    }
    // Without a positions line no row is read and the row count below fails.
    if (positionsFound) {
        std::vector<double> positions;
        const bool wellFormed = parsePositions(line, segsites, positions);
        checkPositions(wellFormed, positions, segsites, "file " + in.fullName);
        checkFinitePositions(in, positions, "file " + in.fullName);
        std::string().swap(line);  // a long positions line is not kept for the sample lines

        // Each position must exceed the one before it; one that does not is
        // moved up by 1e-07 (once, without a further check). Every note is
        // printed; "Quintor.log" keeps the last one.
        double prev = -1.0;
        std::string lastNote;
        for (double &x : positions) {
            if (x <= prev) {
                std::string note = "ERROR: There is a problem with repeated positions in file " +
                                   in.fullName + " Positions " + toString(x) +
                                   " is equal to previous one " + toString(prev) + "\n";
                x += 1e-07;
                note += "The position is updated to " + toString(x) + "\n";
                std::cout.precision(12);
                std::cout << note << std::endl;
                lastNote.swap(note);
            }
            prev = x;
        }
        if (!lastNote.empty()) writeLogFile(4, lastNote, false);

        snpositions[0] = positions;
        int sampleLine = 0;
        RowPacker packer;
        std::cout << "Reading sample of size " << sample << std::endl;
        readTwoSampleGroup(in, line, sample, segsites, 5, "0", sampleLine, packer, data);
        snpositions[1] = std::move(positions);
        std::cout << "Reading sample of size " << sample2 << std::endl;
        readTwoSampleGroup(in, line, sample2, segsites, 6, "1", sampleLine, packer, data);
    }

    if (static_cast<long long>(data.size()) != total)
        fatalError(7, dataSizeMessage(in.fullName, data.size(), total));
    std::cout << dashLine << std::endl;
    in.stream.close();
    return true;
}
