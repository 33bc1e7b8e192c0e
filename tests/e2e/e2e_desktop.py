#!/usr/bin/env python3
"""The display on a desktop with a panel and two monitors: it covers the whole
monitor, panel included; it opens on the monitor the options window is on, and
the options window comes back there after Escape; --screen picks the monitor at
start, and an unknown name says which names there are. Qt's own options are
taken, ours still refused."""
import os
import subprocess
import sys
import time

from harness import PANEL_COLOUR, TITLE, check, run, twips_center, wait_until

MONITORS = [("LEFT", 0, 0, 1280, 1024), ("RIGHT", 1280, 0, 1280, 1024)]
STORE = {"Text1": "IBM", "Combo1": "1", "Check1": "0", "Check4": "0"}


def monitor_of(session, window):
    """The monitor holding the centre of the window."""
    x, y, width, height = session.geometry(window)
    centre_x, centre_y = x + width // 2, y + height // 2
    for monitor in MONITORS:
        name, left, top, w, h = monitor
        if left <= centre_x < left + w and top <= centre_y < top + h:
            return monitor
    raise AssertionError(f"window at {x},{y} is on no monitor")


def panel_spot(monitor):
    """A pixel inside the panel strip at the bottom of the monitor, clear of its buttons."""
    _, left, top, width, height = monitor
    return left + width - 6, top + height - 6


def open_display(session):
    options = session.find_window(TITLE)
    session.click(options, *twips_center(120, 120, 7800, 405))
    display = session.find_window("Form1", timeout=60)
    wait_until(lambda: session.window_gone(TITLE), 20, "the options window to unload")
    return display


def scenario(session, args):
    session.start_service()
    session.write_store(STORE)
    session.start_program()
    options = session.find_window(TITLE)
    first = monitor_of(session, options)
    other = MONITORS[1] if first == MONITORS[0] else MONITORS[0]
    shot = session.screenshot("desktop-options.png")
    check(session.pixel(shot, *panel_spot(other)) == PANEL_COLOUR,
          "the panel shows at the bottom of each monitor")

    # The user drags the options window to the other monitor and opens the
    # display there: it covers that monitor, panel included.
    session.xdotool("windowmove", "--sync", options, str(other[1] + 200), str(other[2] + 200))
    wait_until(lambda: monitor_of(session, options) == other, 10,
               "the options window to move to " + other[0])

    # The colour window opens there too, in place of the options window.
    session.click(options, *twips_center(120, 4440, 7800, 405))
    colours = wait_until(lambda: [w for w in session.xdotool(
        "search", "--onlyvisible", "--name", "^" + TITLE + "$").split() if w != options], 20,
        "the colour window")[0]
    check(monitor_of(session, colours) == other, f"the colour window opens on {other[0]}")
    session.click(colours, *twips_center(120, 1230, 7800, 405))
    wait_until(lambda: session.find_window(TITLE) == options, 20, "the options window back")

    display = open_display(session)
    geometry = session.geometry(display)
    check(geometry == other[1:], f"the display covers all of {other[0]} ({geometry})")
    wait_until(lambda: session.active_window() == display, 10, "the display to take the focus")
    shot = session.screenshot("desktop-display.png")
    check(session.pixel(shot, *panel_spot(other)) == "#000000",
          "the display covers the panel of its monitor")
    check(session.pixel(shot, *panel_spot(first)) == PANEL_COLOUR,
          "the other monitor keeps its panel")
    session.type("hide")
    time.sleep(0.8)
    check(session.brightness(session.screenshot("desktop-hidden-hint.png"),
                             other[1] + 8, other[2] + 8, 289, 33) < 0.001,
          "typing hide over the panel's place still removes the hint")

    session.key("Escape")
    options = session.find_window(TITLE, timeout=20)
    check(monitor_of(session, options) == other,
          f"Escape brings the options window back on {other[0]}")

    # The display, loaded and hidden, follows the options window back.
    session.xdotool("windowmove", "--sync", options, str(first[1] + 100), str(first[2] + 100))
    wait_until(lambda: monitor_of(session, options) == first, 10,
               "the options window to move to " + first[0])
    geometry = session.geometry(open_display(session))
    check(geometry == first[1:], f"the display opens again on {first[0]} ({geometry})")
    session.end_program()

    # --screen names the monitor of an unattended screen.
    session.start_program("--screen", other[0])
    check(monitor_of(session, session.find_window(TITLE)) == other,
          f"--screen {other[0]} opens the options window there")
    check(session.geometry(open_display(session)) == other[1:],
          f"and the display covers {other[0]}")
    session.end_program()

    session.start_program("--screen", "NOWHERE")
    options = session.find_window(TITLE)
    check(monitor_of(session, options) == first,
          f"an unknown screen name opens on the primary monitor, {first[0]}, as no name does")
    session.close_window(TITLE)
    wait_until(lambda: session.program.poll() is not None, 20, "the program to end")
    said = session.program.stdout.read()
    check("NOWHERE" in said and all(name in said for name, *_ in MONITORS),
          f"an unknown screen name is reported with the names there are ({said.strip()!r})")

    # Qt's own options are taken: offscreen, with no X display at all, the
    # program starts (its start-up writes the first-run values to the store).
    os.remove(session.store_path())
    no_display = {k: v for k, v in session.env.items() if k not in ("DISPLAY", "QT_QPA_PLATFORM")}
    program = os.path.join(session.app_dir, "tallow-marquee")
    offscreen = subprocess.Popen([program, "-platform", "offscreen", "-style", "fusion"],
                                 env=no_display, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
    session.processes.append(offscreen)
    # Combo1 is the last value start-up writes.
    wait_until(lambda: session.store().get("Combo1") == "0" or offscreen.poll() is not None,
               30, "the offscreen program to start")
    check(offscreen.poll() is None and session.store().get("Text1") == "GOOG",
          "-platform offscreen -style fusion starts the program")
    offscreen.terminate()
    offscreen.wait(10)
    for arguments in (["--bogus"], ["-platform"]):
        result = subprocess.run([program, *arguments], env=no_display, capture_output=True,
                                text=True, timeout=60)
        check(result.returncode == 2 and "Usage: tallow-marquee" in result.stderr,
              f"{' '.join(arguments)}: refused with status 2")


if __name__ == "__main__":
    sys.exit(run(scenario, width=2560, height=1024, monitors=MONITORS, panel=True))
