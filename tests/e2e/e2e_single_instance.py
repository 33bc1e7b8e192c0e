#!/usr/bin/env python3
"""One program per user and display: a second start brings the running
program's window to the front and ends with status 0; after the running one
is killed, the socket it left behind does not stop the next start."""
import os
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


if __name__ == "__main__":
    sys.exit(run(scenario))
