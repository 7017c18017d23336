#!/usr/bin/env bash
# Makes the bundled fuzzing seeds from the end-to-end test data:
#   MS    the one-block-per-population files run with -sample 5
#   MS2   the two-sample files run with -sample 10 -sample2 10
#   args  every case's command line (its input file renamed in.ms) and that file
set -euo pipefail
cd "$(dirname "$0")/../.."
e2e=tests/data/e2e
seeds=tests/fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds/MS" "$seeds/MS2" "$seeds/args"

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
