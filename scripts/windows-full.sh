#!/usr/bin/env bash
# The whole program for 64-bit Windows, from a fresh machine:
#  1. Qt for MinGW-w64, from the cache or built once (scripts/build-qt-mingw.sh);
#  2. Quillbarrow.exe, quillbarrow-cli.exe and the Qt Test programs, with the
#     project's own CMake and the toolchain file windows/mingw-w64-x86_64-qt.cmake;
#  3. the portable folder and build-windows-full/dist/Quillbarrow-1.0.0.10-win64.zip;
#  4. every Windows suite under Wine, in a fresh prefix with a Chinese locale
#     (ANSI code page 936, GBK): the Qt Test programs, the real program from
#     the unpacked zip on a virtual X display (windows/wine_window_test.sh),
#     and the Qt-free tests of scripts/test-windows.sh.
# Ends with the count line "Wine: N passed, N failed"; exits non-zero on any
# failure. Installs what is missing with apt-get (sudo when not root).
# QB_WINE_SUITES picks suites while working on one: "qt window qtfree" (all)
# by default. QB_QT_TESTS, when set, names the Qt Test programs to build and run
# instead of the full list.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=${WINDOWS_FULL_BUILD_DIR:-build-windows-full}
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=${JOBS:-$(nproc)}
suites=" ${QB_WINE_SUITES:-qt window qtfree} "
version=1.0.0.10
package=Quillbarrow-$version-win64

now() { date +%s; }
started=$(now)
step_start=$started
times=()
step() {
  local t; t=$(now)
  times+=("$1 $((t - step_start)) s")
  printf '[windows-full] %s: %ds\n' "$1" "$((t - step_start))"
  step_start=$t
}

# --- packages -------------------------------------------------------------------
packages=(cmake make zip unzip locales
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          googletest wine64 xvfb trayer xdotool x11-utils imagemagick fonts-wqy-microhei)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
step "packages"

# --- Qt -------------------------------------------------------------------------
qt=$(bash scripts/build-qt-mingw.sh | tail -n1)
[ -f "$qt/.complete" ] || { echo "no complete Qt build at '$qt'" >&2; exit 1; }
step "Qt ($qt)"

# --- GoogleTest -----------------------------------------------------------------
# tests/ looks for GoogleTest when it is configured; its GoogleTest programs
# (Qt-free) run in scripts/test-windows.sh, so only the library is built here.
gtest=$build/googletest-prefix
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$build/googletest" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/windows/mingw-w64-x86_64.cmake" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
  cmake --build "$build/googletest" -j"$jobs" --target install >/dev/null
fi
step "GoogleTest"

# --- the program and its tests ----------------------------------------------------
# The Qt Test programs, with their POSIX-only cases left out on Windows, and
# the Windows branch's own. Left out whole: tst_differential (FIFOs, modes
# and capabilities; tst_windowsbranch compares the scanner with the toolkit's
# listings instead) and tst_clirun (inodes, signals, a terminal;
# tst_windowsbranch runs the command line, its journal, undo and dry run).
qt_tests=(tst_namerules tst_folderscan tst_diskscan tst_openfolder tst_renameentry tst_renamepass
          tst_threadobject tst_launchcheck tst_resources tst_mainwindow tst_mainwindowform
          tst_mainwindowjobs tst_cliparts tst_clijournal tst_dryrun tst_windowsbranch)
[ -z "${QB_QT_TESTS:-}" ] || read -r -a qt_tests <<<"$QB_QT_TESTS"
project=$build/project
cmake -S . -B "$project" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/windows/mingw-w64-x86_64-qt.cmake" \
  -DCMAKE_PREFIX_PATH="$qt;$gtest"
cmake --build "$project" -j"$jobs" --target Quillbarrow quillbarrow-cli "${qt_tests[@]}"
step "project build"

# --- the portable folder and the zip ------------------------------------------------
# What windeployqt would add (qtbase 5.15 has none): every DLL that the
# programs and plugins import from Qt or the MinGW runtime, the platform
# plugin, the native style and the image formats (the icon is an .ico).
runtime_dirs=("$qt/bin" "$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")"
              /usr/x86_64-w64-mingw32/lib)
