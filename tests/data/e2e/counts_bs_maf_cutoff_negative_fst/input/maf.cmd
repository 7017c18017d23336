# maf.bs is written by a short script from chosen counts (n = 20 copies per
# population, -sample 10 individuals), to be read with -maf 0.4. Locus 9 has
# 4 copies in population 1 (four alleles, one copy each) and 20 in
# population 2: its Fst, 1 - 0.6225/0.5729, is negative and counts as 0 in the
# mean. Loci 6 (Fst 0.186) and 14 (Fst 0.206) lie on either side of the EOS
# cutoff FstMax * 1.25 / 3 + Fst mean = 0.35135 * 0.41667 + 0.04446 = 0.19086;
# locus 11 (two alleles per population, none shared) reaches 0.338. Expected
# summary:
python3 tests/tools/counts_reference.py --format BS --maf 0.4 --dir tests/data/e2e/counts_bs_maf_cutoff_negative_fst/input maf.bs
