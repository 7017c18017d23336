// The command line, the help text, and the start-up validation of the
// settings that the command line gives.
#include "SNPSelTools.h"
#include "TLibQuintor.h"
#include "driver.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Words;

// The help text, character for character.
const std::string expectedHelp =
    "\n\n"
    " Quintor v0.2\n\n"
    "\t [-cutoff cutoff for EOS test]\n"
    "\t [-help | -h]\n"
    "\t [-format format of the input file]\n"
    "\t [-input input file]\n"
    "\t [-input2 input a second file]\n"
    "\t [-maf MAF]\n"
    "\t [-maxwin MaxWinSize]\n"
    "\t [-minwin minWinSize]\n"
    "\t [-onlyEOS do nvdFST or not]\n"
    "\t [-onlyrsidInfo]\n"
    "\t [-output output file]\n"
    "\t [-path path]\n"
    "\t [-sample sample size]\n"
    "\t [-sample2 sample size]\n"
    "\t [-selectives]\n"
    "\t [-singlepopfile]\n"
    "\t [-SL significance level]\n"
    "\t [-verbose]\n"
    "\t [-window window size]\n"
    "\n\n"
    "\t-cutoff <DOUBLE>\n. Define the value numdesvs in the computation of cutoff = "
    "fsttot+numdesvs*maxdev for the EOS test. Default is 1.\n"
    "\t-help|-h\nDisplays this help message.\n"
    "\t-format <STRING>\n. Specifies the format of the input file]\n"
    "\t-input <STRING>\n. Specifies the name of the input file. If defined when runs > 1 the "
    "run number from 0 to runs-1 will be added to it. \n"
    "\t-input2 <STRING>\n. Specifies the name of the second input file. It is considered "
    "only when the argument -singlepopfile is set to 1. \n"
    "\t-maf <DOUBLE>\n. Defines the minor allele frequency in the sample to consider a site "
    "as informative  (default is 0.05).\n"
    "\t-maxwin <INTEGER>\n. Defines the maximum window size (default is the total number of "
    "SNPs) under the variable window size setting. \n"
    "\t-minwin <INTEGER>\n. Defines the minimum window size (default is 11, the minimum "
    "available is 7).\n"
    "\t-onlyEOS <INTEGER>\n. By default is 0 and both tests are performed. If set to 1 then "
    "only the EOS test is performed. In any case, if the input formats are BS or GP only the "
    "EOS test is performed. \n"
    "\t-onlyrsidInfo <INTEGER>\n. By default is 0. When set to 1 the program generates an "
    "output file with the names, positions and frequencies of the whole set of analyzed "
    "SNPs.\n"
    "\t-output <STRING>\n. Specifies the header for the name of the output file.\n"
    "\t-path <STRING>\n. Specifies the path to the input file.\n"
    "\t-sample <INTEGER>\n. Defines the number of alignments for each population sample (50 "
    "by default).\n"
    "\t-sample2 <INTEGER>\n. Under the MS format, defines the number of alignments for a "
    "second population sample (0 by default).\n"
    "\t-selectives <DOUBLE>\n. User defined candidate sites to look for selection (if there "
    "are more than one value they must be separated by spaces).\n"
    "\t-singlepopfile <INTEGER>\n. By default is 0 so it is assumed that there are two "
    "populations in a file. When set to 1 under HM format, two different filenames (-input "
    "and -input2, one for each population) are needed. \n"
    "\t-SL <DOUBLE>\n. Defines the significance level(0.05 by default).\n"
    "\t-verbose <INTEGER>\n. By default is 0. If set to 1 then the program gives explicit "
    "information as the different steps are performed through the program. A log file is "
    "output at the end.\n"
    "\t-window <INTEGER>\n. Defines the fixed window size (0 by default). If 0 the window "
    "size will be variable.\n"
    "\n\n";

// The settings and the two global flags as the parser leaves them.
struct Parsed {
    Settings settings;
    bool oldSweep = false;
    bool verbose = false;
};

// Parses the words as the command line of the program (its name in front).
Parsed parse(const Words &words) {
    Parsed parsed;
    std::vector<std::string> line = {"quintor"};
    line.insert(line.end(), words.begin(), words.end());
    std::vector<char *> argv;
    for (std::string &word : line) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    parseArguments(static_cast<int>(line.size()), argv.data(), parsed.settings, parsed.oldSweep,
                   parsed.verbose);
    return parsed;
}

// Every test runs in a fresh folder of its own (the parser and the start-up
// write logs and create the results folder in the working directory), with
// the driver globals at their start values.
class DriverGlobalsTest : public ScratchFolderTest {
protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        savedSeed_ = seed;
        resetGlobals();
    }
    void TearDown() override {
        seed = savedSeed_;
        resetGlobals();
        ScratchFolderTest::TearDown();
    }
    static void resetGlobals() {
        oldSweep = false;
        verbose = false;
        minDprime = 0.4;
    }
    int64_t savedSeed_ = 0;
};

using CommandLineDeathTest = DriverGlobalsTest;
using StartupTest = DriverGlobalsTest;
using StartupDeathTest = DriverGlobalsTest;

// The command line as one text, for the trace of a failed check.
std::string joined(const Words &words) {
    std::string line;
    for (const std::string &word : words) line += word + " ";
    return line;
}

// Parses the words in a child process whose console goes to files and that
// must end with the status; the files of an earlier child are removed first.
void parseInChild(const Words &words, int status) {
    for (const char *name : {"stdout.txt", "stderr.txt", "Quintor_ERROR.log"})
        std::filesystem::remove(name);
    EXPECT_EXIT((sendOutputToFiles(), parse(words)), ::testing::ExitedWithCode(status), "");
}

