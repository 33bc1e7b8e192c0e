#!/usr/bin/env python3
"""Started where there is no display at all, the program says so and ends with
code 1 instead of aborting."""
import os
import subprocess
import sys

from harness import arguments, check


def main():
    args = arguments()
    env = {key: value for key, value in os.environ.items()
           if key not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    result = subprocess.run([os.path.join(os.path.abspath(args.build), "tallow-marquee")],
                            env=env, capture_output=True, text=True, timeout=60)
    check(result.returncode == 1, f"the program ends with code 1 ({result.returncode})")
    check("no display found" in result.stderr, f"it says no display was found ({result.stderr!r})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
