#!/usr/bin/env bash
# The demo: a full firmware update of a virtual drive with the bundled sample
# package, in the terminal front end. `./demo.sh failing` shows a failing update.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/install-deps.sh" --native-only
cmake --preset linux >/dev/null
cmake --build "$here/build/linux" --target orvdemo -j"$(nproc)" >/dev/null
sample="${1:-good}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$here/samples/demo-good/." "$work/"
cp -r "$here/samples/demo-$sample/." "$work/"
cp "$here/build/linux/orvdemo" "$work/UPDATE"
cd "$work"
./UPDATE
