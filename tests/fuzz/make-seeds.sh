#!/usr/bin/env bash
# Makes the seed corpora of the fuzz harnesses: small valid files written by orvo-tool on the
# simulated box, the older layouts rearranged from them, and hand-made edge files.
# Usage: tests/fuzz/make-seeds.sh [path/to/orvo-tool]   (default build/tool/orvo-tool)
set -euo pipefail
cd "$(dirname "$0")/../.."
tool=$(realpath "${1:-build/tool/orvo-tool}")
corpus=tests/fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

( cd "$work"
  "$tool" new empty.mes
  "$tool" new default.cfg
  "$tool" measure response --out response.mes
  "$tool" measure impedance --out impedance.mes
  "$tool" measure csd --set sampleRate=2 --out csd.mes
  "$tool" measure level --out level.mes
) >/dev/null

cp "$work"/{empty,response,impedance,csd,level}.mes "$corpus/mes/"
cp "$work/default.cfg" "$corpus/cfg/"

# The microphone seeds: the third-octave file with its title, tabs and LF line ends, no
# header, the edge cases of the row parser.
mic=$corpus/mic
{
  printf '"Kalibrierung Mikrofon 4711"\r\n'
  i=0
  for f in 20 25 31.5 40 50 63 80 100 125 160 200 250 315 400 500 630 800 1000 1250 1600 \
           2000 2500 3150 4000 5000 6300 8000 10000 12500 16000 20000; do
    printf ' %s %d.%d -%d\r\n' "$f" $((i / 10)) $((i % 10)) "$i"; i=$((i + 1))
  done
} > "$mic/thirds.mic"
printf '\n100\t1.5\t-3\n1000\t0.5\t2\n10000\t-2\t45\n' > "$mic/tabs-lf.mic"
printf ' 100.0 5.0 6.0\r\n' > "$mic/one-row.mic"
printf '"title only"\r\n' > "$mic/title-only.mic"
printf ' 1e3 nan inf\r\n 2e3 -inf 1e39\r\n 0x10 1,5 -\r\n' > "$mic/odd-numbers.mic"
printf ' 500 1\r\n 400 2 3 4 5\r\n\r\n\r\n 300\r\n' > "$mic/short-rows.mic"
"$tool" mic "$mic/thirds.mic" "$corpus/cfg/thirds.cfg" >/dev/null

# The older layouts carry the same blocks at other offsets (the importer's table); the
# seeds take them from the measured files.
python3 - "$corpus" "$work" <<'PY'
import sys
corpus, work = sys.argv[1], sys.argv[2]
CURVE, RECORD, LEVELS, CSD = 8200, 16392, 4 * 112, 3 * 65540
def older(mes, size, slots, phase, amp, occupied, imp, levels, csd, window):
    out = bytearray(size)
    out[0:20] = mes[0:20]
    out[20:20 + 2 * RECORD] = mes[20:20 + 2 * RECORD]
    out[phase:phase + slots * CURVE] = mes[32804:32804 + slots * CURVE]
    out[amp:amp + slots * CURVE] = mes[73804:73804 + slots * CURVE]
    if occupied:
        out[occupied:occupied + 20] = mes[114804:114824]
    out[imp:imp + 2 * CURVE] = mes[114836:114836 + 2 * CURVE]
    out[levels:levels + LEVELS] = mes[131236:131236 + LEVELS]
    out[csd:csd + CSD] = mes[131684:131684 + CSD]
    out[window:window + 25] = mes[328304:328329]
    return bytes(out)
for name in ("response", "csd"):
    mes = open(f"{work}/{name}.mes", "rb").read()
    open(f"{corpus}/import133/{name}.133", "wb").write(
        older(mes, 263012, 1, 32804, 41004, 0, 49204, 65604, 66052, 262672))
    open(f"{corpus}/import21/{name}.21", "wb").write(
        older(mes, 345048, 5, 32804, 73804, 131204, 131240, 147640, 148088, 344708))
# A microphone file longer than the 65536 bytes that are read, the limit inside a row.
rows = "".join(" %.1f 1.00 5.00\r\n" % (20 + 0.5 * k) for k in range(4000))
open(f"{corpus}/mic/cut-at-limit.mic", "w").write(rows[:65536 - 7] + " 1900.0 2.00 9.00\r\n" * 20)
# A measurement with distortion curves: the response file and a block after it (the layout
# of the README), a short record whose H3..H5 leave the band before the last point.
import struct, zlib
def curve(values):
    return struct.pack("<I", len(values)) + struct.pack("<%df" % len(values), *values)
hz = [500.0 * 2 ** (i / 12) for i in range(37)]
n = len(hz)
body = struct.pack("<ddddiI", 50.0, 8000.0, 0.5, 0.5, 48000, 1)
body += curve(hz) + curve([-0.1 * i for i in range(n)]) + curve([1.0 + 0.01 * i for i in range(n)])
for k in (2, 3, 4, 5):
    m = min(n, sum(1 for f in hz if k * f <= 8000.0))
    body += curve([-40.0 - 5 * k] * m)
for k in (2, 3, 4, 5):
    m = min(n, sum(1 for f in hz if k * f <= 8000.0))
    body += curve([-90.0] * m if k < 4 else [])
size = 8 + 4 + 4 + len(body) + 4
block = b"ORVOKLRF" + struct.pack("<II", 1, size) + body
block += struct.pack("<I", zlib.crc32(block))
open(f"{corpus}/mes/sweep.mes", "wb").write(open(f"{work}/response.mes", "rb").read() + block)
# Every byte 0xFF: NaN in every number, texts without their terminating NUL, codes of -1.
for folder, size in (("mes", 331448), ("cfg", 148068), ("import133", 263012),
                     ("import21", 345048)):
    open(f"{corpus}/{folder}/all-ff", "wb").write(b"\xff" * size)
PY
echo "seeds written to $corpus"
