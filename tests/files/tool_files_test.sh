#!/bin/sh
# orvo-tool's file commands end to end: new, info, resave, export, import, mic, --set.
set -u
TOOL="$1"
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
cd "$DIR" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

"$TOOL" new x.mes || fail "new x.mes"
"$TOOL" new x.cfg || fail "new x.cfg"
[ "$(wc -c < x.mes)" -eq 331448 ] || fail "x.mes length"
[ "$(wc -c < x.cfg)" -eq 148068 ] || fail "x.cfg length"

"$TOOL" info x.mes > mes.json || fail "info x.mes"
grep -q '"markerPos":\[0,10000\]' mes.json || fail "markers in info"
grep -q '"overlayAxisIndex":-1' mes.json || fail "overlayAxisIndex in info"
grep -q '"slotOccupied":\[0,0,0,0,0\]' mes.json || fail "slots in info"
"$TOOL" info x.cfg > cfg.json || fail "info x.cfg"
grep -q '"kind":"configuration","bytes":148068' cfg.json || fail "cfg kind"
grep -q '{"name":"Waserfall (CSD)","x":31,"y":56,"z":33}' cfg.json || fail "axis set in info"

"$TOOL" resave x.mes y.mes && cmp -s x.mes y.mes || fail "resave mes"
"$TOOL" resave x.cfg y.cfg && cmp -s x.cfg y.cfg || fail "resave cfg"

# Wrong length: the loader's messages and the shell's on stderr, exit 1.
head -c 331447 x.mes > short.mes
"$TOOL" info short.mes > /dev/null 2> err.txt
[ $? -eq 1 ] || fail "wrong length exit status"
printf 'Fehler Messdaten Datei: evt. Messdatei von anderer ORVO Version \nFehler beim lesen der Datei\n' > want.txt
cmp -s err.txt want.txt || fail "wrong length messages: $(cat err.txt)"

# --set: known fields reach the file, unknown ones are usage errors.
"$TOOL" new s.cfg --set fftLength=4096 --set 'markerPos[1]=9000' --set addedMassG=12.5 || fail "new --set"
"$TOOL" info s.cfg | grep -q '"fftLength":4096' || fail "--set fftLength"
"$TOOL" info s.cfg | grep -q '"markerPos":\[0,9000\]' || fail "--set markerPos[1]"
"$TOOL" new t.cfg --set nosuchField=1 2> /dev/null
[ $? -eq 2 ] || fail "unknown field is a usage error"
"$TOOL" new t.cfg --set averages=1,5 2> /dev/null
[ $? -eq 2 ] || fail "bad number is a usage error"

# Exports of a fresh file: trailers stamped at start-up give 199 rows at 6.4 kHz, N 512.
"$TOOL" export amp x.mes x.amp --config x.cfg || fail "export amp"
[ "$(wc -c < x.amp)" -eq $((200 * 34)) ] || fail "amp export length"
"$TOOL" export tsp x.mes x.tsp || fail "export tsp"
[ "$(wc -c < x.tsp)" -eq 234 ] || fail "tsp length"
"$TOOL" export bogus x.mes x.txt 2> /dev/null
[ $? -eq 2 ] || fail "unknown export kind"

# Import of a version-1.33 file: markers 0/10000, slot 0 occupied, axis index -1.
head -c 263012 /dev/zero > old.mes
"$TOOL" import 1.33 old.mes new.mes || fail "import 1.33"
"$TOOL" info new.mes | grep -q '"slotOccupied":\[1,0,0,0,0\]' || fail "import slots"
"$TOOL" import 2.1 old.mes bad.mes 2> /dev/null
[ $? -eq 1 ] || fail "a 1.33 file is refused by the 2.1 importer"
[ ! -e bad.mes ] || fail "no file after a failed import"

# Microphone file into a configuration, summary on stdout.
printf '"Mikrofon"\r\n 20.0 1.5 -3.0\r\n 20000.0 -2.0 4.0\r\n' > m.mic
"$TOOL" mic m.mic m.cfg --config x.cfg > summary.txt || fail "mic"
grep -q '^Zeilen=2$' summary.txt || fail "mic summary"
[ "$(wc -c < m.cfg)" -eq 148068 ] || fail "mic cfg length"
echo "all tool file checks passed"
