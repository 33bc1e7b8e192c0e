#!/usr/bin/env bash
# Starts tallow-marquee from BUILD_DIR with its settings in CONFIG_DIR (used
# as XDG_CONFIG_HOME), for timing the options window's start-up. Nothing but
# the exec runs here, so the wrapper adds no time of its own. Needs DISPLAY.
# PRELOAD, when given, is put in LD_PRELOAD (measure-startup.sh's first-paint
# reporter).
#
#   open-options.sh BUILD_DIR CONFIG_DIR [PRELOAD]
if [ -n "${3:-}" ]; then
  export LD_PRELOAD=$3
fi
XDG_CONFIG_HOME=$2 exec "$1/tallow-marquee"
