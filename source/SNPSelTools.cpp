// SNPSelTools: error log and run log, the command line and its help, the text
// helpers and the input-file opener shared by the readers.
#include "SNPSelTools.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iostream>

// ---------------------------------------------------------------------------
// Error log, run log and fatal exit
// ---------------------------------------------------------------------------

namespace {
std::string unwritableFileMessage(const std::string &name) {
    return "\nERROR: \nCould not write the file " + name + "\n";
}
} // namespace

void errorExit(int code, const std::string &message) {
    // The process ends with the code even when the error log cannot hold it.
    if (!writeMessageToFile(code, message, "Quintor_ERROR.log", false))
        std::cout << unwritableFileMessage("Quintor_ERROR.log") << std::endl;
    std::exit(failureStatus(code));
}

void fatalError(int code, const std::string &message) {
    std::cout << message << std::endl;
    errorExit(code, message);
}

void writeLogFile(int code, const std::string &message, bool fatal) {
    if (fatal) errorExit(code, message);
    if (!writeMessageToFile(code, message, "Quintor.log", false)) failedWrite("Quintor.log");
}

void failedWrite(const std::string &name) {
    fatalError(1, unwritableFileMessage(name));
}

// ---------------------------------------------------------------------------
// Command line and help
// ---------------------------------------------------------------------------

namespace {

// Ends the process with the message about a word that is no option.
[[noreturn]] void unrecognisedWord(const char *word) {
    std::cerr << "\n Quintor ERROR:" << word << " is not a valid command line parameter\n"
              << std::endl;
    std::exit(1);
}

const int32_t largestValue = 2147483646;

bool inRange(int32_t value, int32_t low, int32_t high) { return value >= low && value <= high; }

// One row of the option table: its words, and what its value does. The store
// function converts and stores the value and tells whether it is in range.
struct OptionRow {
    std::vector<const char *> words;
    std::function<bool(const char *)> store;
};

bool flagValue(const char *value) { return textToInt(value) != 0; }

} // namespace

