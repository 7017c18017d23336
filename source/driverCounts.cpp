// driver: the allele-count formats (BS, genepop, plink). The file is read
// into allele-count tables; the loci at which every population passes the
// minimum allele frequency (and, but for BS, has enough allele copies) are
// kept, and each kept locus gets its Fst from the heterozygosities within
// the populations and of their pool. The single-precision steps are part of
// the method: the Fst values, and so the outliers, depend on them.
#include "driver.h"

#include <algorithm>
#include <iostream>
#include <limits>
#include <utility>

template <typename Missing>
size_t collectAlleleStates(const AlleleCountTables &tables, size_t locus, Missing missing,
                           std::vector<uint32_t> &out) {
    // Each population's codes are already ascending and distinct.
    out.clear();
    for (size_t p = 0; p < tables.numpops; ++p) {
        const size_t e = tables.entry(locus, p);
        for (size_t k = tables.entryBegin(e); k < tables.entryEnd(e); ++k)
            if (static_cast<Missing>(tables.alleleStates[k]) != missing)
                out.push_back(tables.alleleStates[k]);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out.size();
}

template size_t collectAlleleStates<uint32_t>(const AlleleCountTables &, size_t, uint32_t,
                                              std::vector<uint32_t> &);
template size_t collectAlleleStates<uint64_t>(const AlleleCountTables &, size_t, uint64_t,
                                              std::vector<uint32_t> &);

namespace {

// The float truncated to an int, held inside the int range.
int32_t truncateCount(float value) {
    if (!(value > -2147483648.0f)) return value != value ? 0 : std::numeric_limits<int32_t>::min();
    if (value >= 2147483648.0f) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

// The sample sizes as the run log writes them: "a and b".
std::string sampleSizesText(const std::vector<int32_t> &samplesizes) {
    std::string text;
    for (size_t p = 0; p < samplesizes.size(); ++p)
        text += (p == 0 ? "" : " and ") + toString<int>(samplesizes[p]);
    return text;
}

} // namespace

void filterAlleleCountLoci(const Settings &s, const RunContext &context, AnalysisData &a,
                           const AlleleCountTables &tables) {
    const FormatCode code = context.formatCode;
    const bool bs = code == FormatCode::BS;
    const bool gp = code == FormatCode::GP;
    const bool plink = isPlinkFormat(code);
    const size_t L = tables.numloci;
    const size_t P = L == 0 ? 0 : tables.numpops;
    // BS and genepop files hold as many populations as they say (a genepop
    // file may hold one, which the population check then reports); the
    // plink reader fills the positions of every map locus itself.
    if (plink) {
        a.snpfreqs.assign(static_cast<size_t>(context.numpops), std::vector<double>());
    } else {
        a.snpositions.assign(tables.numpops, std::vector<double>());
        a.snpfreqs.assign(tables.numpops, std::vector<double>());
    }
    std::vector<std::string> keptNames;
    std::vector<double> keptMapPositions;
    // Hs of the locus per population; the locus's Fst follows at once.
    std::vector<double> Hs(P);
    a.fstdistrib.clear();
    double total = 0.0;

    std::vector<int32_t> n(P);
    std::vector<float> f(P);
    std::vector<uint32_t> merged;
    const uint32_t plinkMissing = code == FormatCode::PL ? 78u : 0u;
    for (size_t l = 0; l < L; ++l) {
        if (gp && verbose) std::cout << "\nLOCUS " << (l + 1) << std::endl;
        bool kept = true;
        for (size_t p = 0; p < P && kept; ++p) {
            const size_t e = tables.entry(l, p);
            int32_t np = 0;
            for (size_t k = tables.entryBegin(e); k < tables.entryEnd(e); ++k)
                np = truncateCount(static_cast<float>(np) + tables.alleleCounts[k]);
            const float major = tables.majorAlleleCounts[e];
            n[p] = np;
            f[p] = major / static_cast<float>(static_cast<uint32_t>(np));
            // A population without any allele copy says nothing of the locus.
            kept = np != 0 && !(static_cast<double>(f[p]) > 1.0 - s.maf) &&
                   (bs || major != tooManyMissing);
        }
        if (!kept) {
            if (gp && verbose) std::cout << "deleted." << std::endl;
            continue;
        }
        for (size_t p = 0; p < P; ++p) {
            const double minor = 1.0 - static_cast<double>(f[p]);
            if (!plink) a.snpositions[p].push_back(static_cast<double>(l));
            a.snpfreqs[p].push_back(minor);
        }
        keptNames.push_back(std::move(a.filelocnames[l]));
        if (plink) keptMapPositions.push_back(a.snpositions[0][l]);

        float N = 0.0f;
        for (size_t p = 0; p < P; ++p) N += static_cast<float>(n[p]);
        for (size_t p = 0; p < P; ++p) {
            const size_t e = tables.entry(l, p);
            const float np = static_cast<float>(n[p]);
            float sum = 0.0f;
            for (size_t k = tables.entryBegin(e); k < tables.entryEnd(e); ++k) {
                const float x = tables.alleleCounts[k] / np;
                sum += x * x;
            }
            Hs[p] = gp ? 1.0 - static_cast<double>(sum) : static_cast<double>(1.0f - sum);
        }
        float sum = 0.0f;
        if (bs) {
            // Alleles matched by their place in the populations' lists.
            size_t longest = 0;
            for (size_t p = 0; p < P; ++p) {
                const size_t e = tables.entry(l, p);
                longest = std::max(longest, tables.entryEnd(e) - tables.entryBegin(e));
            }
            for (size_t k = 0; k < longest; ++k) {
                double T = 0.0;
                for (size_t p = 0; p < P; ++p) {
                    const size_t e = tables.entry(l, p);
                    if (tables.entryBegin(e) + k < tables.entryEnd(e))
                        T += static_cast<double>(tables.alleleCounts[tables.entryBegin(e) + k]);
                }
                const double x = T / static_cast<double>(N);
                sum = static_cast<float>(static_cast<double>(sum) + x * x);
            }
        } else {
            // Alleles matched by their code.
            if (gp) collectAlleleStates<uint64_t>(tables, l, 0u, merged);
            else collectAlleleStates<uint32_t>(tables, l, plinkMissing, merged);
            for (uint32_t allele : merged) {
                float T = 0.0f;
                for (size_t p = 0; p < P; ++p) {
                    const size_t e = tables.entry(l, p);
                    for (size_t k = tables.entryBegin(e); k < tables.entryEnd(e); ++k)
                        if (tables.alleleStates[k] == allele) {
                            T += tables.alleleCounts[k];
                            break;
                        }
                }
                const float x = T / N;
                sum += x * x;
            }
        }
        const double Ht = static_cast<double>(1.0f - sum);

        // Fst: 1 - mean Hs / Ht, the mean accumulated in float.
        float m = 0.0f;
        for (size_t p = 0; p < P; ++p) m = static_cast<float>(static_cast<double>(m) + Hs[p]);
        m = m / static_cast<float>(P);
        // A locus without variation in the pool (possible with -maf 0) has
        // Fst 0, as a site without variation of the haplotype formats.
        double x = Ht > 0.0 ? 1.0 - static_cast<double>(m) / Ht : 0.0;
        if (x < 0) x = 0.0;
        const double fst = static_cast<double>(static_cast<float>(x));
        a.fstdistrib.push_back(FstEntry{fst, 0.0});
        total += fst;
        if (gp && verbose) std::cout << "read." << std::endl;
    }

    a.filelocnames.swap(keptNames);
    QUINTOR_CHECK(a.filelocnames.size() == a.fstdistrib.size());
    if (plink) {
        QUINTOR_CHECK(a.filelocnames.size() == keptMapPositions.size());
        QUINTOR_CHECK(L == 0 || P == static_cast<size_t>(context.numpops));
        // The positions of the loci analysed, for the SNP information table.
        for (std::vector<double> &positions : a.snpositions) positions = keptMapPositions;
        a.metapopsnpositions.swap(keptMapPositions);
    }
    const size_t K = a.fstdistrib.size();
    a.numsnps[0] = static_cast<int32_t>(K);
    // BS and genepop loci are spread evenly over [0, 1).
    if (!plink)
        for (size_t i = 0; i < K; ++i)
            a.metapopsnpositions.push_back(
                static_cast<double>(static_cast<float>(i) / static_cast<float>(K)));
    a.fsttot = K == 0 ? 0.0 : total / static_cast<double>(K);

    const double q = s.maf;
    const double k = static_cast<double>(context.numpops);
    const double H = 1.0 - (1.0 - q) * (1.0 - q) - q * q;
    a.FstMax = 1.0 - H / (H + ((1.0 - q) * (1.0 - q) + q * q) * (k - 1.0) / k);
}

bool readAlleleCountFile(Settings &s, RunContext &context, AnalysisData &a,
                         std::string &failedName, std::string &formatText) {
    AlleleCountTables tables;
    const FormatCode code = context.formatCode;
    bool read = false;
    switch (code) {
    case FormatCode::BS:
        read = readBS(s.path, s.input1, context.numpops, tables, a.filelocnames);
        failedName = s.input1;
        formatText = " under BS format\n";
        break;
    case FormatCode::GP:
        read = readGenepop(s.path, s.input1, a.samplesizes, tables, a.filelocnames);
        failedName = s.input1;
        formatText = " under genepop format\n";
        break;
    default:
        // The run's input name is the base of both files, unless each
        // population has a file of its own.
        s.input2 = (s.onepopbyfile ? s.input2 : s.input1) + ".ped";
        s.input1 += ".map";
        if (code == FormatCode::PL)
            read = readPlinkNucleotide(s.path, s.input1, s.input2, context.numpops, a.snpositions,
                                       a.samplesizes, tables, a.filelocnames);
        else
            read = readPlinkNumeric(s.path, s.input1, s.input2, context.numpops, a.snpositions,
                                    a.samplesizes, tables, a.filelocnames);
        failedName = s.input2;
        formatText = code == FormatCode::PL ? " under plink nucleotide format\n"
                                            : " under plink numeric format\n";
        break;
    }
    if (!read) return false;

    if (code == FormatCode::BS) a.samplesizes.assign(static_cast<size_t>(context.numpops), s.sample);
    const std::string sizes = sampleSizesText(a.samplesizes) + "\n";
    if (code == FormatCode::BS) {
        context.runLog += "\nQuintor of file " + s.input1 + ":\n";
        context.runLog += "\nSample sizes are " + sizes;
        if (verbose) {
            std::cout << "\nRead file " << s.input1 << std::endl;
            std::cout << "\nSample sizes are " << sizes;
        }
    } else if (code == FormatCode::GP) {
        const std::string text = "\nSample sizes in " + s.input1 + " are " + sizes;
        context.runLog += text;
        if (verbose) std::cout << text;
    } else {
        context.runLog += "\nQuintor of files " + s.input1 + " and " + s.input2 + ":\n";
        const std::string text = "\nSample sizes in " + s.input2 + " are " + sizes;
        context.runLog += text;
        if (verbose) {
            std::cout << "\nRead files " << s.input1 << " and " << s.input2 << std::endl;
            std::cout << text;
        }
        s.input1 = s.input1 + " and " + s.input2;
        a.fileLabel = s.input1;
    }
    filterAlleleCountLoci(s, context, a, tables);
    return true;
}
