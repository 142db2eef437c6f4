#!/usr/bin/env bash
# Runs the test suite on the target, 32-bit big-endian PowerPC Linux
# (powerpc-linux-gnu), under qemu-user: the library, velkd-sim, velkdirect and
# every test binary are cross-built and each test runs emulated. Run as root
# on Debian 12 x86-64, from anywhere in the tree; no input is asked.
#
#   scripts/target-test.sh
#
#   VELKDIRECTFE_TARGET_ENV  where the target environment lives
#                            (default /opt/velkdirectfe-ppc)
#   VELKDIRECTFE_TARGET_BUILD  the build folder (default build-ppc)
#
# Steps:
#   1. the Debian packages, when missing (scripts/install-deps.sh --target);
#   2. a fast first gate: the library's sources compile for the target with
#      its record layouts asserted (tests/check_target_build.cmake);
#   3. the target environment, made once and remade only when its inputs
#      change: GoogleTest built for the target, the test-only stand-in
#      libtirpc.so.3, the emulator's library root, pkg-config and CMake
#      package files for the header-only libraries;
#   4. the cross build (cmake/powerpc-linux-gnu.cmake), then
#      `ctest -LE host_only`: every test but those labelled host_only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
target_env=${VELKDIRECTFE_TARGET_ENV:-/opt/velkdirectfe-ppc}
build=${VELKDIRECTFE_TARGET_BUILD:-build-ppc}
triple=powerpc-linux-gnu
jobs=$(nproc)
started=$(date +%s)
step() { printf '== target: %s (%ds)\n' "$1" $(($(date +%s) - started)); }

step "packages"
scripts/install-deps.sh --target

step "layout gate"
generated=$(mktemp -d)
python3 protocol/generate.py code protocol/protocol.toml "$generated"
sources=$({ find "$root/src" -mindepth 2 -maxdepth 2 -name '*.cpp'; find "$root/protocol" "$generated" -name '*.cpp'; } |
  sort | paste -sd ';')
cmake -DCXX="$triple-g++" -DROOT="$root" "-DSOURCES=$sources" -DGENERATED="$generated" -P tests/check_target_build.cmake
rm -rf "$generated"

# ---------------------------------------------------------------- environment
pkgver() { dpkg-query -W -f='${Version}' "$1"; }
stamp=$({
  cat scripts/target-test.sh tests/support/target/*
  for p in libc6-dev-powerpc-cross g++-12-powerpc-linux-gnu qemu-user googletest libtirpc-dev libfmt-dev \
    libtomlplusplus-dev libcli11-dev nlohmann-json3-dev; do
    echo "$p $(pkgver "$p")"
  done
} | sha256sum | cut -d' ' -f1)

make_environment() {
  rm -rf "$target_env"
  mkdir -p "$target_env"/{lib/pkgconfig,lib/cmake,include,sysroot/lib}

  # The RPC library (test-only stand-in) and its headers, which Debian's
  # libtirpc-dev has architecture-independent.
  tests/support/target/tirpc_standin.sh "$target_env/lib"
  ln -s /usr/include/tirpc "$target_env/include/tirpc"
  cat >"$target_env/lib/pkgconfig/libtirpc.pc" <<EOF
# Test-only stand-in over glibc's Sun RPC (tests/support/target/tirpc_standin.sh)
Name: libtirpc
Description: libtirpc for powerpc-linux-gnu, test-only stand-in
Version: $(pkgver libtirpc-dev | sed 's/[+-].*//')
Libs: -L$target_env/lib -ltirpc
Cflags: -I$target_env/include/tirpc
EOF

  # The emulator's library root: the target's C and C++ libraries, the
  # stand-in, and libm rewritten for qemu (see libm_mffs.sh).
  for library in /usr/$triple/lib/*; do ln -s "$library" "$target_env/sysroot/lib/"; done
  rm "$target_env/sysroot/lib/libm.so.6"
  tests/support/target/libm_mffs.sh "$target_env/sysroot/lib/libm.so.6"
  cp -P "$target_env"/lib/libtirpc.so* "$target_env/sysroot/lib/"

  # Header-only libraries: their headers, without the host's include folder
  # (which holds the host's C library headers).
  for dir in fmt toml++ CLI nlohmann; do ln -s "/usr/include/$dir" "$target_env/include/$dir"; done
  cat >"$target_env/lib/pkgconfig/tomlplusplus.pc" <<EOF
Name: tomlplusplus
Description: toml++, header-only for the target
Version: $(pkgver libtomlplusplus-dev | sed 's/[+-].*//')
Cflags: -I$target_env/include -DTOML_HEADER_ONLY=1
EOF
  local name target definitions
  while read -r name target definitions; do
    mkdir -p "$target_env/lib/cmake/$name"
    cat >"$target_env/lib/cmake/$name/${name}Config.cmake" <<EOF
# $name, header-only for the target (made by scripts/target-test.sh)
if(NOT TARGET $target)
  add_library($target INTERFACE IMPORTED)
  set_target_properties($target PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "$target_env/include"
    INTERFACE_COMPILE_DEFINITIONS "$definitions")
endif()
EOF
  done <<'EOF'
fmt fmt::fmt FMT_HEADER_ONLY=1
CLI11 CLI11::CLI11
nlohmann_json nlohmann_json::nlohmann_json
EOF

  # GoogleTest for the target, from Debian's sources.
  local gtest_build
  gtest_build=$(mktemp -d)
  cmake -S /usr/src/googletest -B "$gtest_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/powerpc-linux-gnu.cmake" \
    -DVELKDIRECTFE_TARGET_ENV="$target_env" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$target_env" \
    >"$gtest_build.log" 2>&1 &&
    cmake --build "$gtest_build" -j"$jobs" >>"$gtest_build.log" 2>&1 &&
    cmake --install "$gtest_build" >>"$gtest_build.log" 2>&1 ||
    { tail -40 "$gtest_build.log"; exit 1; }
  rm -rf "$gtest_build" "$gtest_build.log"

  echo "$stamp" >"$target_env/.stamp"
}

step "environment in $target_env"
mkdir -p "$(dirname "$target_env")"
exec 9>"$target_env.lock"
flock 9 # another run on this machine may be making it
if [[ "$(cat "$target_env/.stamp" 2>/dev/null)" == "$stamp" ]]; then
  echo "up to date"
else
  make_environment
fi
flock -s 9 # in use until the end: nobody remakes it meanwhile

# ---------------------------------------------------------------- build, run
step "cross build in $build"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# RelWithDebInfo: GCC 12 at -O3 warns falsely (-Wrestrict) inside std::string.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/powerpc-linux-gnu.cmake" \
  -DVELKDIRECTFE_TARGET_ENV="$target_env" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKDIRECTFE_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs"

step "tests under qemu-ppc"
(cd "$build" && ctest -LE host_only -j"$jobs" --output-on-failure --timeout 300)
step "done"
