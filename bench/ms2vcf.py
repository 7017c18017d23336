#!/usr/bin/env python3
"""Turn the first block of an ms file into a phased diploid VCF.

usage: ms2vcf.py FILE.ms SEQ_LENGTH N1 N2 OUT_PREFIX

Rows 2i and 2i+1 become individual i (so N1 and N2 must be even); the first
N1 rows are population 1, the next N2 population 2. Positions are the ms
fractions times SEQ_LENGTH rounded to integers (at least 1), pushed up by one
where they would not be strictly increasing. REF is A and ALT is C.

Writes OUT_PREFIX.vcf, OUT_PREFIX.pop1.txt and OUT_PREFIX.pop2.txt (one
sample name a line, for vcftools --weir-fst-pop) and OUT_PREFIX.pheno (a
categorical POP column, for plink2 --pheno ... --fst POP).
"""
import sys


def read_first_block(path):
    positions = None
    rows = []
    with open(path) as fh:
        for line in fh:
            if positions is None:
                if line.startswith("positions:"):
                    positions = line.split()[1:]
                continue
            line = line.strip()
            if not line:
                if rows:
                    break
                continue
            if line.startswith("//"):
                break
            rows.append(line)
    if positions is None:
        sys.exit("ms2vcf: no 'positions:' line in " + path)
    return positions, rows


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    path, seqlen, n1, n2, out = sys.argv[1:]
    seqlen, n1, n2 = float(seqlen), int(n1), int(n2)
    if n1 % 2 or n2 % 2:
        sys.exit("ms2vcf: population sizes must be even")
    positions, rows = read_first_block(path)
    nsites = len(positions)
    if len(rows) < n1 + n2:
        sys.exit("ms2vcf: %d rows, %d needed" % (len(rows), n1 + n2))
    rows = rows[: n1 + n2]
    for r in rows:
        if len(r) != nsites:
            sys.exit("ms2vcf: a row has %d sites, %d expected" % (len(r), nsites))

    names1 = ["p1_%d" % (i + 1) for i in range(n1 // 2)]
    names2 = ["p2_%d" % (i + 1) for i in range(n2 // 2)]
    with open(out + ".pop1.txt", "w") as f:
        f.write("".join(n + "\n" for n in names1))
    with open(out + ".pop2.txt", "w") as f:
        f.write("".join(n + "\n" for n in names2))
    with open(out + ".pheno", "w") as f:
        f.write("#IID\tPOP\n")
        f.write("".join(n + "\tpop1\n" for n in names1))
        f.write("".join(n + "\tpop2\n" for n in names2))

    genotype_format = "\t".join(["%s|%s"] * ((n1 + n2) // 2)) + "\n"
    bumped = 0
    prev = 0
    with open(out + ".vcf", "w", buffering=1 << 22) as f:
        f.write("##fileformat=VCFv4.2\n")
        f.write("##contig=<ID=1,length=%d>\n" % int(round(seqlen)))
        f.write('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n')
        f.write("#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t")
        f.write("\t".join(names1 + names2) + "\n")
        for j, column in enumerate(zip(*rows)):
            pos = max(1, int(round(float(positions[j]) * seqlen)))
            if pos <= prev:
                pos = prev + 1
                bumped += 1
            prev = pos
            f.write("1\t%d\ts%d\tA\tC\t.\tPASS\t.\tGT\t" % (pos, j + 1))
            f.write(genotype_format % column)
    sys.stderr.write("ms2vcf: %d sites, %d individuals, %d positions moved up "
                     "to stay strictly increasing\n"
                     % (nsites, (n1 + n2) // 2, bumped))


if __name__ == "__main__":
    main()
