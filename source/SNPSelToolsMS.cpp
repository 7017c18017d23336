// SNPSelToolsMS: the readers of ms-format simulator output. A block is a
// segregating-sites line, a positions line and one 0/1 line per sampled
// chromosome; `readMS` reads one block per population, `readMSTwoSamples`
// one block holding both populations.
#include "SNPSelTools.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <utility>

namespace {

const char *const dashLine = "------------------------------------------------------------\n";

// An ms file being read, with the number of lines read so far.
struct MsInput {
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

// Prints the message and ends the process with the code through errorExit.
[[noreturn]] void rejectFile(int code, const std::string &message) {
    std::cout << message << std::endl;
    errorExit(code, message);
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
        rejectFile(1, "ERROR: There is a format problem reading segregating sites in file " +
                          in.fullName + " line " + toString(in.lineNumber) +
                          ": the number of segregating sites is missing\n");
    return textToInt(line.substr(begin, end - begin).c_str());
}

// Converts the word [begin, end) of the line as the C library's strtod reads
// a text of its own (leading numeric part; none gives 0.0).
double wordToDouble(const std::string &line, size_t begin, size_t end) {
    const char *start = line.c_str() + begin;
    if (*start != '\f' && *start != '\v') {
        char *stop = nullptr;
        const double value = std::strtod(start, &stop);
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
    while (nextWord(line, from, begin, end)) positions.push_back(wordToDouble(line, begin, end));
    return true;
}

// Appends the characters [begin, end) of the line as a row: 1 for '1', else 0.
void appendRow(std::string &line, size_t begin, size_t end, HaplotypeMatrix &data) {
    for (size_t i = begin; i < end; ++i) line[i] = static_cast<char>(line[i] == '1');
    appendHaplotype(data, line.data() + begin, end - begin);
}

// Ends the process when the file ends before a block's sample lines do.
[[noreturn]] void rejectTruncatedBlock(int code, const MsInput &in, int sampleLine,
                                       const std::string &pop) {
    rejectFile(code, "ERROR: In file " + in.fullName + ". The file ends after line " +
                         toString(in.lineNumber) + " before sample " + toString(sampleLine) +
                         " in pop " + pop + "\n");
}

// Rejects a positions line: not starting with "positions:" (status 2), or
// with a number of positions other than S (status 3). `where` names the
// population or the file, as the reader's messages do.
void checkPositions(bool wellFormed, const std::vector<double> &positions, int segsites,
                    const std::string &where) {
    if (!wellFormed)
        rejectFile(2, "ERROR: There is a format problem reading positions in " + where + "\n");
    if (static_cast<long long>(positions.size()) != segsites)
        rejectFile(3, "ERROR: There is a problem reading positions in " + where +
                          " Expected number of positions " + toString(segsites) +
                          " was different of observed " + toString(positions.size()) + "\n");
}

// Rejects (status 2) a position that is not a finite number: such a position
// has no place on the sequence.
void checkFinitePositions(const MsInput &in, const std::vector<double> &positions,
                          const std::string &where) {
    for (double x : positions)
        if (!std::isfinite(x))
            rejectFile(2, "ERROR: There is a format problem reading positions in " + where +
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
                        const std::string &pop, int &sampleLine, HaplotypeMatrix &data) {
    for (int n = 0; n < count; ++n) {
        ++sampleLine;
        if (!readLine(in, line)) rejectTruncatedBlock(code, in, sampleLine, pop);
        size_t length = line.size();
        if (length > 0 && line[length - 1] == '\r') --length;
        if (length != static_cast<size_t>(segsites))
            rejectFile(code, haploSizeMessage(sampleLine, pop, segsites, length));
        appendRow(line, 0, length, data);
    }
}

}  // namespace

bool readMS(const std::string &path, const std::string &fileName, int &sample,
            HaplotypeMatrix &data, std::vector<std::vector<double>> &snpositions) {
    MsInput in;
    if (!openInputFile(path, fileName, in.stream, false)) return false;
    in.fullName = path + fileName;
    snpositions.clear();

    std::vector<int> blocks;  // S of each block read so far
    std::string line;
    std::vector<double> positions;
    while (findSegsitesLine(in, line)) {
        const int segsites = segsitesCount(in, line);
        blocks.push_back(segsites);
        const std::string pop = toString(blocks.size());
        std::cout << "Read segsites " << segsites << std::endl;
        if (segsites == INT_MAX)
            rejectFile(0, "ERROR: There is an excessive number of segregating sites in pop " +
                              pop + "\n");

        std::cout << "Reading positions..." << std::endl;
        // The last line of the file stands for the positions line when none
        // begins with 'p'; an empty last line fails the check below.
        while (readLine(in, line) && (line.empty() || line[0] != 'p') && !in.stream.eof()) {
        }
        const bool wellFormed = parsePositions(line, segsites, positions);
        checkPositions(wellFormed, positions, segsites, "pop " + pop);
        checkFinitePositions(in, positions, "pop " + pop + " of file " + in.fullName);
        snpositions.push_back(positions);

        std::cout << "Reading sample of size " << sample << std::endl;
        for (int j = 1; j <= sample; ++j) {
            if (!readLine(in, line)) rejectTruncatedBlock(4, in, j, pop);
            size_t begin = 0, end = line.size();
            while (begin < end && isBlankCharacter(line[begin])) ++begin;
            while (end > begin && isBlankCharacter(line[end - 1])) --end;
            if (end - begin != static_cast<size_t>(segsites))
                rejectFile(4, haploSizeMessage(j, pop, segsites, end - begin));
            appendRow(line, begin, end, data);
        }
    }
    if (blocks.empty()) return false;

    const long long expected = static_cast<long long>(blocks.size()) * sample;
    if (static_cast<long long>(data.size()) != expected)
        rejectFile(5, dataSizeMessage(in.fullName, data.size(), expected));
    std::cout << dashLine << std::endl;
    in.stream.close();
    return true;
}

bool readMSTwoSamples(const std::string &path, const std::string &fileName, int &total,
                      int &sample, int &sample2, HaplotypeMatrix &data,
                      std::vector<std::vector<double>> &snpositions) {
    MsInput in;
    if (!openInputFile(path, fileName, in.stream, false)) return false;
    in.fullName = path + fileName;
    snpositions.clear();
    snpositions.resize(2);

    std::string line;
    if (!findSegsitesLine(in, line)) return false;
    const int segsites = segsitesCount(in, line);
    std::cout << "Read segsites " << segsites << std::endl;
    if (segsites == INT_MAX)
        rejectFile(0, "ERROR: There is an excessive number of segregating sites in pop " +
                          toString(1) + "\n");

    std::cout << "Reading positions..." << std::endl;
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
        std::cout << "Reading sample of size " << sample << std::endl;
        readTwoSampleGroup(in, line, sample, segsites, 5, "0", sampleLine, data);
        snpositions[1] = std::move(positions);
        std::cout << "Reading sample of size " << sample2 << std::endl;
        readTwoSampleGroup(in, line, sample2, segsites, 6, "1", sampleLine, data);
    }

    if (static_cast<long long>(data.size()) != total)
        rejectFile(7, dataSizeMessage(in.fullName, data.size(), total));
    std::cout << dashLine << std::endl;
    in.stream.close();
    return true;
}
