# edges.gen was written by a short script from chosen allele frequencies,
# then edited by hand: names comma-separated (a blank kept in " loc3") and one
# per line, "pop" and "Population B" lines, 2- and 3-digit alleles, CRLF line
# ends, comments and an empty line between individuals; loc2 has a major
# frequency of exactly 0.9 = 1 - maf in both populations (kept), loc3 19 of 20
# (dropped), loc4 9 missing copies among 10 individuals (dropped), loc5 8
# missing copies (kept) and an allele of population 2 only, loc6 the
# one-digit token "5" (a missing copy and allele 5). Expected summary:
python3 tests/tools/counts_reference.py --format GP --maf 0.1 --dir tests/data/e2e/counts_genepop_edges/input edges.gen
