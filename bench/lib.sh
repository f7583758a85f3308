# Shared by the benchmark and demo scripts: a free port, an nginx serving a folder
# on 127.0.0.1 (Range, ETag and 304 as a real web server does them), timing.

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_nginx ROOT WORKDIR [DIRECTIVES]: serves ROOT at http://127.0.0.1:$NGINX_PORT/
# until stop_nginx. Runs as the calling user, one process, logs in WORKDIR. DIRECTIVES
# go into the server block (the demo uses "limit_rate" so that progress can be seen).
start_nginx() {
  local root="$1" work="$2" directives="${3:-}"
  mkdir -p "$work"
  NGINX_PORT="$(free_port)"
  NGINX_WORK="$work"
  cat >"$work/nginx.conf" <<CONF
daemon on;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections ${NGINX_CONNECTIONS:-256}; }
http {
  access_log $work/access.log;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  default_type application/octet-stream;
  types { application/json json; }
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $root;
    $directives
  }
}
CONF
  nginx -c "$work/nginx.conf" -p "$work" -e "$work/error.log"
  for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$NGINX_PORT/" && return 0
    sleep 0.1
  done
  echo "nginx did not start; see $work/error.log" >&2
  return 1
}

stop_nginx() {
  if [ -n "${NGINX_WORK:-}" ] && [ -f "$NGINX_WORK/nginx.pid" ]; then
    kill "$(cat "$NGINX_WORK/nginx.pid")" 2>/dev/null || true
  fi
  NGINX_WORK=""  # stopped: the exit trap's call has nothing left to stop
}

# Bytes nginx sent in response bodies so far.
nginx_body_bytes() {
  awk '{ s += $10 } END { printf "%.0f\n", s }' "$NGINX_WORK/access.log"
}

# seconds_of CMD...: wall time of one run, in seconds with milliseconds.
seconds_of() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  local rc=$?
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
  return $rc
}

# measure CMD...: prints "SECONDS PEAK_MIB" of one run (wall time, peak resident set
# of the process and the largest of its children).
measure() {
  local out
  out="$(mktemp)"
  /usr/bin/time -f '%e %M' -o "$out" "$@" >/dev/null 2>&1 || { rm -f "$out"; return 1; }
  awk '{ printf "%.2f %d\n", $1, ($2 + 1023) / 1024 }' "$out"
  rm -f "$out"
}

# best_measure N CMD...: the fastest of N runs as "SECONDS PEAK_MIB", and the peak the
# largest seen over all of them.
best_measure() {
  local n="$1" best="" peak=0 t m
  shift
  for _ in $(seq "$n"); do
    read -r t m < <(measure "$@")
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best="$t"; fi
    [ "$m" -gt "$peak" ] && peak="$m"
  done
  echo "$best $peak"
}

# ratio A B: A / B with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# forget_cache DIR: drops the page cache of DIR's files only (the rest of the machine
# keeps its own), so the next read comes from the disk. Pages not yet written back
# cannot be dropped: a client made just before would still be read from memory by
# whichever tool came first, so each file is flushed first.
forget_cache() {
  python3 - "$1" <<'PY'
import os, sys
for folder, _, names in os.walk(sys.argv[1]):
    for name in names:
        fd = os.open(os.path.join(folder, name), os.O_RDONLY)
        os.fdatasync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        os.close(fd)
PY
}
