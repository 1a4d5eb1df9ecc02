#!/usr/bin/env bash
# Drives the real program through the desktop's player interface, as a sound menu or a
# media key does, on a session bus of its own. Exit 77: the bus tools are not installed.
# Usage: mpris_check.sh MELOFON MAKE_PLAYLIST
set -euo pipefail
melofon=$1
make_playlist=$2
for tool in dbus-run-session gdbus gst-launch-1.0; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: no $tool (packages dbus-daemon, libglib2.0-bin)"; exit 77; }
done
if [ -z "${MELOFON_MPRIS_BUS-}" ]; then
  exec env MELOFON_MPRIS_BUS=1 dbus-run-session -- bash "$0" "$@"
fi

work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
# The tables beside a copy of the program are the ones it uses.
cp "$melofon" "$work/melofon"
mkdir "$work/musica"
gst-launch-1.0 -q audiotestsrc num-buffers=200 ! audio/x-raw,rate=44100,channels=2 ! wavenc ! \
  filesink location="$work/musica/tono.wav"
"$make_playlist" "$work" Tonos "$work/musica/tono.wav" "$work/musica/tono.wav"
export QT_QPA_PLATFORM=offscreen
"$work/melofon" >"$work/log" 2>&1 &
pid=$!

dest=(--session --dest org.mpris.MediaPlayer2.melofon --object-path /org/mpris/MediaPlayer2)
get() { gdbus call "${dest[@]}" --method org.freedesktop.DBus.Properties.Get "$1" "$2"; }
call() { gdbus call "${dest[@]}" --method "$@" >/dev/null; }
fail() { echo "FAILED: $*"; cat "$work/log"; exit 1; }
expect() { # expect WHAT PATTERN: waits up to 5 s for the property to match
  local value
  for _ in $(seq 50); do
    value=$(get org.mpris.MediaPlayer2.Player "$1" 2>/dev/null || true)
    [[ $value == *$2* ]] && { echo "$1: $value"; return; }
    sleep 0.1
  done
  fail "$1 is $value, not $2"
}
for _ in $(seq 100); do get org.mpris.MediaPlayer2 Identity >/dev/null 2>&1 && break; sleep 0.1; done
gdbus monitor --session --dest org.mpris.MediaPlayer2.melofon >"$work/signals" 2>&1 &
monitor=$!

[[ $(get org.mpris.MediaPlayer2 Identity) == "(<'Melofon'>,)" ]] || fail "Identity"
[[ $(get org.mpris.MediaPlayer2 DesktopEntry) == "(<'melofon'>,)" ]] || fail "DesktopEntry"
expect PlaybackStatus "'Stopped'"
expect Metadata NoTrack

# The playlist is chosen and played; Stop, then Play plays it again.
call org.mpris.MediaPlayer2.Playlists.ActivatePlaylist /org/example/melofon/Playlist/1
expect PlaybackStatus "'Playing'"
# The title is the caption's: the path without its first folder.
expect Metadata "'xesam:title': <'${work#/*/}/musica/tono.wav'>"
call org.mpris.MediaPlayer2.Player.Stop
expect PlaybackStatus "'Stopped'"
call org.mpris.MediaPlayer2.Player.Play
expect PlaybackStatus "'Playing'"
call org.mpris.MediaPlayer2.Player.PlayPause
expect PlaybackStatus "'Paused'"
call org.mpris.MediaPlayer2.Player.Stop
expect PlaybackStatus "'Stopped'"

# Volume: the linear gain of the volume bar, both ways (0.1 is -20 dB).
call org.freedesktop.DBus.Properties.Set org.mpris.MediaPlayer2.Player Volume "<0.1>"
expect Volume "0.1"

kill "$monitor"
grep -q "PropertiesChanged ('org.mpris.MediaPlayer2.Player', {.*'PlaybackStatus': <'Playing'>" "$work/signals" ||
  fail "no PropertiesChanged for PlaybackStatus: $(cat "$work/signals")"
grep -q "'Volume': <0.1" "$work/signals" || fail "no PropertiesChanged for Volume"

# A second copy on the same tables raises the first one's window and ends at once.
before=$(md5sum "$work"/*.dbf)
timeout 10 "$work/melofon" >"$work/second.log" 2>&1 || fail "the second copy: $(cat "$work/second.log")"
[[ $(md5sum "$work"/*.dbf) == "$before" ]] || fail "the second copy changed the tables"
kill -0 "$pid" || fail "the first copy ended"

call org.mpris.MediaPlayer2.Quit
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Quit did not end the program"
echo "MPRIS check passed"
