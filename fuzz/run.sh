#!/usr/bin/env bash
# Builds the libFuzzer targets (clang++, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a fixed number of inputs.
#
#   fuzz/run.sh [RUNS]    inputs per target; default 20000, a short CI run
#
# BUILD_DIR (default build-fuzz) is kept between runs, and with it each
# target's corpus (BUILD_DIR/corpus/TARGET), so later runs go on from there.
# Inputs that crash are saved as BUILD_DIR/artifacts/TARGET-crash-*; replay one
# with BUILD_DIR/.../TARGET FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-20000}

# clang with its libFuzzer runtime, from Debian's packages, when missing.
missing=()
for package in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
build=${BUILD_DIR:-build-fuzz}
targets=(fuzz_settings fuzz_namerules fuzz_passtargets)

# From the top-level project when it has the option, else on its own.
if grep -q 'add_subdirectory(fuzz)' CMakeLists.txt; then
  configure=(-S . -DQB_FUZZ=ON -DBUILD_TESTING=OFF)
else
  configure=(-S fuzz)
fi
cmake "${configure[@]}" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DQB_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

export LC_ALL=C.UTF-8
mkdir -p "$build/artifacts"
status=0
total=0
for target in "${targets[@]}"; do
  binary=$(find "$build" -type f -name "$target" -perm -u+x | head -n 1)
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  log="$build/$target.log"
  if "$binary" -runs="$runs" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" "$corpus" "fuzz/seeds/$target" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 40 "$log"
  fi
  done_line=$(grep -E '^Done [0-9]+ runs' "$log" | tail -n 1 || true)
  count=$(sed -E 's/^Done ([0-9]+) runs.*/\1/' <<<"${done_line:-Done 0 runs}")
  total=$((total + count))
  printf '%-18s %-6s %s (corpus: %s inputs)\n' "$target" "$result" "${done_line:-no run finished}" \
    "$(find "$corpus" -type f | wc -l)"
done
echo "fuzz inputs run: $total"
exit $status
