#!/bin/sh
# orvo-tool on a sound card: the device list, a measurement on a private PulseAudio loop (null
# sink, captured from its monitor), a device that isn't there, and a server that isn't there.
# Without pulseaudio the test skips (exit 77), unless ORVO_REQUIRE_AUDIO=1.
set -u
TOOL="$1"
DIR=$(mktemp -d)
PID=""
cleanup() {
    [ -n "$PID" ] && kill "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
    rm -rf "$DIR"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() {
    if [ "${ORVO_REQUIRE_AUDIO:-0}" = 1 ]; then fail "$*"; fi
    echo "SKIP: $*"; exit 77
}

command -v pulseaudio >/dev/null && command -v pactl >/dev/null || skip "pulseaudio is not installed"
mkdir -p "$DIR/runtime" "$DIR/home" && chmod 700 "$DIR/runtime"
XDG_RUNTIME_DIR="$DIR/runtime" HOME="$DIR/home" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
    --use-pid-file=no --disable-shm=yes -L "module-native-protocol-unix auth-anonymous=1" \
    -L "module-null-sink sink_name=orvo_loop rate=48000 channels=2 format=float32le" \
    >"$DIR/pulse.log" 2>&1 &
PID=$!
export PULSE_SERVER="unix:$DIR/runtime/pulse/native" PULSE_SINK=orvo_loop PULSE_SOURCE=orvo_loop.monitor
i=0
until pactl info >/dev/null 2>&1; do
    i=$((i + 1)); [ $i -gt 100 ] && skip "pulseaudio did not start: $(cat "$DIR/pulse.log")"
    sleep 0.1
done

# The device list is JSON with the server's devices, and nothing else on the terminal.
"$TOOL" devices >"$DIR/devices.json" 2>"$DIR/devices.err" || fail "devices exited $?"
grep -q '"name": "pulse"' "$DIR/devices.json" || fail "no pulse device in: $(cat "$DIR/devices.json")"
[ -s "$DIR/devices.err" ] && fail "devices printed on stderr: $(cat "$DIR/devices.err")"

# A measurement on the loop with a timing channel: saved, nothing on stderr.
"$TOOL" measure response --port soundcard --sound-timing 2 --set measuringInput=1 \
    --set sampleRate=2 --set fftLength=4096 --out "$DIR/loop.mes" 2>"$DIR/loop.err" \
    || fail "measure on the loop exited $?: $(cat "$DIR/loop.err")"
[ -s "$DIR/loop.mes" ] || fail "no measurement file"
[ -s "$DIR/loop.err" ] && fail "measure printed on stderr: $(cat "$DIR/loop.err")"

# Without a timing reference the tool says so.
"$TOOL" measure response --port soundcard --set measuringInput=1 --out "$DIR/untimed.mes" \
    2>"$DIR/untimed.err" || fail "untimed measure exited $?"
grep -q "ohne Zeitreferenz" "$DIR/untimed.err" || fail "no 'ohne Zeitreferenz': $(cat "$DIR/untimed.err")"

# Through +20 dB the input is overloaded: exit 1, the message, and the file saved before is
# left as it was.
pactl load-module module-ladspa-sink sink_name=orvo_gain sink_master=orvo_loop plugin=amp \
    label=amp_mono control=10 >/dev/null || fail "the gain sink did not load"
cp "$DIR/loop.mes" "$DIR/before.mes"
PULSE_SINK=orvo_gain "$TOOL" measure response --port soundcard --sound-timing 2 \
    --set measuringInput=1 --set sampleRate=2 --set fftLength=4096 --out "$DIR/loop.mes" \
    2>"$DIR/over.err"
rc=$?
pactl unload-module module-ladspa-sink >/dev/null
[ $rc -eq 1 ] || fail "overloaded: exit status $rc, not 1: $(cat "$DIR/over.err")"
grep -q "Signal zu gro" "$DIR/over.err" || fail "no overload message: $(cat "$DIR/over.err")"
cmp -s "$DIR/loop.mes" "$DIR/before.mes" || fail "the overloaded capture replaced the file"

# A timing channel the loop doesn't have: exit 1 with the reason, no file.
"$TOOL" measure response --port soundcard --sound-timing 3 --set measuringInput=1 \
    --out "$DIR/t3.mes" 2>"$DIR/t3.err"
rc=$?
[ $rc -eq 1 ] || fail "timing channel 3: exit status $rc, not 1: $(cat "$DIR/t3.err")"
grep -q "Zeitreferenz-Kanal 3" "$DIR/t3.err" || fail "timing channel not named: $(cat "$DIR/t3.err")"
[ -e "$DIR/t3.mes" ] && fail "a file was saved although the timing channel is silent"

# A long averaged run (30 captures of 0.64 s) says how far it is and stops on a stop signal
# after the capture under way, with the shell's status for it, nothing saved. (SIGTERM: a
# shell without job control starts background commands with SIGINT ignored; the tool takes
# both alike.)
"$TOOL" measure response --port soundcard --sound-timing 2 --set measuringInput=1 \
    --set sampleRate=1 --set fftLength=4096 --set averages=30 --out "$DIR/long.mes" \
    2>"$DIR/long.err" &
LONG=$!
i=0
until grep -q "Mittelung" "$DIR/long.err"; do
    i=$((i + 1)); [ $i -gt 150 ] && fail "no progress after 15 s: $(cat "$DIR/long.err")"
    sleep 0.1
done
kill -TERM $LONG
started=$(date +%s)
wait $LONG
rc=$?
[ $rc -eq 143 ] || fail "SIGTERM during the averages: exit status $rc, not 143: $(cat "$DIR/long.err")"
[ $(( $(date +%s) - started )) -le 5 ] || fail "SIGTERM took more than 5 s to stop the run"
grep -q "Mittelung [0-9]* von 30" "$DIR/long.err" || fail "no progress: $(cat "$DIR/long.err")"
grep -q "nichts gespeichert" "$DIR/long.err" || fail "stop not said: $(cat "$DIR/long.err")"
[ -e "$DIR/long.mes" ] && fail "a file was saved although the run was stopped"

# A device that isn't there: exit 1, string 15 and the name on stderr, no file.
"$TOOL" measure response --port soundcard --sound-device "Gibt es nicht" \
    --out "$DIR/none.mes" 2>"$DIR/none.err"
[ $? -eq 1 ] || fail "missing device: exit status not 1"
grep -q "Hardware nicht vorhanden" "$DIR/none.err" || fail "no string 15: $(cat "$DIR/none.err")"
grep -q "Gibt es nicht" "$DIR/none.err" || fail "device not named: $(cat "$DIR/none.err")"
[ -e "$DIR/none.mes" ] && fail "a file was saved although the device is missing"

# Bad option values are usage errors.
"$TOOL" measure response --port soundcard --sound-inputs 1,2 --out "$DIR/x.mes" 2>/dev/null
[ $? -eq 2 ] || fail "--sound-inputs 1,2 is not a usage error"
"$TOOL" measure response --sound-timing 2 --out "$DIR/x.mes" 2>/dev/null
[ $? -eq 2 ] || fail "--sound-timing without --port soundcard is not a usage error"

# The server goes away: a clear message, exit 1, no hang.
kill "$PID"; wait "$PID" 2>/dev/null; PID=""
timeout 20 "$TOOL" measure response --port soundcard --out "$DIR/gone.mes" 2>"$DIR/gone.err"
rc=$?
[ $rc -eq 1 ] || fail "without a server: exit status $rc, not 1: $(cat "$DIR/gone.err")"
grep -q "Hardware nicht vorhanden\|Hardware Fehler" "$DIR/gone.err" || fail "no hardware message: $(cat "$DIR/gone.err")"
grep -q "ALSA lib\|jack\|Expression" "$DIR/gone.err" && fail "library diagnostics reached stderr: $(cat "$DIR/gone.err")"
echo ok
