// driver: result names, the results tables, the Fst-outlier summary and the
// SNP information table.
#include "driver.h"

#include <fstream>
#include <sstream>
#include <iostream>

namespace {
// Closes a result file; one that could not be opened, written or closed ends
// the run with a message naming it.
void closeChecked(std::ofstream &file, const std::string &name) {
    file.close();
    if (file.fail()) failedWrite(name);
}
} // namespace

std::string buildResultBase(const Settings &s, RunContext &context, int32_t popforHB) {
    if (s.onlyEOS) {
        context.resultBase += "_MAF" + toString<double>(s.maf);
        return context.resultBase;
    }
    std::string base = context.outputPrefix + (context.autoRef ? "AutoRefPop" : "RefPop") +
                       toString<int>(popforHB + 1) + "_MAF_" + toString<double>(s.maf);
    if (s.runs > 1) base += "_NF" + toString<int>(s.runs);
    if (oldSweep) base += "_OldSweep";
    if (s.useblocks) base += "_Blocks";
    if (s.noGaps) base += "_NoGaps";
    if (s.fastaTag == "rnd0") base += "_RND";
    if (s.fixwinsize > 0) base += "_W" + toString<int>(s.fixwinsize);
    context.resultBase = base;
    return base;
}

std::string significantTableName(const std::string &tableName) {
    const size_t dot = tableName.rfind('.');
    return (dot == std::string::npos ? tableName : tableName.substr(0, dot)) + "_SIG.tsv";
}

void writeOutputFile(RunResults &results, const std::string &tableName, const double SL) {
    const std::string significantName = significantTableName(tableName);
    std::ofstream table(tableName.c_str(), std::ios::app);
    std::ofstream significant(significantName.c_str(), std::ios::app);
    auto closeTables = [&]() {
        closeChecked(table, tableName);
        closeChecked(significant, significantName);
    };
    if (results.jfiles.empty()) return closeTables();
    QUINTOR_CHECK(results.names.size() == results.fstfiles.size());
    table.precision(12);
    significant.precision(12);
    const bool hapmap = !results.rsidMaps.empty();
    const std::string header =
        hapmap ? "File\t#SNPs\tCandidate\trsid\tPos\tWide\tIni\tEnd\tNCLASSES\tMeanFST\tFST\t"
                 "FSTindex\tfstPval\tn1\tn2\tJHac\tPval\tSig"
               : "File\t#SNPs\tCandidate\tSNP\tWide\tIni\tEnd\tNCLASSES\tMeanFST\tFST\tFSTindex\t"
                 "fstPval\tn1\tn2\tJHac\tPval\tSig";
    table << header << std::endl;
    significant << header << std::endl;

    // Summary slots by candidate rank.
    const size_t slots = static_cast<size_t>(results.maxCands);
    std::vector<double> significantRows(slots, 0.0), wideSums(slots, 0.0), positionSums(slots, 0.0);
    std::vector<size_t> rankLabels(slots, 0);

    // jfiles holds the kept files that ran the J test; each knows its index
    // among the kept files, whose per-file values it shows.
    for (size_t i = 0; i < results.jfiles.size(); ++i) {
        const size_t file = results.jfileKept[i];
        QUINTOR_CHECK(file < results.names.size());
        if (results.highfstfiles[file]) {
            const std::string warning =
                "\nWARNING: THE AVERAGE FST WAS GREATER THAN 0.5 IN FILE " + results.names[file] + "\n";
            table << warning << std::endl;
            significant << warning << std::endl;
        }
        const std::vector<CandidateResult> &records = results.jfiles[i];
        const auto run = results.rsidMaps.find(static_cast<int32_t>(results.jfileRuns[i]));
        const RsidMap *names = run != results.rsidMaps.end() ? &run->second : nullptr;
        for (size_t j = 0; j < records.size(); ++j) {
            const CandidateResult &r = records[j];
            std::ostringstream row;
            row.precision(12);
            row << results.names[file] << "\t" << results.nsnpsfiles[file] << "\t" << j + 1 << "\t";
            if (hapmap) {
                const auto found = names ? names->find(r.pos) : RsidMap::const_iterator();
                row << (names && found != names->end() ? found->second : std::string()) << "\t";
            }
            row << r.pos << "\t" << r.wide << "\t" << r.iniPos[0] << "\t" << r.endPos[0] << "\t"
                << r.nclasses << "\t" << results.meanfsts[file] << "\t" << r.fst << "\t"
                << r.fstIndex << "\t" << r.fstPval << "\t" << results.samplesizesfiles[file][0]
                << "\t" << results.samplesizesfiles[file][1] << "\t" << r.jhac << "\t" << r.pval
                << (r.pval <= SL ? "\t*" : "\tns");
            table << row.str() << std::endl;
            if (j < slots) rankLabels[j] = j + 1;
            if (r.pval <= SL) {
                significant << row.str() << std::endl;
                if (j < slots) {
                    significantRows[j] += 1.0;
                    wideSums[j] += r.wide;
                    positionSums[j] += r.pos;
                }
            }
        }
    }

    const double F = static_cast<double>(results.jfiles.size());
    results.totalSnps = results.totalSnps / F;
    table << std::endl;
    if (results.jfiles.size() > 1) {
        table << "SegSites\tCandidate\tMean_size\tMean_pos\t%PowerJ\t%FPJJ" << std::endl;
        table << results.totalSnps;
        for (size_t j = 0; j < slots; ++j) {
            const double power = 100.0 * significantRows[j] / F;
            const double falsePositives =
                100.0 * significantRows[j] / static_cast<double>(results.validRunCount);
            const bool any = significantRows[j] > 0;
            const double meanSize = any ? wideSums[j] / significantRows[j] : 0.0;
            const double meanPos = any ? positionSums[j] / significantRows[j] : -1.0;
            table << "\t" << rankLabels[j] << "\t" << meanSize << "\t" << meanPos << "\t" << power
                  << "\t" << falsePositives << std::endl;
        }
    }
    closeTables();
}

