#!/usr/bin/env bash
# Makes the bundled fuzzing seeds from the end-to-end test data:
#   MS    the one-block-per-population files run with -sample 5
#   MS2   the two-sample files run with -sample 10 -sample2 10
#   args  every case's command line (its input file renamed in.ms) and that file
#   HM, FP, VCF  small scrm data in each haplotype format (tests/tools/ms2formats.py;
#         the VCF pair split with bcftools); HM in one file and in two
set -euo pipefail
cd "$(dirname "$0")/../.."
e2e=tests/data/e2e
seeds=tests/fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds/MS" "$seeds/MS2" "$seeds/args" "$seeds/HM" "$seeds/FP" "$seeds/VCF"

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

# Haplotype formats: two small data sets, the second with unequal populations.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sep=$(printf '\n%%%%%%%%\n')
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
