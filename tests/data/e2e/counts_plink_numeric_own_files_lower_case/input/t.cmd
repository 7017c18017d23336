# Written by hand. Run with -singlepopfile 1 -input T -input2 u: the map is
# t.map, found under its lower-cased name, and the ped is u.ped (there is no
# t.ped, no u.map). The map has 3 columns; the position of r2 is a vertical
# tab alone, which reads as 0. The ped is numeric; its first allele token is
# 0. Missing copies: 0 at r1, - and X at r2, a vertical tab alone at r3 (P1)
# and 0 at r1 (P2); none counts at the locus after it. Minor frequencies,
# 1 - major / copies present:
#   P1: r1 1 - 4/7, r2 1 - 4/6, r3 1 - 6/7, r4 1 - 5/8
#   P2: r1 1 - 6/7, r2 1 - 7/8, r3 1 - 6/8, r4 1 - 7/8