// Runs the words in a child process and checks the range error: the message
// on the console, the error log with the bad position, and the exit status.
void expectRangeError(const Words &words, int argument, int position, int status) {
    SCOPED_TRACE("command line: " + joined(words));
    parseInChild(words, status);
    const std::string message = "\nQuintor CONSOLE ARGUMENT ERROR: Check argument " +
                                std::to_string(argument) + ".\n";
    EXPECT_EQ(readFile("stdout.txt"), message + "\n");
    EXPECT_EQ(readFile("stderr.txt"), "");
    EXPECT_EQ(readFile("Quintor_ERROR.log"), message + " " + std::to_string(position) + "\n");
}

// Runs the words in a child process and checks the message about a word that
// is no option: standard error only, status 1, no log.
void expectUnrecognised(const Words &words, const std::string &word) {
    SCOPED_TRACE("command line: " + joined(words));
    parseInChild(words, 1);
    EXPECT_EQ(readFile("stderr.txt"),
              "\n Quintor ERROR:" + word + " is not a valid command line parameter\n\n");
    EXPECT_EQ(readFile("stdout.txt"), "");
    EXPECT_FALSE(fileExists("Quintor_ERROR.log"));
}

// Runs the words in a child process and checks that the help is printed and
// the process ends with status 0, without a log.
void expectHelp(const Words &words) {
    SCOPED_TRACE("command line: " + joined(words));
    parseInChild(words, 0);
    EXPECT_EQ(readFile("stdout.txt"), expectedHelp);
    EXPECT_EQ(readFile("stderr.txt"), "");
    EXPECT_FALSE(fileExists("Quintor_ERROR.log"));
}

// Validates and completes the settings; gives the run context made for them.
RunContext validated(Settings &settings) {
    RunContext context;
    validateSettings(settings, context);
    return context;
}

// Validates and completes the settings; gives what the validation printed.
std::string printedByValidation(Settings &settings, RunContext &context) {
    testing::internal::CaptureStdout();
    validateSettings(settings, context);
    return testing::internal::GetCapturedStdout();
}

std::string printedByValidation(Settings &settings) {
    RunContext context;
    return printedByValidation(settings, context);
}

// The per-run slots that the loop preparation makes for the settings.
struct PreparedLoop {
    AnalysisData analysis;
    RunResults results;
};

PreparedLoop preparedLoop(Settings &settings) {
    const RunContext context = validated(settings);
    PreparedLoop prepared;
    prepareLoop(settings, context, prepared.analysis, prepared.results);
    return prepared;
}

} // namespace

// ---------------------------------------------------------------------------
// Help text
// ---------------------------------------------------------------------------

TEST(PrintHelp, WholeTextForVersion02) {
    std::ostringstream out;
    printHelp(out, 0.2f);
    EXPECT_EQ(out.str(), expectedHelp);
}

TEST(PrintHelp, VersionUsesSixSignificantDigits) {
    std::ostringstream out;
    printHelp(out, 1.234567f);
    EXPECT_EQ(out.str().substr(0, 21), "\n\n Quintor v1.23457\n\n");
    std::ostringstream whole;
    printHelp(whole, 3.0f);
    EXPECT_EQ(whole.str().substr(0, 16), "\n\n Quintor v3\n\n\t");
}

TEST_F(CommandLineDeathTest, HelpWordsEndTheWalkWherever) {
    expectHelp({"-help"});
    expectHelp({"-h"});
    expectHelp({"-maf", "0.1", "-h"});
    // Range errors found before are not reported.
    expectHelp({"-runs", "0", "-help"});
    // Neither is a word that no option knows after it.
    expectHelp({"-help", "-foo"});
    expectHelp({"-selectives", "100", "200", "-help"});
    expectHelp({"-selectives", "100", "-h", "-maf", "2"});
}

// ---------------------------------------------------------------------------
// Settings the options write
// ---------------------------------------------------------------------------

TEST(ParseArguments, NoArgumentsKeepEveryDefault) {
    const Parsed parsed = parse({});
    const Settings &s = parsed.settings;
    EXPECT_EQ(s.fastaTag, "");
    EXPECT_FALSE(s.noGaps);
    EXPECT_FALSE(s.saveSubsets);
    EXPECT_EQ(s.path, "");
    EXPECT_EQ(s.format, "MS");
    EXPECT_FALSE(s.onepopbyfile);
    EXPECT_EQ(s.input1, "");
    EXPECT_EQ(s.input2, "");
    EXPECT_EQ(s.output, "Quintor_out");
    EXPECT_FALSE(s.inputGiven);
    EXPECT_EQ(s.runs, 1);
    EXPECT_EQ(s.popforHB, -1);
    EXPECT_TRUE(s.selectives.empty());
    EXPECT_EQ(s.fixwinsize, 0);
    EXPECT_EQ(s.sample, 50);
    EXPECT_EQ(s.sample2, 0);
    EXPECT_EQ(s.minWinSize, 11);
    EXPECT_EQ(s.MaxWinSize, 1000);
    EXPECT_EQ(s.maf, 0.01);
    EXPECT_EQ(s.SL, 0.05);
    EXPECT_TRUE(s.doEOS);
    EXPECT_FALSE(s.onlyEOS);
    EXPECT_FALSE(s.EPOH);
    EXPECT_EQ(s.numdesvs, 1.25);
    EXPECT_FALSE(s.fixseed);
    EXPECT_TRUE(s.useblocks);
    EXPECT_FALSE(s.rsidInfo);
    EXPECT_FALSE(s.onlyrsidInfo);
    EXPECT_EQ(s.version, 0.2f);
    EXPECT_FALSE(parsed.oldSweep);
    EXPECT_FALSE(parsed.verbose);
}

