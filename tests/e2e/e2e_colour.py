#!/usr/bin/env python3
"""The colour window as a user meets it: open it from the options window, pick
a colour in the real colour dialog and cancel another, close the window by its
close box and by its Close button, reset the colours, and see the store and
the visible windows follow each step."""
import re
import subprocess
import sys
import time

from harness import TITLE, check, eventually, run, twips_center, wait_until

OPTIONS_SIZE = (536, 363)
COLOURS_SIZE = (536, 117)
DIALOG = "Select Color"


def visible_sizes(session, title):
    """The sizes of the visible windows carrying `title`, by window id."""
    found = session.xdotool("search", "--onlyvisible", "--name", "^" + re.escape(title) + "$")
    return {window: session.geometry(window)[2:] for window in found.split()}


def single_window(session, size):
    """The one visible window with the product name when it is of `size`, else None."""
    windows = visible_sizes(session, TITLE)
    if list(windows.values()) == [size]:
        return next(iter(windows))
    return None


def only_window(session, size, what):
    """Waits until exactly one window with the product name is visible, of `size`."""
    return wait_until(lambda: single_window(session, size), 20, what)


def origin(session, window):
    """The window's client origin on the screen, as the X server reports it."""
    info = subprocess.run(["xwininfo", "-id", window], env=session.env, capture_output=True,
                          text=True, check=True).stdout
    x = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", info).group(1))
    y = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", info).group(1))
    return x, y


def swatch_brightness(session, colours, shot_name):
    """Mean brightness of the text and the background swatch."""
    x, y = origin(session, colours)
    shot = session.screenshot(shot_name)
    # Label1 at (240, 300) in Frame1 at (120, 120); Label2 likewise in Frame2 at (4080, 120).
    text = session.brightness(shot, x + 30, y + 34, 180, 12)
    background = session.brightness(shot, x + 294, y + 34, 180, 12)
    return text, background


def pick_in_dialog(session, accept):
    """Clicks the red basic colour in the colour dialog, then OK or Cancel."""
    dialog = session.find_window(DIALOG)
    _, _, width, height = session.geometry(dialog)
    time.sleep(0.5)
    session.click(dialog, 51, 114)  # "Basic colors", fourth row, second column: red
    time.sleep(0.3)
    if accept:
        session.click(dialog, width - 139, height - 24)
    else:
        session.click(dialog, width - 52, height - 24)
    wait_until(lambda: session.window_gone(DIALOG), 20, "the colour dialog to close")


def scenario(session, args):
    session.start_program()
    options = session.find_window(TITLE)
    wait_until(lambda: session.store().get("Text1") == "GOOG", 10, "start-up to finish")
    change_colour = twips_center(120, 4440, 7800, 405)
    reset_colours = twips_center(120, 4950, 7800, 405)
    text_swatch = twips_center(120 + 240, 120 + 300, 3300, 495)
    background_swatch = twips_center(4080 + 240, 120 + 300, 3300, 495)
    close_button = twips_center(120, 1230, 7800, 405)

    session.click(options, *change_colour)
    colours = eventually(lambda: single_window(session, COLOURS_SIZE), 20)
    check(colours, "Change Color hides the options window and shows the colour window")
    text, background = swatch_brightness(session, colours, "colour-window.png")
    check(text > 0.9 and background < 0.1,
          f"an empty store shows white on black ({text:.2f}, {background:.2f})")

    # A colour picked and then cancelled stores the swatch's colour as it was.
    session.click(colours, *text_swatch)
    pick_in_dialog(session, accept=False)
    check(eventually(lambda: session.store().get("Font Color") == "16777215", 10),
          "Cancel stores the swatch's own colour (white)")
    only_window(session, COLOURS_SIZE, "the colour window after the dialog")

    session.click(colours, *background_swatch)
    pick_in_dialog(session, accept=True)
    wait_until(lambda: session.store().get("Background Color") == "255", 10,
               "the background colour stored after OK")
    check(session.store().get("Font Color") == "16777215", "OK stores red (255) for the "
          "background and leaves the text colour")

    # The close box brings back the same options window; the program runs on.
    x, y = origin(session, colours)
    session.xdotool("mousemove", str(x + COLOURS_SIZE[0] - 12), str(y - 12))
    time.sleep(0.2)
    session.xdotool("click", "1")
    back = only_window(session, OPTIONS_SIZE, "the options window after the close box")
    check(back == options, "the close box brings back the same options window")
    check(session.program.poll() is None, "the program runs on")

    session.click(options, *reset_colours)
    wait_until(lambda: session.store().get("Background Color") == "0", 10, "the reset")
    check(session.store().get("Font Color") == "16777215",
          "Reset Color To Defaults stores white (16777215) on black (0)")
    only_window(session, OPTIONS_SIZE, "the options window to stay alone")

    session.click(options, *change_colour)
    colours = only_window(session, COLOURS_SIZE, "the colour window again")
    text, background = swatch_brightness(session, colours, "colour-window-reset.png")
    check(text > 0.9 and background < 0.1,
          f"the fresh colour window shows white on black ({text:.2f}, {background:.2f})")
    session.click(colours, *close_button)
    back = only_window(session, OPTIONS_SIZE, "the options window after Close")
    check(back == options, "Close brings back the same options window")

    session.close_window(TITLE)
    wait_until(lambda: session.program.poll() is not None, 20, "the program to end")
    check(session.program.returncode == 0, "closing the options window ends the program")


if __name__ == "__main__":
    sys.exit(run(scenario))
