// The phased HapMap, fastPHASE and phased VCF readers on hand-made files:
// nucleotide coding against the reference population's minor allele,
// deleted sites, soft failures with their messages, and the fatal layouts
// (exit status and error-log text).
#include "SNPSelTools.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Rows;
typedef std::vector<double> Values;

class HaplotypeReaders : public HaplotypeReaderTest {
protected:
    RsidMap names;
    int refpop = 0;

    bool hapmap(bool twoFiles) {
        return readHapMapPhased("", "a.hm", "b.hm", twoFiles, sizes, data, freqs, positions, names,
                                refpop);
    }
    bool fastPhase() { return readFastPhase("", "a.fp", "b.fp", sizes, data, freqs, positions, refpop); }
    bool vcf() { return readVCFPhased("", "a.vcf", "b.vcf", sizes, data, freqs, positions, refpop); }
};

// Runs the reader in a child that must end with status 1 and the log text.
#define EXPECT_FATAL(call, log)                                                  \
    do {                                                                         \
        std::remove("Quintor_ERROR.log");                                        \
        EXPECT_EXIT({ sendOutputToFiles(); call; }, testing::ExitedWithCode(1), ""); \
        EXPECT_EQ(readFile("Quintor_ERROR.log"), log);                           \
    } while (0)

} // namespace

TEST_F(HaplotypeReaders, HapMapOneFileInHalvesCodesAgainstTheReferenceMinor) {
    writeFile("a.hm", "rsID pos a b c d e\n"
                      "# comment\n"
                      "rs7 1500 a g a g a\n"   // reference A A G: minor G
                      "   \n"
                      "rs8 1500 C N G N G\n"   // reference G N G: minor N, no N is 1; 1500 keeps RS7
                      "rs9 1600 A A - - N\n"   // reference major N: deleted in both halves
                      "rs10 1700 G A A G -\n"); // A, G, other once each: minor A
    ASSERT_TRUE(hapmap(false));
    EXPECT_EQ(sizes, (std::vector<int>{2, 3}));
    EXPECT_EQ(refpop, 1);
    EXPECT_EQ(rowsOf(data), (Rows{"000", "101", "001", "100", "000"}));
    EXPECT_EQ(positions[0], (Values{1500, 1500, 1700}));
    EXPECT_EQ(positions[1], positions[0]);
    EXPECT_EQ(freqs[0], (Values{0.5, 0, 0.5}));
    EXPECT_EQ(freqs[1], (Values{1.0 / 3, 0, 1.0 / 3}));
    EXPECT_EQ(names, (RsidMap{{1500, "RS7"}, {1600, "RS9"}, {1700, "RS10"}}));

    // A header that ends the file gives false; with its line end, no sites.
    writeFile("a.hm", "rsID pos a b c d");
    EXPECT_FALSE(hapmap(false));
    writeFile("a.hm", "rsID pos a b c d\n");
    ASSERT_TRUE(hapmap(false));
    EXPECT_EQ(rowsOf(data), (Rows{"", "", "", ""}));
}

TEST_F(HaplotypeReaders, HapMapTwoFilesMapDeletedSitesByFirstEqualPosition) {
    writeFile("a.hm", "id pos x y z\ns1 300 A A C\ns2 100 - - -\ns3 200 T T T\n");
    writeFile("b.hm", "id pos u v\ns1 100 C A\ns2 300 C A\ns3 100 A A\n");
    ASSERT_TRUE(hapmap(true));
    EXPECT_EQ(sizes, (std::vector<int>{3, 2}));
    EXPECT_EQ(refpop, 0);
    // Columns of b are coded with the minor of the reference site at their
    // position: 300 with C; the second 100 with the deleted site's N.
    EXPECT_EQ(rowsOf(data), (Rows{"00", "00", "10", "10", "00"}));
    EXPECT_EQ(positions[0], (Values{300, 200}));
    EXPECT_EQ(positions[1], (Values{300, 100}));
    EXPECT_EQ(freqs[0], (Values{1.0 / 3, 0}));
    EXPECT_EQ(freqs[1], (Values{0.5, 0}));

    writeFile("b.hm", "id pos u v\ns1 100 C A\ns2 300 C A\ns3 100 A A\n\ns4 400 A A\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(hapmap(true));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nERROR: Bad HapMap format in file b.hm line 6: the file has more SNPs (4) than the "
              "reference population's file a.hm (3)\n\n");
}