void parseArguments(int argc, char *argv[], Settings &s, bool &oldSweep, bool &verbose) {
    if (argc < 2) return;

    auto text = [](std::string &target) {
        return [&target](const char *value) { target = value; return true; };
    };
    auto flag = [](bool &target) {
        return [&target](const char *value) { target = flagValue(value); return true; };
    };
    auto integer = [](int32_t &target, int32_t low, int32_t high) {
        return [&target, low, high](const char *value) {
            target = textToInt(value);
            return inRange(target, low, high);
        };
    };

    // The options in the order in which a word is compared with them.
    const std::vector<OptionRow> options = {
        {{"-tag"}, text(s.fastaTag)},
        {{"-nogaps"}, flag(s.noGaps)},
        {{"-store", "-save"}, flag(s.saveSubsets)},
        {{"-old"}, flag(oldSweep)},
        {{"-path"}, text(s.path)},
        {{"-format"}, text(s.format)},
        {{"-singlepopfile"}, flag(s.onepopbyfile)},
        {{"-rsidInfo"}, flag(s.rsidInfo)},
        {{"-onlyrsidInfo"}, flag(s.onlyrsidInfo)},
        {{"-inputfile", "-inputfile1", "-input", "-input1"},
         [&s](const char *value) { s.input1 = value; s.inputGiven = true; return true; }},
        {{"-inputfile2", "-input2"}, text(s.input2)},
        {{"-outputfile", "-output"}, text(s.output)},
        {{"-runs"}, integer(s.runs, 1, largestValue)},
        {{"-reference"},
         [&s](const char *value) {
             const int32_t number = textToInt(value);
             s.popforHB = static_cast<int32_t>(static_cast<int64_t>(number) - 1);
             return number == 1 || number == 2;
         }},
        {{"-sample"}, integer(s.sample, 3, largestValue)},
        {{"-sample2"}, integer(s.sample2, 0, largestValue)},
        {{"-window"},
         [&s](const char *value) {
             s.fixwinsize = textToInt(value);
             return s.fixwinsize == 0 || inRange(s.fixwinsize, 7, largestValue);
         }},
        {{"-minwin"}, integer(s.minWinSize, 7, largestValue)},
        {{"-maxwin"}, integer(s.MaxWinSize, -largestValue - 1, largestValue)},
        {{"-maf"},
         [&s](const char *value) {
             s.maf = std::atof(value);
             return s.maf >= 0.0 && s.maf <= 1.0;
         }},
        {{"-SL"},
         [&s](const char *value) {
             s.SL = std::atof(value);
             return s.SL >= 0.0;
         }},
        {{"-cutoff"}, [&s](const char *value) { s.numdesvs = std::atof(value); return true; }},
        {{"-doEOS", "-DOEOS", "-DoEos", "-DoEOS", "-doEos", "-doeos"}, flag(s.doEOS)},
        {{"-onlyEOS"}, flag(s.onlyEOS)},
        {{"-EPOH"}, flag(s.EPOH)},
        {{"-fixseed"}, flag(s.fixseed)},
        {{"-useblocks"}, flag(s.useblocks)},
        {{"-verbose"}, flag(verbose)},
    };

    bool allInRange = true;
    int32_t badPosition = 0;
    int32_t i = 1;
    while (i < argc) {
        const std::string word = argv[i];
        if (word == "-help" || word == "-h") {
            printHelp(std::cout, s.version);
            std::exit(0);
        }
        if (word == "-selectives" && i + 1 < argc) {
            // Every following word that begins with a number is a position.
            ++i;
            char *end = nullptr;
            while (i < argc) {
                const double value = std::strtod(argv[i], &end);
                if (end == argv[i]) break;
                s.selectives.push_back(value);
                ++i;
            }
            // The word that ended the list is matched in its turn, unless it
            // is the last word of the line, which is then ignored.
            if (i == argc - 1 && std::string(argv[i]) != "-help" && std::string(argv[i]) != "-h")
                break;
            continue;
        }
        const OptionRow *row = nullptr;
        for (const OptionRow &candidate : options) {
            for (const char *name : candidate.words)
                if (word == name) row = &candidate;
            if (row) break;
        }
        if (!row) unrecognisedWord(argv[i]);
        // An option whose value is missing at the end of the line is ignored.
        if (i + 1 >= argc) break;
        if (!row->store(argv[i + 1])) {
            allInRange = false;
            badPosition = i + 1;
        }
        i += 2;
    }
    if (!allInRange) {
        const std::string message = "\nQuintor CONSOLE ARGUMENT ERROR: Check argument " +
                                    toString<int>(badPosition / 2) + ".\n";
        fatalError(badPosition, message);
    }
}

