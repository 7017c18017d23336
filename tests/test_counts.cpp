// The allele-count readers (BS, plink, genepop) and the loci filter: the
// census they build, and how each kind of bad file is rejected.
#include "driver.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <iostream>

namespace {

class CountReaders : public ScratchFolderTest {
protected:
    void SetUp() override {
        ScratchFolderTest::SetUp();
        GTEST_FLAG_SET(death_test_style, "fast");
    }
    AlleleCountTables tables;
    std::vector<std::string> names;
    std::vector<int> sizes;
    std::vector<std::vector<double>> positions;
};

// The counts (and codes) of one entry of the tables.
std::vector<float> countsOf(const AlleleCountTables &t, size_t locus, size_t pop) {
    const size_t e = t.entry(locus, pop);
    return {t.alleleCounts.begin() + static_cast<std::ptrdiff_t>(t.entryBegin(e)),
            t.alleleCounts.begin() + static_cast<std::ptrdiff_t>(t.entryEnd(e))};
}
std::vector<uint32_t> statesOf(const AlleleCountTables &t, size_t locus, size_t pop) {
    const size_t e = t.entry(locus, pop);
    return {t.alleleStates.begin() + static_cast<std::ptrdiff_t>(t.entryBegin(e)),
            t.alleleStates.begin() + static_cast<std::ptrdiff_t>(t.entryEnd(e))};
}

void readBsFile() {
    AlleleCountTables t;
    std::vector<std::string> n;
    int numpops = 2;
    readBS("", "f.bs", numpops, t, n);
}

void readGpFile() {
    AlleleCountTables t;
    std::vector<std::string> n;
    std::vector<int> s;
    readGenepop("", "f.gen", s, t, n);
}

} // namespace

TEST_F(CountReaders, BsTablesFromBothBlocks) {
    writeFile("f.bs", "[loci]=2\n[populations]=2\n[pop]\n01 3 2 1 2\n2 0 0\n[pop]\n1 4 3 1 0.5 2.5\n2 2 1 2\n");
    int numpops = 2;
    ASSERT_TRUE(readBS("", "f.bs", numpops, tables, names));
    EXPECT_EQ(names, (std::vector<std::string>{"01", "2"}));
    EXPECT_EQ(countsOf(tables, 0, 1), (std::vector<float>{1, 0.5f, 2.5f}));
    EXPECT_TRUE(countsOf(tables, 1, 0).empty());
    EXPECT_EQ(tables.majorAlleleCounts, (std::vector<float>{2, 0, 2.5f, 2}));
    // A file without its count lines fails softly.
    writeFile("f.bs", "[loci]=2\n");
    EXPECT_FALSE(readBS("", "f.bs", numpops, tables, names));
}

