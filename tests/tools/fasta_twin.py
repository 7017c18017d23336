#!/usr/bin/env python3
"""Test converters for the FASTA end-to-end cases.

  fasta_twin.py alignment SIM.ms LENGTH SEED [--crlf] [--first K] [--last K]
      Prints a FASTA alignment of LENGTH columns made from the first block of
      an ms file: one sequence per haplotype (or haplotypes K.. up to the
      --last), header ">hapK Pop1" for every third haplotype from the first and
      ">hapK pop2" for the others. Each segregating site takes the column of its
      position times LENGTH (the next free one when taken); 0 is a random
      base, 1 another base. Other columns carry the same base in every
      sequence, with some noise: N and gaps in single sequences, an N column
      and a column of gaps in most sequences. Sequence lines are 50 characters,
      every third in lower case and every fifth with a blank; --crlf ends the
      lines with a carriage return and a line feed.

  fasta_twin.py twin [--nogaps] [--split halves|rnd|tag:T] FILE [FILE2]
      Codes the alignment the way the FASTA input is described, written
      without the program: the larger population (the first on ties) gives
      each column's major (the first most frequent of A, C, G, T, anything
      else); a column whose major is not a nucleotide, or, with --nogaps, with
      a gap in the larger population, is dropped; a cell is 1 where a sequence
      carries a nucleotide other than the major. Prints the result as one ms
      block (positions: the column numbers from 0), population 1 first; the
      two sample sizes go to standard error. Two files are one population
      each; one file splits in halves (the odd one to population 2),
      alternately (rnd), or by a tag in the lower-cased headers.
"""
import random
import sys

NUCLEOTIDES = "ACGT"


def read_ms_block(path):
    with open(path) as f:
        lines = [l.strip() for l in f]
    start = next(i for i, l in enumerate(lines) if l.startswith("segsites"))
    positions = [float(w) for w in lines[start + 1].split()[1:]]
    rows = [l for l in lines[start + 2:] if l and l[0] in "01"]
    return positions, rows


def alignment(args):
    path, length, seed = args[0], int(args[1]), int(args[2])
    crlf = "--crlf" in args
    first = int(args[args.index("--first") + 1]) if "--first" in args else 0
    positions, rows = read_ms_block(path)
    last = int(args[args.index("--last") + 1]) if "--last" in args else len(rows)
    rng = random.Random(seed)
    base = [rng.choice(NUCLEOTIDES) for _ in range(length)]
    taken = {}
    for s, x in enumerate(positions):
        c = min(int(x * length), length - 1)
        while c in taken:
            c = (c + 1) % length
        taken[c] = s
    derived = {c: rng.choice([b for b in NUCLEOTIDES if b != base[c]]) for c in taken}
    free = [c for c in range(length) if c not in taken]
    n_col, gap_col = free[3], free[len(free) // 2]
    noise = {(rng.randrange(len(rows)), rng.choice(free)): rng.choice("N-") for _ in range(8)}
    end = "\r\n" if crlf else "\n"
    out = []
    for h in range(first, last):
        seq = []
        for c in range(length):
            if c in taken:
                seq.append(derived[c] if rows[h][taken[c]] == "1" else base[c])
            elif c in (n_col, gap_col) and h % 4 != 0:
                seq.append("N" if c == n_col else "-")
            else:
                seq.append(noise.get((h, c), base[c]))
        tag = "Pop1" if h % 3 == 0 else "pop2"
        out.append(">hap%d %s%s" % (h, tag, end))
        for k, i in enumerate(range(0, length, 50)):
            line = "".join(seq[i:i + 50])
            if k % 3 == 1:
                line = line.lower()
            if k % 5 == 2:
                line = line[:10] + " " + line[10:]
            out.append(line + end)
    sys.stdout.write("".join(out))


def read_fasta(path):
    with open(path, newline="") as f:
        lines = f.read().split("\n")
    records = []
    for line in lines:
        line = line.replace("\r", "")
        if line.startswith(">"):
            records.append([line, ""])
        elif records:
            records[-1][1] += line.replace(" ", "").upper()
    return records


def twin(args):
    nogaps = "--nogaps" in args
    split = args[args.index("--split") + 1] if "--split" in args else "halves"
    files = [a for i, a in enumerate(args)
             if not a.startswith("--") and (i == 0 or args[i - 1] != "--split")]
    if len(files) == 2:
        pops = [[s for _, s in read_fasta(files[0])], [s for _, s in read_fasta(files[1])]]
    else:
        records = read_fasta(files[0])
        if split == "halves":
            half = len(records) // 2
            pops = [[s for _, s in records[:half]], [s for _, s in records[half:]]]
        elif split == "rnd":
            pops = [[s for _, s in records[0::2]], [s for _, s in records[1::2]]]
        else:
            tag = split[len("tag:"):]
            pops = [[s for h, s in records if tag in h.lower()],
                    [s for h, s in records if tag not in h.lower()]]
    reference = pops[1] if len(pops[0]) < len(pops[1]) else pops[0]
    kept, majors = [], []
    for c in range(len(reference[0])):
        column = [s[c] for s in reference]
        if nogaps and "-" in column:
            continue
        counts = [column.count(b) for b in NUCLEOTIDES]
        counts.append(len(column) - sum(counts))
        best = counts.index(max(counts))
        if best < 4:
            kept.append(c)
            majors.append(NUCLEOTIDES[best])
    print("segsites: %d" % len(kept))
    print("positions: " + " ".join(str(c) for c in kept))
    for pop in pops:
        for s in pop:
            print("".join("1" if s[c] in NUCLEOTIDES and s[c] != m else "0"
                          for c, m in zip(kept, majors)))
    print("%d %d" % (len(pops[0]), len(pops[1])), file=sys.stderr)


if __name__ == "__main__":
    {"alignment": alignment, "twin": twin}[sys.argv[1]](sys.argv[2:])
