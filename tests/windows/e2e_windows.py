#!/usr/bin/env python3
"""The Windows installer end to end under Wine: install silently, start the
installed program, type a symbol and find it in the registry, open the
display with the quote from the installed service in sample mode and watch its
clock move, go back with Escape, then uninstall and find the program's files
gone and the user's settings kept; install again with the wall screen chosen
and start it as the log-on entry does."""
import argparse
import os
import socket
import subprocess
import sys
import threading

from winharness import (STORE_KEY, TITLE, check, eventually, free_port, run_scenario, twips_center,
                        wait_until)

PRODUCT_DIR = ("Program Files", "Tallow Marquee")


class Service:
    """The installed tallow-quoted.exe in sample mode on a port of its own."""

    def __init__(self, session, program):
        self.port = free_port()
        self.log = []
        self.process = session.start(program, "--listen", f"127.0.0.1:{self.port}",
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                     errors="replace")
        threading.Thread(target=self._read, daemon=True).start()
        wait_until(self._listening, 120, "the quote service to listen")

    def _read(self):
        for line in self.process.stderr:
            self.log.append(line.rstrip("\n"))

    def _listening(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                return True
        except OSError:
            return False


def scenario(session, installer, shots):
    check(os.path.exists(installer), f"the installer is there ({installer}; "
          "scripts/build-windows.sh makes it)")
    # Install silently into Program Files; the installer ends when it is done.
    result = session.run(session.windows_path(installer), "/S", timeout=600)
    check(result.returncode == 0, f"the installer ran silently ({result.returncode})")
    folder = session.drive_c(*PRODUCT_DIR)
    installed = sorted(os.path.relpath(os.path.join(root, name), folder)
                       for root, _, names in os.walk(folder) for name in names)
    for name in ("tallow-marquee.exe", "tallow-quoted.exe", "HAND-M.CUR", "Qt6Core.dll",
                 "platforms/qwindows.dll", "libstdc++-6.dll", "uninstall.exe"):
        check(name in installed, f"{name} is installed")
    check(not any(name.startswith("Qt6Test") for name in installed),
          "the test library is not installed")
    run_key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
    check(session.reg_value(run_key, "Tallow Marquee Quote Service") is not None,
          "the service starts at log-on")
    check(session.reg_value(run_key, "Tallow Marquee Wall Screen") is None,
          "the wall screen is not started at log-on unless chosen")

    service = Service(session, os.path.join(folder, "tallow-quoted.exe"))
    with open(os.path.join(folder, "quote-service.ini"), "w") as ini:
        ini.write(f"[QuoteService]\r\nHost=127.0.0.1:{service.port}\r\n")

    program = session.start(os.path.join(folder, "tallow-marquee.exe"))
    options = session.find_window(TITLE)
    check(eventually(lambda: session.reg_value(STORE_KEY, "Text1") == "GOOG", 60),
          "the options window stores the first symbol in the registry")

    # The symbol box has the focus with its text selected: typing replaces it.
    session.focus(options)
    session.type("IBM")
    check(eventually(lambda: session.reg_value(STORE_KEY, "Text1") == "IBM", 60),
          "the typed symbol lands in the registry")

    session.click(options, *twips_center(120, 120, 7800, 405))
    display = session.find_window("Form1", timeout=120)
    wait_until(lambda: session.window_gone(TITLE), 60, "the options window to unload")
    check(session.geometry(display) == (0, 0, session.width, session.height),
          "the display covers the screen")
    check(eventually(lambda: any("IBM" in line for line in service.log), 60),
          "the display asked the service for the symbol")

    # The quote is drawn, then the clock line changes on its own.
    middle = (0, session.height // 4, session.width, session.height // 2)

    def drawn():
        shot = session.screenshot(os.path.join(shots, "display.png"))
        pixels = session.region(shot, *middle)
        return pixels.count(0) < len(pixels) and pixels

    check(eventually(drawn, 60), "the quote is drawn")
    # The clock is the last line, below the middle: compare whole screens.
    first = session.region(session.screenshot(os.path.join(shots, "display.png")), 0, 0,
                           session.width, session.height)
    changes = []

    def clock_moved():
        shot = session.screenshot(os.path.join(shots, f"display-{len(changes)}.png"))
        pixels = session.region(shot, 0, 0, session.width, session.height)
        if pixels != (changes[-1] if changes else first):
            changes.append(pixels)
        return len(changes) >= 2

    check(eventually(clock_moved, 30), "the clock changes from second to second")

    session.focus(display)
    session.key("Escape")
    session.find_window(TITLE, timeout=60)
    check(program.poll() is None, "Escape returns to the options window")
    session.screenshot(os.path.join(shots, "options-after-display.png"))

    session.xdotool("search", "--name", "^" + TITLE + "$", "windowclose")
    session.run("taskkill", "/f", "/im", "tallow-marquee.exe", timeout=120)
    # Asked to end the way Windows asks (WM_CLOSE), the service ends cleanly.
    session.run("taskkill", "/im", "tallow-quoted.exe", timeout=120)
    wait_until(lambda: service.process.poll() is not None, 60, "the service to end")
    check(service.process.returncode == 0,
          f"taskkill ends the service cleanly ({service.process.returncode})")
    wait_until(lambda: program.poll() is not None, 60, "the program to end")
    os.remove(os.path.join(folder, "quote-service.ini"))

    # The uninstaller copies itself to the temporary folder and removes the
    # files from there after this first process has ended; wait for them to go.
    uninstaller = session.windows_path(os.path.join(folder, "uninstall.exe"))
    result = session.run(uninstaller, "/S", timeout=600)
    check(result.returncode == 0, f"the uninstaller ran silently ({result.returncode})")

    def files_left():
        return sorted(os.path.relpath(os.path.join(root, name), folder)
                      for root, _, names in os.walk(folder) for name in names)

    eventually(lambda: not files_left(), 120)
    check(not files_left(), f"the program's files are removed ({files_left()[:5]})")
    check(session.reg_value(run_key, "Tallow Marquee Quote Service") is None,
          "the log-on entry of the service is removed")
    check(session.reg_value(STORE_KEY, "Text1") == "IBM", "the user's settings are kept")

    # Installed again with the wall screen chosen: its log-on entry opens the
    # display with the stored symbol, and no options window.
    result = session.run(session.windows_path(installer), "/S", "/KIOSK", timeout=600)
    check(result.returncode == 0, f"the installer ran silently with /KIOSK ({result.returncode})")
    entry = session.reg_value(run_key, "Tallow Marquee Wall Screen") or ""
    check(entry.endswith('\\tallow-marquee.exe" --kiosk'),
          f"the wall screen starts at log-on when chosen ({entry})")
    wall = session.start(os.path.join(folder, "tallow-marquee.exe"), "--kiosk")
    session.find_window("Form1", timeout=120)
    check(eventually(lambda: session.window_gone(TITLE), 60),
          "--kiosk opens the display without a click")

    def clock_drawn():
        # Below the hint and above the notice: the clock, as no quote came.
        shot = session.screenshot(os.path.join(shots, "kiosk.png"))
        pixels = session.region(shot, 0, 60, session.width, session.height - 120)
        return pixels.count(0) < len(pixels)

    check(eventually(clock_drawn, 60), "the wall screen without its service shows the clock")
    session.run("taskkill", "/f", "/im", "tallow-marquee.exe", timeout=120)
    wait_until(lambda: wall.poll() is not None, 60, "the wall screen to end")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--installer", required=True)
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    os.makedirs(args.shots, exist_ok=True)
    return run_scenario(scenario, os.path.abspath(args.installer), os.path.abspath(args.shots),
                        shots=args.shots)


if __name__ == "__main__":
    sys.exit(main())
