#!/usr/bin/env bash
# Installs what is missing, builds, prepares the demonstration and runs the program against the bundled
# sandbox server. The demonstration folder (settings, local database, certificate store, sample files)
# is demo/ beside build/, or ZIDE_DEMO; the build folder is build/, or ZIDE_BUILD.
# Demonstration files are made only when missing: the accountant and companies a user registered in
# demo/diziz.db, and what the sandbox recorded, survive every restart.
# Root rights are used only to install missing packages (through sudo when called by an ordinary user);
# the build, the sandbox and the program run as the caller.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh
build=${ZIDE_BUILD:-$root/build}
cmake -S . -B "$build" >/dev/null
# Only what the demonstration runs; the whole suite is scripts/test.sh.
cmake --build "$build" --target zide zide-sandbox gdbfixture -j"$(nproc)"
bin=$build/bin
demo=${ZIDE_DEMO:-$root/demo}
files=$demo/arquivos
mkdir -p "$demo" "$files" "$demo/certificados"

# Demonstration values (docs/demonstracao.md).
year=$(date +%Y)
prev=$((year - 1))
working_year="$prev/$year"
accountant_cnpj=34.567.890/0001-30
accountant_digits=34567890000130
accountant_name="ESCRITORIO CONTABIL DEMONSTRACAO LTDA"
zide_ie=0623079040081 zide_key=DEMO1234 zide_cnpj=11.222.333/0001-81
simples_ie=0623079040162 simples_key=SIMP5678 simples_cnpj=11.444.777/0001-61
first_ref=$((year - 2))-11 ref_count=15   # 11/(year-2) to 01/year: two refused, then thirteen accepted
cert_file=$files/certificado-demo.pfx cert_password=demo
dasn=$files/DeclaracaoDASN-$prev.pdf extrato=$files/Extrato-$prev.pdf

# A one-page PDF (Helvetica, Windows-1252 text given with \xHH escapes), written object by object so the
# cross-reference table holds the real byte offsets. One "%%EOF", at the end.
make_pdf() {
  local out=$1 title=$2; shift 2
  local tmp=$out.tmp content="BT /F1 14 Tf 56 780 Td" line offsets=() i
  for line in "$@"; do content+=" ($line) Tj 0 -22 Td"; done
  content+=" ET"
  content=$(printf '%b' "$content")
  local length
  length=$(printf '%s' "$content" | wc -c)
  printf '%%PDF-1.4\n%%\xe2\xe3\xcf\xd3\n' >"$tmp"
  obj() { offsets+=("$(stat -c %s "$tmp")"); printf '%s\n' "$1" >>"$tmp"; }
  obj "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj"
  obj "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj"
  obj "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >> endobj"
  obj "4 0 obj << /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >> endobj"
  obj "5 0 obj << /Length $length >> stream"
  printf '%s\nendstream endobj\n' "$content" >>"$tmp"
  obj "$(printf '%b' "6 0 obj << /Title ($title) /Producer (ZIDE demonstra\\xe7\\xe3o) >> endobj")"
  local xref
  xref=$(stat -c %s "$tmp")
  { printf 'xref\n0 7\n0000000000 65535 f \n'
    for i in "${offsets[@]}"; do printf '%010d 00000 n \n' "$i"; done
    printf 'trailer << /Size 7 /Root 1 0 R /Info 6 0 R >>\nstartxref\n%s\n%%%%EOF\n' "$xref"
  } >>"$tmp"
  mv "$tmp" "$out"
}

# The ZIDE declaration, for the working years it was made for.
# The year it was made in is kept beside, out of the folder the transmission window lists.
if [ ! -f "$files/ZIDE.GDB" ] || [ "$(cat "$demo/ZIDE.GDB.ano" 2>/dev/null)" != "$year" ]; then
  "$bin/gdbfixture" "$files/ZIDE.GDB" --quiet --company "$zide_ie,${zide_cnpj//[.\/-]/},EMPRESA DEMONSTRACAO ZIDE LTDA" \
      --first "$first_ref" --references "$ref_count" --substitui N
  echo "$year" >"$demo/ZIDE.GDB.ano"
fi

# Simples Nacional: a declaration the sandbox accepts and an extract it refuses.
[ -f "$dasn" ] || make_pdf "$dasn" "Declara\\xe7\\xe3o Simples Nacional" \
    "Declara\\xe7\\xe3o Simples Nacional - Empresa Demonstra\\xe7\\xe3o - 10/$prev" \
    "CNPJ $simples_cnpj - arquivo de demonstra\\xe7\\xe3o do ZIDE"
[ -f "$extrato" ] || make_pdf "$extrato" "Extrato do Simples Nacional" \
    "EXTRATO do Simples Nacional - PGDAS-D - Empresa Demonstra\\xe7\\xe3o - 10/$prev" \
    "CNPJ $simples_cnpj - arquivo de demonstra\\xe7\\xe3o do ZIDE"

