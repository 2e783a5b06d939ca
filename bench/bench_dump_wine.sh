#!/usr/bin/env bash
# mirestal-cli dump of a 200,000-record roster: the Linux build beside the Windows build under
# wine. Usage: bench/bench_dump_wine.sh LINUX_CLI WINDOWS_CLI_EXE [RECORDS]
# The roster repeats the records of examples/roster.dbf; WINEPREFIX must be set up as
# scripts/test-windows.sh does.
set -euo pipefail
cd "$(dirname "$0")/.."
LINUX_CLI=$(realpath "$1")
WIN_CLI=$(realpath "$2")
RECORDS=${3:-200000}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
/usr/bin/python3 - "$WORK/roster.dbf" "$RECORDS" <<'PY'
import struct, sys
src = open("examples/roster.dbf", "rb").read()
count, header, length = struct.unpack_from("<IHH", src, 4)
rows = [src[header + i * length: header + (i + 1) * length] for i in range(count)]
n = int(sys.argv[2])
body = b"".join(rows[i % count] for i in range(n))
with open(sys.argv[1], "wb") as f:
    f.write(src[:4] + struct.pack("<I", n) + src[8:header] + body + b"\x1a")
PY
export WINEDEBUG=-all
PATH=/usr/lib/wine:$PATH
run() {
  local start end
  start=$(date +%s.%N)
  "$@" > "$WORK/out.txt"
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc) s, $(wc -l < "$WORK/out.txt") lines"
}
echo "records: $RECORDS"
echo "linux:   $(run "$LINUX_CLI" dump "$WORK/roster.dbf")"
cp "$WORK/out.txt" "$WORK/linux.txt"
wine64 "$WIN_CLI" info "$WORK/roster.dbf" > /dev/null  # wine warm
echo "wine:    $(run wine64 "$WIN_CLI" dump "$WORK/roster.dbf")"
# The same text apart from the line ends the C runtime writes on Windows.
if cmp -s <(tr -d '\r' < "$WORK/out.txt") "$WORK/linux.txt"; then
  echo "outputs: identical"
else
  echo "outputs: DIFFER"
fi