void writeFstSummary(const Settings &s, const RunResults &results, const std::string &resultBase) {
    const std::string name = resultBase + "_FSTs.txt";
    std::ofstream file(name.c_str(), std::ios::app);
    if (results.nonEOSfiles.empty()) return closeChecked(file, name);
    QUINTOR_CHECK(results.names.size() == results.fstfiles.size());
    QUINTOR_CHECK(results.nonEOSfiles.size() == results.names.size() &&
                  results.nsnpsfiles.size() == results.names.size());
    size_t withExtreme = 0;
    for (const std::vector<SiteRecord> &eos : results.fstfiles)
        if (!eos.empty()) ++withExtreme;
    const double percentage =
        100.0 * static_cast<double>(withExtreme) / static_cast<double>(results.names.size());
    const std::string stars(52, '*');
    file << "MAF = " << s.maf << std::endl;
    file << "% FILES WITH K-MEANS EXTREME POSITIVE OUTLIERS = " << toString<double>(percentage)
         << "%\n";
    // Rows from the last record to the first: by descending Fst. From the
    // first row on, the stream writes 12 significant digits.
    auto writeRows = [&file](const std::vector<SiteRecord> &records) {
        file.precision(12);
        file << "\n\t\t\tID\tPos\tFST\tpval(LK test)";
        for (size_t k = records.size(); k-- > 0;) {
            const SiteRecord &r = records[k];
            file << std::endl << "\t\t\t" << r.id << "\t" << r.pos << "\t" << r.fst << "\t" << r.lkPval;
        }
    };
    for (size_t i = 0; i < results.nonEOSfiles.size(); ++i) {
        file << "\n" << stars << std::endl;
        file << "FILE " << results.names[i] << "\n";
        file << stars << "\n" << std::endl;
        file << "#SNPs" << "\t" << results.nsnpsfiles[i] << "\n";
        file << "\n*************** Non-EOS FST OUTLIERS" << std::endl;
        const std::vector<SiteRecord> &nonEos = results.nonEOSfiles[i];
        file << nonEos.size() << std::endl;
        if (!nonEos.empty()) writeRows(nonEos);
        file << std::endl;
        file << "\n*************** EOS FST OUTLIERS" << std::endl;
        const std::vector<SiteRecord> &eos = results.fstfiles[i];
        if (!eos.empty()) {
            file << eos.size() << "\n";
            writeRows(eos);
            file << std::endl;
        } else {
            file << "0" << std::endl;
        }
    }
    closeChecked(file, name);
}

void formatRsidTable(const std::vector<std::string> &labels, const std::vector<std::string> &rsids,
                     const std::vector<std::vector<double>> &snpositions,
                     const std::vector<std::vector<double>> &snpfreqs, std::string &out) {
    out = "\nPopulation\trsID\tPosition\tFrequency\n";
    QUINTOR_CHECK(rsids.size() == snpositions[0].size() && rsids.size() == snpfreqs[1].size());
    std::ostringstream text;
    text.precision(10);
    for (size_t p = 0; p < labels.size() && p < snpositions.size() && p < snpfreqs.size(); ++p) {
        text << labels[p] << "\n";
        QUINTOR_CHECK(snpositions[p].size() >= rsids.size() && snpfreqs[p].size() >= rsids.size());
        for (size_t i = 0; i < rsids.size(); ++i)
            text << "\t" << rsids[i] << "\t" << snpositions[p][i] << "\t"
                 << toString<double>(snpfreqs[p][i]) << "\n";
    }
    out += text.str();
}

void appendBuffersToFiles(const std::vector<std::string> &outnames,
                          const std::vector<std::string> &buffers) {
    QUINTOR_CHECK(outnames.size() == buffers.size());
    for (size_t i = 0; i < outnames.size(); ++i) {
        std::ofstream file(outnames[i].c_str(), std::ios::app);
        file << buffers[i] << std::endl;
        closeChecked(file, outnames[i]);
    }
}
