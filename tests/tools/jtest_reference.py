#!/usr/bin/env python3
"""Independent reference computation of Quintor's J test on small MS files.

Written from the program's description, not from its source, to produce the
expected results tables of the end-to-end cases: the SNPs shared at the
minimum allele frequency, the reference alleles of each population, D' and r2
of adjacent SNPs, LD blocks, the J candidates (user positions or LD-block
centres), fixed and variable windows, the HAC of every haplotype, the HAC
classes, JHac and its chi-square p-value, and the results table with its
significant rows and its summary by candidate rank.

Scope: MS input read as one two-population block (-sample N -sample2 M),
EOS test off (-doEOS 0), so the Fst columns are 0.

Usage:
  jtest_reference.py [options] FILE [FILE ...]
    --sample N --sample2 M      rows of population 1 and 2
    --window W                  fixed window (0: variable)
    --selectives=V,V,...        user candidate positions
    --sl X --maf X --minwin N --maxwin N --old --reference R
    --labels L [L ...]          labels of the files in the table (default: names)
    --valid N                   number of files with shared SNPs (%FPJJ)
  Prints the results table, then the significant rows, then any note.

The expected tables of the end-to-end cases j_* (run from the case's input/):
  j_fixed_window_exact:         --sample 20 --sample2 24 --window 11 --sl 0.0005
                                --selectives=1012.5,1002.25,1008.5 fw.ms
  j_window_larger_than_shared:  --sample 10 --sample2 10 --window 21 --selectives=5700 wl.ms
  j_pval_equals_sl:             --sample 10 --sample2 10 --window 11 --sl 1 --selectives=0.47 eq.ms
  j_user_positions_not_shared:  --sample 10 --sample2 10 --window 11
                                --selectives=0.72,0.33,0.33,1.5,-0.4,0.52 uf.ms
  j_user_positions_match_nothing: the same file with --selectives=1.5,2,-3
  j_no_ld_block:                --sample 10 --sample2 10 nb.ms
  j_series_middle_no_selection: --sample 30 --sample2 30 QuintorF0.txt QuintorF1.txt QuintorF2.txt
"""
import argparse
import math
import sys

# ---------------------------------------------------------------------------
# Chi-square upper tail: Numerical Recipes' series and continued fraction with
# the six-term Lanczos ln Gamma, written out from the method's description.
# ---------------------------------------------------------------------------
EPS = 2.220446049250313e-16
FPMIN = 1.0020841800044864e-292
ITMAX = 5000


def ln_gamma(a):
    tmp = a + 5.5
    ser = 1.000000000190015
    for j, c in enumerate((76.18009172947146, -86.50532032941678, 24.01409824083091,
                           -1.231739572450155, 0.001208650973866179, -5.395239384953e-06)):
        ser += c / (a + (j + 1))
    return math.log(2.5066282746310005 * ser / a) - (tmp - (a + 0.5) * math.log(tmp))


def series_p(a, x):
    gln = ln_gamma(a)
    if x == 0.0:
        return 0.0
    ap = a
    total = 1.0 / a
    term = total
    for _ in range(ITMAX):
        ap += 1.0
        term *= x / ap
        total += term
        if abs(term) < abs(total) * EPS:
            return total * math.exp(-x + a * math.log(x) - gln)
    raise RuntimeError("series did not converge")


def fraction_q(a, x):
    gln = ln_gamma(a)
    b = x + 1.0 - a
    c = 1.0 / FPMIN
    d = 1.0 / b
    h = d
    for i in range(1, ITMAX + 1):
        an = -i * (i - a)
        b += 2.0
        d = an * d + b
        if abs(d) < FPMIN:
            d = FPMIN
        c = b + an / c
        if abs(c) < FPMIN:
            c = FPMIN
        d = 1.0 / d
        step = d * c
        h *= step
        if abs(step - 1.0) <= EPS:
            return math.exp(-x + a * math.log(x) - gln) * h
    raise RuntimeError("continued fraction did not converge")


def upper_gamma(a, x):
    assert x >= 0 and a > 0
    if x < a + 1.0:
        return 1.0 - series_p(a, x)
    return fraction_q(a, x)


def chi_square_pvalue(x, df):
    if x == 0.0:
        return 1.0
    return upper_gamma(df * 0.5, x * 0.5)


