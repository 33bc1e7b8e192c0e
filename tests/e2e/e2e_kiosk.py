#!/usr/bin/env python3
"""The installed program as a wall screen: --kiosk opens the display with the
stored symbol and no click; against a service that answers garbage it shows no
box, says why on standard error and keeps running; with no symbol stored the options
window stays; a bad command line opens no window."""
import os
import subprocess
import sys
import time

from harness import TITLE, StandInService, check, run, wait_until

WIDTH, HEIGHT = 1280, 1024
BOX_TITLE = "Vantorel Briskane Tallow Marquee"  # the application title of message boxes


def quote_drawn(session, name):
    shot = session.screenshot(name)
    return session.brightness(shot, 0, HEIGHT // 4, WIDTH, HEIGHT // 2) > 0.02 and shot


def scenario(session, args):
    program = session.install()
    config = session.user_config_folder()

    # The quote without a click: the installed program, pointed at the bundled
    # service through the user's own quote-service.ini.
    port = session.start_service()
    session.point_at(port, config)
    session.write_store({"Text1": "IBM", "Combo1": "1"})
    session.start_program("--kiosk", program=program)
    display = session.find_window("Form1", timeout=60)
    x, y, width, height = session.geometry(display)
    check((x, y, width, height) == (0, 0, WIDTH, HEIGHT), "the display covers the screen")
    wait_until(lambda: session.window_gone(TITLE), 20, "the options window to unload")
    wait_until(lambda: quote_drawn(session, "kiosk-display.png"), 20, "the quote to be drawn")
    requests = session.quote_requests()
    check(len(requests) == 2 and all("StockSymbol=IBM" in line for line in requests),
          f"the display asked the service for the stored symbol ({len(requests)} requests)")
    session.end_program()

    # A service answering garbage: no box covers the display; the report goes
    # to standard error and the display stays up, its clock running.
    garbage = StandInService(b"<<<garbage, not a quote", "text/xml")
    try:
        session.point_at(garbage.port, config)
        session.start_program("--kiosk", program=program)
        seen = []

        def settled():
            boxes = session.xdotool("search", "--onlyvisible", "--name",
                                    "^" + BOX_TITLE + "$").split()
            seen.extend(box for box in boxes if box not in seen)
            return len(garbage.requests) == 2 and not session.window_gone("Form1")
        wait_until(settled, 60, "the display to show")
        time.sleep(2)
        settled()
        check(not seen, f"no box over the display ({len(seen)})")
        check(session.program.poll() is None, "the program keeps running")
        session.screenshot("kiosk-after-garbage.png")
        output = session.end_program()
        check(output.count("tallow-marquee: Error reading XML API") == 2,
              "each failed request is reported on standard error")
    finally:
        garbage.close()

    # No symbol stored: the display button does nothing, the options window stays.
    session.write_store({"Text1": ""})
    session.start_program("--kiosk", program=program)
    session.find_window(TITLE, timeout=60)
    session.screenshot("kiosk-empty-symbol.png")
    check(session.window_gone("Form1"), "no display opens for an empty symbol")
    session.end_program()

    # A bad command line is refused before any window: it ends with status 2
    # even where there is no display to open one on.
    no_display = {k: v for k, v in session.env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    for arguments in (["--fullscreen"], ["--kiosk", "--kiosk"], ["IBM"]):
        result = subprocess.run([program, *arguments], env=no_display, capture_output=True,
                                text=True, timeout=60)
        check(result.returncode == 2 and result.stderr.count("Usage: tallow-marquee") == 1
              and not result.stdout, f"{' '.join(arguments)}: usage on stderr, exit status 2")


if __name__ == "__main__":
    sys.exit(run(scenario))
