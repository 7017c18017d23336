#!/usr/bin/env bash
# Hand-run benchmark: quintor against plink2, plink1.9, vcftools and cat on
# scrm data of two populations (100 + 100 chromosomes), a series of 200
# small files against cat, and a check that quintor's result files equal
# those of a baseline build. Not part of CI.
#
#   bash bench/run.sh            # the 100k-site data set
#   bash bench/run.sh 100k 1M    # both data sets
#
# BENCH_WORK     work folder (default bench/work): cached data and results
# BENCH_TIMEOUT  seconds after which a timed command is stopped (default 0: never)
# BENCH_SKIP     space-separated row names not to run (e.g. "quintor-full")
# BENCH_BASELINE git revision whose build the result files are compared with
#                (default 81c712d, the build before the bit-packed haplotype
#                matrix); "none" skips the check
set -euo pipefail

BENCH_DIR=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$BENCH_DIR")
WORK=${BENCH_WORK:-$BENCH_DIR/work}
TIMEOUT=${BENCH_TIMEOUT:-0}
SKIP=" ${BENCH_SKIP:-} "
BASELINE=${BENCH_BASELINE:-81c712d}
SIZES=("$@")
[ ${#SIZES[@]} -gt 0 ] || SIZES=(100k)

for tool in scrm plink2 plink1.9 vcftools python3 cmake; do
  command -v "$tool" > /dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time" >&2; exit 1; }

# scrm parameters per data set: theta = rho, sequence length.
params() {
  case "$1" in
    100k) echo "6850 1000000" ;;
    1M) echo "68500 10000000" ;;
    *) echo "unknown size '$1' (use 100k or 1M)" >&2; exit 1 ;;
  esac
}
for size in "${SIZES[@]}"; do params "$size" > /dev/null; done

echo "== build (Release)"
cmake -S "$ROOT" -B "$ROOT/build-bench" -DCMAKE_BUILD_TYPE=Release -DQUINTOR_TESTS=OFF > /dev/null
cmake --build "$ROOT/build-bench" -j4 > /dev/null
QUINTOR="$ROOT/build-bench/quintor"
mkdir -p "$WORK"

# Data: ms (scrm), phased VCF with population lists, plink2 pfile, plink1 bed.
# Each step is skipped when its output is already there.
prepare() {
  local size=$1 theta length
  read -r theta length < <(params "$size")
  local base="$WORK/sites$size"
  if [ ! -s "$base.ms" ]; then
    echo "== scrm $size"
    scrm 200 1 -t "$theta" -r "$theta" "$length" -I 2 100 100 0.5 -p 10 -seed 1 2 3 > "$base.ms.tmp"
    mv "$base.ms.tmp" "$base.ms"
  fi
  if [ ! -s "$base.vcf" ] || [ "$base.ms" -nt "$base.vcf" ]; then
    echo "== VCF $size"
    python3 "$BENCH_DIR/ms2vcf.py" "$base.ms" "$length" 100 100 "$base.tmp"
    for ext in pop1.txt pop2.txt pheno vcf; do mv "$base.tmp.$ext" "$base.$ext"; done
  fi
  if [ ! -s "$base.pgen" ] || [ "$base.vcf" -nt "$base.pgen" ]; then
    echo "== plink2 pfile $size"
    plink2 --vcf "$base.vcf" --make-pgen --out "$base" > "$base.make-pgen.out"
  fi
  if [ ! -s "$base.bed" ] || [ "$base.pgen" -nt "$base.bed" ]; then
    echo "== plink1 bed $size"
    plink2 --pfile "$base" --make-bed --out "$base" > "$base.make-bed.out"
  fi
}