void printHelp(std::ostream &out, const float &version) {
    static const char *const shortLines[] = {
        "\t [-cutoff cutoff for EOS test]\n",
        "\t [-help | -h]\n",
        "\t [-format format of the input file]\n",
        "\t [-input input file]\n",
        "\t [-input2 input a second file]\n",
        "\t [-maf MAF]\n",
        "\t [-maxwin MaxWinSize]\n",
        "\t [-minwin minWinSize]\n",
        "\t [-onlyEOS do nvdFST or not]\n",
        "\t [-onlyrsidInfo]\n",
        "\t [-output output file]\n",
        "\t [-path path]\n",
        "\t [-sample sample size]\n",
        "\t [-sample2 sample size]\n",
        "\t [-selectives]\n",
        "\t [-singlepopfile]\n",
        "\t [-SL significance level]\n",
        "\t [-verbose]\n",
        "\t [-window window size]\n",
    };
    static const char *const paragraphs[] = {
        "\t-cutoff <DOUBLE>\n. Define the value numdesvs in the computation of cutoff = "
        "fsttot+numdesvs*maxdev for the EOS test. Default is 1.\n",
        "\t-help|-h\nDisplays this help message.\n",
        "\t-format <STRING>\n. Specifies the format of the input file]\n",
        "\t-input <STRING>\n. Specifies the name of the input file. If defined when runs > 1 "
        "the run number from 0 to runs-1 will be added to it. \n",
        "\t-input2 <STRING>\n. Specifies the name of the second input file. It is considered "
        "only when the argument -singlepopfile is set to 1. \n",
        "\t-maf <DOUBLE>\n. Defines the minor allele frequency in the sample to consider a "
        "site as informative  (default is 0.05).\n",
        "\t-maxwin <INTEGER>\n. Defines the maximum window size (default is the total number "
        "of SNPs) under the variable window size setting. \n",
        "\t-minwin <INTEGER>\n. Defines the minimum window size (default is 11, the minimum "
        "available is 7).\n",
        "\t-onlyEOS <INTEGER>\n. By default is 0 and both tests are performed. If set to 1 "
        "then only the EOS test is performed. In any case, if the input formats are BS or GP "
        "only the EOS test is performed. \n",
        "\t-onlyrsidInfo <INTEGER>\n. By default is 0. When set to 1 the program generates an "
        "output file with the names, positions and frequencies of the whole set of analyzed "
        "SNPs.\n",
        "\t-output <STRING>\n. Specifies the header for the name of the output file.\n",
        "\t-path <STRING>\n. Specifies the path to the input file.\n",
        "\t-sample <INTEGER>\n. Defines the number of alignments for each population sample "
        "(50 by default).\n",
        "\t-sample2 <INTEGER>\n. Under the MS format, defines the number of alignments for a "
        "second population sample (0 by default).\n",
        "\t-selectives <DOUBLE>\n. User defined candidate sites to look for selection (if "
        "there are more than one value they must be separated by spaces).\n",
        "\t-singlepopfile <INTEGER>\n. By default is 0 so it is assumed that there are two "
        "populations in a file. When set to 1 under HM format, two different filenames "
        "(-input and -input2, one for each population) are needed. \n",
        "\t-SL <DOUBLE>\n. Defines the significance level(0.05 by default).\n",
        "\t-verbose <INTEGER>\n. By default is 0. If set to 1 then the program gives explicit "
        "information as the different steps are performed through the program. A log file is "
        "output at the end.\n",
        "\t-window <INTEGER>\n. Defines the fixed window size (0 by default). If 0 the window "
        "size will be variable.\n",
    };
    std::ostringstream versionText;
    versionText << version;
    out << "\n\n";
    out << " Quintor v" << versionText.str() << "\n\n";
    for (const char *line : shortLines) out << line;
    out << "\n\n";
    for (const char *paragraph : paragraphs) out << paragraph;
    out << "\n" << std::endl;
}

// ---------------------------------------------------------------------------
// Text helpers, input-file opening and reader globals
// ---------------------------------------------------------------------------

std::string commentPrefix;
std::set<std::string> nucleotideSet;
const std::string readerBlanks = " \f\n\r\t\v";

namespace {
// Builds the reader globals before main runs.
struct ReaderGlobalsInit {
    ReaderGlobalsInit() { initReaderGlobals(); }
};
} // namespace

void initReaderGlobals() {
    commentPrefix = "#";
    nucleotideSet = {"A", "C", "G", "T"};
}

static ReaderGlobalsInit readerGlobalsInit;