TEST(ParseArguments, EveryOptionWritesItsOwnSetting) {
    const Parsed parsed =
        parse({"-tag",      "rnd0",    "-nogaps",   "1",     "-store",   "1",
               "-old",      "1",       "-path",     "data/", "-format",  "hm",
               "-singlepopfile", "1",  "-rsidInfo", "1",     "-onlyrsidInfo", "1",
               "-input",    "a.txt",   "-input2",   "b.txt", "-output",  "out",
               "-runs",     "3",       "-reference", "2",    "-selectives", "5", "6.5",
               "-sample",   "20",      "-sample2",  "30",    "-window",  "25",
               "-minwin",   "9",       "-maxwin",   "500",   "-maf",     "0.2",
               "-SL",       "0.01",    "-cutoff",   "2.5",   "-doEOS",   "0",
               "-onlyEOS",  "1",       "-EPOH",     "1",     "-fixseed", "1",
               "-useblocks", "0",      "-verbose",  "1"});
    const Settings &s = parsed.settings;
    EXPECT_EQ(s.fastaTag, "rnd0");
    EXPECT_TRUE(s.noGaps);
    EXPECT_TRUE(s.saveSubsets);
    EXPECT_TRUE(parsed.oldSweep);
    EXPECT_EQ(s.path, "data/");
    EXPECT_EQ(s.format, "hm");
    EXPECT_TRUE(s.onepopbyfile);
    EXPECT_TRUE(s.rsidInfo);
    EXPECT_TRUE(s.onlyrsidInfo);
    EXPECT_EQ(s.input1, "a.txt");
    EXPECT_TRUE(s.inputGiven);
    EXPECT_EQ(s.input2, "b.txt");
    EXPECT_EQ(s.output, "out");
    EXPECT_EQ(s.runs, 3);
    EXPECT_EQ(s.popforHB, 1);
    EXPECT_EQ(s.selectives, (std::vector<double>{5.0, 6.5}));
    EXPECT_EQ(s.sample, 20);
    EXPECT_EQ(s.sample2, 30);
    EXPECT_EQ(s.fixwinsize, 25);
    EXPECT_EQ(s.minWinSize, 9);
    EXPECT_EQ(s.MaxWinSize, 500);
    EXPECT_EQ(s.maf, 0.2);
    EXPECT_EQ(s.SL, 0.01);
    EXPECT_EQ(s.numdesvs, 2.5);
    EXPECT_FALSE(s.doEOS);
    EXPECT_TRUE(s.onlyEOS);
    EXPECT_TRUE(s.EPOH);
    EXPECT_TRUE(s.fixseed);
    EXPECT_FALSE(s.useblocks);
    EXPECT_TRUE(parsed.verbose);
}

TEST(ParseArguments, OptionAliases) {
    EXPECT_TRUE(parse({"-save", "1"}).settings.saveSubsets);
    for (const char *word : {"-inputfile", "-inputfile1", "-input", "-input1"}) {
        const Parsed parsed = parse({word, "x"});
        EXPECT_EQ(parsed.settings.input1, "x") << word;
        EXPECT_TRUE(parsed.settings.inputGiven) << word;
        EXPECT_EQ(parsed.settings.input2, "") << word;
    }
    for (const char *word : {"-inputfile2", "-input2"}) {
        const Parsed parsed = parse({word, "y"});
        EXPECT_EQ(parsed.settings.input2, "y") << word;
        EXPECT_FALSE(parsed.settings.inputGiven) << word;
    }
    EXPECT_EQ(parse({"-outputfile", "z"}).settings.output, "z");
    for (const char *word : {"-doEOS", "-DOEOS", "-DoEos", "-DoEOS", "-doEos", "-doeos"})
        EXPECT_FALSE(parse({word, "0"}).settings.doEOS) << word;
}

TEST(ParseArguments, FlagsAreNonZeroIntegers) {
    EXPECT_FALSE(parse({"-verbose", "true"}).verbose);
    EXPECT_TRUE(parse({"-verbose", "2"}).verbose);
    EXPECT_TRUE(parse({"-verbose", "-1"}).verbose);
    EXPECT_TRUE(parse({"-verbose", " 1x"}).verbose);
    EXPECT_FALSE(parse({"-verbose", "0"}).verbose);
    EXPECT_FALSE(parse({"-fixseed", "yes"}).settings.fixseed);
    EXPECT_FALSE(parse({"-old", "on"}).oldSweep);
    EXPECT_FALSE(parse({"-useblocks", "false"}).settings.useblocks);
}

TEST(ParseArguments, ValuesAreTakenWhateverTheyLookLike) {
    // The word after a value option is its value, even when it names an option.
    const Parsed parsed = parse({"-path", "-help", "-tag", "-maf", "-output", "-Maf"});
    EXPECT_EQ(parsed.settings.path, "-help");
    EXPECT_EQ(parsed.settings.fastaTag, "-maf");
    EXPECT_EQ(parsed.settings.output, "-Maf");
    EXPECT_EQ(parsed.settings.maf, 0.01);
}

TEST(ParseArguments, OptionWithoutValueAtTheEndIsIgnored) {
    EXPECT_EQ(parse({"-maf"}).settings.maf, 0.01);
    const Parsed parsed = parse({"-runs", "3", "-window"});
    EXPECT_EQ(parsed.settings.runs, 3);
    EXPECT_EQ(parsed.settings.fixwinsize, 0);
    EXPECT_EQ(parse({"-input"}).settings.inputGiven, false);
}

TEST(ParseArguments, LaterValueReplacesEarlier) {
    EXPECT_EQ(parse({"-maf", "0.2", "-maf", "0.3"}).settings.maf, 0.3);
    EXPECT_EQ(parse({"-output", "a", "-outputfile", "b"}).settings.output, "b");
}

