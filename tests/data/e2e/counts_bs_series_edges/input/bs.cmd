# bs0.txt and bs2.txt are written by hand (bs1.txt is missing on purpose:
# the series skips it). Edges in bs0.txt: comment and title lines before the
# count lines, a line between them, leading blanks before "[populations]",
# "[pop]" with a CRLF end, extra fields after the counts (locus 4), counts
# that add up to n = 1 in halves (locus 13, dropped), a fractional count whose
# truncated running total is 9 (locus 14), lists of different lengths
# (locus 15), K = 0 with n = 0 (locus 16, dropped), lines after the last block.
# bs2.txt has an Fst mean above 0.5. Expected summary:
python3 tests/tools/counts_reference.py --format BS --dir tests/data/e2e/counts_bs_series_edges/input bs0.txt bs1.txt bs2.txt
