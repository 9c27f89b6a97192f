#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program, the tests and the package need (only what is
# missing). Only this step needs root rights: run as an ordinary user it asks for them through sudo;
# everything else (building, testing, running) is done as the user who called it.
set -euo pipefail
pkgs=(cmake g++ make pkg-config
      qt6-base-dev libqt6sql6-sqlite qt6-translations-l10n fonts-dejavu-core
      firebird3.0-server-core libfbclient2 firebird-dev firebird3.0-utils
      mdbtools libmdb3 mdbtools-dev
      libssl-dev openssl sqlite3 libsqlite3-dev curl libcurl4-openssl-dev
      libnss3-dev libnss3-tools libp11-kit-dev p11-kit softhsm2 opensc
      xvfb xauth x11-utils imagemagick
      clang clang-format libclang-rt-14-dev llvm lld
      dpkg-dev lintian librsvg2-bin appstream valgrind)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Node runs the independent Access reader of the tests (npm mdb-reader). Debian's npm conflicts
# with a node installed another way, so each is asked for only when its command is missing.
command -v node >/dev/null 2>&1 || missing+=(nodejs)
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  if [ "$(id -u)" != 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "install-deps.sh: faltam pacotes (${missing[*]}) e não há sudo: rode este script como root." >&2
      exit 1
    fi
    as_root=(sudo)
  fi
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
mdbreader="$(cd "$(dirname "$0")/.." && pwd)/tests/support/mdbreader"
if [ ! -d "$mdbreader/node_modules/mdb-reader" ]; then
  npm install --prefix "$mdbreader" --no-audit --no-fund
fi