TEST(ParseArguments, ValuesAtTheEdgesOfTheirRanges) {
    EXPECT_EQ(parse({"-minwin", "7"}).settings.minWinSize, 7);
    EXPECT_EQ(parse({"-window", "0"}).settings.fixwinsize, 0);
    EXPECT_EQ(parse({"-window", "7"}).settings.fixwinsize, 7);
    EXPECT_EQ(parse({"-window", "2147483646"}).settings.fixwinsize, 2147483646);
    EXPECT_EQ(parse({"-reference", "1"}).settings.popforHB, 0);
    EXPECT_EQ(parse({"-reference", "2"}).settings.popforHB, 1);
    EXPECT_EQ(parse({"-maf", "1"}).settings.maf, 1.0);
    EXPECT_EQ(parse({"-maf", "0"}).settings.maf, 0.0);
    EXPECT_EQ(parse({"-SL", "0"}).settings.SL, 0.0);
    EXPECT_EQ(parse({"-cutoff", "-5.5"}).settings.numdesvs, -5.5);
    EXPECT_EQ(parse({"-runs", "1"}).settings.runs, 1);
    EXPECT_EQ(parse({"-runs", "2147483646"}).settings.runs, 2147483646);
    EXPECT_EQ(parse({"-runs", " 12abc"}).settings.runs, 12);
    EXPECT_EQ(parse({"-sample", "3"}).settings.sample, 3);
    EXPECT_EQ(parse({"-sample2", "0"}).settings.sample2, 0);
    EXPECT_EQ(parse({"-sample2", "2147483646"}).settings.sample2, 2147483646);
    EXPECT_EQ(parse({"-maxwin", "-2147483647"}).settings.MaxWinSize, -2147483647);
    EXPECT_EQ(parse({"-maxwin", "0"}).settings.MaxWinSize, 0);
    EXPECT_EQ(parse({"-maxwin", "2147483646"}).settings.MaxWinSize, 2147483646);
}

// ---------------------------------------------------------------------------
// Candidate positions
// ---------------------------------------------------------------------------

TEST(ParseArguments, SelectivesTakeEveryWordThatBeginsWithANumber) {
    Parsed parsed = parse({"-selectives", "100", "200.5", "-maf", "0.1"});
    EXPECT_EQ(parsed.settings.selectives, (std::vector<double>{100.0, 200.5}));
    EXPECT_EQ(parsed.settings.maf, 0.1);

    parsed = parse({"-selectives", "12abc", "-1", "1e3", ".5", "+7"});
    EXPECT_EQ(parsed.settings.selectives, (std::vector<double>{12.0, -1.0, 1000.0, 0.5, 7.0}));

    // The word that ends the list is ignored when it is the last one.
    parsed = parse({"-selectives", "100", "abc"});
    EXPECT_EQ(parsed.settings.selectives, (std::vector<double>{100.0}));
    parsed = parse({"-selectives", "abc"});
    EXPECT_TRUE(parsed.settings.selectives.empty());
    parsed = parse({"-selectives", "100", "-selectives"});
    EXPECT_EQ(parsed.settings.selectives, (std::vector<double>{100.0}));
}

TEST(ParseArguments, SelectivesAccumulate) {
    const Parsed parsed = parse({"-selectives", "3", "-runs", "2", "-selectives", "1", "2"});
    EXPECT_EQ(parsed.settings.selectives, (std::vector<double>{3.0, 1.0, 2.0}));
    EXPECT_EQ(parsed.settings.runs, 2);
}

// ---------------------------------------------------------------------------
// Unrecognised words
// ---------------------------------------------------------------------------

TEST_F(CommandLineDeathTest, UnrecognisedWordGoesToStandardError) {
    expectUnrecognised({"-Maf", "0.1"}, "-Maf");
    expectUnrecognised({"-maf", "0.1", "0.2"}, "0.2");
    expectUnrecognised({"-runs", "0", "-foo"}, "-foo");
    expectUnrecognised({"-doEOs", "1"}, "-doEOs");
    expectUnrecognised({"--help"}, "--help");
    expectUnrecognised({"-maf=0.1"}, "-maf=0.1");
    expectUnrecognised({"-foo", "-help"}, "-foo");
    expectUnrecognised({""}, "");
}

TEST_F(CommandLineDeathTest, SelectivesListEndedByAStrayWord) {
    expectUnrecognised({"-selectives", "100", "abc", "-maf", "0.1"}, "abc");
    // "-selectives" as the last word is no option at all.
    expectUnrecognised({"-selectives"}, "-selectives");
    expectUnrecognised({"-maf", "0.1", "-selectives"}, "-selectives");
}

// ---------------------------------------------------------------------------
// Range errors
// ---------------------------------------------------------------------------

TEST_F(CommandLineDeathTest, RangeErrorOfTheFirstPair) {
    expectRangeError({"-runs", "0"}, 1, 2, 2);
    expectRangeError({"-runs", "-3"}, 1, 2, 2);
    expectRangeError({"-runs", "abc"}, 1, 2, 2);
    expectRangeError({"-runs", "2147483647"}, 1, 2, 2);
    expectRangeError({"-sample", "2"}, 1, 2, 2);
    expectRangeError({"-sample", "2147483647"}, 1, 2, 2);
    expectRangeError({"-sample2", "-1"}, 1, 2, 2);
    expectRangeError({"-sample2", "2147483647"}, 1, 2, 2);
    expectRangeError({"-minwin", "6"}, 1, 2, 2);
    expectRangeError({"-minwin", "2147483647"}, 1, 2, 2);
    expectRangeError({"-window", "3"}, 1, 2, 2);
    expectRangeError({"-window", "-5"}, 1, 2, 2);
    expectRangeError({"-window", "2147483647"}, 1, 2, 2);
    expectRangeError({"-maxwin", "2147483647"}, 1, 2, 2);
    expectRangeError({"-maxwin", "-2147483648"}, 1, 2, 2);
    expectRangeError({"-reference", "0"}, 1, 2, 2);
    expectRangeError({"-reference", "3"}, 1, 2, 2);
    expectRangeError({"-reference", "-2147483648"}, 1, 2, 2);
    expectRangeError({"-maf", "1.0001"}, 1, 2, 2);
    expectRangeError({"-maf", "-0.1"}, 1, 2, 2);
    expectRangeError({"-SL", "-0.01"}, 1, 2, 2);
}

