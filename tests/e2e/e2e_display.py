#!/usr/bin/env python3
"""From the options window to the full-screen display and back, as a user does
it: type a symbol, click the display button, read the quote, type hide, press
Escape, and find the options window again with the symbol."""
import sys
import time

from harness import TITLE, check, run, twips_center, wait_until

WIDTH, HEIGHT = 1280, 1024


def scenario(session, args):
    session.start_service()
    session.write_store({"Combo1": "1"})  # "Center"
    session.start_program()
    options = session.find_window(TITLE)
    session.type("IBM")
    wait_until(lambda: session.store().get("Text1") == "IBM", 10, "the symbol stored")
    session.click(options, *twips_center(120, 120, 7800, 405))

    # The display takes the whole screen and the options window goes away.
    display = session.find_window("Form1", timeout=60)
    wait_until(lambda: session.window_gone(TITLE), 20, "the options window to unload")
    x, y, width, height = session.geometry(display)
    check((x, y, width, height) == (0, 0, WIDTH, HEIGHT),
          f"the display covers the screen ({x},{y} {width}x{height})")
    requests = session.quote_requests()
    check(len(requests) == 2, f"starting the display asks the service twice ({len(requests)})")
    check(all("StockSymbol=IBM" in line for line in requests), "both requests carry the symbol")

    # The first tick shows the quote and the clock within a second or two.
    def quote_drawn():
        shot = session.screenshot("display.png")
        return session.brightness(shot, 0, HEIGHT // 4, WIDTH, HEIGHT // 2) > 0.02 and shot
    shot = wait_until(quote_drawn, 10, "the quote to be drawn")
    hint = session.brightness(shot, 8, 8, 289, 33)
    check(hint > 0.02, f"the hint is shown in the top left corner ({hint:.3f})")
    notice = session.brightness(shot, 8, HEIGHT - 40, 289, 32)
    check(notice > 0.02, f"the service's notice is shown in the bottom left corner ({notice:.3f})")
    time.sleep(1.2)
    again = session.screenshot("display-later.png")
    check(open(shot, "rb").read() != open(again, "rb").read(), "the clock moves on")

    session.type("hide")
    time.sleep(0.8)
    hidden = session.screenshot("display-hidden-hint.png")
    check(session.brightness(hidden, 8, 8, 289, 33) < 0.001, "typing hide removes the hint")
    check(session.brightness(hidden, 8, HEIGHT - 40, 289, 32) > 0.02, "the notice stays")

    session.key("Escape")
    options = session.find_window(TITLE, timeout=20)
    check(session.store().get("Text1") == "IBM", "the fresh options window keeps the symbol")
    check(session.store().get("Check4") == "1", "the display switched keep-awake on at its load")
    time.sleep(0.5)
    session.screenshot("options-after-display.png")
    check(session.program.poll() is None, "the program still runs with the display hidden")

    session.close_window(TITLE)
    wait_until(lambda: session.program.poll() is not None, 20, "the program to end")
    check(session.program.returncode == 0, "closing the options window ends the program")


if __name__ == "__main__":
    sys.exit(run(scenario))
