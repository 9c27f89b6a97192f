#!/usr/bin/env bash
# Builds the Debian package zide_<version>_<arch>.deb from a build folder:
#   scripts/package.sh [--no-build] [--no-lintian] [-o OUT_DIR] [BUILD_DIR]
# BUILD_DIR defaults to build/ (configured and built here unless --no-build); the package goes to
# OUT_DIR (default: BUILD_DIR). The version is the one of app/info.dip; the dependencies are computed
# from the binaries by dpkg-shlibdeps, plus the plugins they load at run time. No root rights needed:
# the files are owned by root inside the package all the same.
set -euo pipefail
umask 022
cd "$(dirname "$0")/.."
src=$PWD

build_it=1 lint=1 out=""
while [ $# -gt 0 ]; do
  case $1 in
    --no-build) build_it=0 ;;
    --no-lintian) lint=0 ;;
    -o) out=$2; shift ;;
    -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "package.sh: opção desconhecida: $1" >&2; exit 2 ;;
    *) build=$1 ;;
  esac
  shift
done
build=$(realpath -m "${build:-build}")
out=$(realpath -m "${out:-$build}")

for tool in dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "package.sh: falta $tool (scripts/install-deps.sh)" >&2; exit 1; }
done

version=$(tr -d '\r\n' <app/info.dip)
arch=$(dpkg --print-architecture)
if [ "$build_it" = 1 ]; then
  cmake -S . -B "$build" >/dev/null
  cmake --build "$build" --target zide zide-cli zide-sandbox fbexport zide_limpo zide_installfiles -j"$(nproc)"
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/root
DESTDIR=$root cmake --install "$build" --prefix /usr --strip >/dev/null

doc=$root/usr/share/doc/zide
mkdir -p "$doc"
cp packaging/debian/copyright "$doc/copyright"
gzip -9n -c packaging/debian/changelog >"$doc/changelog.gz"

# Modes as Debian wants them, whatever the umask of the build was.
find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$root"/usr/bin/* "$root"/usr/lib/zide/*

# Libraries from the binaries; the SQL driver and the Firebird engine are plugins loaded at run time.
mkdir -p "$stage/debian"
printf 'Source: zide\n\nPackage: zide\nArchitecture: any\n' >"$stage/debian/control"
bins=("$root"/usr/bin/* "$root"/usr/lib/zide/*)
shlibs=$(cd "$stage" && dpkg-shlibdeps -O "${bins[@]}" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "package.sh: dpkg-shlibdeps não encontrou as bibliotecas" >&2; exit 1; }
depends="$shlibs, libqt6sql6-sqlite, firebird3.0-server-core"

mkdir -p "$root/DEBIAN"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
    packaging/debian/control.in >"$root/DEBIAN/control"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

mkdir -p "$out"
deb=$out/zide_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"

if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --explain "$root"/usr/share/metainfo/*.xml >"$stage/appstream.log" 2>&1 ||
    { cat "$stage/appstream.log" >&2; echo "package.sh: metadados AppStream inválidos" >&2; exit 1; }
fi
if [ "$lint" = 1 ] && command -v lintian >/dev/null; then
  # Errors fail the package; warnings are shown.
  lintian --fail-on error --tag-display-limit 0 "$deb" >&2
fi
