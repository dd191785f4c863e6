#!/usr/bin/env python3
"""Streams from the camera board (a simulated one works the same), changes "ExposureTime"
through the VelaProp interface while frames flow, then pulls the board and prints what the
element reports: its two errors and the end of the stream.

    sim_board_walkthrough.py [UNPLUG_FILE]

UNPLUG_FILE: a file whose existence unplugs the simulated board (the one named by
KORSA_SIM_UNPLUG_FILE, which is the default); the script creates it to pull the board and
removes it at the end. Without one the script stops after the exposure change. Exit status 0
when everything happened as described."""
import os
import sys
import time

import gi

gi.require_version("Gst", "1.0")
gi.require_version("VelaProp", "1.0")
from gi.repository import GObject, Gst, VelaProp  # noqa: E402,F401


def main():
    unplug_file = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("KORSA_SIM_UNPLUG_FILE")
    Gst.init(None)
    pipeline = Gst.parse_launch("velakorsasrc name=src ! fakesink name=sink signal-handoffs=true")
    src = pipeline.get_by_name("src")
    frames = [0]
    pipeline.get_by_name("sink").connect("handoff", lambda *args: frames.__setitem__(0, frames[0] + 1))
    bus = pipeline.get_bus()
    if pipeline.set_state(Gst.State.PLAYING) == Gst.StateChangeReturn.FAILURE:
        msg = bus.pop_filtered(Gst.MessageType.ERROR)
        print("cannot start:", msg.parse_error()[0].message if msg else "?")
        return 1
    time.sleep(1)
    caps = src.get_static_pad("src").get_current_caps()
    print("streaming %s, serial %s, %d frames so far" % (caps.to_string(), src.get_property("serial"), frames[0]))

    before = src.get_vela_property("ExposureTime")[1]
    ok = src.set_vela_property("ExposureTime", GObject.Value(GObject.TYPE_DOUBLE, 5000.0))
    after = src.get_vela_property("ExposureTime")[1]
    print("ExposureTime %.1f us -> %.1f us (set: %s)" % (before, after, ok))
    counted = frames[0]
    time.sleep(0.5)
    print("still streaming: %d more frames" % (frames[0] - counted))
    status = 0 if ok and abs(after - 5000.0) < 50 and frames[0] > counted else 1

    if unplug_file:
        print("pulling the board (%s)" % unplug_file)
        open(unplug_file, "w").close()
        pulled = time.monotonic()
        errors = 0
        try:
            while True:
                msg = bus.timed_pop_filtered(10 * Gst.SECOND, Gst.MessageType.ERROR | Gst.MessageType.EOS)
                if msg is None:
                    print("no end of stream")
                    status = 1
                    break
                late = time.monotonic() - pulled
                if msg.type == Gst.MessageType.EOS:
                    print("end of stream after %.2f s" % late)
                    break
                err, _ = msg.parse_error()
                details = msg.parse_error_details()
                serial = details.get_string("serial") if details and details.has_field("serial") else None
                print("error after %.2f s: %s%s" % (late, err.message, ", serial=%s" % serial if serial else ""))
                errors += 1
        finally:
            os.remove(unplug_file)
        status = status if errors == 2 else 1
    pipeline.set_state(Gst.State.NULL)
    return status


if __name__ == "__main__":
    sys.exit(main())
