# shellcheck shell=bash disable=SC2034  # sourced: its variables are for the caller
# The demo world the launcher runs against, shared by scripts/demo and the end-to-end
# tests: a small game client with its manifest and a news feed, served by nginx on
# 127.0.0.1, a config.json pointing there, and data and runtime folders of its own so
# that the player's real settings, log and running launcher are never touched.
#
# Source it from bash, then:
#   demo_make_site SITE CLI [EXE]    client in SITE/client, SITE/manifest.json, SITE/news.json;
#                                    EXE: a Windows client program to publish instead
#   demo_serve SITE WORK [RATE]      nginx on SITE, each connection limited to RATE (e.g. 2m)
#   demo_write_config EXE_DIR [CLOSE_ON_PLAY]   config.json beside the launcher
#   demo_isolate WORK                XDG_DATA_HOME and XDG_RUNTIME_DIR of the demo's own
#   demo_isolate_wine                the data folder inside the Wine prefix, emptied
#   demo_stop                        stops nginx

_demo_lib_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=bench/lib.sh
source "$_demo_lib_dir/../../bench/lib.sh"

# What the demo's config.json asks the launcher to pass to the client: words split the
# way a shell splits them, one of them quoted because it holds spaces.
DEMO_CLIENT_ARGS='-windowed -lang es -server "Brisal Oeste 1"'
# The same arguments as the client must receive them, one a line.
DEMO_CLIENT_ARGV=$'-windowed\n-lang\nes\n-server\nBrisal Oeste 1'

# The stand-in for a renderer's client. The launcher starts it inside the install
# folder; it writes down how it was started (to $BRISAL_DEMO_STARTED, else
# started.txt in the folder it runs in), shows a small window when there is a display,
# and exits.
_demo_client_program() {
  local renderer="$1"
  cat <<SCRIPT
#!/bin/sh
# Brisal Ascent demo client ($renderer). Not the game: it only shows that the launcher
# started it, with which arguments and in which folder.
record="\${BRISAL_DEMO_STARTED:-started.txt}"
{
  echo "renderer=$renderer"
  echo "cwd=\$(pwd)"
  echo "argc=\$#"
  for arg in "\$@"; do echo "arg=\$arg"; done
} >"\$record.tmp" && mv -f "\$record.tmp" "\$record"
if [ -n "\${DISPLAY:-}" ] && command -v xmessage >/dev/null 2>&1; then
  xmessage -center -timeout "\${BRISAL_DEMO_CLIENT_SECONDS:-8}" \\
    "Brisal Ascent ($renderer) se ha iniciado.  Argumentos: \$*" >/dev/null 2>&1
fi
exit 0
SCRIPT
}

