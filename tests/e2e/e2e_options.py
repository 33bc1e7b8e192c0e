#!/usr/bin/env python3
"""The options window as a new user meets it: start with an empty store, type a
symbol with real key events, see the store follow, close the window and see
the program end by itself."""
import sys
import time

from harness import TITLE, check, eventually, run, twips_center, wait_until


def scenario(session, args):
    session.start_program()
    window = session.find_window(TITLE)
    x, y, width, height = session.geometry(window)
    check((width, height) == (536, 363), f"the options window is 536x363 ({width}x{height})")
    screen_w, screen_h = 1280, 1024
    check(abs(x + width / 2 - screen_w / 2) <= 2 and abs(y + height / 2 - screen_h / 2) <= 40,
          f"the options window is centred ({x},{y})")

    wait_until(lambda: session.store().get("Text1") == "GOOG", 10, "Text1 stored at start-up")
    store = session.store()
    check(store.get("Combo1") == "0", "start-up stores Combo1 = 0")
    check("Check1" not in store and "Check4" not in store, "the option boxes are not stored yet")
    time.sleep(0.5)
    session.screenshot("options-window.png")

    # The symbol box has the focus with its text selected: typing replaces it.
    session.type("msft")
    check(eventually(lambda: session.store().get("Text1") == "msft", 10),
          "every keystroke reaches the store while the program runs")

    # Frame1 holds Check4 at (240, 300) twips within the frame at (120, 1425).
    cx, cy = twips_center(120 + 240, 1425 + 300, 2000, 255)
    session.click(window, cx - 60, cy)
    check(eventually(lambda: session.store().get("Check4") == "1", 10),
          "ticking the keep-awake box stores 1")

    session.close_window(TITLE)
    code = wait_until(lambda: session.program.poll() is not None, 20, "the program to end")
    check(session.program.returncode == 0, f"the program ended by itself with code 0 ({code})")


if __name__ == "__main__":
    sys.exit(run(scenario))
