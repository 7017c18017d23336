#!/usr/bin/env python3
"""Turn the first block of an ms file into the haplotype formats quintor reads,
with the ms files that must give the same analysis.

usage: ms2formats.py FILE.ms N1 N2 LENGTH OUTDIR

The first N1 rows are population 1, the next N2 population 2 (N1, N2 even).
Positions are the ms fractions times LENGTH rounded (at least 1), pushed up
by one where they would not increase. Written into OUTDIR:

  all.vcf, pop1.txt, pop2.txt  phased VCF of both populations (rows 2i and
                               2i+1 are individual i; REF A, ALT C; IDs rs<k>)
                               and the sample names of each population, for
                               `bcftools view -S`
  hapmap.txt                   phased HapMap, one file, ms 0 -> A, 1 -> C
  fp1.out, fp2.out             fastPHASE output, one individual per ms row
                               (both haplotypes the row), alleles A/C with
                               blanks between them
  vcf_ref.ms                   the ms rows with the integer positions
  nucleotide_ref.ms            the rows coded as the HapMap and fastPHASE
                               readers code them, integer positions
  fastphase_ref.ms             the same coding, positions 0, 1, 2, ...

The coding of the nucleotide formats is done here from its rule alone: with
equal population sizes population 1 is the reference; at each site the
minor letter is the least frequent of A and C among its rows (the first
letter, A, on a tie; none when one letter is fixed), and a cell is 1 where
the row carries the minor letter.
"""
import os
import sys


def read_first_block(path):
    positions, rows = None, []
    with open(path) as fh:
        for line in fh:
            if positions is None:
                if line.startswith("positions:"):
                    positions = [float(x) for x in line.split()[1:]]
                continue
            line = line.strip()
            if not line or line.startswith("//"):
                if rows:
                    break
                continue
            rows.append(line)
    return positions, rows


def integer_positions(fractions, length):
    out, last = [], 0
    for x in fractions:
        p = max(1, int(round(x * length)))
        if p <= last:
            p = last + 1
        out.append(p)
        last = p
    return out


def write_ms(path, positions, rows, n1, n2):
    with open(path, "w") as fh:
        fh.write("ms2formats %d 1\n1 2 3\n\n//\n" % (n1 + n2))
        fh.write("segsites: %d\n" % len(positions))
        fh.write("positions: " + " ".join(str(p) for p in positions) + "\n")
        for r in rows:
            fh.write(r + "\n")


def nucleotide_coding(rows, n1):
    ref = rows[:n1]
    coded = [[] for _ in rows]
    for i in range(len(rows[0])):
        ones = sum(r[i] == "1" for r in ref)
        zeros = len(ref) - ones
        if ones == 0 or zeros == 0:
            minor = None
        elif ones < zeros:
            minor = "1"
        else:
            minor = "0"  # the A rows: fewer, or a tie (A comes first)
        for k, r in enumerate(rows):
            coded[k].append("1" if minor is not None and r[i] == minor else "0")
    return ["".join(c) for c in coded]


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    path, n1, n2, length, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
    fractions, rows = read_first_block(path)
    rows = rows[: n1 + n2]
    positions = integer_positions(fractions, length)
    os.makedirs(out, exist_ok=True)
    letter = {"0": "A", "1": "C"}

    names = ["p1_%d" % i for i in range(n1 // 2)] + ["p2_%d" % i for i in range(n2 // 2)]
    with open(os.path.join(out, "all.vcf"), "w") as fh:
        fh.write("##fileformat=VCFv4.2\n##contig=<ID=1,length=%d>\n" % int(length))
        fh.write('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n')
        fh.write("#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t" + "\t".join(names) + "\n")
        for i, pos in enumerate(positions):
            gts = ["%s|%s" % (rows[2 * k][i], rows[2 * k + 1][i]) for k in range(len(names))]
            fh.write("1\t%d\trs%d\tA\tC\t.\tPASS\t.\tGT\t%s\n" % (pos, i + 1, "\t".join(gts)))
    for p, part in ((1, names[: n1 // 2]), (2, names[n1 // 2:])):
        with open(os.path.join(out, "pop%d.txt" % p), "w") as fh:
            fh.write("\n".join(part) + "\n")

    with open(os.path.join(out, "hapmap.txt"), "w") as fh:
        fh.write("rsID position_b36 " + " ".join("h%d" % k for k in range(len(rows))) + "\n")
        for i, pos in enumerate(positions):
            fh.write("rs%d %d %s\n" % (i + 1, pos, " ".join(letter[r[i]] for r in rows)))

    for p, part in ((1, rows[:n1]), (2, rows[n1:])):
        with open(os.path.join(out, "fp%d.out" % p), "w") as fh:
            fh.write("********************************************\n")
            fh.write("*  Output from fastPHASE (made by ms2formats)\n\n")
            fh.write("BEGIN GENOTYPES\n")
            for k, r in enumerate(part):
                hap = " ".join(letter[c] for c in r)
                fh.write("# id %d\n%s\n%s\n" % (k + 1, hap, hap))
            fh.write("END GENOTYPES\n")

    write_ms(os.path.join(out, "vcf_ref.ms"), positions, rows, n1, n2)
    coded = nucleotide_coding(rows, n1)
    write_ms(os.path.join(out, "nucleotide_ref.ms"), positions, coded, n1, n2)
    write_ms(os.path.join(out, "fastphase_ref.ms"), list(range(len(positions))), coded, n1, n2)


if __name__ == "__main__":
    main()
