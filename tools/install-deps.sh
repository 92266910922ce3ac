#!/usr/bin/env bash
# Debian 12 packages for building and testing kestrix (native and Windows under Wine).
# Run as root; installs only what is missing.
set -euo pipefail
pkgs=(cmake g++ make pkg-config libfmt-dev libhwloc-dev googletest libgtest-dev libgmock-dev
      libbenchmark-dev clang-format-14 g++-mingw-w64-x86-64 wine wine64 qemu-user binutils
      python3 clang-16 libclang-rt-16-dev clang-19 llvm-19 git dpkg-dev zip unzip file
      libcli11-dev nlohmann-json3-dev chromium libxxhash-dev python3-jsonschema slurm-wlm munge)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