# The series: 200 ms files of about 10,000 sites each (one scrm run of 200
# replicates, cut at its "//" lines), series/run0.txt .. run199.txt.
prepare_series() {
  local dir="$WORK/series"
  [ -s "$dir/run199.txt" ] && return
  echo "== scrm series"
  mkdir -p "$dir"
  scrm 200 200 -t 685 -r 685 100000 -I 2 100 100 0.5 -p 10 -seed 1 2 3 > "$WORK/series.ms"
  awk -v dir="$dir" 'NR <= 2 { head = head $0 "\n"; next }
    /^\/\// { if (f) close(f); f = sprintf("%s/run%d.txt", dir, n++); printf "%s", head > f }
    f { print > f }' "$WORK/series.ms"
}

# Wall s (from the shell's clock, microseconds, the time process included),
# CPU (user+sys) s and peak MB (from a /usr/bin/time -v file).
time_figures() {
  awk -F': ' -v t0="$2" -v t1="$3" '
    BEGIN { w = t1 - t0 }
    /User time \(seconds\)/ { u = $2 }
    /System time \(seconds\)/ { s = $2 }
    /Maximum resident set size/ { m = $2 / 1024 }
    END { printf "%.3f\t%.2f\t%.1f\n", w, u + s, m }' "$1"
}