TEST_F(HaplotypeReaders, HapMapBrokenLayoutsFailNamingFileAndLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"id pos\nrs1 1\n", "line 1: the header names 0 sample columns, 4 are needed at least"},
        {"id pos a b c\nrs1 1 A C G\n", "line 1: the header names 3 sample columns, 4 are needed at least"},
        {"id pos a b c d\nrs1\n", "line 2: the SNP has no position"},
        {"id pos a b c d\nrs1 5 A C A\n", "line 2: the SNP has 3 alleles for 4 samples"},
        {"id pos a b c d\nrs1 inf A C A A\n", "line 2: the position INF is not a finite number"},
        {"id pos a b c d\nrs1 5 A C A A\nrs2 6 A ct A A\n",
         "line 3: the allele CT of sample 2 is not one character"},
    };
    for (const auto &c : cases) {
        writeFile("a.hm", c.first);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(hapmap(false)) << c.first;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "\nERROR: Bad HapMap format in file a.hm " + c.second + "\n\n");
    }
    // One sample column per file cannot make a population.
    writeFile("a.hm", "id pos a b\nrs1 5 A C\n");
    writeFile("b.hm", "id pos a\nrs1 5 A\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(hapmap(true));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nERROR: Bad HapMap format in file b.hm line 1: the header names 1 sample columns, 2 "
              "are needed at least\n\n");
}

TEST_F(HaplotypeReaders, FastPhaseFirstHaplotypesWithoutWhiteSpace) {
    writeFile("a.fp", "fastPHASE\nBEGIN GENOTYPES\n# id 1\nCGTAN\nCGTAN\n# id 2\n\nAAAAT\nAAAAT\n"
                      "# id 3\ncc ttn\nEND GENOTYPES\nEND GENOTYPES\nignored\n");
    writeFile("b.fp", "  BEGIN GENOTYPES\n# id 1\nA C ? T T\nx\n# id 2\nA G ? T N\nx\n# id 3\na g ? a t\n"
                      "x\n# id 4\nA\tC\t?\tT\tT\r\nx\n# id 5\nC C - T T\nx\nEND GENOTYPES\n");
    ASSERT_TRUE(fastPhase());
    EXPECT_EQ(sizes, (std::vector<int>{3, 5}));
    EXPECT_EQ(refpop, 1);
    // Reference minors C, G, (site 2 deleted), A, N (T and one N: no N is 1).
    EXPECT_EQ(rowsOf(data), (Rows{"1110", "0010", "1000", "0000", "0100", "0110", "0000", "1000"}));
    EXPECT_EQ(positions[0], (Values{0, 1, 3, 4}));
    EXPECT_EQ(positions[1], positions[0]);
    EXPECT_EQ(freqs[0], (Values{2.0 / 3, 1.0 / 3, 2.0 / 3, 0}));
    EXPECT_EQ(freqs[1], (Values{0.2, 0.4, 0.2, 0}));
}

TEST_F(HaplotypeReaders, FastPhaseBlocksThatBreakThePairing) {
    writeFile("b.fp", "BEGIN GENOTYPES\n# id 1\nAC\nAC\n# id 2\nAC\nAC\nEND GENOTYPES\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"BEGIN GENOTYPES\n# id 1\nAC\nAC\nAC\nAC\nEND GENOTYPES\n",
         "line 5: the haplotype follows no identifying line"},
        {"BEGIN GENOTYPES\n# id 1\n# id 2\nAC\nAC\nEND GENOTYPES\n",
         "line 2: the individual has no haplotypes"},
        {"BEGIN GENOTYPES\n# id 1\nAC\nAC\n# id 2\n", "line 5: the individual has no haplotypes"},
        {"BEGIN GENOTYPES\nEND GENOTYPES\n", "line 2: the genotype block holds no haplotypes"},
        {"BEGIN GENOTYPES\n# id 1\nAC\nAC\n",
         "line 2: the genotype block holds 1 individual, 2 are needed at least"},
    };
    for (const auto &c : cases) {
        writeFile("a.fp", c.first);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(fastPhase()) << c.first;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "\nERROR: Bad fastPhase format in file a.fp " + c.second + "\n\n");
    }
    for (const char *text : {"# id 1\nAC\nAC\n", "BEGIN GENOTYPES"}) {
        writeFile("a.fp", text);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(fastPhase()) << text;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    writeFile("a.fp", "BEGIN GENOTYPES\n# id 1\nACG\nACG\n# id 2\nACG\nACG\n");
    EXPECT_FATAL(fastPhase(), "ERROR: The files a.fp and b.fp hold different numbers of SNPs: 3 and 2\n\n");
    writeFile("a.fp", "BEGIN GENOTYPES\n# id 1\nAC\nAC\n# id 2\nAC\nAC\n");
    writeFile("b.fp", "BEGIN GENOTYPES\n# id 1\nAC\nAC\n# id 2\nA\nA\n");
    EXPECT_FATAL(fastPhase(), "ERROR: There are SNPs lacking in sequence 2 from population 2\n\n");
}

