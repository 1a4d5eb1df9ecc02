#!/usr/bin/env bash
# Fails when a folder under src/ includes a header of a folder it must not depend on:
# store/ and registry/ stand alone, ui/ serves windows and commands without knowing
# them, the About dialog needs only ui/ and registry/, and nothing but the main window
# and start-up reaches into app/.
set -euo pipefail
src=${1:?usage: layering_check.sh SRC_DIR}

# The folders each one may include besides its own; "*" is any but app/.
allowed() {
    case $1 in
    store) echo "" ;;
    registry) echo "" ;;
    ui) echo "store registry" ;;
    about) echo "ui registry" ;;
    app) echo "* app" ;;
    *) echo "*" ;;
    esac
}

status=0
for dir in "$src"/*/; do
    folder=$(basename "$dir")
    may=" $(allowed "$folder") "
    while IFS=: read -r file line text; do
        target=$(sed -E 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)/.*|\1|' <<<"$text")
        [ "$target" = "$folder" ] && continue
        case $may in
        *" $target "*) continue ;;
        *" * "*) [ "$target" != app ] && continue ;;
        esac
        echo "${file#"$src"/}:$line: $folder/ must not include $target/ ($text)"
        status=1
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$dir" || true)
done
exit $status
