#!/usr/bin/env bash
# Checks that make_artwork.py draws exactly the artwork files kept beside it.
# Usage: check_artwork.sh PYTHON
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$1" "$here/make_artwork.py" "$out"
for f in header.bmp buttons.bmp selector.ico header.svg buttons.svg selector.svg; do
  cmp "$out/$f" "$here/$f"
done
echo "artwork matches make_artwork.py"
