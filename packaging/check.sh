#!/usr/bin/env bash
# Runs a check tool on the installed files, or reports the check as skipped (exit 77)
# where the tool is not installed; the tools are in `bash scripts/deps --package-check`.
# Usage: check.sh DEBIAN-PACKAGE COMMAND [ARG...]
set -euo pipefail
package=$1
shift
command -v "$1" >/dev/null ||
  { echo "SKIPPED: no $1 ($package); install it with: bash scripts/deps --package-check" >&2; exit 77; }
exec "$@"