TEST_F(CountReaders, BadBsFilesEndTheProcess) {
    const std::string head = "[loci]=1\n[populations]=2\n[pop]\n";
    struct Case {
        std::string text;
        int status;
        std::string log;
    } cases[] = {
        {head + "1 2 2 1\n", 1, "ERROR reading BScan format in loci 1 of population 1\n 1\n"},
        {head + "1 2\n", 1, "ERROR reading BScan format in loci 1 of population 1\n 1\n"},
        {head + "1 2 -1\n", 1, "ERROR reading BScan format in loci 1 of population 1\n 1\n"},
        {head + "1 2 2 3 -1\n", 3,
         "ERROR reading BScan format: Negative allele count -1 in loci 1 of population 1\n 3\n"},
        {head + "1 3 2 1.5 1\n", 3, "ERROR reading BScan format: Total alleles are 2.5 should be 3\n 3\n"},
        {head + "2 2 2 1 1\n", 1, "ERROR reading BScan format: Loci number was 2 should be 1\n 1\n"},
        // A last "[pop]" line without a line end is the line read again.
        {head + "1 20 2 15 5\n[pop]", 1,
         "ERROR reading BScan format: Loci number was [pop] should be 1\n 1\n"},
        {"[loci]=-4\n[populations]=2\n", 1,
         "ERROR reading BScan format: Number of loci is -4 but cannot be negative\n 1\n"},
        {"[loci]=1\n[populations]=3\n", 1,
         "ERROR reading BScan format: Number of populations is 3 but should be 2\n 1\n"},
        {head + "1 2 2 1 1\n[pop] \n1 2 2 1 1\n", 1,
         "ERROR reading BScan format: Read 1 populations but should be 2\n 1\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        writeFile("f.bs", c.text);
        EXPECT_EXIT(readBsFile(), testing::ExitedWithCode(c.status), "");
        EXPECT_EQ(readFile("Quintor_ERROR.log"), c.log);
    }
}

TEST_F(CountReaders, PlinkCensusOfFamilyRunsAndMissingCopies) {
    writeFile("g.map", "1 s1 0 100\n1 s2 0 250.5\n");
    // Family fam1 also written FAM1; a lower-case allele counts; 0, AG and -
    // are missing copies. FAM1 (3 individuals) misses 1 copy at each locus
    // (kept count), FAM2 (2 individuals) 2 copies at s2 (too many).
    writeFile("g.ped",
              "FAM1 1 0 0 0 -9 a C A G\n"
              "fam1 2 0 0 0 -9 C AG 0 G\n"
              "FAM1 3 0 0 0 -9 A A G G\n"
              "# a comment\n"
              "FAM2 4 0 0 0 -9 T T - G\n"
              "FAM2 5 0 0 0 -9 T G A 0\n");
    ASSERT_TRUE(readPlinkNucleotide("", "g.map", "g.ped", 2, positions, sizes, tables, names));
    EXPECT_EQ(sizes, (std::vector<int>{3, 2}));
    EXPECT_EQ(names, (std::vector<std::string>{"s1", "s2"}));
    EXPECT_EQ(positions, (std::vector<std::vector<double>>{{100, 250.5}, {100, 250.5}}));
    EXPECT_EQ(statesOf(tables, 0, 0), (std::vector<uint32_t>{'A', 'C'}));
    EXPECT_EQ(countsOf(tables, 0, 0), (std::vector<float>{3, 2}));
    EXPECT_EQ(statesOf(tables, 1, 1), (std::vector<uint32_t>{'A', 'G'}));
    // The missing AG at s1 counts nowhere at s2.
    EXPECT_EQ(countsOf(tables, 1, 0), (std::vector<float>{1, 4}));
    EXPECT_EQ(tables.majorAlleleCounts, (std::vector<float>{3, 4, 3, -99}));

    // Numeric alleles: X reads as missing; 1 missing copy among 2
    // individuals is too many.
    writeFile("n.ped", "P1 1 0 0 0 -9 1 2 2 X\nP1 2 0 0 0 -9 1 1 2 2\nP2 3 0 0 0 -9 2 2 0 0\nP2 4 0 0 0 -9 2 2 1 2\n");
    ASSERT_TRUE(readPlinkNumeric("", "g.map", "n.ped", 2, positions, sizes, tables, names));
    EXPECT_EQ(statesOf(tables, 1, 0), (std::vector<uint32_t>{2}));
    EXPECT_EQ(countsOf(tables, 1, 0), (std::vector<float>{3}));
    EXPECT_EQ(tables.majorAlleleCounts, (std::vector<float>{3, -99, 4, -99}));
}

TEST_F(CountReaders, BadPlinkFilesFailWithTheirMessage) {
    writeFile("g.map", "1 s1 0 100\n1 s2 0 200\n");
    struct Case {
        std::string map, ped, message;
    } cases[] = {
        {"1 s1 0 100\n1 s2 200\n", "",
         "\nERROR: problem reading map file g.map . Num of columns were 3\n"},
        {"# only a comment\n\n", "", "\nERROR: empty map file g.map\n"},
        {"", "F 1 0 0 0 -9 A\n", "\nERROR: problem reading ped file g.ped\n"},
        {"", "F 1 0 0 0 -9 A C A\n", "\nERROR: wrong number of genotypes in ped file g.ped\n"},
        {"", "F 1 0 0 0 -9 A C A C A C\n",
         "\nERROR: inconsistency between number of loci in map and ped files: 2 vs 3\n"},
        {"", "F 1 0 0 0 -9 0 C A C\n",
         "\nERROR: wrong plink nucleotide genotype format in ped file g.ped have read 0\n"},
        {"", "F 1 0 0 0 -9 A C A C\nG 2 0 0 0 -9 A C A\n",
         "\nERROR: wrong number of genotypes in ped file g.ped at line 2: 3 allele tokens, but "
         "the first line has 4\n"},
        {"", "F 1 0 0 0 -9 A C A C\nF 2 0 0 0 -9 A C A C\n",
         "\nERROR: ped file g.ped ends at line 2 with 1 population, but there should be 2\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        writeFile("g.map", c.map.empty() ? "1 s1 0 100\n1 s2 0 200\n" : c.map);
        writeFile("g.ped", c.ped);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(readPlinkNucleotide("", "g.map", "g.ped", 2, positions, sizes, tables, names));
        EXPECT_NE(testing::internal::GetCapturedStdout().find(c.message + "\n"), std::string::npos);
    }
}

TEST_F(CountReaders, GenepopCensusAndBadFiles) {
    // Names one per line and comma-separated; "Pop" in any case; "0000" and
    // the one-digit token "5" hold missing copies.
    writeFile("f.gen", "title\nl1\nl2, l3\nPop\na, 0102 001002 0000\nb,0101 002002 5\npOp 2\nc, 0202 001001 0303\n");
    ASSERT_TRUE(readGenepop("", "f.gen", sizes, tables, names));
    EXPECT_EQ(names, (std::vector<std::string>{"l1", "l2", " l3"}));
    EXPECT_EQ(sizes, (std::vector<int>{2, 1}));
    EXPECT_EQ(statesOf(tables, 0, 0), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(countsOf(tables, 0, 0), (std::vector<float>{3, 1}));
    EXPECT_EQ(statesOf(tables, 2, 0), (std::vector<uint32_t>{5}));
    // Population of one individual: always -99.
    EXPECT_EQ(tables.majorAlleleCounts, (std::vector<float>{3, 3, -99, -99, -99, -99}));

    struct Case {
        std::string text;
        int status;
        std::string log;
    } cases[] = {
        {"t\nl1\nl2\npop\na, 0101 0101\nb, 0101\n", 1,
         "ERROR reading genpop format: 1 genotypes but should be 2 in file f.gen at line 6\n 1\n"},
        {"t\nl1\nl2\nl3\n", 1,
         "ERROR reading genpop format: No population line in file f.gen at line 4 (the end of the "
         "file)\n 1\n"},
        {"t\nl1\npop\na, 0101 0101\n", 1,
         "ERROR reading genpop format: 1 loci names but 2 loci in file f.gen at line 4\n 1\n"},
        {"t\nl1\npop\na, 0101\npop\nb, 0101\npop\n", 3,
         "\nERROR reading genpop format: Only two populations are allowed and found 3\n 3\n"},
        // A locus named Popcorn opens the first population.
        {"t\nl1\nPopcorn\nl3\n", 1,
         "ERROR reading genpop format: When separating loci names word number was 1 should be 2\n 1\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        writeFile("f.gen", c.text);
        EXPECT_EXIT(readGpFile(), testing::ExitedWithCode(c.status), "");
        EXPECT_EQ(readFile("Quintor_ERROR.log"), c.log);
    }
}

TEST(CountLoci, MonomorphicAndEmptyLociUnderMafZero) {
    // Locus 0 monomorphic in both populations (kept, Fst 0); locus 1 without
    // any copy in population 1 (dropped); locus 2 fixed for different
    // alleles (Fst 1).
    AlleleCountTables t;
    t.numloci = 3;
    t.numpops = 2;
    const std::vector<std::vector<float>> counts = {{4}, {}, {4}, {4}, {}, {4}};
    const std::vector<std::vector<uint32_t>> states = {{1}, {}, {1}, {1}, {}, {2}};
    for (size_t e = 0; e < counts.size(); ++e) {
        t.alleleCounts.insert(t.alleleCounts.end(), counts[e].begin(), counts[e].end());
        t.alleleStates.insert(t.alleleStates.end(), states[e].begin(), states[e].end());
        t.closeEntry(counts[e].empty() ? 0.0f : counts[e][0]);
    }
    Settings s;
    s.maf = 0.0;
    RunContext context;
    context.formatCode = FormatCode::BS;
    for (FormatCode code : {FormatCode::BS, FormatCode::GP}) {
        context.formatCode = code;
        AnalysisData a;
        a.filelocnames = {"m", "e", "d"};
        filterAlleleCountLoci(s, context, a, t);
        ASSERT_EQ(a.numsnps[0], 2);
        EXPECT_EQ(a.filelocnames, (std::vector<std::string>{"m", "d"}));
        EXPECT_EQ(a.fstdistrib[0].fst, 0.0);
        EXPECT_EQ(a.fstdistrib[1].fst, code == FormatCode::BS ? 0.0 : 1.0);
        EXPECT_EQ(a.fsttot, code == FormatCode::BS ? 0.0 : 0.5);
        EXPECT_EQ(a.metapopsnpositions, (std::vector<double>{0.0, 0.5}));
        // The SNP information table's lists: kept loci only.
        EXPECT_EQ(a.snpositions[1], (std::vector<double>{0, 2}));
        EXPECT_EQ(a.snpfreqs[1], (std::vector<double>{0, 0}));
    }
}