dist=$build/dist
folder=$dist/$package
rm -rf "$dist"
cmake --install "$project" --prefix "$folder" --strip >/dev/null
mkdir -p "$folder/platforms" "$folder/styles" "$folder/imageformats"
cp "$qt/plugins/platforms/qwindows.dll" "$folder/platforms/"
[ ! -f "$qt/plugins/styles/qwindowsvistastyle.dll" ] || cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"
for plugin in "$qt"/plugins/imageformats/*.dll; do
  [ -e "$plugin" ] && cp "$plugin" "$folder/imageformats/"
done
rmdir "$folder/styles" 2>/dev/null || true
deploy_imports() {
  local file=$1 dll dir
  for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
    [ -e "$folder/$dll" ] && continue
    for dir in "${runtime_dirs[@]}"; do
      if [ -f "$dir/$dll" ]; then
        cp "$dir/$dll" "$folder/$dll"
        deploy_imports "$folder/$dll"
        break
      fi
    done
  done
}
while IFS= read -r binary; do deploy_imports "$binary"; done \
  < <(find "$folder" -name '*.exe' -o -name '*.dll')
x86_64-w64-mingw32-strip --strip-unneeded "$folder"/*.dll "$folder"/*/*.dll 2>/dev/null || true
(cd "$dist" && rm -f "$package.zip" && zip -q -r -X "$package.zip" "$package")
echo "Portable folder ($(du -sh "$folder" | cut -f1)), zipped to $dist/$package.zip:"
(cd "$folder" && find . -type f | sort | sed 's|^\./|  |')
step "zip"

# --- Wine, in a Chinese locale --------------------------------------------------------
# Wine takes its ANSI code page from the Unix locale, which must exist:
# zh_CN.UTF-8 is compiled into a folder of our own (LOCPATH), not the system.
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export LOCPATH=$build/locale
if [ ! -d "$LOCPATH/zh_CN.UTF-8" ]; then
  mkdir -p "$LOCPATH"
  localedef -i zh_CN -f UTF-8 "$LOCPATH/zh_CN.UTF-8" || [ -d "$LOCPATH/zh_CN.UTF-8" ]
fi
unset LC_ALL LC_CTYPE LANGUAGE
export LANG=zh_CN.UTF-8
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINE=$wine WINESERVER=$wineserver

# One virtual display for every Windows program of the run.
display_number=$((90 + RANDOM % 400))
Xvfb ":$display_number" -screen 0 1280x800x24 -nolisten tcp >"$build/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display_number"
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

"$wineserver" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
"$wineserver" -p60
"$wine" wineboot.exe --init >"$build/wineboot.log" 2>&1 || { cat "$build/wineboot.log"; exit 1; }
# Links to the tops of drives, made on this side (Wine shows them as
# folders): C:\qb-rootlink leads to C:\, C:\qb-fsroot to Z:\ (/).
ln -sfn . "$WINEPREFIX/drive_c/qb-rootlink"
ln -sfn / "$WINEPREFIX/drive_c/qb-fsroot"
x86_64-w64-mingw32-gcc-posix -O2 -Wall -o "$build/winprobe.exe" windows/winprobe.c
acp=$("$wine" "$build/winprobe.exe" | sed -n 's/^acp //p' | tr -d '\r')
echo "Wine $("$wine" --version), ANSI code page $acp"
[ "$acp" = 936 ] || { echo "Wine did not take the Chinese locale (code page '$acp')" >&2; exit 1; }
step "Wine prefix"

# --- the Qt Test programs -------------------------------------------------------------
winpath() { echo "Z:${1//\//\\}"; }
wine_path=""
for dir in "${runtime_dirs[@]}"; do wine_path+="$(winpath "$dir");"; done
export WINEPATH=$wine_path
export QT_PLUGIN_PATH=$(winpath "$qt/plugins")
if [ -f "$qt/plugins/platforms/qoffscreen.dll" ]; then
  export QT_QPA_PLATFORM=offscreen