# timed NAME SIZE SITES STDOUT CMD...: runs CMD in a fresh scratch folder
# results/SIZE/NAME and appends a row to results/SIZE/summary.tsv.
timed() {
  local name=$1 size=$2 sites=$3 out=$4; shift 4
  local dir="$WORK/results/$size/$name"
  if [[ "$SKIP" == *" $name "* ]]; then echo "   (skipped $name)"; return; fi
  rm -rf "$dir"; mkdir -p "$dir"
  [ "$out" = "-" ] && out="$dir/stdout.txt"
  local wrap=()
  [ "$TIMEOUT" != 0 ] && wrap=(timeout "$TIMEOUT")
  local shown="$*"
  [ ${#shown} -gt 160 ] && shown="${shown:0:157}..."
  echo "   $name: $shown"
  local rc=0 t0 t1
  t0=$EPOCHREALTIME
  (cd "$dir" && /usr/bin/time -v -o "$dir/time.txt" "${wrap[@]}" "$@" > "$out" 2> "$dir/stderr.txt") || rc=$?
  t1=$EPOCHREALTIME
  local status=ok
  [ "$rc" = 0 ] || status="exit $rc"
  [ "$rc" = 124 ] && [ "$TIMEOUT" != 0 ] && status="timeout ${TIMEOUT}s"
  printf '%s\t%s\t%s\t%s\n' "$name" "$sites" "$(time_figures "$dir/time.txt" "$t0" "$t1")" "$status" \
    >> "$WORK/results/$size/summary.tsv"
}

run_size() {
  local size=$1
  local base="$WORK/sites$size"
  local sites
  sites=$(awk '/^segsites:/ { print $2; exit }' "$base.ms")
  mkdir -p "$WORK/results/$size"
  : > "$WORK/results/$size/summary.tsv"
  echo "== timing $size ($sites sites)"
  # Warm the page cache so that every tool reads its input from memory.
  cat "$base.ms" "$base.vcf" "$base.pgen" "$base.bed" > /dev/null
  timed cat "$size" "$sites" /dev/null cat "$base.ms"
  timed quintor-eos "$size" "$sites" - "$QUINTOR" -input "$base.ms" -sample 100 -sample2 100 -onlyEOS 1
  timed quintor-full "$size" "$sites" - "$QUINTOR" -input "$base.ms" -sample 100 -sample2 100
  timed plink2-fst "$size" "$sites" - plink2 --threads 1 --pfile "$base" --pheno "$base.pheno" --fst POP --out fst
  timed plink2-fst-bed "$size" "$sites" - plink2 --threads 1 --bfile "$base" --pheno "$base.pheno" --fst POP --out fst
  timed plink2-fst-vcf "$size" "$sites" - plink2 --threads 1 --vcf "$base.vcf" --pheno "$base.pheno" --fst POP --out fst
  timed plink2-fst-variants "$size" "$sites" - plink2 --threads 1 --pfile "$base" --pheno "$base.pheno" --fst POP report-variants --out fst
  timed vcftools-fst "$size" "$sites" - vcftools --vcf "$base.vcf" --weir-fst-pop "$base.pop1.txt" --weir-fst-pop "$base.pop2.txt" --out fst
  timed plink1.9-r2 "$size" "$sites" - plink1.9 --threads 1 --bfile "$base" --r2 dprime --ld-window 2 --ld-window-r2 0 --out ld
  timed vcftools-hap-r2 "$size" "$sites" - vcftools --vcf "$base.vcf" --hap-r2 --ld-window 1 --out ld
}

run_series() {
  local files=("$WORK"/series/run{0..199}.txt)
  mkdir -p "$WORK/results/series"
  : > "$WORK/results/series/summary.tsv"
  echo "== timing series (200 files)"
  cat "${files[@]}" > /dev/null
  timed cat-series series 200 /dev/null cat "${files[@]}"
  timed quintor-series-eos series 200 - "$QUINTOR" -input "$WORK/series/run" -runs 200 -sample 100 -sample2 100 -onlyEOS 1
  timed quintor-series-full series 200 - "$QUINTOR" -input "$WORK/series/run" -runs 200 -sample 100 -sample2 100
}

# The result files of quintor in four modes on each data set, and of the
# series in two, compared byte for byte with those of the baseline build
# (its console output too, but for the date and the run time).
check_baseline() {
  [ "$BASELINE" = none ] && return
  local src="$WORK/baseline/src" bin="$WORK/baseline/build/quintor"
  if [ ! -x "$bin" ] || [ "$(cat "$WORK/baseline/revision" 2> /dev/null)" != "$BASELINE" ]; then
    echo "== build baseline $BASELINE"
    rm -rf "$WORK/baseline"; mkdir -p "$src"
    git -C "$ROOT" archive "$BASELINE" | tar -x -C "$src"
    cmake -S "$src" -B "$WORK/baseline/build" -DCMAKE_BUILD_TYPE=Release -DQUINTOR_TESTS=OFF > /dev/null
    cmake --build "$WORK/baseline/build" -j4 > /dev/null
    echo "$BASELINE" > "$WORK/baseline/revision"
  fi
  echo "== result files against $BASELINE"
  local failed=0 input mode args dir label
  local -a jobs=()
  for size in "${SIZES[@]}"; do
    for mode in eos full noblocks window15; do jobs+=("$size $mode $WORK/sites$size.ms"); done
  done
  jobs+=("series eos $WORK/series/run" "series full $WORK/series/run")
  for job in "${jobs[@]}"; do
    read -r label mode input <<< "$job"
    case $mode in
      eos) args=(-onlyEOS 1) ;; full) args=() ;;
      noblocks) args=(-useblocks 0) ;; window15) args=(-window 15) ;;
    esac
    [ "$label" = series ] && args+=(-runs 200)
    for build in new baseline; do
      dir="$WORK/results/check/$label-$mode/$build"
      rm -rf "$dir"; mkdir -p "$dir"
      if [ $build = new ] ; then b="$QUINTOR"; else b="$bin"; fi
      (cd "$dir" && "$b" -input "$input" -sample 100 -sample2 100 "${args[@]}" 2>&1 |
         grep -v -e 'Time processing' -e '^[A-Z][a-z][a-z] [A-Z][a-z][a-z] ' > console.txt) || true
    done
    if diff -r "$WORK/results/check/$label-$mode/new" "$WORK/results/check/$label-$mode/baseline" > /dev/null; then
      echo "   $label $mode: identical"
    else
      echo "   $label $mode: DIFFERENT"; failed=1
    fi
  done
  [ $failed = 0 ] && echo "   every result file is identical" || echo "   RESULT FILES DIFFER"
}

for size in "${SIZES[@]}"; do prepare "$size"; done
prepare_series
for size in "${SIZES[@]}"; do run_size "$size"; done
run_series

