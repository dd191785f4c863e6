#!/usr/bin/env bash
# The simulated board as the stock i2c-tools see it: i2cdetect, i2cget, i2cset, i2cdump and
# i2ctransfer run unchanged against an IMX290 board on a direct connection (bus 10) and get
# what a Pi's kernel would give them. Each tool is a process of its own, with the board in
# its power-on state.
# Environment: PLUGIN_DIR, WORK_DIR, BUILD_DIR, KORSA_PRELOAD (sanitizer runtimes).
set -euo pipefail
source "$(dirname "$0")/gst_env.sh"
: "${BUILD_DIR:?}"

for tool in i2cdetect i2cget i2cset i2cdump i2ctransfer; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool missing (scripts/install-deps.sh installs i2c-tools)" >&2
        exit 1
    fi
done
sim_lib="$BUILD_DIR/sim/board/libkorsa_board_sim.so"
test -f "$sim_lib"
export KORSA_SIM_BOARD
KORSA_SIM_BOARD="$(cd "$(dirname "$0")/../../sim/board/boards" && pwd)/imx290-direct.board"

# Runs a tool with the simulator preloaded; its output goes to $WORK_DIR/<name>.out.
run() {
    local name="$1"
    shift
    KORSA_PRELOAD="${KORSA_PRELOAD:+$KORSA_PRELOAD:}$sim_lib" gst_tool "$@" \
        >"$WORK_DIR/$name.out" 2>&1
}

# Expects a tool to fail and say so.
run_fails() {
    local name="$1"
    shift
    if run "$name" "$@"; then
        echo "FAIL: '$*' succeeded:" >&2
        cat "$WORK_DIR/$name.out" >&2
        exit 1
    fi
}

# The chips of the board answer, nothing else does.
run detect i2cdetect -y 10
expect_in "$WORK_DIR/detect.out" "10: -- -- -- -- -- -- -- -- -- -- 1a -- -- -- -- -- "
expect_in "$WORK_DIR/detect.out" "40: -- -- -- 43 -- -- -- -- -- -- -- -- -- -- -- -- "
expect_in "$WORK_DIR/detect.out" "50: 50 -- -- -- -- -- -- 57 -- -- -- -- -- -- -- -- "
expect_in "$WORK_DIR/detect.out" "70: 70 -- -- -- -- -- -- --"

# The functionality of the Pi's controller with the kernel's SMBus emulation.
run funcs i2cdetect -F 10
for line in "I2C                              yes" "SMBus Send Byte                  yes" \
    "SMBus Process Call               yes" "SMBus Block Write                yes" \
    "SMBus Block Read                 no" "SMBus PEC                        yes" \
    "I2C Block Read                   yes"; do
    expect_in "$WORK_DIR/funcs.out" "$line"
done

# Byte and word reads of the product-id EEPROM (0x57): marker 0xCC, then "QEL-F-IMX290-1".
run get_byte i2cget -y 10 0x57 0x14
expect_in "$WORK_DIR/get_byte.out" "0xcc"
run get_word i2cget -y 10 0x57 0x14 w
expect_in "$WORK_DIR/get_word.out" "0x51cc"

# Writes: byte data with read-back, and send byte (no data).
run set_byte i2cset -y -r 10 0x57 0x40 0x5a
expect_in "$WORK_DIR/set_byte.out" "Value 0x5a written, readback matched"
run set_word i2cset -y -r 10 0x57 0x40 0x1234 w
expect_in "$WORK_DIR/set_word.out" "Value 0x1234 written, readback matched"
run send_byte i2cset -y 10 0x57 0x14

# Dumps: consecutive bytes (send byte, then receive byte) and 32-byte I2C block reads.
for mode in c i b; do
    run "dump_$mode" i2cdump -y 10 0x57 "$mode"
    expect_in "$WORK_DIR/dump_$mode.out" "10: ff ff ff ff cc 51 45 4c 2d 46 2d 49 4d 58 32 39"
    expect_in "$WORK_DIR/dump_$mode.out" "20: 30 2d 31 00"
done

# The identification EEPROM (0x50) has 16-bit addresses: a combined transfer writes the
# address and reads the serial after a repeated start.
run serial i2ctransfer -y 10 w2@0x50 0x00 0x08 r8
expect_in "$WORK_DIR/serial.out" "0x34 0x30 0x31 0x31 0x30 0x30 0x30 0x30"
# Write, then read back in the same transfer.
run write_read i2ctransfer -y 10 w2@0x57 0x40 0x77 w1@0x57 0x40 r1
expect_in "$WORK_DIR/write_read.out" "0x77"

# Refusals as on a Pi: no chip at 0x11, and a read before the last message.
run_fails absent i2cget -y 10 0x11 0x00
expect_in "$WORK_DIR/absent.out" "Read failed"
run_fails read_first i2ctransfer -y 10 r1@0x57 w1@0x57 0x00
expect_in "$WORK_DIR/read_first.out" "Operation not supported"
echo PASS
