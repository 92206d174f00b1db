#!/usr/bin/env bash
# Builds the Debian package build/dyestation_<version>_<arch>.deb (CPack) and checks it
# with lintian, which must report no error. Install it with
#   sudo apt-get install ./build/dyestation_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
GEN=()
if command -v ninja >/dev/null 2>&1; then GEN=(-G Ninja); fi
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" "${GEN[@]}" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}"
fi
# Only what the package holds (the tests and benchmarks are not needed for it).
cmake --build "$BUILD_DIR" --parallel "$(nproc)" --target dyestation devsim ds_packaging_files
desktop-file-validate packaging/dyestation.desktop
rm -rf "$BUILD_DIR/cpack"
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
deb=$(ls "$BUILD_DIR"/cpack/dyestation_*.deb)
mv "$deb" "$BUILD_DIR/"
deb=$BUILD_DIR/$(basename "$deb")
lintian --fail-on error "$deb"
echo "$deb"
