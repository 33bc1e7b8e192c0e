#!/usr/bin/env bash
# Cross-builds the Windows release on Debian 12: a minimal shared Qt (once,
# cached outside the tree), then tallow-marquee.exe and tallow-quoted.exe, then
# the NSIS installer and a portable zip.
#
# Usage: scripts/build-windows.sh [--qt-only] [--print-qt-prefix]
#   --qt-only          stop once the MinGW Qt is built (or found in the cache)
#   --print-qt-prefix  print where the cached Qt for this configuration lives
#
# Environment:
#   TALLOW_MINGW_QT_CACHE  cache folder (default ~/.cache/tallow-mingw-qt)
#   TALLOW_WIN_BUILD       build folder of the programs (default build-windows)
#   TALLOW_JOBS            parallel jobs (default: number of cores)
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$(pwd)

qt_only=0
print_prefix=0
for arg in "$@"; do
  case "$arg" in
    --qt-only) qt_only=1 ;;
    --print-qt-prefix) print_prefix=1 ;;
    *) echo "unknown option: $arg" >&2; exit 2 ;;
  esac
done

jobs=${TALLOW_JOBS:-$(nproc)}
toolchain=$tree/cmake/mingw-w64-x86_64.cmake

# Debian's own Qt source, the same version as the host Qt whose moc, rcc and
# uic the cross build runs.
qt_source_package=qt6-base
qt_source_version=6.4.2+dfsg-10

# The smallest Qt the programs and their tests need: Core, Gui, Widgets,
# Network, Xml, Test and the windows, windowsvista, ico and schannel plugins.
# Debian's source drops the wintab headers, hence no tablet events; Qt 6.4.2's
# windows plugin only links DirectWrite 3 together with Direct2D, and neither is
# needed here.
qt_options=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_dbus=OFF
  -DFEATURE_vulkan=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_direct2d=OFF
  -DFEATURE_directwrite3=OFF
  -DFEATURE_openssl=OFF
  -DFEATURE_schannel=ON
  -DFEATURE_jpeg=OFF
  -DFEATURE_gif=OFF
  -DFEATURE_ico=ON
  -DFEATURE_testlib=ON
  -DFEATURE_xml=ON
  -DFEATURE_network=ON
  -DFEATURE_widgets=ON
  -DFEATURE_style_windowsvista=ON
)

# Patches applied to the Qt source; part of the cache key.
qt_patches=()
if [ -d packaging/windows/qt-patches ]; then
  while IFS= read -r -d '' p; do qt_patches+=("$p"); done < <(find packaging/windows/qt-patches -name '*.patch' -print0 | sort -z)
fi

qt_key() {
  {
    echo "$qt_source_package $qt_source_version"
    printf '%s\n' "${qt_options[@]}"
    cat "$toolchain"
    [ "${#qt_patches[@]}" -eq 0 ] || cat "${qt_patches[@]}"
  } | sha256sum | cut -c1-16
}

cache_root=${TALLOW_MINGW_QT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tallow-mingw-qt}
qt_dir=$cache_root/$(qt_key)
qt_prefix=$qt_dir/prefix

if [ "$print_prefix" = 1 ]; then
  echo "$qt_prefix"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# apt-get source needs deb-src entries; derive them from the machine's own
# binary entries so the same mirror (or snapshot) is used.
ensure_deb_src() {
  if apt-get source --print-uris "$qt_source_package=$qt_source_version" >/dev/null 2>&1; then
    return
  fi
  echo "Adding deb-src entries for the configured Debian mirror"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/tallow-deb-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/tallow-deb-src.list >/dev/null
  else
    echo "no apt sources found to derive deb-src entries from" >&2
    exit 1
  fi
  "${sudo_cmd[@]}" apt-get update -qq
}

build_qt() {
  if [ -f "$qt_prefix/.complete" ]; then
    echo "Using the cached MinGW Qt in $qt_prefix"
    return
  fi
  mkdir -p "$qt_dir"
  # One build at a time per configuration; a second run waits for the first.
  exec 9>"$qt_dir/.lock"
  flock 9
  if [ -f "$qt_prefix/.complete" ]; then
    echo "Using the cached MinGW Qt in $qt_prefix"
    return
  fi
  local started=$SECONDS
  ensure_deb_src
  local src_parent=$cache_root/src-$qt_source_version
  if [ ! -f "$src_parent/.extracted" ]; then
    rm -rf "$src_parent"
    mkdir -p "$src_parent"
    (cd "$src_parent" && apt-get source -qq "$qt_source_package=$qt_source_version")
    touch "$src_parent/.extracted"
  fi
  local src
  src=$(find "$src_parent" -maxdepth 1 -mindepth 1 -type d | head -n1)
  # Patch a private copy so the shared source stays pristine for other keys.
  local work_src=$src
  if [ "${#qt_patches[@]}" -gt 0 ]; then
    work_src=$qt_dir/src
    rm -rf "$work_src"
    cp -a "$src" "$work_src"
    for p in "${qt_patches[@]}"; do patch -d "$work_src" -p1 <"$tree/$p"; done
  fi
  cmake -S "$work_src" -B "$qt_dir/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$qt_prefix" \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    "${qt_options[@]}"
  cmake --build "$qt_dir/build" --parallel "$jobs"
  rm -rf "$qt_prefix"
  cmake --install "$qt_dir/build"
  touch "$qt_prefix/.complete"
  # The objects are not needed again; the installed Qt is what gets reused.
  rm -rf "$qt_dir/build" "$qt_dir/src"
  echo "MinGW Qt built in $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
}