// A text beyond the 32-bit range reads as the nearest bound, never wraps: the
// bounds are out of range for every integer option.
TEST_F(CommandLineDeathTest, IntegerTextsBeyond32BitsAreRangeErrors) {
    for (const char *option : {"-runs", "-sample", "-sample2", "-minwin", "-window", "-maxwin",
                               "-reference"})
        for (const char *value : {"4294967306", "4294967298", "-4294967290", "99999999999999999999"})
            expectRangeError({option, value}, 1, 2, 2);
    // A flag beyond 32 bits is on, as its bound is not 0.
    EXPECT_TRUE(parse({"-verbose", "4294967296"}).verbose);
}

TEST_F(CommandLineDeathTest, RangeErrorNamesThePairOfTheLastBadValue) {
    expectRangeError({"-maf", "0.5", "-sample", "2"}, 2, 4, 4);
    expectRangeError({"-sample", "2", "-runs", "0"}, 2, 4, 4);
    expectRangeError({"-runs", "0", "-maf", "0.3", "-tag", "x"}, 1, 2, 2);
    // The setting ends at 0.3, but the first value is still reported.
    expectRangeError({"-maf", "2", "-maf", "0.3"}, 1, 2, 2);
    // A value that is missing at the end does not hide an earlier error.
    expectRangeError({"-runs", "0", "-maf"}, 1, 2, 2);
}

TEST_F(CommandLineDeathTest, RangeErrorAfterACandidateList) {
    // Positions: 1 -selectives, 2 100, 3 200, 4 -runs, 5 0.
    expectRangeError({"-selectives", "100", "200", "-runs", "0"}, 2, 5, 5);
    // 1 -sample, 2 "2" (bad), 3 -selectives, 4..5 values, 6 -maf, 7, 8 -runs, 9 "0" (bad).
    expectRangeError({"-sample", "2", "-selectives", "100", "200.5", "-maf", "0.1", "-runs", "0"},
                     4, 9, 9);
}

TEST_F(CommandLineDeathTest, RangeErrorAtPosition256StillFails) {
    // 127 good pairs, then the bad value at position 256: the log keeps the
    // code, and the process does not end with a status the shell reads as 0.
    Words words;
    for (int k = 0; k < 127; ++k) {
        words.push_back("-maf");
        words.push_back("0.1");
    }
    words.push_back("-runs");
    words.push_back("0");
    expectRangeError(words, 128, 256, 1);
}

// ---------------------------------------------------------------------------
// Start-up: format code
// ---------------------------------------------------------------------------

TEST(SelectFormatCode, FirstWordFoundInTheUpperCasedText) {
    struct Row {
        const char *text;
        FormatCode code;
        const char *upper;
    };
    const Row rows[] = {
        {"MS", FormatCode::MS, "MS"},          {"fasta", FormatCode::FASTA, "FASTA"},
        {"hm", FormatCode::HM, "HM"},          {"fp", FormatCode::FP, "FP"},
        {"vcf", FormatCode::VCF, "VCF"},       {"bs", FormatCode::BS, "BS"},
        {"gp", FormatCode::GP, "GP"},          {"pl2", FormatCode::PL2, "PL2"},
        {"pl", FormatCode::PL, "PL"},          {"hmfp", FormatCode::HM, "HMFP"},
        {"hapmap", FormatCode::MS, "HAPMAP"},  {"plink2", FormatCode::PL, "PLINK2"},
        {"genepop", FormatCode::MS, "GENEPOP"}, {"Plink", FormatCode::PL, "PLINK"},
        {"vcfhm", FormatCode::HM, "VCFHM"},    {"myfastaVCF", FormatCode::FASTA, "MYFASTAVCF"},
        {"xpl2bs", FormatCode::BS, "XPL2BS"},  {"", FormatCode::MS, ""},
        {"phased.VCF", FormatCode::VCF, "PHASED.VCF"},
    };
    for (const Row &row : rows) {
        std::string text = row.text;
        EXPECT_EQ(selectFormatCode(text), row.code) << row.text;
        EXPECT_EQ(text, row.upper) << row.text;
    }
}

TEST(FormatGroups, AlleleCountAndPlink) {
    EXPECT_TRUE(isAlleleCountFormat(FormatCode::BS));
    EXPECT_TRUE(isAlleleCountFormat(FormatCode::GP));
    EXPECT_TRUE(isAlleleCountFormat(FormatCode::PL));
    EXPECT_TRUE(isAlleleCountFormat(FormatCode::PL2));
    EXPECT_FALSE(isAlleleCountFormat(FormatCode::MS));
    EXPECT_FALSE(isAlleleCountFormat(FormatCode::HM));
    EXPECT_TRUE(isPlinkFormat(FormatCode::PL));
    EXPECT_TRUE(isPlinkFormat(FormatCode::PL2));
    EXPECT_FALSE(isPlinkFormat(FormatCode::GP));
}

// ---------------------------------------------------------------------------
// Start-up: validation and completion of the settings
// ---------------------------------------------------------------------------

TEST(StartupValues, Defaults) {
    const RunContext context;
    EXPECT_EQ(context.numpops, 2);
    EXPECT_EQ(context.inputBase, "QuintorF");
    EXPECT_EQ(context.resultBase, "");
    EXPECT_TRUE(context.autoRef);
    EXPECT_EQ(context.formatCode, FormatCode::MS);
}

TEST(StartupValues, SeedStartsAsTheCalendarTimeInSeconds) {
    // Both readings come from the clock the seed is read from: time() may
    // lag it by a tick and fall on the other side of a second boundary.
    const auto secondsNow = [] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
    };
    const int64_t saved = seed;
    const int64_t before = secondsNow();
    initDriverGlobals();
    const int64_t after = secondsNow();
    EXPECT_GE(seed, before);
    EXPECT_LE(seed, after);
    seed = saved;
}

