#!/usr/bin/env python3
"""Reference computation of the EOS test on allele-count input (BS, genepop,
plink with nucleotide or numeric alleles) for the end-to-end cases.

Prints the expected Fst-outlier summary ("_FSTs.txt") on standard output and
the details of every locus on standard error. Written from the formulas
alone: allele census per population (a locus with missing copies >= n - 1 in
a population is marked), the minor-allele-frequency filter, Hs, Ht and
Fst = 1 - mean(Hs)/Ht in the single-precision steps of the method (emulated
with struct), then the EOS test of eos_reference.py.

  counts_reference.py --format BS|GP|PL|PL2 [--maf Q] [--sample N]
                      [--minwin W] [--dir D] file...

For PL and PL2 give the map file and the ped file; the label is
"<map> and <ped>". For BS and GP each file is one run of a series.
"""
import argparse
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from eos_reference import kmeans_upper, lk_pvalue, summary  # noqa: E402


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def lines_of(path):
    with open(path, newline="") as f:
        for raw in f.read().split("\n"):
            line = raw.lstrip(" \f\n\r\t\v")
            if line and not line.startswith("#"):
                yield line


def census(codes, missing, n):
    """Distinct codes (ascending), their counts and the major count."""
    states = sorted(set(c for c in codes if c != missing))
    counts = [float(codes.count(a)) for a in states]
    missing_copies = len(codes) - sum(counts)
    if not counts or missing_copies >= n - 1:
        return states, counts, -99.0
    return states, counts, max(counts)


def read_bs(path):
    lines = open(path, newline="").read().split("\n")
    i, header = 0, []
    while len(header) < 2:
        line = lines[i].lstrip()
        if line.startswith("["):
            header.append(int(line.split("=")[-1]))
        i += 1
    nloci, npops = header
    pops = []
    for _ in range(npops):
        while not lines[i].strip():
            i += 1
        assert lines[i].strip().split("=")[0] == "[pop]"
        i += 1
        loci = []
        for _ in range(nloci):
            w = lines[i].split()
            k = int(w[2])
            counts = [f32(float(c)) for c in w[3:3 + k]]
            loci.append((None, counts, max(counts) if counts else 0.0))
            if not pops:
                loci[-1] = (w[0], counts, loci[-1][2])
            i += 1
        pops.append(loci)
    names = [entry[0] for entry in pops[0]]
    return names, None, pops


def read_genepop(path):
    it = lines_of(path)
    next(it)
    names, pops = [], []
    for line in it:
        up = line.upper()
        if not pops:
            pieces = [p for p in line.replace("\r", ",").split(",") if p]
            if len(pieces) != 1:
                names += pieces
            elif "POP" not in pieces[0].upper():
                names.append(pieces[0])
        if "POP" in up:
            pops.append([])
            continue
        if pops:
            ind, geno = up.split(",")
            pair = []
            for tok in geno.split():
                h = len(tok) // 2
                pair.append((int(tok[:h] or 0), int(tok[h:])))
            pops[-1].append(pair)
    result = []
    for inds in pops:
        loci = []
        for l in range(len(inds[0]) if inds else 0):
            codes = [c for ind in inds for c in ind[l]]
            loci.append(census(codes, 0, len(inds)))
        result.append(loci)
    return names, None, result


def read_plink(map_path, ped_path, numeric):
    names, positions = [], []
    for line in lines_of(map_path):
        w = line.split()
        names.append(w[1])
        positions.append(float(w[-1]))
    fams, rows = [], []
    for line in lines_of(ped_path):
        w = line.upper().split()
        if not fams or fams[-1][0] != w[0]:
            fams.append([w[0], []])
        alleles = w[6:]
        if numeric:
            codes = [int(a) if a.isdigit() else 0 for a in alleles]
            missing = 0
        else:
            codes = [a if a in ("A", "C", "G", "T") else "N" for a in alleles]
            missing = "N"
        fams[-1][1].append(codes)
    assert len(fams) == 2
    pops = []
    for _, inds in fams:
        loci = []
        for l in range(len(names)):
            codes = [c for ind in inds for c in ind[2 * l:2 * l + 2]]
            loci.append(census(codes, missing, len(inds)))
        pops.append(loci)
    return names, positions, pops