# demo_make_site SITE CLI [EXE]: a client of about 30 MB in a few dozen files and
# folders, published with `brisal-cli manifest`, and a news feed in Spanish. The renderers' programs are shell scripts, or
# copies of the Windows program EXE (tests/e2e/windows_client.cpp) when given.
demo_make_site() {
  local site="$1" cli="$2" windows_client="${3:-}"
  local client="$site/client"
  rm -rf "$site"
  mkdir -p "$client"/{data,maps,sounds/music,sounds/effects,textures,config,docs}

  if [ -n "$windows_client" ]; then
    cp "$windows_client" "$client/Brisal Client_GL.exe"
    cp "$windows_client" "$client/Brisal Client_DX.exe"
  else
    _demo_client_program GL >"$client/Brisal Client_GL.exe"
    _demo_client_program DX >"$client/Brisal Client_DX.exe"
  fi
  # As a web server would hand them out: the launcher must make the client runnable.
  chmod 0644 "$client"/*.exe

  local i
  # A few large archives, so that a download lasts long enough to be seen and stopped.
  for i in 0 1 2 3; do
    head -c $((5 * 1024 * 1024 + i * 4099)) /dev/urandom >"$client/data/pak0$i.bpk"
  done
  for i in $(seq 1 10); do
    head -c $((200 * 1024 + i * 37 * 1024)) /dev/urandom >"$client/maps/region_$i.map"
  done
  for i in $(seq 1 6); do
    head -c $((300 * 1024 + i * 51 * 1024)) /dev/urandom >"$client/sounds/music/tema_$i.ogg"
  done
  for i in $(seq 1 8); do
    head -c $((20 * 1024 + i * 1000)) /dev/urandom >"$client/sounds/effects/efecto_$i.wav"
  done
  for i in $(seq 1 6); do
    head -c $((128 * 1024 * i)) /dev/urandom >"$client/textures/atlas_$i.tex"
  done
  printf '[video]\nancho=1280\nalto=720\n' >"$client/config/video.ini"
  printf '[audio]\nvolumen=80\n' >"$client/config/audio.ini"
  printf 'Brisal Ascent (cliente de demostración)\n' >"$client/docs/LEEME.txt"
  : >"$client/docs/vacio.txt"  # an empty file is part of a client too

  "$cli" manifest "$client" --revision "demo-$(date +%Y%m%d%H%M%S)" \
    --output "$site/manifest.json" >/dev/null || return 1

  cat >"$site/news.json" <<'JSON'
{
  "news": [
    {"tag": "Parche", "title": "Parche 1.4.2: nuevas regiones en el norte de Brisal", "date": "12/05/2025", "url": "https://brisal-ascent.example/noticias/parche-1-4-2"},
    {"tag": "Evento", "title": "Torneo de primavera: inscripciones abiertas hasta el viernes", "date": "08/05/2025", "url": "https://brisal-ascent.example/noticias/torneo"},
    {"tag": "", "title": "Mantenimiento programado del servidor Oeste el martes a las 6:00", "date": "02/05/2025", "url": "http://brisal-ascent.example/noticias/mantenimiento"},
    {"tag": "Guía", "title": "Cómo elegir tu primera clase: guerrero, arquera o mago", "date": "28/04/2025", "url": "https://brisal-ascent.example/guias/clases"}
  ]
}
JSON
}

# demo_serve SITE WORK [RATE]: serves SITE on 127.0.0.1; sets DEMO_BASE_URL.
demo_serve() {
  local site="$1" work="$2" rate="${3:-}"
  local directives=""
  [ -n "$rate" ] && directives="limit_rate $rate;"
  start_nginx "$site" "$work" "$directives" || return 1
  DEMO_BASE_URL="http://127.0.0.1:$NGINX_PORT/"
}

demo_stop() {
  stop_nginx
}

# demo_write_config EXE_DIR [CLOSE_ON_PLAY]: the operator's config.json for the demo
# server, beside the launcher executable in EXE_DIR.
demo_write_config() {
  local exe_dir="$1" close_on_play="${2:-true}"
  BASE_URL="$DEMO_BASE_URL" CLIENT_ARGS="$DEMO_CLIENT_ARGS" CLOSE_ON_PLAY="$close_on_play" \
    python3 - "$exe_dir/config.json" <<'PY'
import json, os, sys
config = {
    "base_url": os.environ["BASE_URL"],
    "manifest": "manifest.json",
    "files_path": "client/",
    "news": "news.json",
    "connections": 4,
    "client_args": os.environ["CLIENT_ARGS"],
    "close_on_play": os.environ["CLOSE_ON_PLAY"] == "true",
    "recheck_seconds": 90,
    "links": {
        "website": "https://brisal-ascent.example/",
        "register": "https://brisal-ascent.example/registro",
        "discord": "https://discord.example/brisal-ascent",
    },
}
with open(sys.argv[1], "w", encoding="utf-8") as f:
    json.dump(config, f, ensure_ascii=False, indent=2)
    f.write("\n")
PY
}

# demo_isolate WORK: the launcher keeps its settings, log and news cache in
# WORK/data/BrisalAscent and its single-instance lock and socket in a private runtime
# folder (short, because socket paths are limited to about 100 bytes).
demo_isolate() {
  local work="$1"
  export XDG_DATA_HOME="$work/data"
  mkdir -p "$XDG_DATA_HOME"
  XDG_RUNTIME_DIR="$(mktemp -d /tmp/brisal-run.XXXXXX)" || return 1
  chmod 0700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
  DEMO_DATA="$XDG_DATA_HOME/BrisalAscent"
  DEMO_INSTALL="$DEMO_DATA/client"
  DEMO_LOG="$DEMO_DATA/launcher.log"
}

# demo_isolate_wine: the Windows launcher under Wine keeps its settings, log, news
# cache and the installed client in the Wine prefix's local application data; that
# folder starts empty. The single instance is the prefix's own (a named mutex).
demo_isolate_wine() {
  local local_appdata
  local_appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local"
  DEMO_DATA="$local_appdata/BrisalAscent"
  rm -rf "$DEMO_DATA"
  DEMO_INSTALL="$DEMO_DATA/client"
  DEMO_LOG="$DEMO_DATA/launcher.log"
}
