#!/usr/bin/env bash
# Builds the Debian package of rowpress: a Release build of the executable alone in
# build-release/ (no tests), with Debian's hardening flags, installed stripped into a
# package by CPack. Prints the path of the .deb as its last line; install it with
#   sudo apt install ./build-release/package/rowpress_VERSION_ARCH.deb
# It installs nothing: what it needs is what scripts/demo.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."

needed=(build-essential dpkg-dev cmake ninja-build pkg-config unixodbc-dev libxlsxwriter-dev
  libzip-dev libxml2-dev libicu-dev qt6-base-dev)
missing=()
for p in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Building the package needs: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]} (or run scripts/demo.sh)" >&2
  exit 1
fi

# The compiler and linker flags of Debian's own packages (stack protector, fortified
# functions, read-only relocations, immediate binding), without -g: the package is stripped.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cxxflags=" $cxxflags "
cxxflags="${cxxflags// -g / }"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" > /dev/null
cmake --build build-release -j"$(nproc)" --target rowpress
cpack_log=$(cd build-release && cpack -G DEB)
echo "$cpack_log" >&2
deb=$(echo "$cpack_log" | sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p')
[ -f "$deb" ] || { echo "cpack made no .deb" >&2; exit 1; }
echo "$deb"