# ---- Phased VCF input: one file per population ------------------------------
# The same data as two phased VCF files (split from X.vcf with bcftools view
# -S), read by quintor -format VCF for the default full analysis, against
# plink2 --fst reading the one VCF of both populations.
command -v bcftools > /dev/null || { echo "missing tool: bcftools" >&2; exit 1; }
prepare_vcf_pair() {
  local base="$WORK/sites$1" p
  for p in 1 2; do
    if [ ! -s "$base.pop$p.vcf" ] || [ "$base.vcf" -nt "$base.pop$p.vcf" ]; then
      echo "== VCF population $p $1"
      bcftools view --no-version -S "$base.pop$p.txt" "$base.vcf" -o "$base.pop$p.vcf.tmp"
      mv "$base.pop$p.vcf.tmp" "$base.pop$p.vcf"
    fi
  done
}
run_vcf_size() {
  local size=$1 base="$WORK/sites$1" sites
  sites=$(awk '/^segsites:/ { print $2; exit }' "$base.ms")
  echo "== timing VCF input $size ($sites sites)"
  cat "$base.vcf" "$base.pop1.vcf" "$base.pop2.vcf" > /dev/null
  timed quintor-vcf-full "$size" "$sites" - "$QUINTOR" -format VCF -input "$base.pop1.vcf" -input2 "$base.pop2.vcf"
  timed plink2-vcf-fst "$size" "$sites" - plink2 --threads 1 --vcf "$base.vcf" --pheno "$base.pheno" --fst POP --out fst
}
for size in "${SIZES[@]}"; do prepare_vcf_pair "$size"; run_vcf_size "$size"; done

# Tables and ratios.
field() { # field SIZE NAME COLUMN(3 wall, 4 cpu, 5 peak MB, 6 status)
  awk -F'\t' -v n="$2" -v c="$3" '$1 == n { print $c }' "$WORK/results/$1/summary.tsv" 2> /dev/null
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "n/a"; else printf "%.2f", a / b }'; }

echo
echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo), $(date -u +%Y-%m-%d)"
printf '%-20s %9s %9s %9s %9s  %s\n' tool sites "wall s" "CPU s" "peak MB" status
for size in "${SIZES[@]}" series; do
  while IFS=$'\t' read -r name sites wall cpu peak status; do
    printf '%-20s %9s %9s %9s %9s  %s\n' "$name" "$sites" "$wall" "$cpu" "$peak" "$status"
  done < "$WORK/results/$size/summary.tsv"
done

echo
for size in "${SIZES[@]}"; do
  sites=$(awk '/^segsites:/ { print $2; exit }' "$WORK/sites$size.ms")
  matrix_mb=$(awk -v s="$sites" 'BEGIN { printf "%.1f", 200 * s / 1048576 }')
  echo "$size ($sites sites, haplotype matrix 200 x sites = $matrix_mb MB):"
  echo "  quintor EOS-only / plink2 --fst wall:    $(ratio "$(field "$size" quintor-eos 3)" "$(field "$size" plink2-fst 3)")"
  echo "  quintor EOS-only / plink2 bed wall:      $(ratio "$(field "$size" quintor-eos 3)" "$(field "$size" plink2-fst-bed 3)")"
  echo "  quintor full / plink2 bed wall:          $(ratio "$(field "$size" quintor-full 3)" "$(field "$size" plink2-fst-bed 3)")"
  echo "  quintor EOS-only / plink2 bed peak:      $(ratio "$(field "$size" quintor-eos 5)" "$(field "$size" plink2-fst-bed 5)")"
  echo "  quintor full / plink2 bed peak:          $(ratio "$(field "$size" quintor-full 5)" "$(field "$size" plink2-fst-bed 5)")"
  echo "  quintor full / EOS-only wall:            $(ratio "$(field "$size" quintor-full 3)" "$(field "$size" quintor-eos 3)")"
  echo "  quintor EOS-only peak / matrix bytes:    $(ratio "$(field "$size" quintor-eos 5)" "$matrix_mb")"
  echo "  quintor full peak / matrix bytes:        $(ratio "$(field "$size" quintor-full 5)" "$matrix_mb")"
  echo "  quintor VCF full / plink2 --vcf --fst wall: $(ratio "$(field "$size" quintor-vcf-full 3)" "$(field "$size" plink2-vcf-fst 3)")"
  echo "  quintor VCF full / plink2 --vcf --fst peak: $(ratio "$(field "$size" quintor-vcf-full 5)" "$(field "$size" plink2-vcf-fst 5)")"
