#!/bin/sh
# Overlay slots through orvo-tool: measure and analyze keep the older curves only while the
# amplitude view's frequency axis stays the same (512/1024 share one, 2048/4096 another).
set -e
TOOL="$1"
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
cd "$DIR"

slots() {
    "$TOOL" info "$1" | sed -n 's/.*"slotOccupied":\(\[[0-9,]*\]\).*/\1/p'
}
expect() {
    got=$(slots "$1")
    if [ "$got" != "$2" ]; then
        echo "$1: slotOccupied $got, expected $2" >&2
        exit 1
    fi
}
run() {
    "$TOOL" "$@" --set measuringInput=4 --set sampleRate=1 2>/dev/null
}

run measure response --set fftLength=1024 --out a.mes
expect a.mes "[1,0,0,0,0]"
run measure response --in a.mes --set fftLength=512 --out b.mes
expect b.mes "[1,1,0,0,0]"
run measure response --in b.mes --set fftLength=4096 --out c.mes
expect c.mes "[1,0,0,0,0]"

# analyze finishes like the amplitude/phase run.
"$TOOL" analyze response c.mes d.mes --set fftLength=2048 2>/dev/null
expect d.mes "[1,1,0,0,0]"
"$TOOL" analyze response d.mes e.mes --set fftLength=1024 2>/dev/null
expect e.mes "[1,0,0,0,0]"
echo ok