std::string toLower(const std::string &text) {
    std::string lower(text);
    for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

namespace {
// Splits the text into the maximal runs of characters that are not separators.
std::vector<std::string> splitOn(const std::string &text, const std::string &separators) {
    std::vector<std::string> tokens;
    size_t start = text.find_first_not_of(separators);
    while (start != std::string::npos) {
        const size_t end = text.find_first_of(separators, start);
        tokens.push_back(text.substr(start, end == std::string::npos ? std::string::npos
                                                                       : end - start));
        start = end == std::string::npos ? end : text.find_first_not_of(separators, end);
    }
    return tokens;
}
} // namespace

std::vector<std::string> splitOnWhitespace(const std::string &text) {
    return splitOn(text, " \t\n\r");
}

std::vector<std::string> splitOnChar(const std::string &text, const char separator) {
    return splitOn(text, std::string(1, separator) + "\n\r");
}

void trimLeading(std::string &text, const std::string &characters) {
    const size_t start = text.find_first_not_of(characters);
    if (start == std::string::npos) text.clear();
    else text.erase(0, start);
}

std::string cutAtPattern(const std::string &text, const std::string &pattern, bool keepBefore,
                         bool fromEnd) {
    const size_t at = fromEnd ? text.rfind(pattern) : text.find(pattern);
    if (at == std::string::npos) return text;
    return keepBefore ? text.substr(0, at) : text.substr(at);
}

int32_t textToInt(const char *text) {
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

bool LineReader::next(const char *&begin, const char *&end) {
    size_t scanned = 0;
    for (;;) {
        const char *base = buffer.data();
        const void *feed = std::memchr(base + start + scanned, '\n', filled - start - scanned);
        if (feed != nullptr || (inputEnded && start < filled)) {
            begin = base + start;
            end = feed != nullptr ? static_cast<const char *>(feed) : base + filled;
            start = static_cast<size_t>(end - base) + (feed != nullptr ? 1 : 0);
            ++lineNumber;
            return true;
        }
        if (inputEnded) return false;
        // Keep the part of a line read so far at the front, then read on.
        scanned = filled - start;
        std::memmove(buffer.data(), buffer.data() + start, scanned);
        filled = scanned;
        start = 0;
        if (filled + 1 >= buffer.size()) buffer.resize(buffer.size() + buffer.size() / 2);
        in.read(buffer.data() + filled, static_cast<std::streamsize>(buffer.size() - 1 - filled));
        const std::streamsize got = in.gcount();
        filled += static_cast<size_t>(got);
        buffer[filled] = '\0';
        inputEnded = !in;
    }
}

bool LineReader::nextData(const char *&begin, const char *&end) {
    while (next(begin, end)) {
        while (begin != end && readerBlanks.find(*begin) != std::string::npos) ++begin;
        if (begin == end ||
            (static_cast<size_t>(end - begin) >= commentPrefix.size() &&
             std::equal(commentPrefix.begin(), commentPrefix.end(), begin)))
            continue;
        return true;
    }
    return false;
}

int32_t findElementInSorted(const std::vector<double> &values, const int32_t &index,
                            const std::vector<double> &sorted) {
    if (values.empty() || sorted.empty() || index < 0 ||
        static_cast<size_t>(index) >= values.size())
        return -1;
    const double value = values[static_cast<size_t>(index)];
    const auto found = std::lower_bound(sorted.begin(), sorted.end(), value);
    if (found == sorted.end() || *found > value || *found != value) return -1;
    return static_cast<int32_t>(found - sorted.begin());
}

int32_t countAlleleStates(const std::vector<uint32_t> &codes, uint32_t missingCode,
                          std::vector<uint32_t> &states, std::vector<float> &counts,
                          int32_t &numberOfCodes) {
    numberOfCodes = static_cast<int32_t>(codes.size());
    std::vector<uint32_t> sorted(codes);
    std::sort(sorted.begin(), sorted.end());
    states.clear();
    counts.clear();
    // One pass over the sorted codes gives each distinct code and its count.
    for (size_t k = 0; k < sorted.size();) {
        size_t next = k;
        while (next < sorted.size() && sorted[next] == sorted[k]) ++next;
        if (sorted[k] != missingCode) {
            states.push_back(sorted[k]);
            counts.push_back(static_cast<float>(next - k));
        }
        k = next;
    }
    return static_cast<int32_t>(states.size());
}

namespace {
bool openForReading(std::ifstream &stream, const std::string &name, bool boolalpha) {
    stream.open(name.c_str());
    if (!stream.is_open()) return false;
    if (boolalpha) stream.setf(std::ios::boolalpha);
    stream.clear();
    return true;
}
} // namespace

bool openInputFile(const std::string &prefix, const std::string &name, std::ifstream &stream,
                   bool boolalpha) {
    const std::string fullName = prefix + name;
    if (stream.is_open()) stream.close();
    stream.clear();
    if (openForReading(stream, fullName, boolalpha)) return true;
    std::cout << "\nCould not open file: " << fullName << std::endl;
    const std::string lowerName = toLower(fullName);
    std::cout << "\nTRYING FILE NAME " << lowerName << std::endl;
    stream.clear();
    if (openForReading(stream, lowerName, boolalpha)) return true;
    std::cout << "\nERROR: can not find input file after " + toString<int>(2) + " tries\n"
              << std::endl;
    return false;
}

bool nextDataLine(std::istream &stream, std::string &line) {
    long long lineNumber = 0;
    return nextDataLine(stream, line, lineNumber);
}

bool nextDataLine(std::istream &stream, std::string &line, long long &lineNumber) {
    while (std::getline(stream, line)) {
        ++lineNumber;
        trimLeading(line, readerBlanks);
        if (line.empty() || line.compare(0, commentPrefix.size(), commentPrefix) == 0) continue;
        return true;
    }
    return false;
}