TEST_F(StartupTest, DefaultsPassAndCompleteTheSettings) {
    Settings s;
    RunContext context;
    EXPECT_EQ(printedByValidation(s, context), "");
    EXPECT_EQ(context.formatCode, FormatCode::MS);
    EXPECT_EQ(s.format, "MS");
    EXPECT_EQ(context.minblock, 11);
    EXPECT_EQ(context.outputPrefix, "Quintor_Results/Quintor_out_");
    EXPECT_EQ(context.resultBase, "");
    EXPECT_EQ(context.inputBase, "QuintorF");
    EXPECT_EQ(s.input2, "");
    EXPECT_TRUE(s.useblocks);
    EXPECT_TRUE(s.doEOS);
    EXPECT_FALSE(s.onlyEOS);
    EXPECT_EQ(s.runs, 1);
    EXPECT_EQ(minDprime, 0.4);
    EXPECT_EQ(context.runLog, "\nInitial seed " + std::to_string(seed) + "\n");
    EXPECT_TRUE(std::filesystem::is_directory("Quintor_Results"));
    EXPECT_TRUE(std::filesystem::is_empty("Quintor_Results"));
    EXPECT_FALSE(fileExists("Quintor_ERROR.log"));
    EXPECT_FALSE(fileExists("Quintor.log"));
}

TEST_F(StartupTest, ResultsFolderThatExistsIsKept) {
    std::filesystem::create_directory("Quintor_Results");
    writeFile("Quintor_Results/old.tsv", "kept\n");
    Settings s;
    s.output = "run7";
    const RunContext context = validated(s);
    EXPECT_EQ(readFile("Quintor_Results/old.tsv"), "kept\n");
    EXPECT_EQ(context.outputPrefix, "Quintor_Results/run7_");
}

TEST_F(StartupTest, WindowInsideItsLimitsPasses) {
    for (int window : {11, 20, 1000}) {
        Settings s;
        s.fixwinsize = window;
        printedByValidation(s);
        EXPECT_EQ(s.fixwinsize, window);
    }
}

TEST_F(StartupTest, OldSweepRaisesMinimumDprime) {
    Settings s;
    oldSweep = true;
    validated(s);
    EXPECT_EQ(minDprime, 2.0);
}

TEST_F(StartupTest, MinimumBlockIsTheMinimumWindow) {
    Settings s;
    s.minWinSize = 9;
    const RunContext context = validated(s);
    EXPECT_EQ(context.minblock, 9);
}

TEST_F(StartupTest, OnlyEosTurnsEosOnEvenWithoutBlocks) {
    Settings s;
    s.onlyEOS = true;
    s.doEOS = false;
    s.useblocks = false;
    const RunContext context = validated(s);
    EXPECT_TRUE(s.doEOS);
    EXPECT_FALSE(s.useblocks);
    EXPECT_EQ(context.resultBase, "Quintor_Results/Quintor_out_EOS_");
}

TEST_F(StartupTest, FixedWindowTurnsBlocksOff) {
    Settings s;
    s.fixwinsize = 20;
    const std::string note =
        "\nUseblocks option desactivated when there is user defined window size.\n";
    RunContext context;
    EXPECT_EQ(printedByValidation(s, context), note + "\n");
    EXPECT_FALSE(s.useblocks);
    EXPECT_EQ(context.runLog, note + "\nInitial seed " + std::to_string(seed) + "\n");
}

TEST_F(StartupTest, UserSitesTurnBlocksOn) {
    Settings s;
    s.useblocks = false;
    s.selectives = {1000.0, 2000.0};
    const std::string note =
        "\nUseblocks is mandatory when there are user defined sites. It was changed to 1.\n";
    RunContext context;
    EXPECT_EQ(printedByValidation(s, context), note + "\n");
    EXPECT_TRUE(s.useblocks);
    EXPECT_EQ(s.selectives, (std::vector<double>{1000.0, 2000.0}));
    EXPECT_EQ(context.runLog, note + "\nInitial seed " + std::to_string(seed) + "\n");
}

TEST_F(StartupTest, UserSitesWithFixedWindowKeepBlocksOff) {
    Settings s;
    s.useblocks = false;
    s.fixwinsize = 15;
    s.selectives = {1000.0};
    EXPECT_EQ(printedByValidation(s), "");
    EXPECT_FALSE(s.useblocks);
}

TEST_F(StartupTest, NegativeFirstSiteEmptiesTheList) {
    Settings s;
    s.useblocks = false;
    s.selectives = {-1.0, 5000.0};
    EXPECT_EQ(printedByValidation(s), "");
    EXPECT_TRUE(s.selectives.empty());
    EXPECT_FALSE(s.useblocks);

    // A negative value later in the list is a position like any other.
    Settings t;
    t.selectives = {5000.0, -1.0};
    validated(t);
    EXPECT_EQ(t.selectives, (std::vector<double>{5000.0, -1.0}));
}