def closed_form_pvalue(x, df):
    """The same tail by closed forms (1 df: erfc; even df: Poisson sum)."""
    if x == 0.0:
        return 1.0
    if df == 1:
        return math.erfc(math.sqrt(x / 2.0))
    assert df % 2 == 0
    y = x / 2.0
    return math.exp(-y) * sum(y ** k / math.factorial(k) for k in range(df // 2))


# ---------------------------------------------------------------------------
# Input
# ---------------------------------------------------------------------------
def read_ms_two_samples(path, s0, s1):
    with open(path) as f:
        lines = f.read().split("\n")
    i = 0
    while not lines[i].startswith("s"):
        i += 1
    nsites = int(lines[i].split()[1])
    while not lines[i].startswith("p"):
        i += 1
    words = lines[i].split()
    assert words[0] == "positions:" and len(words) - 1 == nsites
    positions = [float(w) for w in words[1:]]
    assert all(positions[k] < positions[k + 1] for k in range(nsites - 1)), "repeated position"
    rows = []
    for line in lines[i + 1:i + 1 + s0 + s1]:
        assert len(line) == nsites
        rows.append([1 if ch == "1" else 0 for ch in line])
    assert len(rows) == s0 + s1
    return positions, rows


# ---------------------------------------------------------------------------
# Population data
# ---------------------------------------------------------------------------
def pop_rows(rows, sizes, p):
    ini = sum(sizes[:p])
    return rows[ini:ini + sizes[p]]


def frequencies(rows, sizes, p):
    block = pop_rows(rows, sizes, p)
    return [sum(r[j] for r in block) / sizes[p] for j in range(len(rows[0]))]


def reference_alleles(rows, sizes, p):
    block = pop_rows(rows, sizes, p)
    return [sum(r[j] for r in block) > sizes[p] // 2 for j in range(len(rows[0]))]


def ld_pairs(rows, sizes, p, refs, freqs):
    block = pop_rows(rows, sizes, p)
    n = sizes[p]
    dprime, r2 = [], []
    for i in range(len(freqs) - 1):
        together = sum(1 for r in block if r[i] == int(refs[i]) and r[i + 1] == int(refs[i + 1]))
        x11 = together / n
        pi, qi = freqs[i], freqs[i + 1]
        pa = pi if refs[i] else 1 - pi
        pb = qi if refs[i + 1] else 1 - qi
        d = x11 - pa * pb
        if d >= 0:
            dmax = min((1 - pa) * pb, pa * (1 - pb))
        else:
            dmax = min((1 - pa) * (1 - pb), pa * pb)
        den = pi * (1 - pi) * qi * (1 - qi)
        if den > 0:
            r2.append(d * d / den)
            dprime.append(d / dmax)
        else:
            r2.append(0.0)
            dprime.append(0.0)
    return dprime, r2


def linked(alpha, dprime, r2, j, n, min_dprime):
    x = n * r2[j]
    pv = 1.0 if x == 0 else upper_gamma(0.5, x / 2)
    return alpha >= pv and dprime[j] >= min_dprime


def ld_blocks(alpha, dprime, r2, size, min_dprime, n, pop, nsnps):
    links = nsnps - 1
    if size > links:
        size //= 2
        assert size <= links
    blocks = []
    start, count, j = 0, 1, 0
    while j < links:
        if linked(alpha, dprime, r2, j, n, min_dprime):
            count += 1
            if j == links - 1:
                if nsnps - start >= size:
                    blocks.append((pop, start, nsnps))
                break
            j += 1
        else:
            if count >= size:
                blocks.append((pop, start, j + 1))
            start = j + 1
            if start >= links:
                break
            count = 1
            j = start
    return blocks


def ld_window(alpha, nsnps, dprime, r2, wide, min_dprime, n, c):
    ini, end, means = 0, nsnps, []
    for j in range(c - 1, -1, -1):
        if not linked(alpha, dprime, r2, j, n, min_dprime):
            ini = max(min(c - wide // 2, j), 0)
            break
    for k in range(c + 1, nsnps):
        if not linked(alpha, dprime, r2, k - 1, n, min_dprime):
            end = min(nsnps, max(c + wide // 2, k))
            break
    pairs = list(range(ini, end - 1))
    mean_d = sum(dprime[j] for j in pairs) / len(pairs) if pairs else 0.0
    return ini, end, mean_d


def class_count(w):
    return w if w <= 29 else w // 2


# ---------------------------------------------------------------------------
# HAC classes and JHac
# ---------------------------------------------------------------------------
def jhac_of(hacs, nclasses, class_span):
    k = nclasses
    s = class_span - 1
    d = s // k
    freqs = []
    for values in hacs:
        counts = [0] * k
        for x in values:
            placed = False
            for j in range(k):
                lo, hi = j * d, (j + 1) * d - 1
                if lo <= x <= hi:
                    counts[j] += 1
                    placed = True
                    break
            if not placed and x == s:
                counts[k - 1] += 1
        n = len(values)
        freqs.append([(c + 0.5) / (n + 0.5 * k) for c in counts])
    n1, n2 = len(hacs[0]), len(hacs[1])
    total = 0.0
    for j in range(k):
        f1, f2 = freqs[0][j], freqs[1][j]
        if f1 != f2:
            total += (f1 - f2) * math.log(f1 / f2)
    jhac = (float(n1 * n2) / float(n1 + n2)) * total
    return jhac, chi_square_pvalue(jhac, k - 1)


# ---------------------------------------------------------------------------
# One file
# ---------------------------------------------------------------------------
class Outcome:
    def __init__(self):
        self.records = []
        self.nsnps = 0
        self.note = None
        self.fatal = None
        self.no_selection = False
        self.popforhb = -1


def analyse(path, args, refpop):
    out = Outcome()
    sizes = [args.sample, args.sample2 if args.sample2 else args.sample]
    positions, rows = read_ms_two_samples(path, sizes[0], sizes[1])
    f0, f1 = frequencies(rows, sizes, 0), frequencies(rows, sizes, 1)
    total = sizes[0] + sizes[1]
    keep = [j for j in range(len(positions))
            if (sizes[1] * f1[j] + f0[j] * sizes[0]) / total >= args.maf]
    positions = [positions[j] for j in keep]
    rows = [[r[j] for j in keep] for r in rows]
    n = len(positions)
    out.nsnps = n
    assert n >= args.minwin, "too few SNPs"

    two_ref = args.reference is None
    popforhb = refpop if two_ref else args.reference - 1
    out.popforhb = popforhb
    other = 1 - popforhb
    refs = [reference_alleles(rows, sizes, p) for p in (0, 1)]
    freqs = [frequencies(rows, sizes, p) for p in (0, 1)]
    min_dprime = 2.0 if args.old else 0.4
    ld = {popforhb: ld_pairs(rows, sizes, popforhb, refs[popforhb], freqs[popforhb])}
    if two_ref:
        ld[other] = ld_pairs(rows, sizes, other, refs[other], freqs[other])

    useblocks = args.window == 0
    minblock = args.minwin
    cands, blocks = [], []
    if args.selectives:
        for v in args.selectives:
            if v in positions:
                cands.append(positions.index(v))
                continue
            idx = math.trunc(v * n)
            if 0 <= idx < n:
                cands.append(idx)
        if not cands:
            out.fatal = ("Quintor ERROR:\nCannot found between-population-shared SNP with frequency "
                         "above MAF and close to any of the proposed candidate SNPs for studying "
                         "selection. 1\n")
            return out
        if args.window == 0:
            kept = []
            for c in cands:
                ini, end, _ = ld_window(args.sl, n, *ld[popforhb], minblock, min_dprime,
                                        sizes[popforhb], c)
                if end - ini >= minblock:
                    blocks.append((popforhb, ini, end))
                elif two_ref:
                    ini, end, _ = ld_window(args.sl, n, *ld[other], minblock, min_dprime,
                                            sizes[other], c)
                    if end - ini < minblock:
                        continue
                    blocks.append((other, ini, end))
                else:
                    continue
                kept.append(c)
            cands = kept
            if not blocks:
                out.no_selection = True
                return out
    else:
        assert useblocks, "EOS candidates are out of scope"
        blocks = ld_blocks(args.sl, *ld[popforhb], minblock, min_dprime, sizes[popforhb],
                           popforhb, n)
        if not blocks and two_ref:
            blocks = ld_blocks(args.sl, *ld[other], minblock, min_dprime, sizes[other], other, n)
        cands = [(b[1] + b[2]) // 2 for b in blocks]
        if not cands:
            out.no_selection = True
            return out

    cur_win = args.window
    if args.window > 0:
        if n < cur_win:
            out.note = ("\nFixed Window size is: %d.\nIn metapopulation 1 only %d true SNPs in the "
                        "sample. The window size is changed for file %s. New window size is:  %d\n"
                        % (cur_win, n, args.label_of[path], n))
            nclasses = class_count(n)
            cur_win = n
        else:
            nclasses = class_count(cur_win)
            r = cur_win % nclasses
            cur_win = cur_win - r if r <= nclasses // 2 else cur_win + nclasses - r
            if n > cur_win:
                cur_win += 1
        class_span = cur_win
    else:
        cur_win = minblock
    halfwin = (cur_win - 1) // 2

    for k, c in enumerate(cands):
        ini = c - halfwin
        end = ini + cur_win
        if ini < 0:
            ini, end = 0, cur_win
        elif end > n:
            ini, end = n - cur_win, n
        reference = refs[popforhb]
        if args.window == 0:
            pop, ini, end = blocks[k]
            reference = refs[pop]
            w = end - ini
            if args.maxwin > 0:
                w = min(w, args.maxwin)
            nclasses = class_count(w)
            r = w % nclasses
            class_span = (w - r if r <= nclasses // 2 else w + nclasses - r) + 1
        hacs = []
        for p in (0, 1):
            hacs.append([float(sum(1 for s in range(ini, end)
                                   if s != c and row[s] != int(reference[s])))
                         for row in pop_rows(rows, sizes, p)])
        jhac, pval = jhac_of(hacs, nclasses, class_span)
        out.records.append(dict(candidate=k + 1, pos=positions[c], wide=end - ini,
                                ini=int(positions[ini]), end=int(positions[end - 1]),
                                nclasses=nclasses, jhac=jhac, pval=pval,
                                n1=sizes[0], n2=sizes[1]))
    out.records.sort(key=lambda r: r["pos"])
    return out


def g(x):
    return "%.12g" % x


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("files", nargs="+")
    ap.add_argument("--sample", type=int, default=50)
    ap.add_argument("--sample2", type=int, default=0)
    ap.add_argument("--window", type=int, default=0)
    ap.add_argument("--selectives", default="",
                    help="comma-separated user candidate positions")
    ap.add_argument("--sl", type=float, default=0.05)
    ap.add_argument("--maf", type=float, default=0.01)
    ap.add_argument("--minwin", type=int, default=11)
    ap.add_argument("--maxwin", type=int, default=1000)
    ap.add_argument("--old", action="store_true")
    ap.add_argument("--reference", type=int, default=None)
    ap.add_argument("--labels", nargs="*", default=None)
    ap.add_argument("--valid", type=int, default=None)
    args = ap.parse_args()
    args.selectives = [float(v) for v in args.selectives.split(",") if v]
    labels = args.labels or args.files
    args.label_of = dict(zip(args.files, labels))
    refpop = 0
    if args.sample2 and args.sample != args.sample2:
        refpop = 1 if args.sample < args.sample2 else 0

    header = ("File\t#SNPs\tCandidate\tSNP\tWide\tIni\tEnd\tNCLASSES\tMeanFST\tFST\tFSTindex\t"
              "fstPval\tn1\tn2\tJHac\tPval\tSig\n")
    table, sig = header, header
    kept, total_snps, max_cands, notes = [], 0.0, 0, []
    for path in args.files:
        out = analyse(path, args, refpop)
        if out.fatal:
            print("FATAL (Quintor_ERROR.log):", repr(out.fatal))
            return
        if out.note:
            notes.append(out.note)
        if out.no_selection:
            print("NO SELECTION in", path, file=sys.stderr)
            continue
        kept.append((args.label_of[path], out))
        total_snps += out.nsnps
        max_cands = max(max_cands, len(out.records))
    slots = [[0, 0.0, 0.0, 0] for _ in range(max_cands)]
    for label, out in kept:
        for j, r in enumerate(out.records):
            mark = "\t*" if r["pval"] <= args.sl else "\tns"
            row = "\t".join([label, str(out.nsnps), str(j + 1), g(r["pos"]), str(r["wide"]),
                             str(r["ini"]), str(r["end"]), str(r["nclasses"]), "0", "0", "0", "0",
                             str(r["n1"]), str(r["n2"]), g(r["jhac"]), g(r["pval"])]) + mark + "\n"
            table += row
            slots[j][3] = j + 1
            if r["pval"] <= args.sl:
                sig += row
                slots[j][0] += 1
                slots[j][1] += r["wide"]
                slots[j][2] += r["pos"]
            # cross-check of the p-value against closed forms
            df = r["nclasses"] - 1
            if df == 1 or (df > 0 and df % 2 == 0):
                exact = closed_form_pvalue(r["jhac"], df)
                assert abs(exact - r["pval"]) <= 1e-9 * max(exact, 1e-300) + 1e-15, (exact, r)
    table += "\n"
    if len(kept) > 1:
        files = float(len(kept))
        valid = float(args.valid if args.valid is not None else len(args.files))
        table += "SegSites\tCandidate\tMean_size\tMean_pos\t%PowerJ\t%FPJJ\n"
        table += g(total_snps / files)
        for count, wides, poss, label in slots:
            size = wides / count if count else 0.0
            pos = poss / count if count else -1.0
            table += "\t%d\t%s\t%s\t%s\t%s\n" % (label, g(size), g(pos), g(100.0 * count / files),
                                                g(100.0 * count / valid))
    if kept:
        sys.stdout.write("=== table\n" + table + "=== significant rows\n" + sig)
    for note in notes[-1:]:
        sys.stdout.write("=== Quintor.log\n" + note)


if __name__ == "__main__":
    main()
