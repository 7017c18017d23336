#!/usr/bin/env python3
"""Reference computation of the EOS test for the end-to-end cases.

Reads ms files the way quintor does in EOS-only mode and prints the expected
Fst-outlier summary ("_FSTs.txt") of the run on standard output; details of
every file (shared SNPs, per-site Fst, global Fst, Lk p-values, outliers,
candidates) go to standard error.

It is written from the formulas of the EOS test alone, without the program:
Fst from mean pairwise differences (Hw, Ht), the Lk test as a chi-square test
with 1 degree of freedom (upper tail erfc(sqrt(T/2))), the interquartile rule,
the two-cluster k-means and the candidate walk.

  eos_reference.py [--maf Q] [--SL A] [--cutoff C] [--minwin W] [--dir D]
                   --sample N [--sample2 M] file...

Files that do not exist are skipped, as a series skips an unreadable file.
Check a case, e.g.:

  python3 tests/tools/eos_reference.py --dir tests/data/e2e/<case>/input \
      --sample 5 --minwin 7 pair.ms \
    | diff - tests/data/e2e/<case>/expected/files/Quintor_Results/<name>_FSTs.txt

The Lk p-values come from erfc, the program's from the incomplete gamma
series; they agree to about 1e-13, well inside the 12 digits written.
"""
import argparse
import math
import os
import sys


def read_blocks(path):
    """The ms blocks of the file: (positions, rows) per block."""
    with open(path) as f:
        lines = f.read().split("\n")
    blocks = []
    i = 0
    while i < len(lines):
        words = lines[i].split()
        if words and words[0].startswith("segsites"):
            s = int(words[1])
            i += 1
            while not lines[i].startswith("positions:"):
                i += 1
            pos = [float(w) for w in lines[i].split()[1:]]
            assert len(pos) == s
            blocks.append((pos, lines[i + 1:]))
        i += 1
    return blocks


def cells(line):
    return [1 if c == "1" else 0 for c in line]


def read_one_sample(path, n):
    """One block per population, n rows each."""
    pops = []
    for pos, rest in read_blocks(path):
        rows = [cells(r.strip()) for r in rest[:n]]
        assert all(len(r) == len(pos) for r in rows)
        pops.append((pos, rows))
    return pops


def read_two_samples(path, n, m):
    """The first block: n rows of population 0, m rows of population 1.
    A position not above the one before it is moved up by 1e-07."""
    pos, rest = read_blocks(path)[0]
    fixed, prev = [], -1.0
    for x in pos:
        if x <= prev:
            x += 1e-07
        fixed.append(x)
        prev = x
    rows = [cells(r) for r in rest[:n + m]]
    assert all(len(r) == len(pos) for r in rows)
    return [(fixed, rows[:n]), (list(fixed), rows[n:])]


def shared_snps(pops, maf):
    """Shared positions whose pooled frequency of value 1 reaches maf."""
    (pos0, rows0), (pos1, rows1) = pops
    s0, s1 = len(rows0), len(rows1)
    f0 = [sum(r[j] for r in rows0) / s0 for j in range(len(pos0))]
    f1 = [sum(r[j] for r in rows1) / s1 for j in range(len(pos1))]
    n_min = min(len(pos0), len(pos1))
    commons = []
    for i, x in enumerate(pos0):
        if x not in pos1:
            continue
        j = pos1.index(x)
        f = (s1 * f1[j] + f0[i] * s0) / (s0 + s1)
        if f >= maf and x not in commons:
            commons.append(x)
        if len(commons) == n_min:
            break
    return sorted(commons), f0, f1


def cut(pos, rows, commons):
    keep = [j for j, x in enumerate(pos) if x in commons]
    return [pos[j] for j in keep], [[r[j] for j in keep] for r in rows]


def pairs_differing(values_a, values_b=None):
    if values_b is None:
        n = len(values_a)
        ones = sum(values_a)
        return ones * (n - ones)
    ones_a, ones_b = sum(values_a), sum(values_b)
    return ones_a * (len(values_b) - ones_b) + (len(values_a) - ones_a) * ones_b


