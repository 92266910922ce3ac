#!/usr/bin/env bash
# Builds the release packages with tools/release.sh and tries them as a user would: the .deb
# unpacked into a temporary root, the tarball's binary (its libraries, then a run from an empty
# folder with an empty environment), the zip under Wine from a folder holding only the zip's
# files, the version resource, the checksums, and a second build from a clone of the repository
# compared byte for byte with the first.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
started=$SECONDS

fail() {
  echo "check-packages: $*" >&2
  exit 1
}
step() { echo "--- $* ($((SECONDS - started)) s)"; }

# The clone holds only committed files: with uncommitted changes the two builds would differ.
if [ -n "$(git status --porcelain)" ]; then
  git status --short >&2
  fail "uncommitted changes: commit them first (the second build comes from a clone)"
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/kestrix-release.XXXXXX")
wine_prefix=$root/build/windows/wineprefix # booted by the windows preset's tests, if they ran
own_prefix=0
if [ ! -d "$wine_prefix" ]; then
  wine_prefix=$tmp/wineprefix
  own_prefix=1
fi
cleanup() {
  if [ "$own_prefix" = 1 ] && [ -d "$wine_prefix" ]; then
    WINEPREFIX=$wine_prefix wineserver -k 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

step "tools/release.sh"
bash tools/release.sh >"$tmp/release-1.log" 2>&1 || { tail -40 "$tmp/release-1.log" >&2; fail "tools/release.sh failed"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/portable/CMakeCache.txt)
deb=kestrix_${version}_amd64.deb
tgz=kestrix-$version-linux-x86_64.tar.gz
zip=kestrix-$version-windows-x86_64.zip
[ "$(cd dist && ls | LC_ALL=C sort | tr '\n' ' ')" = "SHA256SUMS $tgz $zip $deb " ] ||
  fail "dist/ holds $(ls dist | tr '\n' ' '), expected $deb, $tgz, $zip, SHA256SUMS"
(cd dist && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match dist/"
[ "$(wc -l <dist/SHA256SUMS)" = 3 ] || fail "SHA256SUMS must list the three packages"

# The banner of a short run and the help line both carry project(VERSION).
short_run=(-d 1 -s 64 -n 1 --harness-sub-runs 1)
check_runs() { # $1: how to start kestrix (a command line), $2: where
  local out
  out=$(eval "$1 --help") || fail "$2: --help failed"
  grep -q "^kestrix $version " <<<"$out" || fail "$2: --help does not name version $version"
  out=$(eval "$1 ${short_run[*]}" </dev/null) || fail "$2: the short run failed"
  grep -q "^kestrix v$version standing_wave sse2" <<<"$out" || {
    echo "$out" >&2
    fail "$2: the short run gave no valid result with banner v$version"
  }
  grep -q "^final score: " <<<"$out" || fail "$2: no final score"
}
check_others() { # $1: folder of the programs, $2: suffix, $3: how to start them, $4: where
  local p
  for p in "${programs[@]:1}"; do
    eval "$3 $1/$p$2 --help" >/dev/null || fail "$4: $p --help failed"
  done
  # The stability test checks one core for a moment and passes.
  if [[ " ${programs[*]} " == *" kestrix-stress "* ]]; then
    eval "$3 $1/kestrix-stress$2 --for 2s --slice 1s --isa sse2 --cores 0" </dev/null |
      grep -q "^passed: no error" || fail "$4: a short kestrix-stress run did not pass"
  fi
}

step "Debian package"
info=$(dpkg-deb -f "dist/$deb" Package Version Architecture Depends)
grep -qx "Package: kestrix" <<<"$info" && grep -qx "Version: $version" <<<"$info" &&
  grep -qx "Architecture: amd64" <<<"$info" || fail "$deb control: $info"
depends=$(dpkg-deb -f "dist/$deb" Depends)
grep -q "libc6 (>= " <<<"$depends" || fail "$deb: no computed libc6 dependency ($depends)"
if grep -Eq "libfmt|libhwloc|libstdc|libgcc" <<<"$depends"; then
  fail "$deb: depends on a library that is linked in statically ($depends)"
fi
dpkg-deb -x "dist/$deb" "$tmp/deb"
# Programs of this build: kestrix, and its companions where they are built.
mapfile -t programs < <(ls "$tmp/deb/usr/bin")
[ "${programs[0]:-}" = kestrix ] || fail "$deb: no /usr/bin/kestrix (it holds ${programs[*]})"
for companion in kestrix-results kestrix-stress; do
  if [ -n "$(find build/portable -name "$companion" -type f)" ] &&
    [[ " ${programs[*]} " != *" $companion "* ]]; then
    fail "$deb: $companion was built but is not in /usr/bin"
  fi
done
for f in "${programs[@]/#/usr/bin/}" usr/share/doc/kestrix/README.md usr/share/doc/kestrix/LICENSE \
  usr/share/doc/kestrix/docs; do
  [ -e "$tmp/deb/$f" ] || fail "$deb has no /$f"
done
grep -q "^MIT License" "$tmp/deb/usr/share/doc/kestrix/LICENSE" || fail "$deb: LICENSE is not MIT"
mkdir "$tmp/run-deb"
(cd "$tmp/run-deb" && check_runs "$tmp/deb/usr/bin/kestrix" "$deb" &&
  check_others "$tmp/deb/usr/bin" "" "" "$deb")

step "Linux tarball"
mkdir "$tmp/tgz"
tar -C "$tmp/tgz" -xzf "dist/$tgz"
top=$tmp/tgz/kestrix-$version-linux-x86_64
expected=$(printf '%s\n' LICENSE README.md "${programs[@]}" | LC_ALL=C sort | tr '\n' ' ')
[ "$(cd "$top" && ls | LC_ALL=C sort | tr '\n' ' ')" = "$expected" ] ||
  fail "$tgz holds $(ls "$tmp/tgz"/* | tr '\n' ' '), expected kestrix-$version-linux-x86_64/ with $expected"
for p in "${programs[@]}"; do
  # Only the C library's own objects, and libudev (used by the static hwloc).
  libs=$(ldd "$top/$p" | awk '{print $1}')
  for lib in $libs; do
    case "$lib" in
      linux-vdso.so.1 | libc.so.6 | libm.so.6 | /lib64/ld-linux-x86-64.so.2 | libudev.so.1) ;;
      *) fail "$tgz: $p needs $lib (ldd: $(echo $libs))" ;;
    esac
  done
  file "$top/$p" | grep -q "stripped" && ! file "$top/$p" | grep -q "not stripped" ||
    fail "$tgz: $p is not stripped"