done
echo "series of 200 files: quintor full / cat $(ratio "$(field series quintor-series-full 3)" "$(field series cat-series 3)")," \
     "EOS-only / cat $(ratio "$(field series quintor-series-eos 3)" "$(field series cat-series 3)")," \
     "full per file $(awk -v w="$(field series quintor-series-full 3)" 'BEGIN { if (w != "") printf "%.1f ms", w * 5 }')"
if [[ " ${SIZES[*]} " == *" 100k "* && " ${SIZES[*]} " == *" 1M "* ]]; then
  echo "1M / 100k wall: quintor EOS-only $(ratio "$(field 1M quintor-eos 3)" "$(field 100k quintor-eos 3)")," \
       "quintor full $(ratio "$(field 1M quintor-full 3)" "$(field 100k quintor-full 3)")" \
       "(sites ratio $(ratio "$(awk '/^segsites:/ { print $2; exit }' "$WORK/sites1M.ms")" \
                             "$(awk '/^segsites:/ { print $2; exit }' "$WORK/sites100k.ms")"))"
fi

echo
check_baseline
# ---------------------------------------------------------------------------
# Allele-count input: the same data as one plink text pair (family column =
# population), quintor -format PL against plink2 --pedmap ... --fst.
# ---------------------------------------------------------------------------
prepare_pedmap() {
  local base="$WORK/sites$1"
  if [ ! -s "$base.ped" ] || [ "$base.vcf" -nt "$base.ped" ]; then
    echo "== plink1.9 ped/map $1"
    # Sample names p1_<i> and p2_<i>: the family column becomes p1 or p2.
    plink1.9 --vcf "$base.vcf" --id-delim _ --recode --out "$base" > "$base.recode.out"
    awk '{ print $1, $2, $1 }' "$base.ped" > "$base.within"
  fi
}

run_pedmap() {
  local size=$1
  local base="$WORK/sites$size"
  local sites
  sites=$(grep -c . "$base.map")
  echo "== timing plink text pair $size ($sites sites)"
  cat "$base.ped" "$base.map" > /dev/null
  timed quintor-pl "$size" "$sites" - "$QUINTOR" -format PL -input "$base"
  timed plink2-pedmap-fst "$size" "$sites" - plink2 --threads 1 --pedmap "$base" --within "$base.within" POP --fst POP --out fst
}

for size in "${SIZES[@]}"; do prepare_pedmap "$size"; done
for size in "${SIZES[@]}"; do run_pedmap "$size"; done
echo
printf '%-20s %9s %9s %9s %9s  %s\n' tool sites "wall s" "CPU s" "peak MB" status
for size in "${SIZES[@]}"; do
  for name in quintor-pl plink2-pedmap-fst; do
    awk -F'\t' -v n="$name" '$1 == n { printf "%-20s %9s %9s %9s %9s  %s\n", $1, $2, $3, $4, $5, $6 }' \
      "$WORK/results/$size/summary.tsv"
  done
  echo "$size: quintor -format PL / plink2 --pedmap --fst wall: $(ratio "$(field "$size" quintor-pl 3)" "$(field "$size" plink2-pedmap-fst 3)")," \
       "peak: $(ratio "$(field "$size" quintor-pl 5)" "$(field "$size" plink2-pedmap-fst 5)")"
done
