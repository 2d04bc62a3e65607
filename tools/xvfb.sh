# A private virtual display (Xvfb) for programs that need a window, sourced by ./run and
# tools/demo/run-demo.
#
#   xvfb_start GEOMETRY   starts Xvfb (screen 0 of GEOMETRY, e.g. 1920x1080x24) and exports its
#                         DISPLAY; returns non-zero when no server of ours could be started
#   xvfb_stop             stops the server started here (by its process id), if any
#
# Xvfb picks a free display number itself and tells it once it accepts connections (-displayfd),
# so two runs starting at once cannot take the same number. Before DISPLAY is trusted, the
# server answering there must be the process started here: alive, and answering.
XVFB_PID=""

xvfb_start() { # geometry
  local geometry=$1 numbers number="" attempt
  numbers=$(mktemp) || return 1
  for attempt in 1 2 3; do
    : > "$numbers"
    Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp 3>"$numbers" >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
      kill -0 "$XVFB_PID" 2>/dev/null || break
      number=$(sed -n '1s/^\([0-9][0-9]*\)$/\1/p' "$numbers")
      [ -n "$number" ] && break
      sleep 0.1
    done
    if [ -n "$number" ] && kill -0 "$XVFB_PID" 2>/dev/null && DISPLAY=":$number" xdpyinfo >/dev/null 2>&1 \
       && kill -0 "$XVFB_PID" 2>/dev/null; then
      rm -f "$numbers"
      export DISPLAY=":$number"
      return 0
    fi
    xvfb_stop
    number=""
  done
  rm -f "$numbers"
  return 1
}

xvfb_stop() { # TERM, up to 5 s to end, then KILL
  local pid=$XVFB_PID
  XVFB_PID=""
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