done
glibc=$(objdump -T "$top/kestrix" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -1)
echo "tarball binary needs $glibc at the most"
mkdir "$tmp/run-tgz"
(cd "$tmp/run-tgz" && check_runs "env -i PATH=/usr/bin:/bin $top/kestrix" "$tgz" &&
  check_others "$top" "" "env -i PATH=/usr/bin:/bin" "$tgz")
[ -z "$(ls -A "$tmp/run-tgz")" ] || fail "$tgz: the run left files behind: $(ls -A "$tmp/run-tgz")"

step "Windows zip"
mkdir "$tmp/zip"
(cd "$tmp/zip" && unzip -q "$root/dist/$zip")
top=$tmp/zip/kestrix-$version-windows-x86_64
expected=$(printf '%s\n' LICENSE README.md "${programs[@]/%/.exe}" | LC_ALL=C sort | tr '\n' ' ')
[ "$(cd "$top" && ls | LC_ALL=C sort | tr '\n' ' ')" = "$expected" ] ||
  fail "$zip holds $(cd "$tmp/zip" && find . -type f | tr '\n' ' '), expected $expected"
epoch=$(git log -1 --format=%ct)
for p in "${programs[@]}"; do
  exe=$top/$p.exe
  headers=$(TZ=UTC x86_64-w64-mingw32-objdump -p "$exe")
  ! x86_64-w64-mingw32-objdump -h "$exe" | grep -q '\.debug' || fail "$zip: $p.exe is not stripped"
  # PE time stamp: none, or the commit's time; never the time of the build.
  stamp=$(sed -n 's/^Time\/Date[[:space:]]*//p' <<<"$headers")
  stamp_s=$(date -u -d "$stamp" +%s)
  [ "$stamp_s" = 0 ] || [ "$stamp_s" = "$epoch" ] || fail "$zip: $p.exe has the time stamp $stamp"
  if grep -q "DLL Name: .*\(libstdc\|libgcc\|libwinpthread\)" <<<"$headers"; then
    fail "$zip: $p.exe needs a runtime DLL: $(grep 'DLL Name' <<<"$headers" | tr '\n' ' ')"
  fi
  rc=$(x86_64-w64-mingw32-windres -i "$exe" -O rc)
  for value in "\"ProductName\", \"kestrix\"" "\"ProductVersion\", \"$version\"" \
    "\"FileVersion\", \"$version\"" "\"OriginalFilename\", \"$p.exe\"" "MIT License" \
    "FILEVERSION ${version//./, }, 0" "requestedExecutionLevel level=\"\"asInvoker\"\"" \
    "supportedOS Id=\"\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"\""; do
    grep -qF "$value" <<<"$rc" || fail "$zip: the resources of $p.exe lack $value"
  done
  ! grep -q activeCodePage <<<"$rc" || fail "$zip: $p.exe must not change the code page"
done
export WINEPREFIX=$wine_prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$own_prefix" = 1 ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
(cd "$top" && check_runs "wine ./kestrix.exe" "$zip under Wine" &&
  check_others . .exe wine "$zip under Wine")

step "second build from a clone"
git clone -q --no-hardlinks "$root" "$tmp/clone"
git -C "$tmp/clone" checkout -q --detach "$(git rev-parse HEAD)"
(cd "$tmp/clone" && bash tools/release.sh >"$tmp/release-2.log" 2>&1) ||
  { tail -40 "$tmp/release-2.log" >&2; fail "tools/release.sh in the clone failed"; }
for f in SHA256SUMS "$deb" "$tgz" "$zip"; do
  cmp "dist/$f" "$tmp/clone/dist/$f" || fail "$f differs between the two builds"
done

step "release packages checked"
echo "check-packages: all checks passed in $((SECONDS - started)) s"
