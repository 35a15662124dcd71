#!/usr/bin/env bash
# Breaks the code on purpose, one fault at a time, and tells which faults the
# tests catch. Each fault is a line of tests/seeded_faults.txt:
#   id @@ file @@ ctest regex @@ exact original snippet @@ faulty replacement
# (fields trimmed; the replacement may be empty).
# The regex names the tests worth running for that fault ("all" runs every
# test). The first occurrence of the snippet is replaced; a snippet that is
# no longer in the file makes the fault "n/a".
#
# The faults are applied to a scratch checkout of a commit (default HEAD) in
# $VIDLOOM_FAULTS_DIR (default build-faults/), built there incrementally, so
# the working tree is never touched.
#   scripts/seeded-faults.sh [-r ref] [-f faults file] [-b build dir] [-c cmake arg]... [-k] [id ...]
#     -b  build folder inside the scratch checkout (default build), so a
#         build with other options (-c -DVIDLOOM_SANITIZE=thread) keeps its own
#     -k  keep going without the unmodified-code check
# Tests matching $VIDLOOM_FAULTS_EXCLUDE (default "stress") are not run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ref=HEAD
faults=$root/tests/seeded_faults.txt
check_baseline=1
build_name=build
cmake_args=()
while getopts "r:f:b:c:k" opt; do
  case $opt in
    r) ref=$OPTARG ;;
    f) faults=$(realpath "$OPTARG") ;;
    b) build_name=$OPTARG ;;
    c) cmake_args+=("$OPTARG") ;;
    k) check_baseline=0 ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
only=("$@")

work=$(realpath -m "${VIDLOOM_FAULTS_DIR:-$root/build-faults}")
tree=$work/tree
build=$tree/$build_name
exclude=(-E "${VIDLOOM_FAULTS_EXCLUDE-stress}")
[ -n "${exclude[1]}" ] || exclude=()
per_test_timeout=${VIDLOOM_FAULTS_TIMEOUT:-300}
export QT_QPA_PLATFORM=offscreen

commit=$(git -C "$root" rev-parse --verify "$ref^{commit}")
mkdir -p "$work"
if [ ! -e "$tree/.git" ]; then
  git -C "$root" worktree add --quiet --detach -f "$tree" "$commit"
else
  git -C "$tree" checkout -q --detach -f "$commit"
  git -C "$tree" clean -q -fd -e "/build*/"
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # Hits from builds of the same sources in other folders.
  export CCACHE_NOHASHDIR=1
fi
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIDLOOM_BUILD_BENCH=OFF \
  "${launcher[@]}" "${cmake_args[@]}" >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }

# Test names are also their targets' names.
tests_for() {
  local regex=$1
  [ "$regex" = all ] && regex=.
  ctest --test-dir "$build" -N -R "$regex" "${exclude[@]}" | sed -n 's/^ *Test *#[0-9]*: //p'
}

# 0 when every test passes; the failing tests' names in $failed.
run_tests() {
  local regex=$1 log=$2
  [ "$regex" = all ] && regex=.
  failed=
  if ctest --test-dir "$build" -R "$regex" "${exclude[@]}" --stop-on-failure --output-on-failure \
      --timeout "$per_test_timeout" --parallel "$(nproc)" >"$log" 2>&1; then
    return 0
  fi
  failed=$(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' "$log" | paste -sd, -)
  return 1
}

build_for() {
  local regex=$1 log=$2
  mapfile -t targets < <(tests_for "$regex")
  [ ${#targets[@]} -gt 0 ] || return 1
  cmake --build "$build" --target "${targets[@]}" >"$log" 2>&1
}

# Reads the faults file into parallel arrays.
ids=() files=() regexes=() originals=() replacements=()
while IFS= read -r line || [ -n "$line" ]; do
  [[ -z "${line// /}" || $line == \#* ]] && continue
  mapfile -t fields < <(python3 -c 'import sys
parts = [p.strip() for p in sys.argv[1].split("@@")]
if len(parts) != 5:
    sys.exit("bad fault line: " + sys.argv[1])
print("\n".join(p.replace("\n", " ") for p in parts))' "$line")
  id=${fields[0]}
  if [ ${#only[@]} -gt 0 ] && [[ ! " ${only[*]} " == *" $id "* ]]; then
    continue
  fi
  ids+=("$id") files+=("${fields[1]}") regexes+=("${fields[2]}")
  originals+=("${fields[3]}") replacements+=("${fields[4]:-}")
done <"$faults"

if [ "$check_baseline" = 1 ]; then
  regex=$(printf '%s\n' "${regexes[@]}" | sort -u | paste -sd'|')
  [[ "|$regex|" == *"|all|"* ]] && regex=all
  echo "== unmodified code: building and running the tests the faults use"
  build_for "$regex" "$work/baseline-build.log" || { tail -n 30 "$work/baseline-build.log"; exit 1; }
  if ! run_tests "$regex" "$work/baseline-test.log"; then
    echo "The unmodified code fails $failed; see $work/baseline-test.log" >&2
    exit 1
  fi
fi

# Swaps the snippet in (or back); prints nothing, fails when it is absent.
swap() {
  python3 - "$1" "$2" "$3" <<'EOF'
import sys
path, old, new = sys.argv[1:]
try:
    text = open(path, encoding="utf-8").read()
except OSError:
    sys.exit(1)
if old not in text:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(old, new, 1))
EOF
}

caught=0 missed=0 na=0 broken=0
missed_ids=()
restore=
trap '[ -n "$restore" ] && git -C "$tree" checkout -q -- "$restore"' EXIT
for i in "${!ids[@]}"; do
  id=${ids[$i]} file=${files[$i]} regex=${regexes[$i]}
  start=$SECONDS
  if ! swap "$tree/$file" "${originals[$i]}" "${replacements[$i]}"; then
    printf '%-8s %-34s snippet not in %s\n' n/a "$id" "$file"
    na=$((na + 1))
    continue
  fi
  restore=$file
  log=$work/$id
  if ! build_for "$regex" "$log.build.log"; then
    printf '%-8s %-34s does not build (see %s)\n' no-build "$id" "$log.build.log"
    broken=$((broken + 1))
  elif run_tests "$regex" "$log.test.log"; then
    printf '%-8s %-34s %4ds\n' MISSED "$id" $((SECONDS - start))
    missed=$((missed + 1))
    missed_ids+=("$id")
  else
    printf '%-8s %-34s %4ds  by %s\n' caught "$id" $((SECONDS - start)) "$failed"
    caught=$((caught + 1))
  fi
  git -C "$tree" checkout -q -- "$file"
  restore=
done

total=$((caught + missed))
echo "== score: $caught/$total caught ($na n/a, $broken not building)"
[ ${#missed_ids[@]} -eq 0 ] || echo "missed: ${missed_ids[*]}"
