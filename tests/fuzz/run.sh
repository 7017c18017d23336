#!/usr/bin/env bash
# Fuzzes the whole program with AFL++, built with AddressSanitizer and
# UndefinedBehaviorSanitizer:
#
#   bash tests/fuzz/run.sh SECONDS [TARGET ...]     (all targets when none is named)
#
# Each target runs SECONDS on one core. The script prints what was found and
# exits non-zero on any crash, hang, sanitizer report or results table whose
# rows lost the header's column count (checked by the fuzzing entry).
#
# Adding a target is one entry below plus its seeds:
#   target NAME FILES [ARGUMENT ...]
#     FILES      comma-separated names of the files the fuzzed input goes to:
#                the input is cut at every "\n%%%%\n" and part k is written to
#                the k-th name (so a two-file format, e.g. "in.map,in.ped",
#                gets two parts). The name ARGS takes no file: its part holds
#                more command-line words separated by NUL bytes.
#     ARGUMENTs  the fixed command line, ahead of any fuzzed words.
#   Seeds: tests/fuzz/seeds/NAME/, one file per seed in the same layout
#   (tests/fuzz/make_seeds.sh makes the bundled ones from the test data).
#   Tokens of the formats may go to tests/fuzz/dictionary.txt.
#
# Findings stay in build-fuzz/runs/NAME/out/default/{crashes,hangs}; replay one
# in an empty folder with: build-fuzz/quintor_fuzz FINDING FILES ARGUMENT...
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

declare -A target_files target_args
order=()
target() { order+=("$1"); target_files[$1]=$2; target_args[$1]="${*:3}"; }

target MS    in.ms       -input in.ms -sample 5 -minwin 7
target MS2   in.ms       -input in.ms -sample 10 -sample2 10 -minwin 7
target args  ARGS,in.ms
target FASTA ARGS,in.fas,in2.fas  -format FASTA -input in.fas -minwin 7
target BS    in.bs       -format BS -input in.bs -sample 10 -minwin 7
target PL    in.map,in.ped -format PL -input in -minwin 7
target PL2   in.map,in.ped -format PL2 -input in -minwin 7
target GP    in.gen      -format GP -input in.gen -minwin 7
target HM    ARGS,a.hm,b.hm -format HM -input a.hm -input2 b.hm -minwin 7
target FP    fp1.out,fp2.out -format FP -input fp1.out -input2 fp2.out -minwin 7
target VCF   a.vcf,b.vcf -format VCF -input a.vcf -input2 b.vcf -minwin 7

seconds=${1:-}
if ! [[ $seconds =~ ^[0-9]+$ ]]; then
  echo "usage: bash tests/fuzz/run.sh SECONDS [TARGET ...]  (targets: ${order[*]})" >&2
  exit 2
fi
shift
names=("$@")
[ ${#names[@]} -eq 0 ] && names=("${order[@]}")
for name in "${names[@]}"; do
  if [ -z "${target_files[$name]+x}" ]; then
    echo "unknown fuzz target $name (targets: ${order[*]})" >&2
    exit 2
  fi
done

# A fresh Debian machine lacks the fuzzer: install it where that can be done,
# else say what to install.
if ! command -v afl-fuzz > /dev/null || ! command -v afl-clang-fast++ > /dev/null; then
  apt_log=$(mktemp)
  if [ "$(id -u)" != 0 ] ||
     ! { DEBIAN_FRONTEND=noninteractive apt-get update && \
         DEBIAN_FRONTEND=noninteractive apt-get install -y afl++ clang; } > "$apt_log" 2>&1; then
    echo "Fuzzing needs the Debian packages afl++ and clang, which could not be installed here."
    echo "Install them with: apt-get install afl++ clang"
    echo "or skip the fuzzing with QUINTOR_FUZZ_SECONDS=0 bash tests/run_all.sh"
    rm -f "$apt_log"
    exit 1
  fi
  rm -f "$apt_log"
fi

build=$root/build-fuzz
CC=afl-clang-fast CXX=afl-clang-fast++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUINTOR_SANITIZE=ON -DQUINTOR_TESTS=OFF -DQUINTOR_FUZZ=ON > /dev/null || exit 1
AFL_QUIET=1 cmake --build "$build" -j 4 --target quintor_fuzz > /dev/null || exit 1

export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 AFL_NO_AFFINITY=1
export AFL_SKIP_CRASHES=0 AFL_FAST_CAL=1
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1:symbolize=0

status=0
for name in "${names[@]}"; do
  work=$build/runs/$name
  rm -rf "$work"
  mkdir -p "$work/scratch"
  args=()
  read -r -a args <<< "${target_args[$name]}"
  echo "== fuzzing $name for $seconds s: quintor_fuzz INPUT ${target_files[$name]} ${args[*]}"
  # The program writes its results and logs in the working folder.
  (cd "$work/scratch" &&
     afl-fuzz -i "$root/tests/fuzz/seeds/$name" -o "$work/out" -x "$root/tests/fuzz/dictionary.txt" \
       -m none -t 2000 -V "$seconds" -- "$build/quintor_fuzz" @@ "${target_files[$name]}" "${args[@]}" \
       > "$work/afl.log" 2>&1)
  afl=$?
  stats=$work/out/default/fuzzer_stats
  if [ $afl -ne 0 ] || [ ! -f "$stats" ]; then
    echo "FAILED $name: afl-fuzz did not run (status $afl); the end of $work/afl.log:"
    tail -n 25 "$work/afl.log"
    status=1
    continue
  fi
  stat() { sed -n "s/^$1 *: *//p" "$stats"; }
  crashes=$(find "$work/out/default/crashes" -name 'id:*' 2> /dev/null | wc -l)
  hangs=$(find "$work/out/default/hangs" -name 'id:*' 2> /dev/null | wc -l)
  echo "$name: $(stat execs_done) runs, $(stat corpus_count) inputs in the queue, $crashes crashes, $hangs hangs"
  if [ $((crashes + hangs)) -gt 0 ]; then
    status=1
    for finding in "$work"/out/default/{crashes,hangs}/id:*; do
      [ -f "$finding" ] || continue
      echo "  finding: $finding"
      # What the sanitizers or the table check said, from a replay.
      replay=$(mktemp -d)
      (cd "$replay" && ASAN_OPTIONS=${ASAN_OPTIONS/symbolize=0/symbolize=1} \
         timeout 10 "$build/quintor_fuzz" "$finding" "${target_files[$name]}" "${args[@]}" \
         > /dev/null 2> stderr.txt
       grep -m 4 -E 'ERROR|runtime error|SUMMARY|fuzz check|internal check' stderr.txt | sed 's/^/    /')
      rm -rf "$replay"
    done
    echo "  replay in an empty folder: $build/quintor_fuzz FINDING ${target_files[$name]} ${args[*]}"
  fi
done
[ $status -eq 0 ] && echo "fuzzing: nothing found" || echo "fuzzing: FOUND PROBLEMS"
exit $status
