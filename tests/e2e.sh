#!/usr/bin/env bash
# Runs one end-to-end case: quintor with the case's arguments in a scratch
# folder holding the case's input files, then compares standard output,
# standard error, exit status and every file written with the expected text.
#
# Case folder:
#   args              the command-line arguments (shell words)
#   input/            files copied into the scratch folder before the run
#   expected/stdout   expected/stderr   expected/status
#   expected/files/   every file the run creates or changes, by its path
# The date line, the run time and the seeds change from run to run; they are
# replaced by DATE, TIME and SEED before comparing.
#
# With UPDATE=1 the expected folder is rewritten from the run (review the diff).
set -u
quintor=$(realpath "$1")
case_dir=$(realpath "$2")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if [ -d "$case_dir/input" ]; then cp -r "$case_dir/input/." "$scratch/"; fi
(cd "$scratch" && find . -type f -exec md5sum {} + | sort > "$scratch/../.before.$$")
before="$scratch/../.before.$$"

normalise() {
  sed -E \
    -e 's/^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}$/DATE/' \
    -e 's/Time processing: [-0-9.e+]+ (seconds|minutes)/Time processing: TIME/' \
    -e 's/(Initial seed|New seed) -?[0-9]+/\1 SEED/'
}

eval "set -- $(cat "$case_dir/args" 2>/dev/null)"
(cd "$scratch" && "$quintor" "$@" > "$scratch/.stdout" 2> "$scratch/.stderr" < /dev/null)
status=$?

actual=$(mktemp -d)
trap 'rm -rf "$scratch" "$actual" "$before"' EXIT
normalise < "$scratch/.stdout" > "$actual/stdout"
normalise < "$scratch/.stderr" > "$actual/stderr"
echo "$status" > "$actual/status"
mkdir -p "$actual/files"
rm -f "$scratch/.stdout" "$scratch/.stderr"
(cd "$scratch" && find . -type f -exec md5sum {} + | sort) > "$actual/.after"
# Every file that is new or changed, normalised.
comm -13 "$before" "$actual/.after" | while read -r _ path; do
  mkdir -p "$actual/files/$(dirname "$path")"
  normalise < "$scratch/$path" > "$actual/files/$path"
done
rm -f "$actual/.after"
# Folders the run made, even empty ones.
(cd "$scratch" && find . -mindepth 1 -type d) | while read -r dir; do
  [ -d "$case_dir/input/$dir" ] || mkdir -p "$actual/files/$dir"
done

if [ "${UPDATE:-0}" = 1 ]; then
  rm -rf "$case_dir/expected"
  cp -r "$actual" "$case_dir/expected"
  find "$case_dir/expected/files" -type d -empty -exec touch {}/.keep \;
  echo "updated $case_dir"
  exit 0
fi

expected="$case_dir/expected"
result=0
diff -r -x .keep "$expected" "$actual" || result=1
[ $result = 0 ] && echo "ok $(basename "$case_dir")" || echo "FAILED $(basename "$case_dir")"
exit $result
