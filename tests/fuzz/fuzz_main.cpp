// Fuzzing entry of Quintor: runs the whole program on one fuzzed input.
//
//   quintor_fuzz INPUT NAMES [ARGUMENT ...]
//
// INPUT is the fuzzed file. It is cut at every "\n%%%%\n" into parts; part k
// is written to the k-th comma-separated name of NAMES (in the working
// folder; a name without a part gets an empty file). The name ARGS is no
// file: its part holds further command-line words, separated by NUL bytes,
// that follow the fixed ARGUMENTs. Then the program runs as `quintor`
// would with those words. At its end, however it ends (return or exit), every
// results table must keep its column count; a table that does not aborts,
// which the fuzzer counts as a crash. Inputs asking for more than 64 runs are
// not run.
#define main quintorMain
#include "../../source/driver.cpp"
#undef main

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

const std::string partSeparator = "\n%%%%\n";
const int32_t maxRuns = 64;

std::vector<std::string> cutParts(const std::string &input) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = input.find(partSeparator, start)) != std::string::npos;
         start = at + partSeparator.size())
        parts.push_back(input.substr(start, at - start));
    parts.push_back(input.substr(start));
    return parts;
}

size_t countColumns(const std::string &line) {
    return static_cast<size_t>(std::count(line.begin(), line.end(), '\t')) + 1;
}

// Every row of a results table has the columns of the header above it: the
// J-test header, or the summary header "SegSites...". Empty lines and the
// high-Fst warning stand between rows.
void checkTable(const std::filesystem::path &table) {
    std::ifstream in(table);
    std::string line;
    size_t columns = 0;
    size_t lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (line.empty() || line.rfind("WARNING: THE AVERAGE FST WAS GREATER THAN 0.5 IN FILE ", 0) == 0)
            continue;
        if (line.rfind("File\t", 0) == 0 || line.rfind("SegSites\t", 0) == 0) {
            columns = countColumns(line);
            continue;
        }
        if (columns == 0 || countColumns(line) != columns) {
            std::fprintf(stderr, "fuzz check: %s line %zu has %zu columns, its header %zu\n",
                         table.c_str(), lineNumber, countColumns(line), columns);
            std::abort();
        }
    }
}

void checkTables() {
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("Quintor_Results", error))
        if (entry.path().extension() == ".tsv") checkTable(entry.path());
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quintor_fuzz INPUT NAMES [ARGUMENT ...]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::string> parts = cutParts(input);

    // A fresh start: no results or logs of the previous input.
    std::error_code error;
    std::filesystem::remove_all("Quintor_Results", error);

    std::vector<std::string> words(1, "quintor");
    for (int i = 3; i < argc; ++i) words.push_back(argv[i]);
    std::stringstream names(argv[2]);
    std::string name;
    for (size_t k = 0; std::getline(names, name, ','); ++k) {
        const std::string part = k < parts.size() ? parts[k] : std::string();
        if (name == "ARGS") {
            std::stringstream list(part);
            std::string word;
            while (std::getline(list, word, '\0')) words.push_back(word);
        } else {
            std::ofstream(name, std::ios::binary) << part;
        }
    }
    // A long series of files is slow by nature, not a hang: such inputs are
    // left out.
    for (size_t i = 1; i + 1 < words.size(); ++i)
        if (words[i] == "-runs" && textToInt(words[i + 1].c_str()) > maxRuns) return 0;

    std::vector<char *> arguments;
    for (std::string &word : words) arguments.push_back(&word[0]);
    arguments.push_back(nullptr);

    std::atexit(checkTables);
    return quintorMain(static_cast<int>(words.size()), arguments.data());
}
