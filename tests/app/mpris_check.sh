#!/usr/bin/env bash
# Drives the real program through the desktop's player interface, as a sound menu, a media
# key or playerctl does, on a session bus of its own. Exit 77: the bus tools are not
# installed (dbus-daemon, libglib2.0-bin, playerctl, lame).
# Usage: mpris_check.sh MELOFON MAKE_PLAYLIST
set -euo pipefail
melofon=$1
make_playlist=$2
for tool in dbus-run-session gdbus gst-launch-1.0 playerctl lame; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: no $tool"; exit 77; }
done
if [ -z "${MELOFON_MPRIS_BUS-}" ]; then
  exec env MELOFON_MPRIS_BUS=1 dbus-run-session -- bash "$0" "$@"
fi

work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
# The tables beside a copy of the program are the ones it uses.
cp "$melofon" "$work/melofon"
# Its sound engine, which it opens from beside itself.
cp "$(dirname "$melofon")/melofon-gst.so" "$work/"
# A folder with blanks and accents: the URL the desktop is given is percent-encoded.
music="$work/Música del año"
music_url="file://$work/M%C3%BAsica%20del%20a%C3%B1o"
mkdir "$music"
tone() { # tone FILE.wav HERTZ: 20 s
  gst-launch-1.0 -q audiotestsrc freq="$2" num-buffers=860 ! audio/x-raw,rate=44100,channels=2 ! wavenc ! \
    filesink location="$1"
}
tone "$music/uno.wav" 440
tone "$music/dos.wav" 550
tone "$music/suelta.wav" 660
tone "$music/otra.wav" 770
# A tagged MP3, as most are.
lame --quiet --tt "Canción de prueba" --ta "Ana Pérez" --tl "Tonos" --tn 3 "$music/suelta.wav" "$music/tres.mp3"
"$make_playlist" "$work" Tonos "$music/uno.wav" "$music/dos.wav" "$music/tres.mp3"
export QT_QPA_PLATFORM=offscreen
"$work/melofon" >"$work/log" 2>&1 &
pid=$!

dest=(--session --dest org.mpris.MediaPlayer2.melofon --object-path /org/mpris/MediaPlayer2)
get() { gdbus call "${dest[@]}" --method org.freedesktop.DBus.Properties.Get "$1" "$2"; }
ctl() { playerctl --player=melofon "$@"; }
call() { gdbus call "${dest[@]}" --method "$@" >/dev/null; }
fail() { echo "FAILED: $*"; cat "$work/log"; exit 1; }
expect_ctl() { # expect_ctl PATTERN ARGS...: waits up to 5 s for playerctl ARGS to print it
  local pattern=$1 value
  shift
  for _ in $(seq 50); do
    value=$(ctl "$@" 2>/dev/null || true)
    [[ $value == $pattern ]] && { echo "playerctl $*: $value"; return; }
    sleep 0.1
  done
  fail "playerctl $* is '$value', not '$pattern'"
}
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
plugins() { grep -o 'gstreamer-1.0/libgst[a-z0-9_]*\.so' "/proc/$pid/maps" | sed 's/.*libgst//; s/\.so//' | sort -u | tr "\n" " " || true; }
# The sound engine waits for the first file.
[[ -z $(plugins) ]] || fail "GStreamer plugins loaded before any file: $(plugins)"
! grep -q -e melofon-gst.so -e libgstreamer "/proc/$pid/maps" || fail "the engine loaded before any file"

# The playlist is chosen and played; the title is the caption's (the path without its first
# folder) where the file has no tags.
call org.mpris.MediaPlayer2.Playlists.ActivatePlaylist /org/example/melofon/Playlist/1
expect_ctl Playing status
expect_ctl "${work#/*/}/Música del año/uno.wav" metadata xesam:title
expect_ctl "$music_url/uno.wav" metadata xesam:url
expect CanGoNext true
# Next and Previous move the walk.
ctl next
expect_ctl "*dos.wav" metadata xesam:url
ctl previous
expect_ctl "*uno.wav" metadata xesam:url
ctl next
expect_ctl "*dos.wav" metadata xesam:url
ctl next
expect_ctl "*tres.mp3" metadata xesam:url
expect_ctl "Canción de prueba" metadata title
expect_ctl "Ana Pérez" metadata artist
expect_ctl "Tonos" metadata album
# Its own decoder, and no other set's (libav's, where one CI group installs it).
loaded=" $(plugins)"
[[ $loaded == *" mpg123 "* && $loaded != *" libav "* ]] || fail "GStreamer plugins loaded: $loaded"
# Play resumes a paused file; Stop, then Play plays the playlist again.
ctl play-pause
expect_ctl Paused status
ctl play
expect_ctl Playing status
expect_ctl "*tres.mp3" metadata xesam:url
ctl stop
expect_ctl Stopped status
expect CanGoNext false
ctl play
expect_ctl Playing status
expect_ctl "*uno.wav" metadata xesam:url

# Volume: the linear gain of the volume bar, read back as it was set (0.1 is -20 dB).
ctl volume 0.1
expect Volume "0.1"
ctl volume 0
expect_ctl "0.000000" volume

# A file given from outside plays in the single-file strip; another scheme is refused.
ctl open "$music_url/otra.wav"
expect_ctl "*otra.wav" metadata xesam:url
gdbus call "${dest[@]}" --method org.mpris.MediaPlayer2.Player.OpenUri "http://example.org/a.mp3" >/dev/null 2>&1 &&
  fail "OpenUri took an http URI"
ctl stop

kill "$monitor"
grep -q "PropertiesChanged ('org.mpris.MediaPlayer2.Player', {.*'PlaybackStatus': <'Playing'>" "$work/signals" ||
  fail "no PropertiesChanged for PlaybackStatus: $(cat "$work/signals")"
grep -q "'Volume': <0.1" "$work/signals" || fail "no PropertiesChanged for Volume"
grep -q "'xesam:artist': <\['Ana Pérez'\]>" "$work/signals" || fail "no PropertiesChanged for the tags"

# A second copy on the same tables hands its file to the first one, raises its window and
# ends at once, the tables untouched.
before=$(md5sum "$work"/*.dbf)
timeout 10 "$work/melofon" "$music/suelta.wav" >"$work/second.log" 2>&1 ||
  fail "the second copy: $(cat "$work/second.log")"
[[ $(md5sum "$work"/*.dbf) == "$before" ]] || fail "the second copy changed the tables"
kill -0 "$pid" || fail "the first copy ended"
expect_ctl "*suelta.wav" metadata xesam:url
expect_ctl Playing status

call org.mpris.MediaPlayer2.Quit
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Quit did not end the program"
echo "MPRIS check passed"