# The accountant's e-CNPJ (A1 file): issued by a demonstration authority, valid from yesterday for two
# years, the CNPJ digits in the name as the program looks for them, and a CRL distribution point.
# Made again once it is about to expire.
cert_valid() {
  [ -f "$cert_file" ] &&
    openssl pkcs12 -in "$cert_file" -passin "pass:$cert_password" -nokeys -clcerts 2>/dev/null |
      openssl x509 -noout -checkend 86400 >/dev/null 2>&1
}
if ! cert_valid; then
  ca=$(mktemp -d)
  mkdir "$ca/novos"
  : >"$ca/index.txt"
  echo 01 >"$ca/serial"
  cat >"$ca/ca.cnf" <<EOF
[req]
distinguished_name = dn
[dn]
[ca]
default_ca = demo
[demo]
dir = $ca
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir/novos
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
countryName = optional
organizationName = optional
organizationalUnitName = optional
commonName = supplied
[ac]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ecnpj]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment
extendedKeyUsage = clientAuth, emailProtection
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:http://127.0.0.1/demo.crl
subjectAltName = otherName:2.16.76.1.3.3;UTF8:$accountant_digits
EOF
  start=$(date -u -d 'yesterday' +%y%m%d%H%M%SZ)
  end=$(date -u -d 'yesterday + 2 years' +%y%m%d%H%M%SZ)
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/ac.key" -out "$ca/ac.pem" -days 3650 \
      -subj "/C=BR/O=ICP-Brasil/OU=Demonstracao/CN=AC DEMONSTRACAO ZIDE" \
      -config "$ca/ca.cnf" -extensions ac 2>/dev/null
  openssl req -new -newkey rsa:2048 -nodes -keyout "$ca/ecnpj.key" -out "$ca/ecnpj.csr" \
      -subj "/C=BR/O=ICP-Brasil/OU=Certificado PJ A1/CN=$accountant_name:$accountant_digits" 2>/dev/null
  openssl ca -batch -config "$ca/ca.cnf" -cert "$ca/ac.pem" -keyfile "$ca/ac.key" -in "$ca/ecnpj.csr" \
      -out "$ca/ecnpj.pem" -startdate "$start" -enddate "$end" -extensions ecnpj -notext 2>/dev/null
  openssl pkcs12 -export -inkey "$ca/ecnpj.key" -in "$ca/ecnpj.pem" -certfile "$ca/ac.pem" \
      -name "$accountant_name:$accountant_digits" -out "$cert_file" -passout "pass:$cert_password"
  rm -rf "$ca"
fi

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

cat <<EOF

== Demonstração (detalhes em docs/demonstracao.md) ==
Contador a cadastrar (Contribuinte > Contador): CNPJ $accountant_cnpj, Escritório Contábil Demonstração Ltda
Empresa ZIDE:    IE $zide_ie  CNPJ $zide_cnpj  chave $zide_key
Empresa Simples: IE $simples_ie  CNPJ $simples_cnpj  chave $simples_key (optante do Simples Nacional)
Ano de trabalho do servidor: $working_year
Certificado e-CNPJ do contador: $cert_file  senha: $cert_password
Declarações em $files:
  ZIDE.GDB (referências de 11/$((year - 2)) a 01/$year; aceitas as de $prev e $year)
  $(basename "$dasn") (aceita, referência 10/$prev) e $(basename "$extrato") (recusada: ARQUIVO INVALIDO - EXTRATO)

EOF

# Port 80 first: the receipt address the program opens in the browser names the host without a
# port, so only there does "Imprimir Protocolo" reach the sandbox. Any free port otherwise.
port=""
for try_port in 80 0; do
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$bin/zide-sandbox" --porta "$try_port" --dados "$demo/sandbox.db" --ano-trabalho "$working_year" \
      --contribuinte "$zide_ie:$zide_key:$zide_cnpj" \
      --contribuinte "$simples_ie:$simples_key:$simples_cnpj:S" \
      >"$fifo" 2>>"$demo/sandbox.log" &
  pid=$!
  if read -r _ port <"$fifo"; then
    pids+=("$pid")
    rm -f "$fifo"
    break
  fi
  rm -f "$fifo"
  port=""
done
if [ -z "$port" ]; then
  echo "O servidor de demonstração não iniciou: veja $demo/sandbox.log" >&2
  exit 1
fi
echo "Servidor de demonstração em 127.0.0.1:$port (registro: $demo/sandbox.log)"
if [ "$port" != 80 ]; then
  echo "A porta 80 está ocupada: o protocolo aberto no navegador (Imprimir Protocolo) não chegará ao servidor de demonstração."
fi
printf '[servidor]\r\nhost=127.0.0.1\r\nport=%s\r\n' "$port" >"$demo/diziz.ini"

export ZIDE_HOME=$demo ZIDE_CERTIFICADOS=$demo/certificados
# A real display when there is one; otherwise a virtual one.
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$bin/zide"
else
  echo "Sem tela disponível: usando xvfb-run."
  xvfb-run -a -s "-screen 0 1280x800x24" "$bin/zide"
fi
