#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need (only what is missing).
set -euo pipefail
pkgs=(cmake g++ make pkg-config
      qt6-base-dev libqt6sql6-sqlite qt6-translations-l10n fonts-dejavu-core
      firebird3.0-server-core libfbclient2 firebird-dev firebird3.0-utils
      mdbtools libmdb3 mdbtools-dev
      libssl-dev openssl sqlite3 libsqlite3-dev curl
      xvfb xauth x11-utils imagemagick
      clang clang-format libclang-rt-14-dev llvm valgrind)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
