# scrm 1.7.4
scrm 20 1 -t 10 -I 2 10 10 10 -seed 5 > sim.ms
