#!/usr/bin/env bash
# Packages the current build (no rebuild), unpacks the package into a temporary root and uses it as a
# user whose home is a fresh folder: the version, a check without windows, the window program started
# and closed offscreen. The user's files must appear under that home, private to the user, and the
# unpacked tree must stay as it was.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FALHOU: $what"; fails=$((fails + 1)); fi
}

version=$(tr -d '\r\n' <"$src/app/info.dip")
"$src/scripts/package.sh" --no-build -o "$work/out" "$build" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; echo "FALHOU: scripts/package.sh"; exit 1; }
deb=$work/out/zide_${version}_$(dpkg --print-architecture).deb
check "pacote $(basename "$deb")" test -f "$deb"
check "sem erros do lintian" test -z "$(grep '^E: ' "$work/package.log" || true)"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6network6 libfbclient2 libmdb3 libssl3 libqt6sql6-sqlite firebird3.0-server-core; do
  check "depende de $lib" grep -qE "(^|, )$lib( |,|$)" <<<"$depends"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/zide ./usr/bin/zide-cli ./usr/bin/zide-sandbox ./usr/lib/zide/fbexport \
         ./usr/share/zide/info.dip ./usr/share/zide/zide_limpo.db ./usr/share/zide/diziz.ini \
         ./usr/share/applications/br.gov.mg.tavarel.zide.desktop \
         ./usr/share/metainfo/br.gov.mg.tavarel.zide.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/br.gov.mg.tavarel.zide.svg \
         ./usr/share/icons/hicolor/48x48/apps/br.gov.mg.tavarel.zide.png \
         ./usr/share/man/man1/zide-cli.1.gz ./usr/share/man/man1/zide-sandbox.1.gz \
         ./usr/share/doc/zide/copyright ./usr/share/doc/zide/changelog.gz; do
  check "no pacote: $f" grep -qxF "$f" <<<"$contents"
done

# Without maintainer scripts, installing, upgrading and removing the package only touch its own files.
dpkg-deb -e "$deb" "$work/control"
check "sem scripts de instalação ou remoção" test "$(ls "$work/control" | tr '\n' ' ')" = "control md5sums "

root=$work/root
dpkg-deb -x "$deb" "$root"
home=$work/home
mkdir -p "$home"
snapshot() { (cd "$root" && find . -printf '%p %M %s %T@\n' | sort); }
before=$(snapshot)

# A user with a fresh home and nothing of ours in the environment.
as_user=(env -u ZIDE_HOME -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME -u ZIDE_BIN -u ZIDE_CERTIFICADOS
         HOME="$home")
prints() {  # prints EXPECTED COMMAND...
  local want=$1
  shift
  [ "$("${as_user[@]}" "$@")" = "$want" ]
}
cd "$work"
check "zide-cli --version" prints "zide-cli $version" "$root/usr/bin/zide-cli" --version
check "zide --version" prints "zide $version" "$root/usr/bin/zide" --version
check "zide-cli validar" prints $'123.456.789-09\tválido' "$root/usr/bin/zide-cli" validar cpf 123.456.789-09
check "zide-cli validar recusa dígito errado" prints $'11.222.333/0001-80\tinválido' \
  "$root/usr/bin/zide-cli" validar cnpj 11.222.333/0001-80
check "zide abre e fecha sem tela" timeout 60 "${as_user[@]}" QT_QPA_PLATFORM=offscreen ZIDE_QUIT_WHEN_SHOWN=1 \
  "$root/usr/bin/zide"

data=$home/.local/share/zide
check "pasta de dados criada em ~/.local/share/zide" test -d "$data"
check "diziz.ini copiado do padrão instalado" cmp -s "$data/diziz.ini" "$root/usr/share/zide/diziz.ini"
loose=$(find "$home" -mindepth 1 \( -type d ! -perm 0700 -o -type f ! -perm 0600 \) -printf '%p %m\n')
check "tudo sob HOME só do usuário (0700/0600)${loose:+: $loose}" test -z "$loose"
after=$(snapshot)
check "nada escrito na árvore instalada" test "$before" = "$after"

# The export tool in the package reads a declaration (its engine comes from the dependencies).
export FIREBIRD_LOCK=$work/lock
mkdir -p "$FIREBIRD_LOCK" "$work/gdb"
"$build/bin/gdbfixture" "$work/gdb/ZIDE.GDB" --quiet --company 0011111110011 --references 1
"${as_user[@]}" "$root/usr/lib/zide/fbexport" -D "$work/gdb/ZIDE.GDB" -U SYSDBA -P x -Si -V TAB03003 -F "$work/gdb/out.txt" ||
  true
check "fbexport instalado exporta uma tabela" grep -q '^INSERT INTO' "$work/gdb/out.txt"

echo "pacote instalado: $fails falhas"
[ "$fails" = 0 ]
