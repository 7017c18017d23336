# scrm 1.7.4
scrm 20 2 -t 2 -seed 7 > scrm_20x2.ms
