#!/usr/bin/env bash
# Builds the libFuzzer harnesses in build-fuzz and runs them.
#
#   fuzz/run.sh build                          build the harnesses only
#   fuzz/run.sh replay [HARNESS...]            run every corpus and seed file once
#   fuzz/run.sh fuzz SECONDS [--merge] [HARNESS...]
#                                              fuzz each harness for SECONDS; with
#                                              --merge, add the inputs that reach new
#                                              code to fuzz/corpus/HARNESS
#   fuzz/run.sh minimize [HARNESS...]          shrink fuzz/corpus/HARNESS to the
#                                              inputs that keep its coverage
#
# Harnesses: map_text, typed_input, arguments, midi_file (all when none is named).
# A crash, a sanitizer report, an input that runs over its time (10 seconds;
# 30 for arguments, whose exports may be long) or a memory
# use over 2 GB fails the run; the input is kept in fuzz/artifacts/. The
# harnesses work in a scratch folder of their own, so every path given to
# them here is absolute.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
artifacts="$root/fuzz/artifacts"
all_harnesses=(map_text typed_input arguments midi_file)
# The arguments harness holds files to a size limit and lets a write past it
# fail as on a full disk, instead of ending the process.
common=(-rss_limit_mb=2048 -handle_xfsz=0)

usage() {
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

# The harnesses' scratch folders go under one folder of this run, in memory
# where the machine has it (a save's syncs then wait for no disk), removed
# when the run ends, however the harnesses ended.
scratch="$(mktemp -d /dev/shm/beatstamps-fuzz-run.XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"

build_harnesses() {
  CC="${CC:-clang}" CXX="${CXX:-clang++}" cmake -S "$root" -B "$build" \
    -DBEATSTAMPS_FUZZ=ON -DBEATSTAMPS_TESTS=OFF -DBEATSTAMPS_SANITIZE=address,undefined \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target map_text_fuzzer typed_input_fuzzer arguments_fuzzer \
    midi_file_fuzzer
}

binary() { echo "$build/fuzz/$1_fuzzer"; }

# The input folders of a harness: its kept corpus first, then its seeds.
inputs() {
  local dir
  for dir in "$root/fuzz/corpus/$1" "$root/fuzz/seeds/$1"; do
    [ -d "$dir" ] && echo "$dir"
  done
  [ "$1" = map_text ] || [ "$1" = midi_file ] && echo "$root/examples"
  return 0
}

# The time an input may take, on a 2-core machine shared with other builds:
# the slowest kept inputs take about a tenth of it unloaded. An export may
# walk up to 16,777,216 grid points, about 3 s under the sanitizers when
# little of it is written (a click track at a low rate), so the arguments
# harness gets longer than the others.
time_limit() {
  case "$1" in
    arguments) echo 30 ;;
    *) echo 10 ;;
  esac
}

max_len() {
  case "$1" in
    map_text) echo 8192 ;;
    typed_input) echo 2048 ;;
    arguments) echo 512 ;;
    midi_file) echo 4096 ;;
  esac
}

replay() {
  local harness="$1" files
  local dirs
  mapfile -t dirs < <(inputs "$harness")
  mapfile -t files < <(find "${dirs[@]}" -maxdepth 1 -type f ! -name '.*' | sort)
  echo "== replay $harness: ${#files[@]} inputs"
  mkdir -p "$artifacts"
  local log="$build/logs/replay-$harness.log"
  mkdir -p "$(dirname "$log")"
  if ! printf '%s\0' "${files[@]}" |
    xargs -0 "$(binary "$harness")" "${common[@]}" -timeout="$(time_limit "$harness")" -artifact_prefix="$artifacts/$harness-" \
      >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "replay $harness FAILED (log: $log)" >&2
    return 1
  fi
  grep -c '^Executed ' "$log" | sed "s/^/   executed: /"
}

fuzz() {
  local harness="$1" seconds="$2" merge="$3"
  local work="$build/work/$harness" log="$build/logs/fuzz-$harness.log" dirs
  mapfile -t dirs < <(inputs "$harness")
  mkdir -p "$work" "$artifacts" "$root/fuzz/corpus/$harness" "$(dirname "$log")"
  echo "== fuzz $harness for $seconds s"
  if ! "$(binary "$harness")" "${common[@]}" -timeout="$(time_limit "$harness")" -max_total_time="$seconds" \
    -max_len="$(max_len "$harness")" -dict="$root/fuzz/$harness.dict" \
    -artifact_prefix="$artifacts/$harness-" -print_final_stats=1 \
    "$work" "${dirs[@]}" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz $harness FAILED (log: $log; input kept in $artifacts)" >&2
    return 1
  fi
  grep -E '^Done [0-9]+ runs' "$log" | sed 's/^/   /'
  if [ "$merge" = yes ]; then
    "$(binary "$harness")" "${common[@]}" -timeout="$(time_limit "$harness")" -merge=1 "$root/fuzz/corpus/$harness" "$work" \
      >>"$log" 2>&1
    echo "   corpus: $(find "$root/fuzz/corpus/$harness" -type f | wc -l) inputs"
  fi
  rm -rf "$work"
}

minimize() {
  local harness="$1" kept="$build/minimized/$1"
  rm -rf "$kept" && mkdir -p "$kept"
  "$(binary "$harness")" "${common[@]}" -timeout="$(time_limit "$harness")" -merge=1 "$kept" "$root/fuzz/corpus/$harness" \
    >"$build/logs/minimize-$harness.log" 2>&1
  rm -rf "$root/fuzz/corpus/$harness"
  mv "$kept" "$root/fuzz/corpus/$harness"
  echo "== minimize $harness: $(find "$root/fuzz/corpus/$harness" -type f | wc -l) inputs"
}

pick_harnesses() {
  harnesses=("$@")
  [ ${#harnesses[@]} -gt 0 ] || harnesses=("${all_harnesses[@]}")
  for harness in "${harnesses[@]}"; do
    case " ${all_harnesses[*]} " in
      *" $harness "*) ;;
      *) echo "unknown harness: $harness" >&2 && usage ;;
    esac
  done
}

[ $# -gt 0 ] || usage
command="$1"
shift
case "$command" in
  build)
    build_harnesses
    ;;
  replay)
    pick_harnesses "$@"
    build_harnesses
    for harness in "${harnesses[@]}"; do replay "$harness"; done
    ;;
  fuzz)
    [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]] || usage
    seconds="$1"
    shift
    merge=no
    if [ "${1:-}" = --merge ]; then
      merge=yes
      shift
    fi
    pick_harnesses "$@"
    build_harnesses
    for harness in "${harnesses[@]}"; do fuzz "$harness" "$seconds" "$merge"; done
    ;;
  minimize)
    pick_harnesses "$@"
    build_harnesses
    mkdir -p "$build/logs"
    for harness in "${harnesses[@]}"; do minimize "$harness"; done
    ;;
  *)
    usage
    ;;
esac
