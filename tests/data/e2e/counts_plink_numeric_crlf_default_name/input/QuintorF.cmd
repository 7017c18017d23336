# scrm 1.7.4, PLINK v1.9; the data of counts_plink_scrm_verbose in numeric alleles
scrm 40 1 -t 30 -r 10 100000 -I 2 20 20 2 -seed 42 > s42.ms
python3 bench/ms2vcf.py s42.ms 100000 20 20 s42
plink1.9 --vcf s42.vcf --id-delim _ --recode 12 --out pl42n
# every second individual of family p2 written P2, CRLF line ends
cp pl42n.map QuintorF.map && sed -i 's/$/\r/' QuintorF.map
awk 'BEGIN{k=0} $1=="p2"{k++; if(k%2==0) $1="P2"} {printf "%s\r\n", $0}' pl42n.ped > QuintorF.ped
# expected summary:
python3 tests/tools/counts_reference.py --format PL2 --dir tests/data/e2e/counts_plink_numeric_crlf_default_name/input QuintorF.map QuintorF.ped
