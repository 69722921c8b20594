#!/usr/bin/env bash
# The Windows branch of the parts without Qt (process list, path checks,
# settings file, text files, start-up fields, the resource script), built with
# MinGW-w64 and its tests run under Wine in a fresh prefix. Installs what is
# missing first (apt-get, with sudo when not root). Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${WINDOWS_BUILD_DIR:-build-windows}
jobs=${JOBS:-$(nproc)}

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

started=$(now)
tests_ran=0
trap '[ "$tests_ran" = 1 ] || echo "Windows tests under Wine: not run (see the error above)" >&2' EXIT

# --- packages ---------------------------------------------------------------
packages=(
  cmake make
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  googletest
  wine64
)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
install_time="none needed"
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  t=$(now)
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  install_time="$(seconds "$t" "$(now)") s"
fi

# Debian's wine64 package keeps its loader out of PATH.
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# --- build ------------------------------------------------------------------
t=$(now)
cmake -S windows -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/windows/mingw-w64-x86_64.cmake"
cmake --build "$build" -j"$jobs"
build_time=$(seconds "$t" "$(now)")

# --- a fresh Wine prefix ------------------------------------------------------
# The same settings as the tests get from CTest. No Mono, no Gecko, no debug
# chatter; no display: these are console programs.
export WINEPREFIX="$(cd "$build" && pwd)/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
"$wineserver" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
t=$(now)
# One server and one set of Wine's own services for all test programs: else
# each program starts them anew, and they hold its output open for seconds
# after it ends. The server goes 30 s after its last program, should this
# script be cut short.
"$wineserver" -p30 >"$build/wineserver.log" 2>&1
if ! "$wine" wineboot.exe --init >"$build/wineboot.log" 2>&1; then
  cat "$build/wineboot.log"
  echo "Wine could not set up $WINEPREFIX" >&2
  exit 1
fi
wine_start_time=$(seconds "$t" "$(now)")
# Links to the tops of drives, made on this side (Wine shows them as
# folders): C:\qb-rootlink leads to C:\, C:\qb-fsroot to Z:\ (/).
ln -sfn . "$WINEPREFIX/drive_c/qb-rootlink"
ln -sfn / "$WINEPREFIX/drive_c/qb-fsroot"

# --- tests ------------------------------------------------------------------
t=$(now)
status=0
(cd "$build" && ctest --output-on-failure) || status=$?
test_time=$(seconds "$t" "$(now)")
tests_ran=1
# Nothing of Wine's may outlive the run.
"$wineserver" -k 2>/dev/null || true

log="$build/Testing/Temporary/LastTest.log"
passed=$(grep -cE '^\[       OK \] .* \([0-9]+ ms\)$' "$log" || true)
failed=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log" || true)
skipped=$(grep -cE '^\[  SKIPPED \] .* \([0-9]+ ms\)$' "$log" || true)
passed=${passed:-0} failed=${failed:-0} skipped=${skipped:-0}

echo
echo "Windows branch under Wine ($("$wine" --version 2>/dev/null || echo wine)):"
echo "  install: ${install_time}; build ${build_time} s, first Wine start ${wine_start_time} s," \
     "tests ${test_time} s, total $(seconds "$started" "$(now)") s"
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
  # A test program that died before GoogleTest could report.
  failed=1
fi
echo "Wine: ${passed} passed, ${failed} failed, ${skipped} skipped"
exit "$status"
