#!/usr/bin/env python3
"""One program per user and display: a second start brings the running
program's window to the front and ends with status 0; after the running one
is killed, the socket it left behind does not stop the next start; and
another local user cannot stop the program from starting."""
import os
import pwd
import shutil
import subprocess
import sys

from harness import TITLE, check, run, wait_until


def scenario(session, args):
    first = session.start_program()
    options = session.find_window(TITLE)

    # Another window takes the front: a copy of the program that is not
    # counted as the same, having a runtime folder of its own.
    elsewhere = os.path.join(session.tmp, "elsewhere")
    os.makedirs(elsewhere, mode=0o700)
    intruder = subprocess.Popen([os.path.join(session.app_dir, "tallow-marquee")],
                                env=dict(session.env, XDG_RUNTIME_DIR=elsewhere),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    session.processes.append(intruder)

    def other_window():
        found = session.xdotool("search", "--onlyvisible", "--name", "^" + TITLE + "$").split()
        return [window for window in found if window != options]
    other = wait_until(other_window, 30, "the other copy's window")[0]
    session.xdotool("windowactivate", "--sync", other)
    wait_until(lambda: session.xdotool("getactivewindow") == other, 20,
               "the other window to be in front")

    second = subprocess.run([os.path.join(session.app_dir, "tallow-marquee")], env=session.env,
                            capture_output=True, text=True, timeout=60)
    check(second.returncode == 0, f"the second start ends with status 0 ({second.returncode})")
    wait_until(lambda: session.xdotool("getactivewindow") == options, 20,
               "the running program's window to come to the front")
    windows = session.xdotool("search", "--all", "--onlyvisible", "--pid", str(first.pid), "--name",
                              "^" + TITLE + "$").split()
    check(windows == [options], f"no second window of the first program ({len(windows)})")
    check(len(other_window()) == 1, "and none of the second start")
    check(first.poll() is None, "the first program runs on")
    session.screenshot("single-instance-raised.png")

    intruder.terminate()
    intruder.wait(20)

    # Killed, the first program leaves its socket behind.
    sockets = [name for name in os.listdir(session.runtime) if name.startswith("tallow-marquee-")]
    check(len(sockets) == 1, f"the running program listens in the runtime folder ({sockets})")
    first.kill()
    first.wait()
    check(os.path.exists(os.path.join(session.runtime, sockets[0])), "the killed one left it")
    wait_until(lambda: session.window_gone(TITLE), 20, "the windows to go")

    session.start_program()
    session.find_window(TITLE)
    check(session.program.poll() is None, "a new start opens its window despite the stale socket")
    # ... and took the socket over: the start after it hands over again.
    again = subprocess.run([os.path.join(session.app_dir, "tallow-marquee")], env=session.env,
                           capture_output=True, text=True, timeout=60)
    check(again.returncode == 0 and session.program.poll() is None
          and len(session.xdotool("search", "--onlyvisible", "--name", "^" + TITLE + "$").split())
          == 1, "the next start finds the new program and hands over to it")
    session.close_window(TITLE)
    wait_until(lambda: session.program.poll() is not None, 20, "the program to end")
    check(session.program.returncode == 0, "closing the options window ends the program")

    another_user_cannot_stop_the_start(session)


# Listens on each path given, as whoever runs it, and logs what arrives.
LISTENER = r"""
import os, select, socket, sys
log = open(sys.argv[1], "a", buffering=1)
servers = {}
for path in sys.argv[2:]:
    server = socket.socket(socket.AF_UNIX)
    server.bind(path)
    os.chmod(path, 0o777)
    server.listen(8)
    servers[server] = path
log.write("ready\n")
while True:
    for server in select.select(list(servers), [], [])[0]:
        connection, _ = server.accept()
        connection.settimeout(2)
        try:
            data = connection.recv(64)
        except OSError:
            data = b""
        log.write("%s got %r\n" % (servers[server], data))
        connection.close()
"""


def another_user_cannot_stop_the_start(session):
    """Without a runtime folder (no XDG_RUNTIME_DIR, and another user holds
    the one Qt would make in the temporary folder), a second user who
    listens where the socket would otherwise go (the current and the temporary
    folder), or whose socket was put in the program's own folder, does not stop
    the program from starting."""
    if os.geteuid() != 0 or not shutil.which("useradd") or not shutil.which("runuser"):
        print("SKIP another user's socket: needs root, useradd and runuser")
        return
    peer = "tallowpeer"
    if subprocess.run(["id", "-u", peer], capture_output=True).returncode != 0:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                        peer], check=True)
    os.chmod(session.tmp, 0o711)
    shared = os.path.join(session.tmp, "shared")
    # Qt's stand-in runtime folder, made first by the other user.
    theirs = os.path.join(shared, "runtime-" + pwd.getpwuid(os.geteuid()).pw_name)
    home = os.path.join(session.tmp, "home")
    for folder, mode in ((shared, 0o1777), (home, 0o700), (theirs, 0o700)):
        os.makedirs(folder)
        os.chmod(folder, mode)
    shutil.chown(theirs, peer, peer)
    name = "tallow-marquee-%d-display%s" % (os.geteuid(), session.display.replace(":", "_"))
    log = os.path.join(shared, "listener.log")
    stray = os.path.join(shared, "stray")
    # The system's Python: the other user may not reach one under root's home.
    python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
    listener = subprocess.Popen(["runuser", "-u", peer, "--", python, "-c", LISTENER, log,
                                 os.path.join(shared, name), stray])
    session.processes.append(listener)
    wait_until(lambda: os.path.exists(log) and "ready" in open(log).read(), 20,
               "the other user's listener")
    own = os.path.join(home, ".cache", "tallow-marquee")
    os.makedirs(own, mode=0o700)
    os.rename(stray, os.path.join(own, name))

    env = dict(session.env, HOME=home, TMPDIR=shared)
    for variable in ("XDG_RUNTIME_DIR", "XDG_CACHE_HOME"):
        env.pop(variable, None)
    program = subprocess.Popen([os.path.join(session.app_dir, "tallow-marquee")], cwd=shared,
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    session.processes.append(program)
    session.find_window(TITLE)
    check(program.poll() is None, "the program starts despite the other user's sockets")
    heard = open(log).read()
    check("raise" not in heard, f"the other user heard no request ({heard!r})")
    check(f"{stray} got b''" in heard,
          "the program reached the other user's socket in its own folder and left it unasked")
    socket_path = os.path.join(own, name)
    check(os.stat(socket_path).st_uid == os.geteuid(),
          "the program listens in its own folder in place of the other user's socket")
    # And it answers there: the next start of the same user hands over.
    again = subprocess.run([os.path.join(session.app_dir, "tallow-marquee")], cwd=shared, env=env,
                           capture_output=True, text=True, timeout=60)
    check(again.returncode == 0 and program.poll() is None, "the next start hands over to it")
    session.close_window(TITLE)
    wait_until(lambda: program.poll() is not None, 20, "the program to end")


if __name__ == "__main__":
    sys.exit(run(scenario))
