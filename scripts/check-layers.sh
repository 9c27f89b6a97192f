#!/usr/bin/env bash
# Fails when a product file includes a header against the direction of the layers (CONTRIBUTING.md,
# "Camadas"), listing file:line and the rule broken. The libraries catch some of these at link time
# only, and a header-only include slips through; this reads the #include lines themselves.
set -euo pipefail
cd "$(dirname "$0")/.."

# Qt's headers tell which module a <QClass> include comes from.
qtinc=$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || pkg-config --variable=includedir Qt6Core 2>/dev/null || true)
if [ ! -d "$qtinc/QtCore" ]; then
  echo "check-layers: cabeçalhos do Qt 6 não encontrados (qmake6 ou pkg-config Qt6Core)" >&2
  exit 2
fi

# Whether <header> belongs to Qt Widgets or Qt Gui (neither is linked below gui/).
is_widgets() {
  case $1 in
    QtWidgets | QtWidgets/* | QtGui | QtGui/*) return 0 ;;
    */*) return 1 ;;
  esac
  [ -e "$qtinc/QtWidgets/$1" ] || [ -e "$qtinc/QtGui/$1" ]
}

fails=0
seen=0
broken() {
  echo "$1: $2"
  fails=$((fails + 1))
}

while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  line=${rest%%:*}
  text=${rest#*:}
  where="$file:$line: ${text#"${text%%[![:space:]]*}"}"
  layer=${file%%/*}
  seen=$((seen + 1))
  if [[ $text =~ \#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
    header=${BASH_REMATCH[1]}
    target=${header%%/*}
    [ "$target" = "$header" ] && continue  # a file of the same folder or a generated one
    case $layer in
      base)
        [ "$target" = base ] || broken "$where" "base/ não inclui nada das outras pastas do produto" ;;
      access)
        [[ $target == base || $target == access ]] ||
          broken "$where" "access/ (zide_access) inclui só base/ e access/" ;;
      validation | net | registry | transmission)
        if [[ $target == gui || $target == app ]]; then
          broken "$where" "a lógica ($layer/) não inclui gui/ nem app/"
        elif [[ $layer == registry && $target == transmission ]]; then
          broken "$where" "registry/ não inclui transmission/ (transmission/ é que usa registry/)"
        fi ;;
      gui)
        [ "$target" = app ] && broken "$where" "gui/ não inclui app/ (a raiz de composição)" ;;
      tools)
        [[ $target == gui || $target == app ]] && broken "$where" "tools/ não inclui gui/ nem app/ (programas sem janelas)" ;;
    esac
  elif [[ $text =~ \#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
    header=${BASH_REMATCH[1]}
    case $layer in
      base | access | validation | net | registry | transmission | tools)
        if is_widgets "$header"; then broken "$where" "$layer/ não inclui Qt Widgets nem Qt Gui (só gui/ e app/)"; fi ;;
    esac
  fi
done < <(git grep --untracked -nE '^[[:space:]]*#[[:space:]]*include' -- \
  base validation net registry transmission access gui app tools | grep -E '^[^:]+\.(h|cpp):' || true)

if [ "$seen" -eq 0 ]; then
  echo "check-layers: nenhuma inclusão lida (git grep falhou?)" >&2
  exit 2
fi
if [ "$fails" -gt 0 ]; then
  echo "camadas: $fails inclusão(ões) contra a direção das camadas (veja CONTRIBUTING.md, \"Camadas\")"
  exit 1
fi
echo "camadas: $seen inclusões conferidas"
