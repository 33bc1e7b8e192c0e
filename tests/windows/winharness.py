"""Runs Windows programs under Wine on a private X display.

Each WineSession owns an Xvfb display with openbox and a fresh Wine prefix in
a temporary folder, so a run never touches the user's Wine prefix, registry
or display. Everything waits by polling for what it needs, never by fixed
sleeps.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

# The checks and waits are those of the Linux end-to-end tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import (TITLE, Failure, XWindows, check, eventually, free_port,  # noqa: E402,F401
                     start_xvfb, twips_center, wait_until)

STORE_KEY = ("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Halvex\\" + TITLE)
SKIP = 77


def wine_missing(display=True):
    for tool in ("wine", "wineserver") + (("Xvfb", "openbox", "xdotool") if display else ()):
        if not shutil.which(tool):
            return tool
    return None


def run_scenario(scenario, *arguments, display=True, shots=None):
    """Runs scenario(session, *arguments) in a fresh WineSession and turns the
    result into an exit code: SKIP when Wine or the display tools are missing,
    1 on a failed check (with a screenshot into `shots`)."""
    missing = wine_missing(display)
    if missing:
        print(f"skipped: {missing} is not installed (scripts/ensure-packages.sh windows)")
        return SKIP
    session = WineSession(display=display)
    try:
        scenario(session, *arguments)
    except Failure as failure:
        print("FAILED -", failure, flush=True)
        if shots:
            try:
                print("screenshot:", session.screenshot(os.path.join(shots, "failure.png")))
            except Exception:  # noqa: BLE001 - the failure above is what matters
                pass
        return 1
    finally:
        session.close()
    return 0


class WineSession(XWindows):
    window_timeout = 120  # Wine's first windows take a while in a fresh prefix

    def __init__(self, width=1280, height=1024, display=True):
        self.tmp = tempfile.mkdtemp(prefix="tallow-wine-")
        self.prefix = os.path.join(self.tmp, "prefix")
        self.processes = []
        self.width, self.height = width, height
        self.env = dict(os.environ, DISPLAY="")
        try:
            self._set_up(display)
        except BaseException:
            # Nothing started here may outlive a failed set-up (an orphaned
            # Xvfb would hold the test runner's output open).
            self.close()
            raise

    def _set_up(self, display):
        if display:
            self._start_display()
        else:
            # Console programs only: Wine runs without any X display.
            self.env = dict(os.environ, DISPLAY="")
        self.env.update(
            WINEPREFIX=self.prefix,
            WINEARCH="win64",
            WINEDEBUG="-all",
            # No Mono or Gecko download prompts in a fresh prefix.
            WINEDLLOVERRIDES="mscoree,mshtml=",
        )
        self._make_prefix()

    # --- the desktop -----------------------------------------------------
    def _start_display(self):
        self.display = start_xvfb(self.width, self.height, self.processes)
        self.env = dict(os.environ, DISPLAY=self.display,
                        DBUS_SESSION_BUS_ADDRESS="disabled:")
        self.env.pop("WAYLAND_DISPLAY", None)
        wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(wm)
        wait_until(lambda: subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                                          env=self.env, capture_output=True,
                                          text=True).stdout.count("window id") > 0,
                   30, "the window manager")

    # --- the Wine prefix ----------------------------------------------------
    def _make_prefix(self):
        # Wine prints its own notes while it sets up a prefix; nothing of ours.
        boot = subprocess.run(["wineboot", "--init"], env=self.env, capture_output=True,
                              text=True, errors="replace", timeout=600)
        if boot.returncode != 0:
            raise Failure(f"wineboot --init failed ({boot.returncode}): {boot.stderr[-500:]}")
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=600)
        # A crash ends the program instead of waiting for a click in Wine's
        # crash dialog; "MS Shell Dlg" (and the Tahoma it maps to) name a face
        # that exists, since Qt's dialogs fail on the missing one.
        self.reg("add", "HKCU\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog",
                 "/t", "REG_DWORD", "/d", "0", "/f")
        for face in ("MS Shell Dlg", "MS Shell Dlg 2", "Tahoma"):
            self.reg("add", "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
                     "/v", face, "/t", "REG_SZ", "/d", "Liberation Sans", "/f")

    def reg(self, *args):
        """Runs Wine's reg.exe; returns (exit code, output)."""
        result = subprocess.run(["wine", "reg", *args], env=self.env, capture_output=True,
                                text=True, errors="replace", timeout=300)
        return result.returncode, result.stdout

    def reg_value(self, key, name):
        """The REG_SZ value, or None when it is absent."""
        code, output = self.reg("query", key, "/v", name)
        if code != 0:
            return None
        for line in output.splitlines():
            match = re.match(r"\s*(.+?)\s+REG_\w+\s*(.*)$", line)
            if match and match.group(1).lower() == name.lower():
                return match.group(2).rstrip("\r")
        return None

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def windows_path(self, path):
        return subprocess.run(["winepath", "-w", path], env=self.env, capture_output=True,
                              text=True, check=True).stdout.strip()

    def start(self, program, *arguments, **popen):
        process = subprocess.Popen(["wine", program, *arguments], env=self.env, **popen)
        self.processes.append(process)
        return process

    def run(self, program, *arguments, timeout=600, **kwargs):
        return subprocess.run(["wine", program, *arguments], env=self.env, timeout=timeout,
                              **kwargs)

    # --- windows ----------------------------------------------------------
    def focus(self, window):
        # openbox does not always hand Wine's windows the keyboard focus.
        self.xdotool("windowactivate", "--sync", window)
        self.xdotool("windowfocus", "--sync", window)

    def type(self, text):
        self.xdotool("type", "--delay", "80", text)

    def key(self, *keys):
        self.xdotool("key", "--delay", "80", *keys)

    def click(self, window, x, y):
        self.xdotool("mousemove", "--window", window, str(x), str(y), "click", "1")

    def screenshot(self, path):
        dump = subprocess.run(["xwd", "-root", "-silent"], env=self.env, capture_output=True,
                              check=True).stdout
        subprocess.run(["convert", "xwd:-", "png:" + path], input=dump, check=True)
        return path

    @staticmethod
    def region(path, x, y, width, height):
        """The raw pixels of a region of a screenshot."""
        return subprocess.run(["convert", path, "-crop", f"{width}x{height}+{x}+{y}",
                               "+repage", "rgb:-"], capture_output=True, check=True).stdout

    def close(self):
        if "WINEPREFIX" in self.env:  # only ever the private prefix's server
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.tmp, ignore_errors=True)