TEST_F(HaplotypeReaders, VcfCodesAlleleZeroWhereTheReferenceTextsDiffer) {
    const std::string head = "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t";
    // File 2 has more samples: population 0 is coded again once REF texts differ.
    writeFile("a.vcf", "  ##fileformat=VCFv4.2\n " + head + "s1\n"
                       "chr1\t10\t.\tA\tG\t.\t.\t.\tGT\t0|1\n"
                       "chr1\t20\t.\tc\tt\t.\t.\t.\tgt\t1|.\n"
                       "##late comment\n"
                       "chr2\t30\t.\tG\tA\t.\t.\t.\tGT\t2|1\n"
                       "chr1 40 . T C . . . GT 0|0");
    writeFile("b.vcf", head + "s2\ts3\r\n"
                       "chrX\t10\t.\tG\tA\t.\t.\t.\tGT\t0|1\t0|0\r\n"
                       "chrX\t20\t.\tC\tT\t.\t.\t.\tGT\t1|1\t0|1\r\n"
                       "chrX\t30\t.\tG\tA\t.\t.\t.\tGT\t0|0\t1|1\r\n"
                       "chrX\t40\t.\tA\tC\t.\t.\t.\tGT\t1|0\t0|.\r\n");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(vcf());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nFile a.vcf was read\n\nFile b.vcf was read\n\nBegin to parse data\n\n"
              "\n Number of SNPs is 4\n\n Sample sizes are 1 and 2\n\nParsed pop 1\n\nParsed pop 2\n");
    EXPECT_EQ(sizes, (std::vector<int>{2, 4}));
    EXPECT_EQ(refpop, 1);
    EXPECT_EQ(rowsOf(data), (Rows{"1101", "0011", "0101", "1100", "0010", "0110"}));
    EXPECT_EQ(positions[0], (Values{10, 20, 30, 40}));
    EXPECT_EQ(positions[1], positions[0]);
    EXPECT_EQ(freqs[0], (Values{0.5, 0.5, 0.5, 1}));
    EXPECT_EQ(freqs[1], (Values{0.25, 0.75, 0.5, 0.25}));

    // Population 1 is not the reference: its cells code allele 0 at once.
    refpop = 0;
    writeFile("a.vcf", head + "s1\ts2\n1\t5\t.\tA\tC\t.\t.\t.\tGT\t0|1\t1|1\n");
    writeFile("b.vcf", head + "s3\n1\t5\t.\tG\tC\t.\t.\t.\tGT\t0|0\n");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(vcf());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(rowsOf(data), (Rows{"0", "1", "1", "1", "1", "1"}));
    EXPECT_EQ(freqs[0], (Values{0.75}));
    EXPECT_EQ(freqs[1], (Values{1}));

    // One line mixing genotypes taken at once ("a|b" and one tab) with two
    // tabs, a blank and a missing allele.
    writeFile("a.vcf", head + "s1\ts2\ts3\ts4\n1\t5\t.\tA\tC\t.\t.\t.\tGT\t0|1\t\t1|.\t 1|0\t1|1\n");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(vcf());
    EXPECT_EQ(rowsOf(data), (Rows{"0", "1", "1", "0", "1", "0", "1", "1", "1", "1"}));

    // Files with a header and no data line: every haplotype has its row.
    writeFile("a.vcf", head + "s1\ts2\n");
    writeFile("b.vcf", head + "s3\ts4\ts5\n");
    ASSERT_TRUE(vcf());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(rowsOf(data), Rows(10, ""));
}

