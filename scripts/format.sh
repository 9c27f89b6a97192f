#!/usr/bin/env bash
# Lays out every C++ file of the repository with .clang-format; with --check, only says which
# files differ and fails (what CI runs).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/zide-format.$$; then
    grep -o '^[^:]*\.\(cpp\|h\)' /tmp/zide-format.$$ | sort -u | sed 's/^/fora do formato: /'
    rm -f /tmp/zide-format.$$
    echo "Rode scripts/format.sh para corrigir."
    exit 1
  fi
  rm -f /tmp/zide-format.$$
  echo "formatação: ${#files[@]} arquivos conferidos"
else
  clang-format -i "${files[@]}"
fi