TEST_F(StartupTest, FormatsForceTheirSettings) {
    {
        Settings s;
        s.format = "gp";
        s.runs = 4;
        const RunContext context = validated(s);
        EXPECT_EQ(context.formatCode, FormatCode::GP);
        EXPECT_TRUE(s.onlyEOS);
        EXPECT_TRUE(s.doEOS);
        EXPECT_EQ(s.runs, 4);
        EXPECT_EQ(context.resultBase, "Quintor_Results/Quintor_out_EOS_");
    }
    {
        Settings s;
        s.format = "BS";
        s.doEOS = false; // passes the blocks check, then the format turns it on
        validated(s);
        EXPECT_TRUE(s.doEOS);
        EXPECT_TRUE(s.onlyEOS);
    }
    {
        // A plink series becomes a single run, so the input is no series base.
        Settings s;
        s.format = "PL";
        s.runs = 5;
        s.input1 = "geno";
        s.inputGiven = true;
        const RunContext context = validated(s);
        EXPECT_EQ(context.formatCode, FormatCode::PL);
        EXPECT_EQ(s.runs, 1);
        EXPECT_TRUE(s.onlyEOS);
        EXPECT_EQ(context.inputBase, "QuintorF");
        EXPECT_EQ(s.input2, "geno");
    }
    {
        Settings s;
        s.format = "plink2";
        s.runs = 5;
        const RunContext context = validated(s);
        EXPECT_EQ(context.formatCode, FormatCode::PL);
        EXPECT_EQ(s.runs, 1);
    }
    {
        Settings s;
        s.format = "pl2";
        s.runs = 3;
        const RunContext context = validated(s);
        EXPECT_EQ(context.formatCode, FormatCode::PL2);
        EXPECT_EQ(s.runs, 1);
        EXPECT_TRUE(s.onlyEOS);
    }
    {
        Settings s;
        s.format = "genepop";
        s.runs = 3;
        const RunContext context = validated(s);
        EXPECT_EQ(context.formatCode, FormatCode::MS);
        EXPECT_FALSE(s.onlyEOS);
        EXPECT_EQ(s.runs, 3);
        EXPECT_EQ(context.resultBase, "");
    }
    {
        Settings s;
        s.format = "hmfp";
        s.runs = 2;
        const RunContext context = validated(s);
        EXPECT_EQ(context.formatCode, FormatCode::HM);
        EXPECT_FALSE(s.onepopbyfile);
        EXPECT_EQ(s.runs, 2);
    }
}

TEST_F(StartupTest, OnePopulationPerFileFormats) {
    for (const char *format : {"fp", "vcf"}) {
        Settings s;
        s.format = format;
        s.runs = 6;
        s.input1 = "pop1";
        s.input2 = "pop2";
        validated(s);
        EXPECT_TRUE(s.onepopbyfile) << format;
        EXPECT_EQ(s.runs, 1) << format;
        EXPECT_TRUE(s.inputGiven) << format;
        EXPECT_EQ(s.input1, "pop1") << format;
        EXPECT_EQ(s.input2, "pop2") << format;
    }
    {
        // FASTA with a second name and no first one: no equal-names error.
        Settings s;
        s.format = "fasta";
        s.input2 = "b.fas";
        const RunContext context = validated(s);
        EXPECT_EQ(context.formatCode, FormatCode::FASTA);
        EXPECT_TRUE(s.onepopbyfile);
        EXPECT_TRUE(s.inputGiven);
        EXPECT_EQ(s.runs, 1);
        EXPECT_EQ(s.input1, "");
        EXPECT_EQ(s.input2, "b.fas");
    }
    {
        // FASTA without a second name splits one file: the second name is the first.
        Settings s;
        s.format = "fasta";
        s.input1 = "a.fas";
        s.inputGiven = true;
        s.runs = 3;
        const RunContext context = validated(s);
        EXPECT_FALSE(s.onepopbyfile);
        EXPECT_EQ(s.input2, "a.fas");
        EXPECT_EQ(s.runs, 3);
        EXPECT_EQ(context.inputBase, "a.fas");
    }
    {
        // Names that differ only in case are different files.
        Settings s;
        s.onepopbyfile = true;
        s.input1 = "pop.txt";
        s.input2 = "POP.txt";
        validated(s);
        EXPECT_TRUE(s.inputGiven);
    }
}

TEST_F(StartupTest, SeriesBaseNeedsAnInputNameAndSeveralRuns) {
    {
        Settings s;
        s.input1 = "base";
        s.inputGiven = true;
        s.runs = 3;
        const RunContext context = validated(s);
        EXPECT_EQ(context.inputBase, "base");
        EXPECT_EQ(s.input2, "base");
    }
    {
        Settings s;
        s.input1 = "base";
        s.inputGiven = true;
        const RunContext context = validated(s);
        EXPECT_EQ(context.inputBase, "QuintorF");
    }
    {
        Settings s;
        s.runs = 3;
        const RunContext context = validated(s);
        EXPECT_EQ(context.inputBase, "QuintorF");
    }
}

TEST_F(StartupTest, FixedSeedIsRecordedWithoutLineEnd) {
    Settings s;
    s.fixseed = true;
    RunContext context;
    context.runLog = "start";
    validateSettings(s, context);
    EXPECT_EQ(seed, 777);
    EXPECT_EQ(context.runLog, "start\nWARNING: Fixed seed mode is on. Fixed seed is 777");
}

TEST_F(StartupTest, MaximumWindowZeroOrNegativeIsNoError) {
    for (int maxwin : {0, -1}) {
        Settings s;
        s.MaxWinSize = maxwin;
        validated(s);
        EXPECT_EQ(s.MaxWinSize, maxwin);
    }
}

// Runs the validation in a child process and checks the fatal error: the
// message on the console, the error log and the exit status.
static void expectFatalSettings(const Settings &given, const std::string &message, int code,
                         int status) {
    std::filesystem::remove("stdout.txt");
    std::filesystem::remove("Quintor_ERROR.log");
    Settings s = given;
    EXPECT_EXIT((sendOutputToFiles(), validated(s)), ::testing::ExitedWithCode(status), "");
    EXPECT_EQ(readFile("stdout.txt"), message + "\n");
    EXPECT_EQ(readFile("Quintor_ERROR.log"),
              message + (code != 0 ? " " + std::to_string(code) : std::string()) + "\n");
    EXPECT_FALSE(fileExists("Quintor.log"));
}

TEST_F(StartupDeathTest, ResultsFolderThatCannotBeMadeIsFatal) {
    writeFile("Quintor_Results", "");
    expectFatalSettings(Settings(), "\nERROR: \nCould not create the results folder Quintor_Results\n",
                        1, 1);
    EXPECT_TRUE(std::filesystem::is_regular_file("Quintor_Results"));
}

