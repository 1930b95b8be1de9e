#!/usr/bin/env bash
# The installed-style check of the session bus: the real player on a private session bus
# (run under dbus-run-session) takes its names, answers for itself and takes loop modes
# and volume; a second launch
# asks it to come forward (Activate, answered by the first player, as a bus monitor sees)
# and ends with 0 without becoming a player; Quit ends the first with exit code 0 after
# the call has been answered.
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
[[ $entry == "(<'io.github.newsbar.newsbar'>,)" ]] || { echo "DesktopEntry: $entry" >&2; exit 1; }
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

app=io.github.newsbar.newsbar
owner=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.GetNameOwner "$app")
owner=${owner#"('"}
owner=${owner%"',)"}
monitor_log=$(mktemp)
dbus-monitor --session "type='method_call',interface='org.freedesktop.Application'" \
  "type='method_return',sender='$owner'" >"$monitor_log" &
monitor=$!
trap 'kill "$pid" "$monitor" 2>/dev/null || true; rm -f "$monitor_log"' EXIT
for _ in $(seq 100); do
  grep -q 'member=NameLost' "$monitor_log" && break
  sleep 0.1
done
second=0
timeout 20 "$player" || second=$?
[[ $second == 0 ]] || { echo "second launch: exit code $second" >&2; exit 1; }
sleep 0.3
kill "$monitor"
wait "$monitor" 2>/dev/null || true
# The Activate call to the application's name, and the first player's answer to it.
read -r caller serial < <(sed -n \
  "s/^method call .* sender=\\(:[0-9.]*\\) -> destination=$app serial=\\([0-9]*\\) path=\\/io\\/github\\/newsbar\\/newsbar; interface=org.freedesktop.Application; member=Activate$/\\1 \\2/p" \
  "$monitor_log")
[[ -n ${serial:-} ]] || { echo "no Activate call seen:" >&2; cat "$monitor_log" >&2; exit 1; }
grep -q "^method return .* sender=$owner -> destination=$caller serial=[0-9]* reply_serial=$serial\$" \
  "$monitor_log" || { echo "Activate not answered by $owner:" >&2; cat "$monitor_log" >&2; exit 1; }
# The second launch never became a player: the first still holds both names, alone.
names=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.ListNames)
[[ $names != *"$name.instance"* ]] || { echo "a second player registered: $names" >&2; exit 1; }
[[ $(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.GetNameOwner "$app") == "('$owner',)" ]] || exit 1

reply=$(call org.mpris.MediaPlayer2.Quit)
[[ $reply == "()" ]] || { echo "Quit: $reply" >&2; exit 1; }
code=0
wait "$pid" || code=$?
trap - EXIT
rm -f "$monitor_log"
[[ $code == 0 ]] || { echo "exit code $code" >&2; exit 1; }
echo "session bus: names, identity, status, loop modes, volume, second launch handed over and Quit as expected"
