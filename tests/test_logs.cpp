// The log-file writers, the error log and run log, and the fatal exit.
#include "SNPSelTools.h"
#include "TLibQuintor.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>

namespace {

// Every test runs in a fresh folder of its own: the writers create files in
// the working directory.
using LogsTest = ScratchFolderTest;
using LogsDeathTest = ScratchFolderTest;

} // namespace

// ---------------------------------------------------------------------------
// writeMessageToFile and writeValueToFile
// ---------------------------------------------------------------------------

TEST_F(LogsTest, MessageWithCodeGetsBlankAndCode) {
    writeMessageToFile(11, "Invalid arguments in gammq", "TLib_ERROR.log", false);
    EXPECT_EQ(readFile("TLib_ERROR.log"), "Invalid arguments in gammq 11\n");
}

TEST_F(LogsTest, MessageWithCodeZeroHasNoBlank) {
    writeMessageToFile(0, "x", "a.log", false);
    EXPECT_EQ(readFile("a.log"), "x\n");
    writeMessageToFile(-1, "\nneg\n", "b.log", false);
    EXPECT_EQ(readFile("b.log"), "\nneg\n -1\n");
}

TEST_F(LogsTest, MessageReplaceKeepsOnlyLastAndAppendKeepsBoth) {
    writeMessageToFile(1, "first", "r.log", false);
    writeMessageToFile(2, "second", "r.log", false);
    EXPECT_EQ(readFile("r.log"), "second 2\n");

    writeMessageToFile(1, "first", "a.log", true);
    writeMessageToFile(0, "second", "a.log", true);
    EXPECT_EQ(readFile("a.log"), "first 1\nsecond\n");
}

TEST_F(LogsTest, ValueWriterWritesDecimalAndLineEnd) {
    writeValueToFile<int>(1, "one.log", false);
    EXPECT_EQ(readFile("one.log"), "1\n");
    writeValueToFile<int>(-7, "one.log", false);
    EXPECT_EQ(readFile("one.log"), "-7\n");
    writeValueToFile<size_t>(static_cast<size_t>(18446744073709551615ULL), "big.log", false);
    EXPECT_EQ(readFile("big.log"), "18446744073709551615\n");
    writeValueToFile<size_t>(3, "big.log", true);
    EXPECT_EQ(readFile("big.log"), "18446744073709551615\n3\n");
}

TEST_F(LogsTest, WritersIgnoreFilesThatCannotBeOpened) {
    writeMessageToFile(5, "lost", "no_such_folder/x.log", false);
    writeValueToFile<int>(5, "no_such_folder/y.log", false);
    EXPECT_FALSE(fileExists("no_such_folder"));
}

// ---------------------------------------------------------------------------
// Exit status of a fatal error
// ---------------------------------------------------------------------------

TEST(FailureStatus, NeverReadsAsSuccess) {
    EXPECT_EQ(failureStatus(3), 3);
    EXPECT_EQ(failureStatus(1), 1);
    EXPECT_EQ(failureStatus(255), 255);
    EXPECT_EQ(failureStatus(257), 257);
    EXPECT_EQ(failureStatus(-1), -1);
    EXPECT_EQ(failureStatus(0), 1);
    EXPECT_EQ(failureStatus(256), 1);
    EXPECT_EQ(failureStatus(512), 1);
    EXPECT_EQ(failureStatus(-256), 1);
}

// ---------------------------------------------------------------------------
// errorExit, writeLogFile, exitWithLog
// ---------------------------------------------------------------------------

TEST_F(LogsDeathTest, ErrorExitLogsMessageAndCodeOnItsOwnLine) {
    EXPECT_EXIT((sendOutputToFiles(), errorExit(3, "\nbad thing\n")),
                ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "\nbad thing\n 3\n");
    EXPECT_EQ(readFile("stdout.txt"), "");
    EXPECT_EQ(readFile("stderr.txt"), "");
    EXPECT_FALSE(fileExists("Quintor.log"));
}