else
  export QT_QPA_PLATFORM=windows
fi

passed=0 failed=0 skipped=0
logs=$build/logs
rm -rf "$logs"
mkdir -p "$logs"
count_totals() { # name log status
  local totals
  totals=$(grep -aE '^Totals: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped' "$2" | tail -n1 || true)
  if [ -z "$totals" ]; then
    echo "FAIL: $1 ended without its totals (exit $3)"
    failed=$((failed + 1))
    return
  fi
  local p f s
  read -r p f s < <(sed -E 's/^Totals: ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped.*/\1 \2 \3/' <<<"$totals")
  # Ended badly after its totals (a crash on the way out) counts as a failure.
  if [ "$3" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
  passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
  printf '  %-22s %s\n' "$1" "$totals"
}
[[ $suites == *" qt "* ]] || qt_tests=()
[ ${#qt_tests[@]} -eq 0 ] || echo "Qt Test programs under Wine (QT_QPA_PLATFORM=$QT_QPA_PLATFORM):"
for test in "${qt_tests[@]}"; do
  exe=$(find "$project/tests" -name "$test.exe" | head -n1)
  if [ -z "$exe" ]; then
    echo "FAIL: $test.exe was not built"
    failed=$((failed + 1))
    continue
  fi
  status=0
  # Qt Test's own output reaches no pipe under Wine: it writes to a file.
  : >"$logs/$test.txt"
  (cd "$(dirname "$exe")" && timeout 900 "$wine" "$exe" -o "$(winpath "$logs/$test.txt"),txt" \
     >"$logs/$test.log" 2>&1) || status=$?
  count_totals "$test" "$logs/$test.txt" "$status"
  if [ "$status" -ne 0 ]; then grep -aE -A1 '^(FAIL!|QWARN|QFATAL)' "$logs/$test.txt" | head -n 40 || true; fi
done
step "Qt Test programs"

# --- the real program from the zip --------------------------------------------------
if [[ $suites == *" window "* ]]; then
status=0
bash windows/wine_window_test.sh "$dist/$package.zip" "$build/winprobe.exe" "$logs/window" \
  | tee "$logs/window.log" || status=$?
line=$(grep -E '^window test: [0-9]+ passed, [0-9]+ failed' "$logs/window.log" | tail -n1 || true)
if [ -z "$line" ]; then
  failed=$((failed + 1))
else
  read -r p f < <(sed -E 's/^window test: ([0-9]+) passed, ([0-9]+) failed.*/\1 \2/' <<<"$line")
  passed=$((passed + p)) failed=$((failed + f))
  [ "$status" -eq 0 ] || [ "$f" -gt 0 ] || failed=$((failed + 1))
fi
step "window test"
fi

# --- the Qt-free tests, in the same locale ----------------------------------------------
if [[ $suites == *" qtfree "* ]]; then
"$wineserver" -k 2>/dev/null || true
status=0
(unset WINEPREFIX WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM
 WINDOWS_BUILD_DIR="$build/qtfree" bash scripts/test-windows.sh) >"$logs/qtfree.log" 2>&1 || status=$?
line=$(grep -E '^Wine: [0-9]+ passed, [0-9]+ failed' "$logs/qtfree.log" | tail -n1 || true)
if [ -z "$line" ]; then
  tail -n 40 "$logs/qtfree.log"
  failed=$((failed + 1))
else
  read -r p f < <(sed -E 's/^Wine: ([0-9]+) passed, ([0-9]+) failed.*/\1 \2/' <<<"$line")
  echo "  Qt-free tests (scripts/test-windows.sh): $p passed, $f failed"
  [ "$status" -eq 0 ] || [ "$f" -gt 0 ] || f=1
  [ "$status" -eq 0 ] || tail -n 40 "$logs/qtfree.log"
  passed=$((passed + p)) failed=$((failed + f))
fi
step "Qt-free tests"
fi

echo
echo "Times: ${times[*]}; total $(( $(now) - started )) s"
echo "Logs: $logs"
echo "Wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