def fst_of_counts(fmt, pops, maf, log):
    """Kept loci: (index, Fst) in file order."""
    kept = []
    P = len(pops)
    for l in range(len(pops[0])):
        n, f = [], []
        ok = True
        for p in range(P):
            states, counts, major = pops[p][l]
            np_ = 0
            for c in counts:
                np_ = int(f32(np_ + c))
            fp = f32(major / np_) if np_ else float("inf")
            n.append(np_)
            f.append(fp)
            if np_ == 0 or fp > 1.0 - maf or (fmt != "BS" and major == -99.0):
                ok = False
                break
        if not ok:
            print("locus %d dropped" % l, file=log)
            continue
        N = f32(sum(f32(x) for x in n))
        hs = []
        for p in range(P):
            s = 0.0
            for c in pops[p][l][1]:
                x = f32(c / f32(n[p]))
                s = f32(s + f32(x * x))
            hs.append(1.0 - s if fmt == "GP" else f32(1.0 - s))
        s = 0.0
        if fmt == "BS":
            longest = max(len(pops[p][l][1]) for p in range(P))
            for k in range(longest):
                t = sum(pops[p][l][1][k] for p in range(P) if k < len(pops[p][l][1]))
                s = f32(s + (t / N) ** 2)
        else:
            codes = sorted(set(a for p in range(P) for a in pops[p][l][0]))
            for a in codes:
                t = 0.0
                for p in range(P):
                    if a in pops[p][l][0]:
                        t = f32(t + pops[p][l][1][pops[p][l][0].index(a)])
                x = f32(t / N)
                s = f32(s + f32(x * x))
        ht = f32(1.0 - s)
        m = 0.0
        for h in hs:
            m = f32(m + h)
        m = f32(m / P)
        x = 1.0 - m / ht if ht > 0 else 0.0
        fst = f32(max(x, 0.0))
        print("locus %d n %s f %s Hs %s Ht %r Fst %r" % (l, n, f, hs, ht, fst), file=log)
        kept.append((l, fst, f))
    return kept


def eos(label, names, positions, fsts, maf, cutoff_devs, sl, log):
    K = len(fsts)
    fsttot = sum(fsts) / K
    result = {"label": label, "snps": K, "eos": [], "noneos": [], "fsttot": fsttot}
    print("fsttot %r" % fsttot, file=log)
    if fsttot > 0.5:
        return result
    pvals = [lk_pvalue(x, fsttot) for x in fsts]
    ranked = sorted(fsts)
    q1, q3 = ranked[K // 4], ranked[K // 2 + K // 4]
    threshold = (q3 - q1) * 3.0 + q3
    outliers = [{"id": names[i], "pos": positions[i], "fst": fsts[i], "p": pvals[i]}
                for i in range(K) if fsts[i] > threshold]
    outliers.sort(key=lambda r: r["fst"])
    print("Q1 %r Q3 %r threshold %r outliers %d" % (q1, q3, threshold, len(outliers)), file=log)
    if not outliers:
        return result
    q = maf
    h = 1.0 - (1.0 - q) * (1.0 - q) - q * q
    xmax = 1.0 - h / (h + ((1.0 - q) * (1.0 - q) + q * q) * 1.0 / 2.0)
    cut = xmax * 0.3333333333333333 * cutoff_devs + fsttot
    top = kmeans_upper(outliers, xmax, cut)
    result.update(eos=top, noneos=outliers[:len(outliers) - len(top)])
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--format", required=True, choices=["BS", "GP", "PL", "PL2"])
    ap.add_argument("--maf", type=float, default=0.01)
    ap.add_argument("--SL", type=float, default=0.05)
    ap.add_argument("--cutoff", type=float, default=1.25)
    ap.add_argument("--minwin", type=int, default=11)
    ap.add_argument("--dir", default=".")
    ap.add_argument("files", nargs="+")
    a = ap.parse_args()
    if a.format in ("BS", "GP"):
        # A series: every file on its own; a file that does not exist is skipped.
        runs = [([f], f) for f in a.files if os.path.exists(os.path.join(a.dir, f))]
    else:
        runs = [(a.files, a.files[0] + " and " + a.files[1])]
    results = []
    for files, label in runs:
        paths = [os.path.join(a.dir, f) for f in files]
        if a.format == "BS":
            names, positions, pops = read_bs(paths[0])
        elif a.format == "GP":
            names, positions, pops = read_genepop(paths[0])
        else:
            names, positions, pops = read_plink(paths[0], paths[1], a.format == "PL2")
        print("== " + label, file=sys.stderr)
        kept = fst_of_counts(a.format, pops, a.maf, sys.stderr)
        K = len(kept)
        if K < a.minwin:
            print("too few loci %d" % K, file=sys.stderr)
            continue
        if positions is None:
            pos = [f32(f32(i) / f32(K)) for i in range(K)]
        else:
            pos = [positions[l] for l, _, _ in kept]
        results.append(eos(label, [names[l] for l, _, _ in kept], pos, [x for _, x, _ in kept],
                           a.maf, a.cutoff, a.SL, sys.stderr))
    sys.stdout.write(summary(results, a.maf))

if __name__ == "__main__":
    main()
