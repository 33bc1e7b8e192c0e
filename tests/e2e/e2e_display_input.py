#!/usr/bin/env python3
"""The display's keys as a user with a Cyrillic keyboard meets them: the hide
word typed on the keys H, I, D, E while the Russian layout is active; then an
error box over the display, OK, and Escape still brings the options window
back without a click on the display first."""
import sys
import time

from harness import TITLE, check, eventually, run, twips_center, wait_until

WIDTH, HEIGHT = 1280, 1024
STORE = {"Text1": "IBM", "Combo1": "1", "Check1": "0", "Check4": "0"}


def open_display(session):
    options = session.find_window(TITLE)
    session.click(options, *twips_center(120, 120, 7800, 405))
    display = session.find_window("Form1", timeout=60)
    wait_until(lambda: session.window_gone(TITLE), 20, "the options window to unload")
    wait_until(lambda: session.active_window() == display, 10, "the display to take the focus")
    return display


def hint(session, name):
    return session.brightness(session.screenshot(name), 8, 8, 289, 33)


def scenario(session, args):
    session.start_service()
    session.write_store(STORE)

    # The Russian layout alone: no layout gives these keys a Latin letter,
    # their place on the keyboard does. The key codes are read while the US
    # layout still names them.
    keys = session.keycodes_of("h", "i", "d", "e")
    session.set_layouts("ru")
    session.start_program()
    open_display(session)
    wait_until(lambda: hint(session, "display-input-ru.png") > 0.02, 10, "the hint to show")
    session.press_keycodes(keys)
    time.sleep(0.8)
    check(hint(session, "display-input-ru-hidden.png") < 0.001,
          "the keys H, I, D, E hide the hint with the Russian layout alone")
    session.key("Escape")
    session.find_window(TITLE, timeout=20)
    session.close_window(TITLE)
    wait_until(lambda: session.program.poll() is not None, 20, "the program to end")

    # Russian first, so its letters are what the keys give; US second.
    session.set_layouts("ru", "us")
    session.start_program()
    display = open_display(session)
    wait_until(lambda: hint(session, "display-input.png") > 0.02, 10, "the hint to show")
    session.press_keys_of("h", "i", "d", "e")
    time.sleep(0.8)
    check(hint(session, "display-input-hidden.png") < 0.001,
          "the keys H, I, D, E hide the hint with the Russian layout active")

    # An alignment the tick cannot read: an error box over the display.
    session.write_store(dict(STORE, Combo1="centre"))
    box = session.find_window("Application Error", timeout=20)
    session.write_store(STORE)
    session.xdotool("windowactivate", "--sync", box)
    session.key("Return")
    wait_until(lambda: session.window_gone("Application Error"), 20, "the error box to close")
    check(eventually(lambda: session.active_window() == display, 10),
          "the display has the focus again after OK")
    session.key("Escape")
    check(eventually(lambda: not session.window_gone(TITLE), 20),
          "Escape right after the box brings the options window back")

    session.close_window(TITLE)
    wait_until(lambda: session.program.poll() is not None, 20, "the program to end")
    check(session.program.returncode == 0, "closing the options window ends the program")


if __name__ == "__main__":
    sys.exit(run(scenario))
