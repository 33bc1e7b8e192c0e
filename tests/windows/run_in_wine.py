#!/usr/bin/env python3
"""Runs one Windows test program under Wine in a fresh prefix on a private
display and passes its exit code on (77 when Wine or Xvfb is missing)."""
import sys

from winharness import SKIP, WineSession, wine_missing


def main():
    missing = wine_missing()
    if missing:
        print(f"skipped: {missing} is not installed (scripts/ensure-packages.sh windows)")
        return SKIP
    session = WineSession()
    try:
        return session.run(sys.argv[1], *sys.argv[2:]).returncode
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(main())
