#!/usr/bin/env bash
# Makes the bundled fuzzing seeds from the end-to-end test data:
#   MS    the one-block-per-population files run with -sample 5
#   MS2   the two-sample files run with -sample 10 -sample2 10
#   args  every case's command line (its input file renamed in.ms) and that file
#   FASTA small alignments made from scrm data, in each of the four layouts
#         (halves, two files, by tag, in turn), with and without -nogaps and
#         subset files, and a header without sequence text
#   BS, GP  the BS and genepop files of the end-to-end cases
#   PL, PL2 plink map and ped pairs (the scrm pair cut to its first 24 SNPs)
#   HM, FP, VCF  small scrm data in each haplotype format (tests/tools/ms2formats.py;
#         the VCF pair split with bcftools); HM in one file and in two
set -euo pipefail
cd "$(dirname "$0")/../.."
e2e=tests/data/e2e
seeds=tests/fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds/MS" "$seeds/MS2" "$seeds/args" "$seeds/FASTA" "$seeds/BS" "$seeds/GP" "$seeds/PL" "$seeds/PL2" \
  "$seeds/HM" "$seeds/FP" "$seeds/VCF"

cp "$e2e/eos_maf_equal_kept_below_dropped/input/pair.ms" "$seeds/MS/pair.ms"
cp "$e2e/loop_one_population_block_eos_only/input/single.ms" "$seeds/MS/single.ms"
cp "$e2e/loop_series_unreadable_middle_verbose/input/QuintorF0.txt" "$seeds/MS/series0.ms"
for c in j_no_ld_block:nb.ms j_pval_equals_sl:eq.ms j_user_positions_not_shared:uf.ms \
         j_window_larger_than_shared:wl.ms eos_scrm_structured:sim.ms; do
  cp "$e2e/${c%%:*}/input/${c#*:}" "$seeds/MS2/${c#*:}"
done

for dir in "$e2e"/*/; do
  name=$(basename "$dir")
  inputs=()
  [ -d "$dir/input" ] && inputs=($(cd "$dir/input" && ls | grep -v '\.cmd$' || true))
  [ ${#inputs[@]} -le 1 ] || continue
  [ ${#inputs[@]} -eq 0 ] || [ -f "$dir/input/${inputs[0]}" ] || continue
  eval "set -- $(cat "$dir/args")"
  {
    for word in "$@"; do
      [ ${#inputs[@]} -eq 1 ] && [ "$word" = "${inputs[0]}" ] && word=in.ms
      printf '%s\0' "$word"
    done
    if [ ${#inputs[@]} -eq 1 ]; then
      printf '\n%%%%%%%%\n'
      cat "$dir/input/${inputs[0]}"
    fi
  } > "$seeds/args/$name"
done

# FASTA: the fuzzed command words, then in.fas, then in2.fas.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scrm 12 1 -t 6 -r 1 1000 -I 2 6 6 1 -seed 3 > "$work/small.ms"
python3 tests/tools/fasta_twin.py alignment "$work/small.ms" 60 5 > "$work/small.fas"
python3 tests/tools/fasta_twin.py alignment "$work/small.ms" 60 5 --last 5 > "$work/s1.fas"
python3 tests/tools/fasta_twin.py alignment "$work/small.ms" 60 5 --first 5 --crlf > "$work/s2.fas"
fasta_seed() {  # NAME WORDS IN IN2; WORDS is a printf format, each word ended by \0
  { printf -- "$2"; printf '\n%%%%%%%%\n'; cat "$3"; printf '\n%%%%%%%%\n'; cat "$4"; } \
    > "$seeds/FASTA/$1"
}
fasta_seed halves '' "$work/small.fas" /dev/null
fasta_seed two_files '-input2\0in2.fas\0' "$work/s1.fas" "$work/s2.fas"
fasta_seed two_files_nogaps '-singlepopfile\0001\0-input2\0in2.fas\0-nogaps\0001\0' \
  "$work/s1.fas" "$work/s2.fas"
fasta_seed tag_store '-tag\0PoP1\0-store\0001\0' "$work/small.fas" /dev/null
fasta_seed rnd0_nogaps_save \
  '-tag\0RND0\0-save\0001\0-nogaps\0001\0-doEOS\0000\0-window\0007\0-selectives\00010\00030\0' \
  "$work/small.fas" /dev/null
fasta_seed header_without_sequence '' "$e2e/fasta_header_without_sequence/input/bad.fas" /dev/null
# Allele-count formats.
cp "$e2e/counts_bs_series_edges/input/bs0.txt" "$e2e/counts_bs_series_edges/input/bs2.txt" "$seeds/BS/"
cp "$e2e/counts_genepop_edges/input/edges.gen" "$e2e/counts_genepop_single_population/input/one.gen" \
   "$seeds/GP/"
# pair KIND NAME MAP PED [SNPS]: the map and ped files as the two parts of one
# seed, cut to the first SNPS SNPs when given.
pair() {
  local snps=${5:-0}
  {
    if [ "$snps" = 0 ]; then cat "$3"; else head -n "$snps" "$3"; fi
    printf '\n%%%%%%%%\n'
    if [ "$snps" = 0 ]; then cat "$4"; else awk -v n=$((6 + 2 * snps)) '{ NF = n; print }' "$4"; fi
  } > "$seeds/$1/$2"
}
pair PL scrm "$e2e/counts_plink_scrm_verbose/input/pl42.map" "$e2e/counts_plink_scrm_verbose/input/pl42.ped" 24
pair PL family "$e2e/counts_plink_family_interrupted/input/fam.map" "$e2e/counts_plink_family_interrupted/input/fam.ped"
pair PL table "$e2e/counts_plink_snp_table/input/t.map" "$e2e/counts_plink_snp_table/input/t.ped"
pair PL2 crlf "$e2e/counts_plink_numeric_crlf_default_name/input/QuintorF.map" \
  "$e2e/counts_plink_numeric_crlf_default_name/input/QuintorF.ped" 24
# Haplotype formats: two small data sets, the second with unequal populations.
sep=$'\n%%%%\n'
for set in "8 4 4 21":a "10 4 6 22":b; do
  read -r n n1 n2 seed <<< "${set%%:*}"
  tag=${set#*:}
  scrm "$n" 1 -t 8 -r 2 10000 -I 2 "$n1" "$n2" 0.5 -p 10 -seed "$seed" > "$work/$tag.ms"
  python3 tests/tools/ms2formats.py "$work/$tag.ms" "$n1" "$n2" 10000 "$work/$tag"
  d=$work/$tag
  { printf '%s' "$sep"; cat "$d/hapmap.txt"; } > "$seeds/HM/one_file_$tag"
  { printf -- '-singlepopfile\0001\000'; printf '%s' "$sep"
    awk -v n1="$n1" '{ printf "%s %s", $1, $2; for (i = 3; i < 3 + n1; i++) printf " %s", $i; print "" }' "$d/hapmap.txt"
    printf '%s' "$sep"
    awk -v n1="$n1" '{ printf "%s %s", $1, $2; for (i = 3 + n1; i <= NF; i++) printf " %s", $i; print "" }' "$d/hapmap.txt"
  } > "$seeds/HM/two_files_$tag"
  { cat "$d/fp1.out"; printf '%s' "$sep"; cat "$d/fp2.out"; } > "$seeds/FP/pair_$tag"
  { bcftools view --no-version -S "$d/pop1.txt" "$d/all.vcf"; printf '%s' "$sep"
    bcftools view --no-version -S "$d/pop2.txt" "$d/all.vcf"; } > "$seeds/VCF/pair_$tag"
done
