#!/usr/bin/env bash
# Builds the example project with `korvo build` and shows the result with
# `korvo inspect`. Usage: examples/demo.sh BUILD_DIR
# The example is copied into BUILD_DIR/demo first: the builder writes its
# output next to the project and its temporary files into the current
# directory, and neither belongs in the source tree.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
korvo="$build/korvo"
examples=$(cd "$(dirname "$0")" && pwd)
work="$build/demo"

if [ ! -x "$korvo" ]; then
  echo "demo: $korvo not found; build first (make build)" >&2
  exit 1
fi

rm -rf "$work"
mkdir -p "$work"
cp "$examples/project.xml" "$examples/firmware.s19" "$examples/parameters.bin" "$work/"
cd "$work"

echo "== korvo build $work/project.xml"
"$korvo" build project.xml
echo
echo "== korvo inspect $work/example.cfg"
"$korvo" inspect example.cfg
