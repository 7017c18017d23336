// What the unit tests share: a fresh working folder for the tests that write
// files, and small helpers to read and write those files.
#ifndef QUINTOR_TEST_SUPPORT_H
#define QUINTOR_TEST_SUPPORT_H

#include "TLibQuintor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>
#include <unistd.h>

// The whole content of a file, byte for byte; empty when it cannot be read.
inline std::string readFile(const std::string &name) {
    std::ifstream file(name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Creates the file, or replaces its content, with the text.
inline void writeFile(const std::string &name, const std::string &text) {
    std::ofstream(name, std::ios::binary) << text;
}

// A haplotype matrix of the rows given as texts: '1' is a cell of value 1,
// any other character a cell of value 0.
inline HaplotypeMatrix matrixOfRows(const std::vector<std::string> &rows) {
    HaplotypeMatrix matrix;
    std::string cells;
    for (const std::string &row : rows) {
        cells.clear();
        for (char c : row) cells.push_back(c == '1' ? 1 : 0);
        appendHaplotype(matrix, cells.data(), cells.size());
    }
    return matrix;
}

// The rows of a haplotype matrix as texts of '0' and '1'.
inline std::vector<std::string> rowsOf(const HaplotypeMatrix &matrix) {
    std::vector<std::string> rows;
    for (size_t r = 0; r < matrix.size(); ++r) {
        const HaplotypeRowView row = matrix[r];
        std::string text;
        for (size_t s = 0; s < row.size(); ++s) text.push_back(row[s] ? '1' : '0');
        rows.push_back(text);
    }
    return rows;
}

inline bool fileExists(const std::string &name) { return std::filesystem::exists(name); }

// In the child of a death test: what the process prints goes to the files
// "stdout.txt" and "stderr.txt".
inline void sendOutputToFiles() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (!std::freopen("stdout.txt", "w", stdout)) std::abort();
    if (!std::freopen("stderr.txt", "w", stderr)) std::abort();
}

// A fresh folder under /tmp that is the working directory while the object
// lives; then the former working directory comes back and the folder is
// removed with all it holds. A folder that cannot be made fails the test.
class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/quintor_test_XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            ADD_FAILURE() << "cannot create a scratch folder under /tmp";
            return;
        }
        previous_ = std::filesystem::current_path();
        path_ = pattern;
        std::filesystem::current_path(path_);
    }
    ~ScratchFolder() {
        if (path_.empty()) return;
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    bool entered() const { return !path_.empty(); }

private:
    std::filesystem::path path_, previous_;
};

// Fixture of the tests that write files: each test runs in a scratch folder
// of its own. A fixture with more to set up overrides SetUp and TearDown and
// calls these from its own.
class ScratchFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.emplace();
        ASSERT_TRUE(folder_->entered());
    }
    void TearDown() override { folder_.reset(); }

private:
    std::optional<ScratchFolder> folder_;
};

// What a haplotype reader fills, in a scratch folder; death tests fork fast.
class HaplotypeReaderTest : public ScratchFolderTest {
protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        GTEST_FLAG_SET(death_test_style, "fast");
    }
    std::vector<int> sizes;
    HaplotypeMatrix data;
    std::vector<std::vector<double>> freqs, positions;
};

#endif
