#!/usr/bin/env bash
# Builds Qt 5 qtbase for 64-bit Windows (x86_64-w64-mingw32, the -posix
# MinGW-w64 compilers) from Debian's own source package, once, into a cache
# outside the checkout. Prints the install prefix on its last line.
#
# The cache lives in QB_QT_MINGW_CACHE (default /var/cache/quillbarrow), one
# folder per Qt version and configure options. A folder with the stamp file
# ".complete" is used as it is; one without (a build cut short) is removed
# and built again.
#
# Adds a deb-src entry for apt in a file of its own under
# /etc/apt/sources.list.d/ and nothing else to apt's configuration.
set -euo pipefail
cd "$(dirname "$0")/.."

cache_root=${QB_QT_MINGW_CACHE:-/var/cache/quillbarrow}
jobs=${JOBS:-$(nproc)}
triplet=x86_64-w64-mingw32

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

now() { date +%s; }
step_start=$(now)
step() {
  local t; t=$(now)
  printf '[qt-mingw] %s: %ds\n' "$1" "$((t - step_start))" >&2
  step_start=$t
}

# Only what the program and its tests use: Core, Gui, Widgets, Test, the
# windows platform plugin (and offscreen, which builds with it). Debian's
# source leaves out src/3rdparty/wintab, which only tablet events use.
configure_options=(
  -release -opensource -confirm-license
  -xplatform win32-g++
  -nomake examples -nomake tests
  -no-opengl -no-dbus -no-icu -no-ssl
  -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz
  -no-feature-sql -no-feature-network -no-feature-concurrent
  -no-feature-printer -no-feature-xml
  -no-feature-tabletevent
)

# --- packages -----------------------------------------------------------------
packages=(dpkg-dev make g++ perl python3 xz-utils
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$package")
done

src_list=/etc/apt/sources.list.d/quillbarrow-deb-src.sources
need_update=0
if [ ! -f "$src_list" ]; then
  # The same archives as the binary packages, as source entries.
  tmp=$(mktemp)
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -n 's/^Types:.*\bdeb\b.*/Types: deb-src/; /^\(Types\|URIs\|Suites\|Components\|Signed-By\):/p; /^$/p' \
      /etc/apt/sources.list.d/debian.sources >"$tmp"
  else
    grep -h '^deb ' /etc/apt/sources.list 2>/dev/null \
      | sed 's/^deb /deb-src /' >"$tmp" || true
    src_list=/etc/apt/sources.list.d/quillbarrow-deb-src.list
  fi
  $sudo install -m 0644 "$tmp" "$src_list"
  rm -f "$tmp"
  need_update=1
fi
if [ ${#missing[@]} -gt 0 ] || [ "$need_update" = 1 ]; then
  $sudo apt-get update -q >&2
fi
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
    "${missing[@]}" >&2
fi
step "packages"

version=$(apt-cache showsrc qtbase-opensource-src 2>/dev/null \
          | sed -n 's/^Version: //p' | sort -V | tail -n1)
[ -n "$version" ] || { echo "no source package qtbase-opensource-src" >&2; exit 1; }
key=$(printf '%s\n' "$version" "${configure_options[@]}" | sha256sum | cut -c1-12)
prefix="$cache_root/qt-${version%%+*}-mingw64-$key"
prefix=${prefix//[:~]/_}

if [ -f "$prefix/.complete" ]; then
  step "cache hit"
  echo "$prefix"
  exit 0
fi

$sudo mkdir -p "$cache_root"
[ -w "$cache_root" ] || $sudo chown "$(id -u):$(id -g)" "$cache_root"
rm -rf "$prefix"
work="$prefix.build"
rm -rf "$work"
mkdir -p "$work"

# --- source ---------------------------------------------------------------------
(cd "$work" && apt-get source -q --download-only "qtbase-opensource-src=$version" >&2)
(cd "$work" && dpkg-source -x --no-check ./*.dsc src >&2)
step "source $version"

# The -posix compilers under the plain names that CROSS_COMPILE forms.
tools="$work/tools"
mkdir -p "$tools"
for tool in gcc g++; do
  ln -sf "$(command -v "$triplet-$tool-posix")" "$tools/$triplet-$tool"
done
for tool in ar as ld nm objcopy objdump ranlib strip windres dlltool; do
  ln -sf "$(command -v "$triplet-$tool")" "$tools/$triplet-$tool"
done

mkdir -p "$work/build"
(cd "$work/build" && ../src/configure -prefix "$prefix" \
   -device-option CROSS_COMPILE="$tools/$triplet-" "${configure_options[@]}" \
   >"$work/configure.log" 2>&1) || { tail -n 60 "$work/configure.log" >&2; exit 1; }
step "configure"

(cd "$work/build" && make -j"$jobs" >"$work/make.log" 2>&1) \
  || { tail -n 60 "$work/make.log" >&2; exit 1; }
step "make"

(cd "$work/build" && make install >"$work/install.log" 2>&1) \
  || { tail -n 60 "$work/install.log" >&2; exit 1; }
for needed in bin/Qt5Core.dll bin/Qt5Gui.dll bin/Qt5Widgets.dll bin/Qt5Test.dll \
              plugins/platforms/qwindows.dll bin/moc bin/uic bin/rcc \
              lib/cmake/Qt5Widgets/Qt5WidgetsConfig.cmake; do
  [ -e "$prefix/$needed" ] || { echo "Qt build lacks $needed" >&2; exit 1; }
done
printf '%s\n' "$version" "${configure_options[@]}" >"$prefix/.complete"
rm -rf "$work"
step "install"
echo "$prefix"
