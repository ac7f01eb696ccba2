#!/usr/bin/env bash
# Runs a Windows program under Wine without a display or dialogs:
#   wine-run.sh PREFIX PROGRAM.exe [ARGUMENT]...
# PREFIX is created on first use. No Mono or Gecko is installed (nothing of
# ours needs .NET or HTML) and Wine's own messages stay quiet.
set -euo pipefail
prefix=$(realpath -m "$1")
shift
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
# Wine turns Linux file names into Windows ones through the locale's
# character set; without a UTF-8 locale (a bare CI shell has none) names
# such as "réglages.ini" could not be opened.
export LC_ALL=C.UTF-8
for wine in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$wine" >/dev/null; then
    # Creating the prefix prints notes about it; the program's own output
    # must not carry them.
    if [ ! -f "$prefix/system.reg" ]; then
      mkdir -p "$prefix"
      (flock 9 && { [ -f "$prefix/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1 || true; }) 9>"$prefix.lock"
    fi
    # Wine's own background processes (its server and the services the first
    # program starts) inherit whatever output the program has and keep it open
    # for seconds after it ends, so a reader such as ctest would wait for them.
    # They get temporary files instead, which are passed on afterwards.
    out=$(mktemp) err=$(mktemp)
    trap 'rm -f "$out" "$err"' EXIT
    status=0
    "$wine" "$@" >"$out" 2>"$err" || status=$?
    # Now and then, with several programs starting at once while Wine's
    # server winds down, Wine gives up before the program runs: status 1
    # and not a word on either stream. None of our programs fails without
    # saying why, so that is run once more.
    if [ "$status" = 1 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
      status=0
      "$wine" "$@" >"$out" 2>"$err" || status=$?
    fi
    cat "$out"
    cat "$err" >&2
    exit "$status"
  fi
done
echo "wine-run.sh: Wine is not installed (Debian package wine64)" >&2
exit 127
