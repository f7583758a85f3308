# shellcheck shell=bash disable=SC2034  # sourced: its variables are for the caller
# Driving the real launcher on an X display: a private Xvfb, the launcher's window,
# clicks and keys in window coordinates, screenshots and pixels, and waiting for lines
# of launcher.log. Shared by scripts/demo and tests/e2e/run. Every wait has a limit.

# The window's elements in window units at scale 1 (the scale on the 1280 x 800
# screen these scripts create).
UI_PRIMARY=(805 516)   # INSTALAR / ACTUALIZAR / CANCELAR / JUGAR
UI_VERIFY=(670 583)    # "Verificar archivos"
UI_CHANGE=(556 583)    # "Cambiar"
UI_CLOSE=(937 16)

# x_start WORK: a private X server; sets DISPLAY and X_PID.
x_start() {
  local work="$1"
  mkdir -p "$work"
  local fd_file="$work/xvfb.display"
  : >"$fd_file"
  # -displayfd picks a free display number and says it only once the server listens.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$fd_file" \
    >"$work/xvfb.log" 2>&1 &
  X_PID=$!
  local i
  for i in $(seq 100); do
    if [ -s "$fd_file" ]; then
      export DISPLAY=":$(tr -d '\n' <"$fd_file")"
      xdpyinfo >/dev/null 2>&1 && return 0
    fi
    kill -0 "$X_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "Xvfb did not start; see $work/xvfb.log" >&2
  return 1
}

x_stop() {
  if [ -n "${X_PID:-}" ]; then
    kill "$X_PID" 2>/dev/null
    wait "$X_PID" 2>/dev/null
    X_PID=""
  fi
}

# x_find_window [TIMEOUT]: waits for the launcher's window; sets WIN_ID, WIN_X, WIN_Y.
x_find_window() {
  local timeout="${1:-20}" deadline id
  deadline=$((SECONDS + timeout))
  while [ $SECONDS -lt $deadline ]; do
    id="$(xdotool search --onlyvisible --name '^Brisal Ascent$' 2>/dev/null | head -n 1)" || true
    if [ -n "$id" ]; then
      WIN_ID="$id"
      eval "$(xdotool getwindowgeometry --shell "$WIN_ID" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
      WIN_X=$X WIN_Y=$Y WIN_W=$WIDTH WIN_H=$HEIGHT
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# x_pointer_to SX SY: moves the pointer to screen coordinates and waits until it is
# there. (xdotool's own --sync waits for a motion event, which never comes when the
# pointer is already in place.)
x_pointer_to() {
  local X Y SCREEN WINDOW
  eval "$(xdotool getmouselocation --shell)"
  [ "$X" = "$1" ] && [ "$Y" = "$2" ] && return 0
  xdotool mousemove --sync "$1" "$2"
}

# x_click X Y: a left click at window coordinates. The pointer stays there, so keys
# go to the window too (no window manager: the focus follows the pointer).
x_click() {
  x_pointer_to $((WIN_X + $1)) $((WIN_Y + $2)) && xdotool click 1
}

# x_key KEY: a key press over the window (the pointer is moved onto it first, to a
# place without an element).
x_key() {
  x_pointer_to $((WIN_X + 480)) $((WIN_Y + 130)) && xdotool key "$1"
}

# x_park_pointer: the pointer off the window, so no element shows its hover colour.
x_park_pointer() {
  x_pointer_to 2 2
}

# x_shot FILE: the whole screen.
x_shot() {
  import -window root "$1"
}

# x_pixel FILE X Y: "r g b" (0-255) of the screenshot at window coordinates.
x_pixel() {
  local x=$((WIN_X + $2)) y=$((WIN_Y + $3))
  convert "$1" -format \
    "%[fx:round(255*p{$x,$y}.r)] %[fx:round(255*p{$x,$y}.g)] %[fx:round(255*p{$x,$y}.b)]" info:
}

# x_distinct_colours FILE: how many colours the launcher's window shows; a window
# that painted its logo, texts and gradients shows hundreds, a blank one a handful.
x_distinct_colours() {
  convert "$1" -crop "${WIN_W}x${WIN_H}+${WIN_X}+${WIN_Y}" +repage -format '%k' info:
}

# log_mark: how many lines launcher.log has now; later waits look only past it.
log_mark() {
  if [ -f "$DEMO_LOG" ]; then wc -l <"$DEMO_LOG"; else echo 0; fi
}

# wait_log MARK REGEX TIMEOUT: waits for a line after MARK matching REGEX (grep -E);
# prints it. Fails when the time runs out.
wait_log() {
  local mark="$1" regex="$2" timeout="$3" deadline line
  deadline=$((SECONDS + timeout))
  while :; do
    if [ -f "$DEMO_LOG" ]; then
      line="$(tail -n +"$((mark + 1))" "$DEMO_LOG" | tr -d '\r' | grep -E -m 1 -- "$regex")" || true
      if [ -n "$line" ]; then
        echo "$line"
        return 0
      fi
    fi
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}

# alive PID: the process runs (a zombie still answers kill -0; its state says "ended").
alive() {
  local state
  state="$(ps -o stat= -p "$1" 2>/dev/null)" || return 1
  [[ "$state" != Z* ]]
}

# wait_until TIMEOUT CMD...: polls CMD every 0.1 s until it succeeds.
wait_until() {
  local timeout="$1" deadline
  shift
  deadline=$((SECONDS + timeout))
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.1
  done
}
