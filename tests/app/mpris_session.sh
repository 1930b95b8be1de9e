#!/usr/bin/env bash
# The installed-style check of the media bus: the real player on a private session bus
# (run under dbus-run-session) takes its name, answers for itself, takes loop modes and
# volume, and Quit ends it with exit code 0 after the call has been answered.
#   mpris_session.sh <newsbar binary>
set -euo pipefail
player=$1
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
name=org.mpris.MediaPlayer2.newsbar
call() {
  gdbus call --session --dest "$name" --object-path /org/mpris/MediaPlayer2 --method "$@"
}

"$player" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

gdbus wait --session --timeout 20 "$name"
identity=$(call org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2 Identity)
entry=$(call org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2 DesktopEntry)
status=$(call org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player PlaybackStatus)
[[ $identity == "(<'newsbar'>,)" ]] || { echo "Identity: $identity" >&2; exit 1; }
[[ $entry == "(<'newsbar'>,)" ]] || { echo "DesktopEntry: $entry" >&2; exit 1; }
[[ $status == "(<'Stopped'>,)" ]] || { echo "PlaybackStatus: $status" >&2; exit 1; }

# The loop modes and the volume are the desktop's to set, also while the catalogue loads.
get() { call org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player "$1"; }
set_to() { call org.freedesktop.DBus.Properties.Set org.mpris.MediaPlayer2.Player "$1" "$2" >/dev/null; }
expect() {
  local got
  got=$(get "$1")
  [[ $got == "$2" ]] || { echo "$1: $got, expected $2" >&2; exit 1; }
}
set_to LoopStatus "<'Track'>"
expect LoopStatus "(<'Track'>,)"
set_to Shuffle "<true>"
expect Shuffle "(<true>,)"
expect LoopStatus "(<'None'>,)"
set_to Shuffle "<false>"
expect Shuffle "(<false>,)"
set_to Volume "<0.3>"
expect Volume "(<0.29999999999999999>,)"

reply=$(call org.mpris.MediaPlayer2.Quit)
[[ $reply == "()" ]] || { echo "Quit: $reply" >&2; exit 1; }
code=0
wait "$pid" || code=$?
trap - EXIT
[[ $code == 0 ]] || { echo "exit code $code" >&2; exit 1; }
echo "mpris session: name, identity, status, loop modes, volume and Quit as expected"
