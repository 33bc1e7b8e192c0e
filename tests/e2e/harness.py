"""Drives the real program under Xvfb with openbox and real input events.

Each Session owns a private X display, a window manager, a private settings
folder and a private program folder (a copy of the program with the files it
reads beside itself), so a run never touches the user's store or display.
"""
import argparse
import configparser
import ctypes
import http.server
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

TITLE = "Vantorel Briskane Tallow Marquee Edition"
STORE = os.path.join("Halvex", TITLE + ".conf")
TWIPS = 15


def twips_center(left, top, width, height):
    """The centre of a control given in twips, in pixels of its container."""
    return round((left + width / 2) / TWIPS), round((top + height / 2) / TWIPS)


def arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="build folder with the program")
    parser.add_argument("--shots", required=True, help="folder for screenshots")
    return parser.parse_args()


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)
    print("ok -", message, flush=True)


def eventually(condition, timeout):
    """The condition's first true value within the timeout, else its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.1)


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.1)


PANEL_COLOUR = "#ff0000"

def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_xvfb(width, height, processes):
    """Starts Xvfb with one screen on a free display number, adds it to
    `processes` and returns the display's name."""
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24",
         "-nolisten", "tcp", "-noreset"],
        pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    processes.append(xvfb)
    number = b""
    with os.fdopen(read_fd, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                raise Failure("Xvfb did not start")
            number += chunk
    return ":" + number.decode().strip()


class StandInService:
    """A quote service on 127.0.0.1 that answers every request with 200 and
    the same body, and keeps the paths it was asked for."""

    def __init__(self, body, content_type="text/xml; charset=utf-8"):
        self.requests = []
        service = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):  # noqa: N802 - the handler's name is fixed
                service.requests.append(self.path)
                self.send_response(200)
                self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class XWindows:
    """Finds and measures windows on the session's X display (self.env) with
    xdotool."""

    window_timeout = 30  # how long find_window waits by default, in seconds

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True,
                                text=True, timeout=60)
        return result.stdout.strip()

    def find_window(self, title, timeout=None):
        def search():
            found = self.xdotool("search", "--onlyvisible", "--name", "^" + re.escape(title) + "$")
            return found.split()[0] if found else None
        return wait_until(search, timeout or self.window_timeout, f"a window titled {title!r}")

    def window_gone(self, title):
        return not self.xdotool("search", "--onlyvisible", "--name",
                                "^" + re.escape(title) + "$")

    def geometry(self, window):
        shell = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=") for line in shell.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


