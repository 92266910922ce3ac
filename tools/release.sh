#!/usr/bin/env bash
# Release packages in dist/:
#   kestrix_<version>_amd64.deb              Debian package (CPack, dependencies from dpkg-shlibdeps)
#   kestrix-<version>-linux-x86_64.tar.gz     the same portable binary: needs only libc and libudev
#   kestrix-<version>-windows-x86_64.zip      stripped kestrix.exe with version resource and manifest
#   SHA256SUMS                                over the three
# Reproducible: the same commit gives the same bytes (time stamps from the last commit, no build
# paths in the objects, sorted archive members with fixed owners and times).
# The version comes from project(VERSION) in CMakeLists.txt, nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${KESTRIX_JOBS:-$(nproc)}

SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C
umask 022

stamp() { # every file and folder below $1 gets the commit's time
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# The two builds run side by side: each waits on its own link and library steps, and the other
# one's compiles fill that time. Each writes its log in its own build folder.
echo "=== release: Linux (portable) and Windows ==="
lin=$root/build/portable
win=$root/build/windows-package
cmake --preset portable >/dev/null
cmake --preset windows-package >/dev/null
cmake --build --preset portable -j"$jobs" >"$lin/release-build.log" 2>&1 &
lin_build=$!
cmake --build --preset windows-package -j"$jobs" >"$win/release-build.log" 2>&1 &
win_build=$!
failed=0
for build in "$lin_build:$lin" "$win_build:$win"; do
  if ! wait "${build%%:*}"; then
    tail -40 "${build#*:}/release-build.log" >&2
    echo "release.sh: the build in ${build#*:} failed" >&2
    failed=1
  fi
done
[ "$failed" = 0 ] || exit 1
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$lin/CMakeCache.txt")
[ -n "$version" ] || { echo "release.sh: no project version in $lin/CMakeCache.txt" >&2; exit 1; }

dist=$root/dist
mkdir -p "$dist"
rm -f "$dist"/kestrix[_-]* "$dist"/SHA256SUMS

# Debian package. The staging area of cpack is rebuilt every time.
rm -rf "$lin/_cpack"
(cd "$lin" && cpack -G DEB -B "$lin/_cpack" >/dev/null)
cp "$lin/_cpack/kestrix_${version}_amd64.deb" "$dist/"

# Portable tarball: the installed programs (stripped), README and LICENSE in one folder.
stage=$lin/_stage
rm -rf "$stage"
cmake --install "$lin" --prefix "$stage/install" --strip >/dev/null
name=kestrix-$version-linux-x86_64
mkdir -p "$stage/$name"
cp "$stage"/install/bin/* "$root/README.md" "$root/LICENSE" "$stage/$name/"
stamp "$stage/$name"
tar -C "$stage" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
  --format=gnu -cf - "$name" | gzip -9n >"$dist/$name.tar.gz"

# Windows zip: the programs stripped here (mingw's strip), README and LICENSE.
stage=$win/_stage
rm -rf "$stage"
cmake --install "$win" --prefix "$stage/install" >/dev/null
name=kestrix-$version-windows-x86_64
mkdir -p "$stage/$name"
for exe in "$stage"/install/bin/*.exe; do
  x86_64-w64-mingw32-strip -o "$stage/$name/$(basename "$exe")" "$exe"
done
cp "$root/README.md" "$root/LICENSE" "$stage/$name/"
stamp "$stage/$name"
(cd "$stage" && find "$name" -type f | sort | zip -q -X -9 "$dist/$name.zip" -@)

(cd "$dist" && sha256sum "kestrix_${version}_amd64.deb" "kestrix-$version-linux-x86_64.tar.gz" \
  "kestrix-$version-windows-x86_64.zip" >SHA256SUMS)
echo "=== release: $dist ==="
(cd "$dist" && cat SHA256SUMS)
