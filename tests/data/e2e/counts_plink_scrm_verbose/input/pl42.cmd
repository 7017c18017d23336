# scrm 1.7.4, PLINK v1.9
scrm 40 1 -t 30 -r 10 100000 -I 2 20 20 2 -seed 42 > s42.ms
python3 bench/ms2vcf.py s42.ms 100000 20 20 s42
plink1.9 --vcf s42.vcf --id-delim _ --recode --out pl42
# expected summary:
python3 tests/tools/counts_reference.py --format PL --dir tests/data/e2e/counts_plink_scrm_verbose/input pl42.map pl42.ped
