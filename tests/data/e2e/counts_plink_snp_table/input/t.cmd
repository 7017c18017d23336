# Written by hand; -maf 0. r1: A 3 of 6 and 3 of 4 copies (minor 0.5, 0.25).
# r2: G fixed in population B (major frequency 1 = 1 - maf: kept, minor 0).
# r3: T 5 of 6, C fixed in B (kept). r4: 2 missing copies among the
# 3 individuals of A, at n - 1 (dropped). The table lists the kept loci at
# their map positions.
