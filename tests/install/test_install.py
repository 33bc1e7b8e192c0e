#!/usr/bin/env python3
"""Installs the build into a temporary DESTDIR with prefix /usr and checks the
layout, the desktop entry, AppStream data and user unit with their validators,
and the installed program started through its link in bin; then packs the
Debian package and runs lintian on it."""
import argparse
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

APP_ID = "example.halvex.TallowMarquee"

EXPECTED = [
    "usr/lib/tallow-marquee/tallow-marquee",
    "usr/lib/tallow-marquee/HAND-M.CUR",
    "usr/bin/tallow-marquee",
    "usr/bin/tallow-quoted",
    f"usr/share/applications/{APP_ID}.desktop",
    f"usr/share/metainfo/{APP_ID}.metainfo.xml",
    *(f"usr/share/icons/hicolor/{s}x{s}/apps/{APP_ID}.png" for s in (32, 48, 128, 256)),
    "usr/share/man/man1/tallow-marquee.1.gz",
    "usr/share/man/man1/tallow-quoted.1.gz",
    "usr/lib/systemd/user/tallow-quoted.service",
    "usr/share/tallow-marquee/tallow-marquee-kiosk.desktop",
    "usr/share/doc/tallow-marquee/copyright",
    "usr/share/doc/tallow-marquee/changelog.gz",
]

failures = []
passed = []


