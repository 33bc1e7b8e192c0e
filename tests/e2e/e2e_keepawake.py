#!/usr/bin/env python3
"""Keep-awake as the user sees it: with the option stored on, open the display
and touch nothing for 65 seconds; the desktop must not have gone idle for 59
seconds or more, because the display pressed Shift and reset the idle timer."""
import sys
import time

from harness import TITLE, check, run, twips_center, wait_until


def scenario(session, args):
    session.start_service()
    session.write_store({"Text1": "MSFT", "Combo1": "1", "Check4": "1"})
    session.start_program()
    options = session.find_window(TITLE)
    session.click(options, *twips_center(120, 120, 7800, 405))
    session.find_window("Form1", timeout=60)
    session.xdotool("mousemove", "0", "0")
    loaded = time.monotonic()

    # Without input the idle time grows; the first keep-awake tick comes 59 s
    # after the display loaded and brings it back near zero.
    wait_until(lambda: session.idle_ms() >= 10000, 30, "the idle time to grow")
    check(True, "with no input the X idle time grows")
    highest = 0
    while time.monotonic() - loaded < 65:
        highest = max(highest, session.idle_ms())
        time.sleep(0.5)
    idle = session.idle_ms()
    check(highest < 59000, f"the idle time never reached 59 s (highest {highest} ms)")
    check(idle < 10000, f"65 s after the display loaded the idle time is {idle} ms")
    check(session.program.poll() is None, "the program still runs")


if __name__ == "__main__":
    sys.exit(run(scenario))