TEST_F(StartupDeathTest, WindowOutOfLimits) {
    Settings s;
    s.fixwinsize = 2000;
    expectFatalSettings(s, "\nERROR: \nDefined window size of 2000 is out of limits: [11, 1000]\n",
                        2, 2);
    // The results folder comes later.
    EXPECT_FALSE(fileExists("Quintor_Results"));
    s.useblocks = false;
    expectFatalSettings(s, "\nERROR: \nDefined window size of 2000 is out of limits: [11, 1000]\n",
                        1, 1);
    s.doEOS = false;
    expectFatalSettings(s, "\nERROR: \nDefined window size of 2000 is out of limits: [11, 1000]\n",
                        0, 1);
    Settings t;
    t.fixwinsize = 20;
    t.MaxWinSize = 0;
    expectFatalSettings(t, "\nERROR: \nDefined window size of 20 is out of limits: [11, 0]\n", 2,
                        2);
    Settings u;
    u.fixwinsize = 8;
    u.minWinSize = 9;
    expectFatalSettings(u, "\nERROR: \nDefined window size of 8 is out of limits: [9, 1000]\n", 2,
                        2);
    // Before the maximum-below-minimum check.
    Settings v;
    v.fixwinsize = 20;
    v.MaxWinSize = 5;
    expectFatalSettings(v, "\nERROR: \nDefined window size of 20 is out of limits: [11, 5]\n", 2,
                        2);
}

TEST_F(StartupDeathTest, NoBlocksRequireEos) {
    const std::string message =
        "\nERROR: \nOption without automatic blocks requires the doEOS tag set to 1 (default)\n";
    Settings s;
    s.useblocks = false;
    s.doEOS = false;
    expectFatalSettings(s, message, 0, 1);
    EXPECT_FALSE(fileExists("Quintor_Results"));
    // Checked before user sites could turn blocks on, and before a format
    // could force the EOS test.
    s.selectives = {1000.0, 2000.0};
    expectFatalSettings(s, message, 0, 1);
    s.format = "gp";
    expectFatalSettings(s, message, 0, 1);
}

TEST_F(StartupDeathTest, MaximumWindowBelowMinimum) {
    Settings s;
    s.MaxWinSize = 5;
    expectFatalSettings(
        s, "\nERROR: \nMaxWinSize is lower than minWinSize: 11. You should define a higher value\n",
        5, 5);
    EXPECT_FALSE(fileExists("Quintor_Results"));
    Settings t;
    t.MaxWinSize = 256;
    t.minWinSize = 300;
    expectFatalSettings(
        t, "\nERROR: \nMaxWinSize is lower than minWinSize: 300. You should define a higher value\n",
        256, 1);
    // After the format: an EOS-only format does not spare it.
    Settings u;
    u.format = "bs";
    u.MaxWinSize = 10;
    expectFatalSettings(
        u, "\nERROR: \nMaxWinSize is lower than minWinSize: 11. You should define a higher value\n",
        10, 10);
}

TEST_F(StartupDeathTest, EqualNamesWithOnePopulationPerFile) {
    const std::string message = "\nERROR: \nEqual file names under onepopbyfile option\n";
    Settings s;
    s.onepopbyfile = true;
    expectFatalSettings(s, message, 0, 1);
    // The results folder is made before the names are checked.
    EXPECT_TRUE(std::filesystem::is_directory("Quintor_Results"));
    Settings t;
    t.onepopbyfile = true;
    t.input1 = "pop.txt";
    t.input2 = "pop.txt";
    expectFatalSettings(t, message, 0, 1);
    Settings u;
    u.format = "vcf";
    expectFatalSettings(u, message, 0, 1);
    Settings v;
    v.format = "Fasta";
    v.input1 = "x.fas";
    v.input2 = "x.fas";
    expectFatalSettings(v, message, 0, 1);
}

// ---------------------------------------------------------------------------
// Start-up: banner and loop preparation
// ---------------------------------------------------------------------------

TEST(Banner, LinesSeparatedByEmptyLines) {
    const std::string dashes(69, '-');
    testing::internal::CaptureStdout();
    printBanner();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n" + dashes + "\n" +
                  "\n Quintor: Program to identify patterns of natural selection using "
                  "information-based statistics\n" +
                  "\n Written by the Quintor developers\t\t\t\n" +
                  "\n Usage and file formats: see the README of the distribution\t\t\t\n" +
                  "\n" + dashes + "\n" + "\n\n");
}

TEST_F(StartupTest, LoopPreparationSizesThePerPopulationContainers) {
    {
        Settings s;
        s.format = "hm";
        s.runs = 3;
        s.rsidInfo = true;
        const auto [analysis, results] = preparedLoop(s);
        EXPECT_EQ(analysis.snpositions.size(), 2u);
        EXPECT_EQ(analysis.snpfreqs.size(), 2u);
        EXPECT_EQ(analysis.popReferences.size(), 2u);
        EXPECT_TRUE(analysis.snpositions[0].empty() && analysis.snpositions[1].empty());
        EXPECT_EQ(analysis.numsnps.size(), 1u);
        // The per-run slots come with the files read, not with -runs.
        EXPECT_TRUE(results.rsidMaps.empty());
        EXPECT_TRUE(results.rsidTables.empty());
        EXPECT_TRUE(results.rsidFileNames.empty());
        EXPECT_TRUE(results.names.empty());
    }
    {
        Settings s;
        s.runs = 4;
        s.onlyrsidInfo = true;
        const auto [analysis, results] = preparedLoop(s);
        EXPECT_TRUE(results.rsidMaps.empty());
        EXPECT_TRUE(results.rsidTables.empty());
    }
    {
        Settings s;
        s.runs = 4;
        const auto [analysis, results] = preparedLoop(s);
        EXPECT_TRUE(results.rsidMaps.empty());
        EXPECT_TRUE(results.rsidTables.empty());
    }
}
