# Written by hand; -maf 0. r1: A 3 of 5 copies (one missing, 0) and 3 of 4
# (minor 0.4, 0.25). r2: G 4 of 5 copies (one missing, -) in population A,
# G fixed in population B (major frequency 1 = 1 - maf: kept, minor 0.2, 0).
# r3: T 5 of 6, C fixed in B (kept; the missing copies at r1 and r2 count
# nowhere here). r4: 2 missing copies among the 3 individuals of A, at n - 1
# (dropped). The table lists the kept loci at their map positions.
