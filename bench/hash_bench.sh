#!/usr/bin/env bash
# Hashes ~1 GiB spread over ~300 files with the launcher's HashFile and with coreutils'
# sha256sum, checks that every digest agrees, and prints the best of several warm runs
# of each. A full verification must stay within 1.05x of sha256sum.
#
#   bench/hash_bench.sh [runs]        (default 3 runs each, alternating)
#
# Environment: BUILD_DIR (default build/bench-release), KEEP_DATA=1 keeps the files.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-3}"
build_dir="${BUILD_DIR:-$root/build/bench-release}"

if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S "$root" --preset linux-release -B "$build_dir" >/dev/null
fi
cmake --build "$build_dir" --target update_bench >/dev/null
driver="$build_dir/tests/client_files/update_bench"

data="$(mktemp -d "${TMPDIR:-/tmp}/brisal-hash-bench.XXXXXX")"
cleanup() { [ "${KEEP_DATA:-0}" = 1 ] || rm -rf "$data"; }
trap cleanup EXIT

# Floating-point arithmetic for the shell.
calc() { awk "BEGIN { printf \"%.3f\", ($1) }"; }

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  calc "$end - $start"
}

# 300 files of 1 to 6 MiB plus a few odd sizes (empty, one byte, one block, one block
# and a byte), about 1 GiB in all. Sizes are fixed so that runs compare.
RANDOM=20240501
total=0
for i in $(seq 1 300); do
  size=$(( (1 + RANDOM % 6) * 1048576 - RANDOM ))
  head -c "$size" /dev/urandom >"$data/f$i.bin"
  total=$((total + size))
done
: >"$data/empty.bin"
head -c 1 /dev/urandom >"$data/one.bin"
head -c 262144 /dev/urandom >"$data/block.bin"
head -c 262145 /dev/urandom >"$data/block-plus-one.bin"
files=("$data"/*.bin)
printf 'data: %d files, %s GiB in %s\n' "${#files[@]}" "$(calc "$total / 1073741824")" "$data"

# Same digests, same order: the driver prints lines in sha256sum's format.
cat "${files[@]}" >/dev/null  # warm the page cache for both contenders
if ! diff <("$driver" hash "${files[@]}") <(sha256sum "${files[@]}") >/dev/null; then
  echo "FAIL: HashFile and sha256sum disagree" >&2
  exit 1
fi
echo "digests: all ${#files[@]} agree with sha256sum"


best_driver=""
best_sum=""
for run in $(seq 1 "$runs"); do
  d=$(seconds "$driver" hash "${files[@]}")
  s=$(seconds sha256sum "${files[@]}")
  echo "run $run: HashFile $d s, sha256sum $s s"
  if [ -z "$best_driver" ] || [ "$(calc "$d < $best_driver")" != 0.000 ]; then best_driver=$d; fi
  if [ -z "$best_sum" ] || [ "$(calc "$s < $best_sum")" != 0.000 ]; then best_sum=$s; fi
done

ratio=$(calc "$best_driver / $best_sum")
echo "best: HashFile $best_driver s, sha256sum $best_sum s, ratio $ratio (limit 1.050)"
if [ "$(calc "$ratio > 1.05")" != 0.000 ]; then
  echo "FAIL: HashFile is slower than 1.05x sha256sum" >&2
  exit 1
fi
