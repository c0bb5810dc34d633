#!/usr/bin/env bash
# Installs the build in $1 into a temporary prefix and uses what it finds
# there: the tool, the library through pkg-config, the jar and the man page.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "install test: $*" >&2; exit 1; }

"$prefix/bin/korvo" --version | grep -q '^korvo [0-9]' || fail "installed korvo has no version"
lib=$(ls "$prefix"/lib*/libKorvo.so)
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libKorvo.so.1 ] || fail "soname is '$soname'"
[ -e "$(dirname "$lib")/$soname" ] || fail "$soname not installed"
# The boot-loader library is loaded from beside the library when a download
# needs it, and needed by nothing at load time.
[ -e "$(dirname "$lib")/libBrekLoad.so" ] || fail "libBrekLoad.so not installed beside libKorvo.so"
for f in "$lib" "$prefix/bin/korvo"; do
  objdump -p "$f" | awk '$1 == "NEEDED" { print $2 }' | grep -i brekload && fail "$f needs BrekLoad"
done
jar tf "$prefix/share/java/korvo.jar" | grep -q 'quarnel/firmwaredownload/Executor.class' ||
  fail "jar lacks the front end's classes"
jar tf "$prefix/share/java/korvo.jar" | grep -q korvotest && fail "jar holds test classes"
grep -q '^\.TH KORVO 1' "$prefix/share/man/man1/korvo.1" || fail "no man page"

# A program built only from what pkg-config says links and finds the export.
export PKG_CONFIG_PATH=$(dirname "$lib")/pkgconfig
cat >"$prefix/use.cpp" <<'CPP'
#include <korvo/exports.h>
int main() { return CreateConfigFile(nullptr) == 0 ? 1 : 0; }
CPP
g++ -o "$prefix/use" "$prefix/use.cpp" $(pkg-config --cflags --libs korvo) ||
  fail "cannot build against the installed library"
[ "$(pkg-config --modversion korvo)" = "$("$prefix/bin/korvo" --version | cut -d' ' -f2)" ] ||
  fail "pkg-config and korvo disagree on the version"