def fst_per_site(rows0, rows1, sites):
    """Per-site Fst and the global Fst (0 when no site varies)."""
    n0, n1 = len(rows0), len(rows1)
    fsts, sum_hw, sum_ht = [], 0.0, 0.0
    for j in range(sites):
        c0 = [r[j] for r in rows0]
        c1 = [r[j] for r in rows1]
        pi0 = pairs_differing(c0) / float(n0 * (n0 - 1) // 2)
        pi1 = pairs_differing(c1) / float(n1 * (n1 - 1) // 2)
        pi01 = pairs_differing(c0, c1) / float(n0 * n1) / 1.0
        hw = (pi0 + pi1) / 2.0
        hb = 2.0 * pi01 / 4.0
        ht = hb + hw / 2.0
        fsts.append(max(0.0, 1.0 - hw / ht) if ht > 0 else 0.0)
        sum_hw += hw
        sum_ht += ht
    total = 0.0 if sum_ht == 0 else max(0.0, 1.0 - sum_hw / sum_ht)
    return fsts, total


def lk_pvalue(fst, fsttot):
    t = 1.0 * fst
    if fsttot > 0:
        t = t / fsttot
    return math.erfc(math.sqrt(t / 2.0)) if t > 0 else 1.0


def kmeans_upper(records, upper_ref, threshold):
    """Two clusters started at both ends of the ascending list; the upper
    cluster's records from the first one at or above the threshold."""
    n = len(records)
    if n == 0:
        return []
    if n == 1:
        return records if records[0]["fst"] >= threshold else []
    cent = [records[0]["fst"], records[-1]["fst"]]
    while True:
        clusters = [[], []]
        for r in records:
            best, cand = upper_ref + 1.0, None
            for j in range(2):
                d = abs(r["fst"] - cent[j])
                if d < best:
                    cand, best = j, d
                    if r["fst"] - cent[j] == 0:
                        break
            clusters[cand].append(r)
        changed = False
        for j in range(2):
            if clusters[j]:
                mean = sum(r["fst"] for r in clusters[j]) / len(clusters[j])
                if abs(cent[j] - mean) > 1e-6:
                    cent[j] = mean
                    changed = True
        if not changed:
            break
    upper = sorted(clusters[1], key=lambda r: r["fst"])
    for k, r in enumerate(upper):
        if r["fst"] >= threshold:
            return upper[k:]
    return []


def fst_max(maf, sizes):
    c = sum(n / (n - 1.0) for n in sizes) / len(sizes)
    h = 2.0 * maf * (1.0 - maf) * c
    return 1.0 - 2.0 * h / (h + 2.0 - 1.0)


def analyse(path, args, out):
    if args.sample2:
        pops = read_two_samples(path, args.sample, args.sample2)
    else:
        pops = read_one_sample(path, args.sample)
    sizes = [len(pops[0][1]), len(pops[1][1])]
    commons, _, _ = shared_snps(pops, args.maf)
    print("== %s: %d shared SNPs %s" % (path, len(commons), commons), file=out)
    if not commons or len(commons) < args.minwin:
        print("   not kept", file=out)
        return None
    pos0, rows0 = cut(*pops[0], commons)
    _, rows1 = cut(*pops[1], commons)
    names = ["%.12g" % x for x in commons]
    fsts, fsttot = fst_per_site(rows0, rows1, len(commons))
    print("   fsttot %.17g" % fsttot, file=out)
    result = {"label": path, "snps": len(commons), "eos": [], "noneos": [],
              "fsttot": fsttot, "candidates": []}
    if fsttot > 0.5:
        order = sorted(range(len(fsts)), key=lambda i: (-fsts[i], i))
        m = int(len(fsts) * (1.0 - 0.9))
        top = order[:m]
        cands = []
        for i in top:
            if not cands or abs(cands[-1] - commons[i]) > 1.0:
                cands.append(commons[i])
        result["candidates"] = cands
        print("   high Fst; top decile %s candidates %s" % (top, cands), file=out)
        return result
    pvals = [lk_pvalue(f, fsttot) for f in fsts]
    for i in range(len(fsts)):
        print("   site %s fst %.17g p %.17g" % (names[i], fsts[i], pvals[i]), file=out)
    print("   #* = %d" % sum(1 for p in pvals if p != 1.0 and p <= args.SL), file=out)
    n = len(fsts)
    ranked = sorted(fsts)
    q1, q3 = ranked[n // 4], ranked[n // 2 + n // 4]
    threshold = (q3 - q1) * 3.0 + q3
    outliers = [{"id": names[i], "pos": commons[i], "fst": fsts[i], "p": pvals[i]}
                for i in range(n) if fsts[i] > threshold]
    outliers.sort(key=lambda r: r["fst"])
    print("   Q1 %.17g Q3 %.17g threshold %.17g outliers %d" % (q1, q3, threshold, len(outliers)),
          file=out)
    if not outliers:
        return result
    xmax = fst_max(args.maf, sizes)
    cutoff = xmax * 0.3333333333333333 * args.cutoff + fsttot
    eos = kmeans_upper(outliers, xmax, cutoff)
    noneos = outliers[:len(outliers) - len(eos)]
    cands, best = [], 1.0
    for records, is_eos in ((eos, True), (noneos, False)):
        for r in records:
            if not cands or abs(cands[-1] - r["pos"]) >= 1.0:
                cands.append(r["pos"])
                best = r["p"]
            elif (r["p"] < best) if is_eos else (r["p"] > best):
                cands[-1] = r["pos"]
                best = r["p"]
    print("   FstMax %.17g cutoff %.17g EOS %d Non-EOS %d candidates %s"
          % (xmax, cutoff, len(eos), len(noneos), cands), file=out)
    result.update(eos=eos, noneos=noneos, candidates=cands)
    return result


def g12(x):
    return "%.12g" % x


def rows_text(records):
    text = "\n\t\t\tID\tPos\tFST\tpval(LK test)"
    for r in reversed(records):
        text += "\n\t\t\t%s\t%s\t%s\t%s" % (r["id"], g12(r["pos"]), g12(r["fst"]), g12(r["p"]))
    return text


def summary(files, maf):
    if not files:
        return ""
    pct = 100.0 * sum(1 for f in files if f["eos"]) / len(files)
    text = "MAF = %g\n" % maf
    text += "%% FILES WITH K-MEANS EXTREME POSITIVE OUTLIERS = %g%%\n" % pct
    stars = "*" * 52
    for f in files:
        text += "\n%s\nFILE %s\n%s\n\n" % (stars, f["label"], stars)
        text += "#SNPs\t%d\n" % f["snps"]
        text += "\n*************** Non-EOS FST OUTLIERS\n%d\n" % len(f["noneos"])
        if f["noneos"]:
            text += rows_text(f["noneos"])
        text += "\n"
        text += "\n*************** EOS FST OUTLIERS\n"
        if f["eos"]:
            text += "%d\n" % len(f["eos"]) + rows_text(f["eos"]) + "\n"
        else:
            text += "0\n"
    return text


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--maf", type=float, default=0.01)
    parser.add_argument("--SL", type=float, default=0.05)
    parser.add_argument("--cutoff", type=float, default=1.25)
    parser.add_argument("--minwin", type=int, default=11)
    parser.add_argument("--sample", type=int, default=50)
    parser.add_argument("--sample2", type=int, default=0)
    parser.add_argument("--dir", default=".")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    kept = []
    for name in args.files:
        path = os.path.join(args.dir, name)
        if not os.path.exists(path):
            print("== %s: cannot be read, skipped" % name, file=sys.stderr)
            continue
        cwd = os.getcwd()
        os.chdir(args.dir)
        result = analyse(name, args, sys.stderr)
        os.chdir(cwd)
        if result is not None:
            kept.append(result)
    sys.stdout.write(summary(kept, args.maf))


if __name__ == "__main__":
    main()