def check(condition, message, detail=""):
    print(("ok - " if condition else "FAILED - ") + message, flush=True)
    (passed if condition else failures).append(message)
    if not condition and detail:
        print(detail, flush=True)


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="tallow-install-") as dest:
        installed = run([args.cmake, "--install", args.build, "--prefix", "/usr"],
                        env=dict(os.environ, DESTDIR=dest))
        check(installed.returncode == 0, "cmake --install succeeds", installed.stderr)

        for relative in EXPECTED:
            check(os.path.lexists(os.path.join(dest, relative)), "installs " + relative)
        png = open(os.path.join(dest, EXPECTED[6]), "rb").read(24)
        check(png[:8] == b"\x89PNG\r\n\x1a\n" and int.from_bytes(png[16:20], "big") == 32,
              "the 32x32 icon is a 32-pixel PNG")

        link = os.path.join(dest, "usr/bin/tallow-marquee")
        target = os.readlink(link) if os.path.islink(link) else ""
        check(target == "../lib/tallow-marquee/tallow-marquee",
              f"bin/tallow-marquee is a relative link to the program folder ({target!r})")
        for page in ("tallow-marquee", "tallow-quoted"):
            with gzip.open(os.path.join(dest, f"usr/share/man/man1/{page}.1.gz"), "rt") as text:
                check(text.read().startswith(".TH " + page.upper() + " 1"),
                      f"the manual page of {page} is a compressed page of section 1")

        # Every option a command's help names is described in its manual page.
        for page in ("tallow-marquee", "tallow-quoted"):
            command = os.path.join(dest, "usr/bin", page)
            result = run([command, "--help"], cwd="/", timeout=60)
            with gzip.open(os.path.join(dest, f"usr/share/man/man1/{page}.1.gz"), "rt") as text:
                manual = text.read().replace("\\-", "-")
            options = sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", result.stdout)))
            missing = [option for option in options if option not in manual]
            check(result.returncode == 0 and options and not missing,
                  f"the manual page of {page} describes each option of its help {missing}")

        desktop = [os.path.join(dest, "usr/share/applications", APP_ID + ".desktop"),
                   os.path.join(dest, "usr/share/tallow-marquee/tallow-marquee-kiosk.desktop")]
        result = run(["desktop-file-validate", *desktop])
        check(result.returncode == 0 and not result.stdout.strip(),
              "desktop-file-validate passes both entries", result.stdout)
        kiosk = open(desktop[1]).read()
        check("\nExec=tallow-marquee --kiosk\n" in kiosk, "the autostart example starts --kiosk")

        metainfo = os.path.join(dest, "usr/share/metainfo", APP_ID + ".metainfo.xml")
        result = run(["appstreamcli", "validate", "--no-net", metainfo])
        problems = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
        check(result.returncode == 0 and not problems,
              "appstreamcli validate --no-net finds no error or warning", result.stdout)

        unit = open(os.path.join(dest, "usr/lib/systemd/user/tallow-quoted.service")).read()
        check("\nExecStart=/usr/bin/tallow-quoted " in unit
              and "\nEnvironmentFile=-%h/.config/tallow-marquee/quoted.env\n" in unit
              and "\nRestart=on-failure\n" in unit,
              "the user unit starts /usr/bin/tallow-quoted with the user's options file")

        # systemd's own check, with the unit pointed at the installed service
        # and its manual page.
        if shutil.which("systemd-analyze"):
            staged = os.path.join(dest, "tallow-quoted.service")
            with open(staged, "w") as copy:
                copy.write(unit.replace("/usr/bin/tallow-quoted",
                                        os.path.join(dest, "usr/bin/tallow-quoted")))
            result = run(["systemd-analyze", "verify", staged],
                         env=dict(os.environ, MANPATH=os.path.join(dest, "usr/share/man")))
            check(result.returncode == 0 and not result.stderr.strip(),
                  "systemd-analyze verify accepts the unit", result.stderr)

        # Through the link, from another folder and with no display.
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        result = run([link, "--version"], cwd="/", env=env, timeout=60)
        check(result.returncode == 0 and result.stdout == f"tallow-marquee {args.version}\n",
              f"the installed program prints its version ({result.stdout.strip()!r})")

    # The Debian package: computed dependencies, and nothing lintian calls
    # an error.
    with tempfile.TemporaryDirectory(prefix="tallow-deb-") as folder:
        cpack = os.path.join(os.path.dirname(args.cmake), "cpack")
        result = run([cpack, "-G", "DEB", "-B", folder], cwd=args.build)
        packages = [name for name in os.listdir(folder) if name.endswith(".deb")]
        check(result.returncode == 0 and len(packages) == 1, "cpack -G DEB makes one package",
              result.stdout + result.stderr)
        if packages:
            deb = os.path.join(folder, packages[0])
            depends = run(["dpkg-deb", "-f", deb, "Depends"]).stdout
            check("libqt6widgets6" in depends and "libc6" in depends,
                  f"the package depends on the libraries it links ({depends.strip()})")
            contents = run(["dpkg-deb", "-c", deb]).stdout
            check("./usr/share/doc/tallow-marquee/copyright" in contents
                  and "./usr/share/doc/tallow-marquee/changelog.gz" in contents,
                  "the package carries its copyright file and changelog")
            # Its scripts enable the quote service's user unit for every user,
            # here inside an unpacked copy of the package (DPKG_ROOT), and a
            # purge takes the link away again.
            root = os.path.join(folder, "root")
            run(["dpkg-deb", "-x", deb, root])
            run(["dpkg-deb", "-e", deb, os.path.join(root, "DEBIAN")])
            env = dict(os.environ, DPKG_ROOT=root, DPKG_MAINTSCRIPT_PACKAGE="tallow-marquee")
            link = os.path.join(root, "etc/systemd/user/default.target.wants/tallow-quoted.service")
            script = os.path.join(root, "DEBIAN", "{}")
            result = run([script.format("postinst"), "configure"], env=env)
            check(result.returncode == 0 and os.path.islink(link)
                  and os.readlink(link) == "/usr/lib/systemd/user/tallow-quoted.service",
                  "installing enables the user unit for every user", result.stdout + result.stderr)
            result = run([script.format("postrm"), "purge"], env=env)
            check(result.returncode == 0 and not os.path.lexists(link),
                  "purging the package disables it again", result.stdout + result.stderr)
            result = run(["lintian", "--fail-on", "error", deb])
            check(result.returncode == 0 and "\nE: " not in "\n" + result.stdout,
                  "lintian finds no error", result.stdout + result.stderr)

    print(f"{len(passed)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