TEST_F(LogsDeathTest, ErrorExitCodeFollowsLastCharacter) {
    EXPECT_EXIT(errorExit(2, "no line end"), ::testing::ExitedWithCode(2), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "no line end 2\n");
}

TEST_F(LogsDeathTest, ErrorExitReplacesAnOldLog) {
    writeFile("Quintor_ERROR.log", "an older error that must disappear\n");
    EXPECT_EXIT(errorExit(4, "\nnew\n"), ::testing::ExitedWithCode(4), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "\nnew\n 4\n");
}

TEST_F(LogsDeathTest, ErrorExitWithCodeZeroStillFails) {
    // The log keeps the message alone; the process does not report success.
    EXPECT_EXIT(errorExit(0, "\nzero\n"), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "\nzero\n\n");
}

TEST_F(LogsDeathTest, ErrorExitWithMultipleOf256StillFails) {
    EXPECT_EXIT(errorExit(256, "m"), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "m 256\n");
    EXPECT_EXIT(errorExit(-1, "n"), ::testing::ExitedWithCode(255), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "n -1\n");
}

TEST_F(LogsDeathTest, ErrorExitEndsEvenWhenTheLogCannotBeWritten) {
    std::filesystem::create_directory("Quintor_ERROR.log");
    EXPECT_EXIT(errorExit(6, "x"), ::testing::ExitedWithCode(6), "");
    EXPECT_TRUE(std::filesystem::is_directory("Quintor_ERROR.log"));
}

TEST_F(LogsDeathTest, ErrorExitFlushesPendingConsoleOutput) {
    // The process ends normally: text still buffered on the console is kept.
    EXPECT_EXIT((sendOutputToFiles(), std::cout << "pending", errorExit(7, "x")),
                ::testing::ExitedWithCode(7), "");
    EXPECT_EQ(readFile("stdout.txt"), "pending");
}

TEST_F(LogsDeathTest, FatalLogFileIsTheErrorLog) {
    EXPECT_EXIT((sendOutputToFiles(), writeLogFile(9, "\nfatal note\n", true)),
                ::testing::ExitedWithCode(9), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "\nfatal note\n 9\n");
    EXPECT_FALSE(fileExists("Quintor.log"));
    EXPECT_EQ(readFile("stdout.txt"), "");

    EXPECT_EXIT(writeLogFile(0, "\nzero\n", true), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "\nzero\n\n");
}

TEST_F(LogsTest, NotesReplaceTheRunLogAndReturn) {
    testing::internal::CaptureStdout();
    writeLogFile(4, "\nfirst note\n", false);
    EXPECT_EQ(readFile("Quintor.log"), "\nfirst note\n 4\n");
    writeLogFile(0, "\nsecond note\n", false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(readFile("Quintor.log"), "\nsecond note\n\n");
    EXPECT_FALSE(fileExists("Quintor_ERROR.log"));
}

TEST_F(LogsDeathTest, NoteThatCannotBeWrittenIsFatal) {
    std::filesystem::create_directory("Quintor.log");
    EXPECT_EXIT(writeLogFile(1, "lost", false), ::testing::ExitedWithCode(1),
                "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), "\nERROR: \nCould not write the file Quintor.log\n 1\n");
    EXPECT_TRUE(std::filesystem::is_directory("Quintor.log"));
}

TEST_F(LogsDeathTest, ExitWithLogUsesTheNamedFile) {
    EXPECT_EXIT(exitWithLog(5, "Problem in kmeans", "kmeans.log"),
                ::testing::ExitedWithCode(5), "");
    EXPECT_EQ(readFile("kmeans.log"), "Problem in kmeans 5\n");
    EXPECT_FALSE(fileExists("Quintor_ERROR.log"));

    EXPECT_EXIT(exitWithLog(0, "zero", "FSTdT.log"), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(readFile("FSTdT.log"), "zero\n");
}
