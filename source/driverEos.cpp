// driver: the EOS test. Per-site Fst against the file's Fst mean (Lk test),
// positive outliers by the interquartile rule, the two-cluster split into EOS
// and Non-EOS outliers, and the EOS candidate positions; or, when the Fst mean
// exceeds 0.5, the top tenth of the Fst distribution as candidates.
#include "driver.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <numeric>
#include <utility>

namespace {

// The Fst of the given rank (from 0) in ascending order, selected among the
// values from `first` on (the values before it all rank lower).
double fstOfRank(std::vector<double> &values, size_t first, size_t rank) {
    std::nth_element(values.begin() + static_cast<std::ptrdiff_t>(first),
                     values.begin() + static_cast<std::ptrdiff_t>(rank), values.end());
    return values[rank];
}

// The Fst of two ranks (from 0, rank1 <= rank2) in ascending order, found
// by counting the distinct values, which haplotype counts keep few. False
// (nothing found) when there are many, or values that are not numbers.
bool fstOfRanksByCounting(const std::vector<FstEntry> &fstdistrib, size_t rank1, size_t rank2,
                          double &value1, double &value2) {
    const size_t slots = 1 << 16, most = slots / 2;
    std::vector<double> keys(slots);
    std::vector<uint32_t> counts(slots, 0);
    size_t distinct = 0;
    for (const FstEntry &entry : fstdistrib) {
        const double x = entry.fst;
        if (x != x) return false;
        uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        size_t slot = static_cast<size_t>((bits * 0x9E3779B97F4A7C15ull) >> 48);
        while (counts[slot] != 0 && std::memcmp(&keys[slot], &x, sizeof x) != 0) slot = (slot + 1) % slots;
        if (counts[slot] == 0) {
            if (++distinct > most) return false;
            keys[slot] = x;
        }
        ++counts[slot];
    }
    std::vector<std::pair<double, uint32_t>> values;
    values.reserve(distinct);
    for (size_t slot = 0; slot < slots; ++slot)
        if (counts[slot] != 0) values.emplace_back(keys[slot], counts[slot]);
    std::sort(values.begin(), values.end(),
              [](const std::pair<double, uint32_t> &x, const std::pair<double, uint32_t> &y) {
                  return x.first < y.first;
              });
    size_t below = 0;  // values of lower rank
    bool found1 = false;
    for (const std::pair<double, uint32_t> &value : values) {
        below += value.second;
        if (!found1 && rank1 < below) {
            value1 = value.first;
            found1 = true;
        }
        if (rank2 < below) {
            value2 = value.first;
            return true;
        }
    }
    return false;
}

// The name of site i: its entry of `names`, or its position's name.
std::string siteName(const std::vector<std::string> &names, const std::vector<double> &positions,
                     size_t i) {
    return names.empty() ? positionName(positions[i]) : names[i];
}

} // namespace

void sortByFst(std::vector<SiteRecord> &records) {
    std::stable_sort(records.begin(), records.end(),
                     [](const SiteRecord &x, const SiteRecord &y) { return x.fst < y.fst; });
}

void findPositiveOutliers(const std::vector<FstEntry> &fstdistrib, const std::vector<double> &positions,
                          const std::vector<std::string> &names, const double k,
                          std::vector<SiteRecord> &out) {
    out.clear();
    const size_t n = fstdistrib.size();
    if (n == 0) return;
    QUINTOR_CHECK(positions.size() >= n && (names.empty() || names.size() >= n));
    out.reserve(n / 4);
    double q1 = 0.0, q3 = 0.0;
    if (!fstOfRanksByCounting(fstdistrib, n / 4, n / 2 + n / 4, q1, q3)) {
        std::vector<double> values(n);
        for (size_t i = 0; i < n; ++i) values[i] = fstdistrib[i].fst;
        q1 = fstOfRank(values, 0, n / 4);
        q3 = fstOfRank(values, n / 4, n / 2 + n / 4);
    }
    const double threshold = (q3 - q1) * k + q3;
    // Outliers in column order; the caller sorts them by Fst.
    for (size_t i = 0; i < n; ++i)
        if (fstdistrib[i].fst > threshold)
            out.push_back(SiteRecord{siteName(names, positions, i), positions[i], fstdistrib[i].fst,
                                     fstdistrib[i].lkPval, 1.0});
}

void findPercentileOutliers(const uint64_t n, const double q, const std::vector<FstEntry> &fstdistrib,
                            const std::vector<double> &positions,
                            const std::vector<std::string> &names, std::vector<SiteRecord> &out) {
    out.clear();
    const size_t sites = fstdistrib.size();
    QUINTOR_CHECK(positions.size() >= sites && (names.empty() || names.size() >= sites));
    const size_t m = std::min(static_cast<size_t>(static_cast<double>(n) * (1.0 - q)), sites);
    out.reserve(m);
    // The m sites of greatest Fst, in descending Fst and, for equal Fst, in
    // column order.
    std::vector<size_t> order(sites);
    std::iota(order.begin(), order.end(), 0);
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(m), order.end(),
                      [&fstdistrib](size_t x, size_t y) {
                          if (fstdistrib[x].fst != fstdistrib[y].fst)
                              return fstdistrib[x].fst > fstdistrib[y].fst;
                          return x < y;
                      });
    for (size_t i = 0; i < m; ++i) {
        const size_t site = order[i];
        out.push_back(SiteRecord{siteName(names, positions, site), positions[site], fstdistrib[site].fst,
                                 fstdistrib[site].lkPval, 1.0});
    }
}