class Session(XWindows):
    def __init__(self, build, shots, width=1280, height=1024, monitors=None, panel=False):
        self.build = os.path.abspath(build)
        self.shots = os.path.abspath(shots)
        os.makedirs(self.shots, exist_ok=True)
        self.tmp = tempfile.mkdtemp(prefix="tallow-e2e-")
        self.app_dir = os.path.join(self.tmp, "app")
        self.config = os.path.join(self.tmp, "config")
        os.makedirs(self.app_dir)
        os.makedirs(self.config)
        for name in ("tallow-marquee", "HAND-M.CUR"):
            shutil.copy2(os.path.join(self.build, name), self.app_dir)
        # The single-instance socket lives in the runtime folder: a private one.
        self.runtime = os.path.join(self.tmp, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.installed = None
        self.processes = []
        self.program = None
        self.service = None
        self.service_log = []
        self._start_display(width, height, monitors or [], panel)

    # --- the desktop -----------------------------------------------------
    def _start_display(self, width, height, monitors, panel):
        self.display = start_xvfb(width, height, self.processes)
        self.env = dict(os.environ, DISPLAY=self.display, XDG_CONFIG_HOME=self.config,
                        XDG_RUNTIME_DIR=self.runtime, QT_QPA_PLATFORM="xcb")
        self.env.pop("WAYLAND_DISPLAY", None)
        # No session bus: without this libdbus may start one that outlives the run.
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:"
        if monitors:
            self._split_into_monitors(monitors)
        wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(wm)
        wait_until(lambda: self._wm_running(), 20, "the window manager")
        if panel:
            self._start_panel()

    def _split_into_monitors(self, monitors):
        """Splits the one Xvfb screen into RandR monitors, given as (name, x, y,
        width, height); the first takes over the screen's own output. Xvfb
        runs with -noreset, so they stay when the last client goes."""
        for index, (name, x, y, width, height) in enumerate(monitors):
            output = "screen" if index == 0 else "none"
            subprocess.run(["xrandr", "--setmonitor", name,
                            f"{width}/{width // 4}x{height}/{height // 4}+{x}+{y}", output],
                           env=self.env, check=True, stdout=subprocess.DEVNULL)
        listed = subprocess.run(["xrandr", "--listmonitors"], env=self.env, capture_output=True,
                                text=True, check=True).stdout
        if not all(f" {name} " in listed for name, *_ in monitors):
            raise Failure("the monitors were not made: " + listed)

    def _start_panel(self):
        """A 40-pixel tint2 panel in PANEL_COLOUR at the bottom of each
        monitor, in the layer above ordinary windows, reserving its strip."""
        rc = os.path.join(self.tmp, "tint2rc")
        with open(rc, "w") as config:
            config.write("rounded = 0\nborder_width = 0\n"
                         f"background_color = {PANEL_COLOUR} 100\n"
                         "border_color = #000000 0\n"
                         "panel_items = T\npanel_monitor = all\n"
                         "panel_position = bottom center horizontal\n"
                         "panel_size = 100% 40\npanel_layer = top\n"
                         "strut_policy = follow_size\npanel_background_id = 1\n"
                         "taskbar_background_id = 0\ntask_background_id = 0\n")
        panel = subprocess.Popen(["tint2", "-c", rc], env=self.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        self.processes.append(panel)
        wait_until(lambda: self.xdotool("search", "--onlyvisible", "--class", "tint2"), 20,
                   "the panel")

    def _wm_running(self):
        result = subprocess.run(["wmctrl", "-m"], env=self.env, capture_output=True, text=True)
        return result.returncode == 0 and "Name:" in result.stdout

    # --- the bundled quote service ----------------------------------------
    def start_service(self):
        binary = os.path.join(self.build, "tallow-quoted")
        self.service = subprocess.Popen([binary, "--listen", "127.0.0.1:0"],
                                        stderr=subprocess.PIPE, text=True)
        self.processes.append(self.service)
        port = wait_until(self._service_port, 20, "the quote service to listen")
        self.point_at(port, self.app_dir)
        return port

    def point_at(self, port, folder):
        """Writes quote-service.ini naming 127.0.0.1:port into folder."""
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "quote-service.ini"), "w") as ini:
            ini.write(f"[QuoteService]\nHost=127.0.0.1:{port}\n")

    def user_config_folder(self):
        return os.path.join(self.config, "tallow-marquee")

    def _service_port(self):
        if not hasattr(self, "_port_reader"):
            self._port = None

            def read():
                for line in self.service.stderr:
                    self.service_log.append(line.rstrip("\n"))
                    match = re.search(r"listening on [\d.]+:(\d+)", line)
                    if match:
                        self._port = int(match.group(1))

            self._port_reader = threading.Thread(target=read, daemon=True)
            self._port_reader.start()
        return self._port

    def quote_requests(self):
        return [line for line in self.service_log if "GetQuote" in line]

    # --- the program ------------------------------------------------------
    def install(self):
        """Installs the build with prefix /usr under a private DESTDIR and
        returns the installed command (the link in usr/bin)."""
        root = os.path.join(self.tmp, "root")
        subprocess.run(["cmake", "--install", self.build, "--prefix", "/usr"],
                       env=dict(os.environ, DESTDIR=root), check=True,
                       stdout=subprocess.DEVNULL)
        self.installed = os.path.join(root, "usr", "bin", "tallow-marquee")
        return self.installed

    def start_program(self, *arguments, program=None):
        program = program or os.path.join(self.app_dir, "tallow-marquee")
        self.program = subprocess.Popen([program, *arguments],
                                        env=self.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        self.processes.append(self.program)
        return self.program

    def program_output(self):
        if self.program and self.program.poll() is not None and self.program.stdout:
            return self.program.stdout.read()
        return ""

    def click(self, window, x, y):
        self.xdotool("mousemove", "--window", window, str(x), str(y))
        time.sleep(0.2)
        self.xdotool("click", "1")

    def type(self, text):
        self.xdotool("type", "--delay", "60", text)

    def key(self, *keys):
        self.xdotool("key", "--delay", "60", *keys)

    def set_layouts(self, *layouts):
        """Makes the keyboard's layouts these, the first one active (setxkbmap)."""
        subprocess.run(["setxkbmap", "-layout", ",".join(layouts)], env=self.env, check=True)

    def _xlib(self):
        xlib = ctypes.cdll.LoadLibrary("libX11.so.6")
        xlib.XOpenDisplay.restype = ctypes.c_void_p
        xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xlib.XStringToKeysym.restype = ctypes.c_ulong
        xlib.XStringToKeysym.argtypes = [ctypes.c_char_p]
        xlib.XKeysymToKeycode.restype = ctypes.c_ubyte
        xlib.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        xlib.XFlush.argtypes = [ctypes.c_void_p]
        xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        display = xlib.XOpenDisplay(self.display.encode())
        if not display:
            raise Failure("cannot open the X display")
        return xlib, display

    def keycodes_of(self, *keysyms):
        """The key codes of the physical keys that carry these keysyms in any
        of the current layouts."""
        xlib, display = self._xlib()
        try:
            codes = [xlib.XKeysymToKeycode(display, xlib.XStringToKeysym(name.encode()))
                     for name in keysyms]
        finally:
            xlib.XCloseDisplay(display)
        for name, code in zip(keysyms, codes):
            if not code:
                raise Failure(f"no key carries {name!r}")
        return codes

    def press_keycodes(self, codes):
        """Presses and releases keys by key code through XTEST, so the active
        layout decides what the program receives (xdotool would remap a key
        to the keysym)."""
        xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
        xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                           ctypes.c_ulong]
        xlib, display = self._xlib()
        try:
            for code in codes:
                for down in (True, False):
                    xtst.XTestFakeKeyEvent(display, code, down, 0)
                    xlib.XFlush(display)
                    time.sleep(0.06)
        finally:
            xlib.XCloseDisplay(display)

    def press_keys_of(self, *keysyms):
        """Presses and releases the physical keys that carry these keysyms in any
        layout."""
        self.press_keycodes(self.keycodes_of(*keysyms))

    def active_window(self):
        return self.xdotool("getactivewindow")

    def close_window(self, title):
        subprocess.run(["wmctrl", "-c", title], env=self.env, check=True)

    def screenshot(self, name):
        path = os.path.join(self.shots, name)
        dump = subprocess.run(["xwd", "-root", "-silent"], env=self.env, capture_output=True,
                              check=True).stdout
        subprocess.run(["convert", "xwd:-", "png:" + path], input=dump, check=True)
        return path

    @staticmethod
    def pixel(path, x, y):
        """The colour of one pixel of a screenshot, as #rrggbb."""
        result = subprocess.run(
            ["convert", path, "-crop", f"1x1+{x}+{y}", "+repage", "-depth", "8", "-format",
             "#%[hex:p{0,0}]", "info:"], capture_output=True, text=True, check=True)
        return result.stdout.strip().lower()[:7]

    @staticmethod
    def brightness(path, x, y, width, height):
        """Mean brightness (0 to 1) of a region of a screenshot."""
        result = subprocess.run(
            ["convert", path, "-crop", f"{width}x{height}+{x}+{y}", "+repage", "-colorspace",
             "Gray", "-format", "%[fx:mean]", "info:"], capture_output=True, text=True, check=True)
        return float(result.stdout)

    def idle_ms(self):
        """The X server's idle time (MIT-SCREEN-SAVER), in milliseconds."""
        xlib = ctypes.cdll.LoadLibrary("libX11.so.6")
        xss = ctypes.cdll.LoadLibrary("libXss.so.1")

        class Info(ctypes.Structure):
            _fields_ = [("window", ctypes.c_ulong), ("state", ctypes.c_int),
                        ("kind", ctypes.c_int), ("til_or_since", ctypes.c_ulong),
                        ("idle", ctypes.c_ulong), ("event_mask", ctypes.c_ulong)]

        xlib.XOpenDisplay.restype = ctypes.c_void_p
        xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xlib.XDefaultRootWindow.restype = ctypes.c_ulong
        xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        xlib.XFree.argtypes = [ctypes.c_void_p]
        xss.XScreenSaverAllocInfo.restype = ctypes.POINTER(Info)
        xss.XScreenSaverQueryInfo.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                              ctypes.POINTER(Info)]
        display = xlib.XOpenDisplay(self.display.encode())
        if not display:
            raise Failure("cannot open the X display to read its idle time")
        info = xss.XScreenSaverAllocInfo()
        try:
            if not xss.XScreenSaverQueryInfo(display, xlib.XDefaultRootWindow(display), info):
                raise Failure("the X server has no MIT-SCREEN-SAVER extension")
            return info.contents.idle
        finally:
            xlib.XFree(info)
            xlib.XCloseDisplay(display)

    # --- the settings store -------------------------------------------------
    def store_path(self):
        return os.path.join(self.config, STORE)

    def store(self):
        parser = configparser.RawConfigParser(strict=False)
        parser.optionxform = str
        if os.path.exists(self.store_path()):
            parser.read(self.store_path())
        section = parser["General"] if parser.has_section("General") else {}
        return {key.replace("%20", " "): value for key, value in section.items()}

    def write_store(self, values):
        """Replaces the store at once, so a running program never reads half of it."""
        os.makedirs(os.path.dirname(self.store_path()), exist_ok=True)
        partial = self.store_path() + ".new"
        with open(partial, "w") as store:
            store.write("[General]\n")
            for key, value in values.items():
                store.write(f"{key.replace(' ', '%20')}={value}\n")
        os.replace(partial, self.store_path())

    def end_program(self):
        """Escape from the display if it is up, then close the options window:
        the program ends with status 0. Returns what it wrote."""
        if not self.window_gone("Form1"):
            self.key("Escape")
        self.find_window(TITLE, timeout=20)
        self.close_window(TITLE)
        wait_until(lambda: self.program.poll() is not None, 20, "the program to end")
        check(self.program.returncode == 0, "the program ends normally")
        return self.program_output()

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.tmp, ignore_errors=True)


def run(scenario, **desktop):
    """Runs scenario(session, args) on a desktop made by Session(**desktop)
    and turns the result into an exit code."""
    args = arguments()
    session = Session(args.build, args.shots, **desktop)
    try:
        scenario(session, args)
    except Failure as failure:
        print("FAILED -", failure, flush=True)
        try:
            print("screenshot:", session.screenshot("failure-" + os.path.basename(sys.argv[0])
                                                    + ".png"))
        except Exception:  # noqa: BLE001 - the failure above is what matters
            pass
        print(session.program_output())
        return 1
    finally:
        session.close()
    return 0
