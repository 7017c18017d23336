# scrm 1.7.4
scrm 30 1 -t 6 -I 2 10 20 2 -seed 8 > sim.ms