void computeFstMax(const Settings &s, const RunContext &context, AnalysisData &a, bool countFormat) {
    const double k = static_cast<double>(context.numpops);
    const double q = s.maf;
    double c = 1.0;
    if (!countFormat) {
        // Mean sample-size correction n/(n - 1); a population of fewer than
        // two rows gets no correction.
        double sum = 0.0;
        for (int32_t n : a.samplesizes)
            sum += n > 1 ? static_cast<double>(n) / (static_cast<double>(n) - 1.0) : 1.0;
        c = a.samplesizes.empty() ? 1.0 : sum / static_cast<double>(a.samplesizes.size());
    }
    const double H = 2.0 * q * (1.0 - q) * c;
    a.FstMax = 1.0 - k * H / (H + k - 1.0);
}

void runEosTest(const Settings &s, const RunContext &context, AnalysisData &a) {
    if (verbose) std::cout << "\n... Beginning EOS analysis ...\n" << std::endl;
    const int32_t degrees = context.numpops - 1;
    if (!isAlleleCountFormat(context.formatCode)) {
        const uint64_t sites = rowLength(a.data, 0);
        FSTdT(a.data, a.samplesizes, 0, sites, a.fstdistrib, a.fsttot);
        if (verbose)
            std::cout << "\nComputed Fst distribution (n= " << a.fstdistrib.size()
                      << "). Fst mean = " << a.fsttot << std::endl
                      << std::endl;
        QUINTOR_CHECK(sites == a.fstdistrib.size() && a.genomesize == a.fstdistrib.size());
        // With the EOS test alone nothing reads the cells again.
        if (s.onlyEOS && !a.keepWorkingContainers) releaseSites(a.data);
    }
    a.eosCandidates.clear();
    if (a.fsttot > 0.5) {
        // High-Fst branch: the top tenth of the Fst distribution.
        if (verbose)
            std::cout << "\nFST mean too high (>0.5). Sites with Fst in the 90th percentile are "
                         "considered as candidates if option -useblocks 0 was chosen."
                      << std::endl;
        a.highFst = true;
        // The allele-count formats have no genome size: they count their loci.
        const uint64_t sites = isAlleleCountFormat(context.formatCode)
                                   ? static_cast<uint64_t>(a.numsnps[0])
                                   : a.genomesize;
        findPercentileOutliers(sites, 0.9, a.fstdistrib, a.metapopsnpositions,
                               a.filelocnames, a.eosOutliers);
        for (const SiteRecord &r : a.eosOutliers)
            if (a.eosCandidates.empty() || std::abs(a.eosCandidates.back() - r.pos) > 1.0)
                a.eosCandidates.push_back(r.pos);
        a.eosOutliers.clear();
        return;
    }

    // Lk test.
    a.highFst = false;
    int64_t significant = 0;
    // Sites of equal Fst (haplotype counts allow few distinct values) share
    // one p-value: a small table keeps the last p-value of each slot.
    const size_t slots = 1 << 14;
    std::vector<double> memoT(slots, 0.0), memoP(slots, 0.0);
    for (FstEntry &entry : a.fstdistrib) {
        double T = static_cast<double>(degrees) * entry.fst;
        if (a.fsttot > 0) T = T / a.fsttot;
        double p = 1.0;
        if (T > 0) {
            uint64_t bits;
            std::memcpy(&bits, &T, sizeof bits);
            const size_t slot = static_cast<size_t>((bits * 0x9E3779B97F4A7C15ull) >> 50);
            if (memoT[slot] != T) {
                memoT[slot] = T;
                memoP[slot] = chiSquarePvalue(T, degrees);
            }
            p = memoP[slot];
        }
        entry.lkPval = p;
        if (p != 1.0 && p <= s.SL) ++significant;
    }
    if (verbose) std::cout << "\nPerformed Lk test. #* = " << significant << std::endl;

    findPositiveOutliers(a.fstdistrib, a.metapopsnpositions, a.filelocnames, 3.0, a.eosOutliers);
    if (verbose)
        std::cout << "\nLooking for positive outliers. Found " << a.eosOutliers.size() << std::endl;
    if (!a.eosOutliers.empty()) {
        sortByFst(a.eosOutliers);
        a.nonEosOutliers = a.eosOutliers;
        const size_t m = a.nonEosOutliers.size();
        a.cutoff = a.FstMax * 0.3333333333333333 * s.numdesvs + a.fsttot;
        kmeans(a.eosOutliers, std::vector<double>{0.0, a.FstMax}, a.cutoff, true);
        a.nonEosOutliers.resize(m - std::min(m, a.eosOutliers.size()));

        // EOS candidates: outliers closer than 1.0 to the last candidate
        // replace it when their p-value is better (EOS) or worse (Non-EOS).
        double best = 1.0;
        auto walk = [&a, &best](const std::vector<SiteRecord> &records, bool eos) {
            for (const SiteRecord &r : records) {
                if (a.eosCandidates.empty() || std::abs(a.eosCandidates.back() - r.pos) >= 1.0) {
                    a.eosCandidates.push_back(r.pos);
                    best = r.lkPval;
                } else if (eos ? r.lkPval < best : r.lkPval > best) {
                    a.eosCandidates.back() = r.pos;
                    best = r.lkPval;
                }
            }
        };
        walk(a.eosOutliers, true);
        walk(a.nonEosOutliers, false);
    }
    if (verbose) std::cout << "\nEOS analysis completed" << std::endl;
}