TEST_F(HaplotypeReaders, VcfLayoutsThatCannotBeReadEndTheProcess) {
    const std::string head = "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\n";
    const std::string good = head + "1\t10\t.\tA\tC\t.\t.\t.\tGT\t0|1\n";
    writeFile("b.vcf", good);
    const std::string bad = "ERROR: Bad VCF-Quintor format in file a.vcf line 2: ";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"#chrom\tPOS\n", "ERROR #CHROM header tag lacking: #chrom. Bad VCF format in file a.vcf\n"},
        {"#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tGT\ts1\n",
         "ERROR FORMAT header tag lacking: Bad VCF format in file a.vcf\n"},
        {"#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\n",
         "ERROR: Bad VCF-Quintor format in file a.vcf line 1: the header names no sample\n"},
        {good + "2\t20\t.\tA\tC\t.\t.\t.\tGT\t0|1\n",
         "ERROR there is more than one chromosome in the file: Bad VCF-Quintor format in file a.vcf\n"},
        {head + "1\t10\t.\tA\tC\t.\t.\t.\tGT\t0/1\n",
         bad + "the genotype 0/1 of sample 1 is not two phased alleles of one character each\n"},
        {head + "1\t10\t.\tA\tC\t.\t.\t.\tGT\t.\n",
         bad + "the genotype . of sample 1 is not two phased alleles of one character each\n"},
        {head + "1\t10\t.\tA\tC\t.\t.\t.\tGT\t0|1|1\n",
         bad + "the genotype 0|1|1 of sample 1 is not two phased alleles of one character each\n"},
        {head + "1\t10\t.\tA\tC\t.\t.\t.\tGT\t1||\n",
         bad + "the genotype 1|| of sample 1 is not two phased alleles of one character each\n"},
        {head + "1\t10\t.\tA\tC\t.\t.\t.\tGT\t||1\n",
         bad + "the genotype ||1 of sample 1 is not two phased alleles of one character each\n"},
        {head + "1\t10\t.\tA\tC\t.\t.\t.\tGT\t10|1\n",
         bad + "the genotype 10|1 of sample 1 is not two phased alleles of one character each\n"},
        {head + "1\t10\t.\tA\tC\t.\t.\t.\tGT:DP\t0|1:3\n", bad + "the FORMAT is GT:DP, only GT is read\n"},
        {head + "1\t10\t.\tA\tC\t.\t.\t.\tGT\t0|1\t1|1\n", bad + "the line has 11 columns, the header 10\n"},
        {head + "1\tnan\t.\tA\tC\t.\t.\t.\tGT\t0|1\n", bad + "the position nan is not a finite number\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        writeFile("a.vcf", c.first);
        EXPECT_FATAL(vcf(), c.second + "\n");
    }
    writeFile("a.vcf", good);
    const std::vector<std::pair<std::string, std::string>> second = {
        {"#Chrom\n", "ERROR #CHROM header tag lacking: Bad VCF format in file b.vcf\n"},
        {head + "2\t10\t.\tA\tC\t.\t.\t.\tGT\t0|1\n",
         "ERROR there are different chromosomes in file: a.vcf and file b.vcf. Bad VCF-Quintor format.\n"},
        {head + "1\t11\t.\tA\tC\t.\t.\t.\tGT\t0|1\n",
         "ERROR: Bad VCF-Quintor format in file b.vcf line 2: the position 11 is not 10, the "
         "position of the same SNP in a.vcf\n"},
        {good + "1\t20\t.\tA\tC\t.\t.\t.\tGT\t0|1\n",
         "ERROR: Bad VCF-Quintor format in file b.vcf line 3: the file has more SNPs than a.vcf (1)\n"},
        {head, "ERROR: Bad VCF-Quintor format in file b.vcf line 1: the file has fewer SNPs (0) than "
               "a.vcf (1)\n"},
    };
    for (const auto &c : second) {
        SCOPED_TRACE(c.first);
        writeFile("b.vcf", c.first);
        EXPECT_FATAL(vcf(), c.second + "\n");
    }
    // Soft failures: a missing file, a file without header.
    writeFile("b.vcf", "##only meta\n");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(vcf());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFile a.vcf was read\n");
    std::remove("b.vcf");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(vcf());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nFile a.vcf was read\n\nCould not open file: b.vcf\n\nTRYING FILE NAME b.vcf\n"
              "\nERROR: can not find input file after 2 tries\n\n\nERROR: can not find input file b.vcf\n\n");
}
