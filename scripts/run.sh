#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program against the bundled sandbox server.
# The demonstration folder (settings, local database, sample files) is demo/ beside build/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh
scripts/build.sh build
bin=$root/build/bin
demo=${ZIDE_DEMO:-$root/demo}
mkdir -p "$demo"

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

port=""
if [ -x "$bin/zide-sandbox" ]; then
  fifo=$(mktemp -u); mkfifo "$fifo"
  "$bin/zide-sandbox" --porta 0 --dados "$demo/sandbox.db" \
      --contribuinte 0623079040081:DEMO1234:11.222.333/0001-81 \
      --contribuinte 0623079040165:SIMP5678:11.444.777/0001-61:S \
      >"$fifo" 2>"$demo/sandbox.log" &
  pids+=($!)
  read -r _ port <"$fifo"
  rm -f "$fifo"
  echo "Servidor de demonstração em 127.0.0.1:$port (registro: $demo/sandbox.log)"
fi
printf '[servidor]\r\nhost=127.0.0.1\r\nport=%s\r\n' "$port" >"$demo/diziz.ini"

# A real display when there is one; otherwise a virtual one.
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  ZIDE_HOME=$demo "$bin/zide"
else
  echo "Sem tela disponível: usando xvfb-run."
  ZIDE_HOME=$demo xvfb-run -a -s "-screen 0 1280x800x24" "$bin/zide"
fi
