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
#   pipes             (optional) two input file names: the case runs once
#                     more with these two files given through process
#                     substitution, pipes that can be read only once, and
#                     must give the same, the pipes' names aside
# The date line, the run time and the seeds change from run to run; they are
# replaced by DATE, TIME and SEED before comparing.
#
# With UPDATE=1 the expected folder is rewritten from the run (review the diff).
set -u
quintor=$(realpath "$1")
case_dir=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

normalise() {
  sed -E \
    -e 's/^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}$/DATE/' \
    -e 's/Time processing: [-0-9.e+]+ (seconds|minutes)/Time processing: TIME/' \
    -e 's/(Initial seed|New seed) -?[0-9]+/\1 SEED/'
}

# run_case OUT ARGS...: runs quintor with ARGS in a fresh scratch folder
# holding the case's input files; OUT gets stdout, stderr, status and
# files/ (every file new or changed, and every folder made), normalised.
run_case() {
  local out=$1 scratch path dir status; shift
  scratch=$(mktemp -d -p "$work")
  if [ -d "$case_dir/input" ]; then cp -r "$case_dir/input/." "$scratch/"; fi
  (cd "$scratch" && find . -type f -exec md5sum {} + | sort > "$work/.before")
  (cd "$scratch" && "$quintor" "$@" > "$work/.stdout" 2> "$work/.stderr" < /dev/null)
  status=$?
  mkdir -p "$out/files"
  normalise < "$work/.stdout" > "$out/stdout"
  normalise < "$work/.stderr" > "$out/stderr"
  echo "$status" > "$out/status"
  # Every file that is new or changed, normalised.
  (cd "$scratch" && find . -type f -exec md5sum {} + | sort) > "$work/.after"
  comm -13 "$work/.before" "$work/.after" | while read -r _ path; do
    mkdir -p "$out/files/$(dirname "$path")"
    normalise < "$scratch/$path" > "$out/files/$path"
  done
  # Folders the run made, even empty ones.
  (cd "$scratch" && find . -mindepth 1 -type d) | while read -r dir; do
    [ -d "$case_dir/input/$dir" ] || mkdir -p "$out/files/$dir"
  done
}

eval "set -- $(cat "$case_dir/args" 2>/dev/null)"
run_case "$work/actual" "$@"

if [ "${UPDATE:-0}" = 1 ]; then
  rm -rf "$case_dir/expected"
  cp -r "$work/actual" "$case_dir/expected"
  find "$case_dir/expected/files" -type d -empty -exec touch {}/.keep \;
  echo "updated $case_dir"
  exit 0
fi

expected="$case_dir/expected"
result=0
diff -r -x .keep "$expected" "$work/actual" || result=1

if [ -f "$case_dir/pipes" ]; then
  read -r first second < "$case_dir/pipes"
  # piped FD1 FD2: the case's arguments with the two names replaced by the
  # pipes; then the pipes' names in the output replaced by the file names.
  piped() {
    local arg args=()
    for arg in "${@:3}"; do
      if [ "$arg" = "$first" ]; then arg=$1; elif [ "$arg" = "$second" ]; then arg=$2; fi
      args+=("$arg")
    done
    run_case "$work/piped" "${args[@]}"
    grep -rlF -e "$1" -e "$2" "$work/piped" | xargs -r sed -i -e "s#$1#$first#g" -e "s#$2#$second#g"
  }
  piped <(cat "$case_dir/input/$first") <(cat "$case_dir/input/$second") "$@"
  diff -r -x .keep "$expected" "$work/piped" || result=1
fi
[ $result = 0 ] && echo "ok $(basename "$case_dir")" || echo "FAILED $(basename "$case_dir")"
exit $result