scripts/ensure-packages.sh windows
build_qt
[ "$qt_only" = 0 ] || exit 0

# --- the programs -----------------------------------------------------------

version=$(sed -n 's/^project(TallowMarquee VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
build=${TALLOW_WIN_BUILD:-$tree/build-windows}
started=$SECONDS

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$qt_prefix" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DTALLOW_TESTS=ON \
  "${launcher[@]}" >/dev/null
cmake --build "$build" --parallel "$jobs"

mingw_triple=x86_64-w64-mingw32
mingw_cxx=$mingw_triple-g++-posix
runtime_dlls=()
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  path=$("$mingw_cxx" -print-file-name="$dll")
  # The driver prints the bare name when it does not find the file.
  if [ "$path" = "$dll" ]; then
    path=$(find /usr/lib/gcc/$mingw_triple /usr/$mingw_triple -name "$dll" -path '*posix*' 2>/dev/null | head -n1)
    [ -n "$path" ] || path=$(find /usr/$mingw_triple -name "$dll" | head -n1)
  fi
  [ -f "$path" ] || { echo "MinGW runtime $dll not found" >&2; exit 1; }
  runtime_dlls+=("$path")
done

# What the programs need at run time, and nothing else: the Qt libraries,
# the platform, style, icon/cursor and TLS plugins, and the MinGW runtime.
qt_dlls=(Qt6Core Qt6Gui Qt6Widgets Qt6Network Qt6Xml)
qt_plugins=(platforms/qwindows styles/qwindowsvistastyle imageformats/qico tls/qschannelbackend)

# Makes a folder runnable: the DLLs beside the programs, the plugins in the
# folders Qt looks for beside the program.
deploy_runtime() {
  local dest=$1
  shift
  local name
  for name in "${qt_dlls[@]}" "$@"; do cp -u "$qt_prefix/bin/$name.dll" "$dest/"; done
  for name in "${qt_plugins[@]}"; do
    mkdir -p "$dest/$(dirname "$name")"
    cp -u "$qt_prefix/plugins/$name.dll" "$dest/$name.dll"
  done
  cp -u "${runtime_dlls[@]}" "$dest/"
}

# The build folder runs as it is under Wine (the tests do), with Qt's test
# library as well.
deploy_runtime "$build" Qt6Test

stage=$build/stage
rm -rf "$stage"
mkdir -p "$stage"
cp "$build/tallow-marquee.exe" "$build/tallow-quoted.exe" resources/HAND-M.CUR "$stage/"
deploy_runtime "$stage"
find "$stage" \( -name '*.exe' -o -name '*.dll' \) -exec "$mingw_triple-strip" --strip-unneeded {} +

# Every staged file, one File line each, and the matching removals in reverse
# (files first, then folders deepest first), so the uninstaller removes
# exactly what was installed.
files_nsh=$build/installer-files.nsh
unfiles_nsh=$build/uninstaller-files.nsh
(
  cd "$stage"
  find . -type d ! -name . | sort | while read -r dir; do
    win=${dir#./}
    echo "SetOutPath \"\$INSTDIR\\${win//\//\\}\""
    find "$dir" -maxdepth 1 -type f | sort | while read -r file; do
      echo "File \"$stage/${file#./}\""
    done
  done
  echo 'SetOutPath "$INSTDIR"'
  find . -maxdepth 1 -type f | sort | while read -r file; do
    echo "File \"$stage/${file#./}\""
  done
) >"$files_nsh"
(
  cd "$stage"
  find . -type f | sort | while read -r file; do
    win=${file#./}
    echo "Delete \"\$INSTDIR\\${win//\//\\}\""
  done
  find . -type d ! -name . | sort -r | while read -r dir; do
    win=${dir#./}
    echo "RMDir \"\$INSTDIR\\${win//\//\\}\""
  done
) >"$unfiles_nsh"

installer=$build/tallow-marquee-setup-$version.exe
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DFILES="$files_nsh" \
  -DUNFILES="$unfiles_nsh" -DOUTFILE="$installer" packaging/windows/installer.nsi

zipfile=$build/tallow-marquee-$version-win64.zip
rm -f "$zipfile"
(cd "$stage" && zip -qr9X "$zipfile" .)

echo "Programs, installer and zip built in $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s:"
echo "  $installer ($(du -k "$installer" | cut -f1) KiB)"
echo "  $zipfile ($(du -k "$zipfile" | cut -f1) KiB)"
echo "  installed size $(du -sk "$stage" | cut -f1) KiB"
