#!/usr/bin/env bash
# Builds the three Debian packages (libvelkdirectfe1, libvelkdirectfe-dev,
# velkdirect-tools) with Debian's build and hardening flags, and checks them
# with lintian, what they ship with systemd-analyze, man and promtool, and
# the library's ABI with abidiff. The packages land in BUILD_DIR (default:
# build-deb).
#   scripts/build-debs.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
scripts/install-deps.sh --packaging

# dpkg-buildflags gives CPPFLAGS apart; CMake reads only C/CXX/LDFLAGS.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"

# Build type None: the flags above are all there is, as in a Debian build.
# Units and environment files where Debian 12 keeps them, outside the prefix.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DVELKDIRECTFE_SYSTEMD_UNIT_DIR=/lib/systemd/system -DVELKDIRECTFE_ENVIRONMENT_DIR=/etc/default \
  -DCMAKE_SKIP_INSTALL_RPATH=ON -DVELKDIRECTFE_TESTS=OFF -DVELKDIRECTFE_BENCH=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=$(command -v ccache || true) >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/*.deb
lintian --fail-on error,warning "$build"/*.deb
echo "lintian: clean"

# What the packages ship, checked as shipped: units (systemd-analyze verify,
# the man pages of Documentation= included), man pages (man --warnings) and
# the example alert rules (promtool).
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for deb in "$build"/*.deb; do dpkg-deb -x "$deb" "$root"; done
# The units name /usr/bin's programs: the copies verified name the shipped ones.
mkdir "$root/verify"
for unit in "$root"/lib/systemd/system/*; do sed "s#/usr/bin/#$root/usr/bin/#g" "$unit" >"$root/verify/${unit##*/}"; done
remarks=$(cd "$root/verify" && MANPATH="$root/usr/share/man:" systemd-analyze verify ./* 2>&1) &&
  [[ -z $remarks ]] || { echo "$remarks" >&2; exit 1; }
for page in "$root"/usr/share/man/man*/*; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || { echo "${page#"$root"}: $warnings" >&2; exit 1; }
done
promtool check rules "$root"/usr/share/doc/velkdirect-tools/examples/alerts.example.yml >/dev/null
echo "units, man pages and example rules: clean"
# The library's ABI against the baseline in abi/: a changed record layout,
# signature or symbol set fails until the baseline is rewritten on purpose
# (`cmake --build BUILD --target abi_baseline`, then commit abi/).
abidiff abi/libvelkdirectfe.so.1.abi "$build"/src/libvelkdirectfe.so.1
echo "ABI unchanged against abi/libvelkdirectfe.so.1.abi"
