#!/usr/bin/env python3
"""The installed program as an unattended wall screen (--kiosk) that recovers
by itself: started before its quote service, it shows the full quote once the
service comes up, without a box ever covering it; served a stale quote with a
notice, it shows the quote, a running clock and the notice."""
import os
import subprocess
import sys
import time

from harness import TITLE, StandInService, check, eventually, free_port, run, wait_until

WIDTH, HEIGHT = 1280, 1024
# The titles of the program's boxes: error reports and its other boxes.
BOXES = "^(Application Error|Vantorel Briskane Tallow Marquee)$"


# A full quote with a notice, as the bundled gateway answers while its
# provider fails.
NOTICE = "As of 14:30 UTC, finnhub unreachable"
STALE_QUOTE = ("<?xml version=\"1.0\"?><QuoteData><StockSymbol>IBM</StockSymbol>"
               "<LastTradeAmount>187.42</LastTradeAmount><StockChange>-0.38</StockChange>"
               "<ChangePercent>-0.20%</ChangePercent>"
               f"<Notice>{NOTICE}</Notice></QuoteData>").encode()


def text_rows(session, shot):
    """The number of separate bands of drawn text between the hint at the top
    and the notice at the bottom."""
    top, height = 60, HEIGHT - 120
    rows = subprocess.run(
        ["convert", shot, "-crop", f"{WIDTH}x{height}+0+{top}", "+repage", "-colorspace",
         "Gray", "-resize", f"1x{height}!", "-depth", "16", "txt:-"],
        capture_output=True, text=True, check=True).stdout.splitlines()[1:]
    bands, inside = 0, False
    for row in rows:
        bright = not row.rstrip().endswith("gray(0)")
        if bright and not inside:
            bands += 1
        inside = bright
    return bands


def scenario(session, args):
    program = session.install()
    config = session.user_config_folder()
    session.write_store({"Text1": "IBM", "Combo1": "1"})
    boxes = []

    def watch_boxes():
        found = session.xdotool("search", "--onlyvisible", "--name", BOXES).split()
        boxes.extend(box for box in found if box not in boxes)
        return found

    # The service starts 40 s after the display (a login race).
    port = free_port()
    session.point_at(port, config)
    started = time.monotonic()
    session.start_program("--kiosk", program=program)
    session.find_window("Form1", timeout=60)
    while time.monotonic() - started < 40:
        watch_boxes()
        time.sleep(0.2)
    session.screenshot("wall-before-service.png")
    service = subprocess.Popen([os.path.join(session.build, "tallow-quoted"), "--listen",
                                f"127.0.0.1:{port}"], stderr=subprocess.DEVNULL)
    session.processes.append(service)

    def full_quote():
        watch_boxes()
        shot = session.screenshot("wall-recovered.png")
        return text_rows(session, shot) >= 5 and shot
    shot = eventually(full_quote, 120 - (time.monotonic() - started))
    check(shot, f"the full quote is on screen {time.monotonic() - started:.0f} s after the start")
    time.sleep(1.2)
    later = session.screenshot("wall-recovered-later.png")
    check(open(shot, "rb").read() != open(later, "rb").read(), "the clock runs")
    watch_boxes()
    check(not boxes, f"no box was ever shown over the display ({len(boxes)})")
    output = session.end_program()
    check("tallow-marquee: " in output and "getStockQuote at line 100" in output,
          "the failed fetches are reported on standard error")

    # A gateway serving a stale quote while its provider fails.
    stale = StandInService(STALE_QUOTE)
    try:
        session.point_at(stale.port, config)
        session.start_program("--kiosk", program=program)
        session.find_window("Form1", timeout=60)

        def quote_with_notice():
            watch_boxes()
            shot = session.screenshot("wall-stale.png")
            notice = session.brightness(shot, 0, HEIGHT - 40, WIDTH // 2, 40)
            return text_rows(session, shot) >= 5 and notice > 0.01 and shot
        shot = wait_until(quote_with_notice, 30, "the quote and the notice")
        time.sleep(1.2)
        later = session.screenshot("wall-stale-later.png")
        check(open(shot, "rb").read() != open(later, "rb").read(), "the clock runs")
        check(not boxes, "no box over the display")
        session.end_program()
    finally:
        stale.close()


if __name__ == "__main__":
    sys.exit(run(scenario))
