#!/usr/bin/env bash
# Installs the build in $1 into a temporary prefix and uses what it finds
# there as a user would: the tool, the front end and the simulator with
# their manual pages, and a program built against the library through
# pkg-config alone.
set -euo pipefail
build=$1
source=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
unset LD_LIBRARY_PATH

cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "install test: $*" >&2; exit 1; }

version=$("$prefix/bin/korvo" --version | sed -n 's/^korvo \([0-9][0-9.]*\)$/\1/p')
[ -n "$version" ] || fail "installed korvo has no version"
for program in korvo-fe korvo-sim; do
  [ "$("$prefix/bin/$program" --version)" = "$program $version" ] ||
    fail "$program --version does not say '$program $version'"
done
for page in korvo korvo-fe korvo-sim; do
  upper=$(echo "$page" | tr a-z A-Z)
  grep -q "^\.TH $upper 1" "$prefix/share/man/man1/$page.1" || fail "no man page for $page"
done
grep -q 'usage: korvo\\-fe' "$prefix/share/man/man1/korvo-fe.1" || fail "korvo-fe.1 lacks the usage"

lib=$(ls "$prefix"/lib*/libKorvo.so)
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = libKorvo.so.1 ] || fail "soname is '$soname'"
[ -e "$(dirname "$lib")/$soname" ] || fail "$soname not installed"
# The boot-loader library is loaded from beside the library when a download
# needs it, and needed by nothing at load time.
[ -e "$(dirname "$lib")/libBrekLoad.so" ] || fail "libBrekLoad.so not installed beside libKorvo.so"
for f in "$lib" "$prefix/bin/korvo" "$prefix/bin/korvo-sim"; do
  objdump -p "$f" | awk '$1 == "NEEDED" { print $2 }' | grep -i brekload && fail "$f needs BrekLoad"
done
jar tf "$prefix/share/java/korvo.jar" | grep -q 'quarnel/firmwaredownload/Executor.class' ||
  fail "jar lacks the front end's classes"
jar tf "$prefix/share/java/korvo.jar" | grep -q korvotest && fail "jar holds test classes"

work="$prefix/work"
mkdir "$work"
cp "$source"/examples/{project.xml,firmware.s19,parameters.bin} "$work/"

# A C++ program built only from what pkg-config says finds the library it
# was linked with, and builds the example project through it.
export PKG_CONFIG_PATH=$(dirname "$lib")/pkgconfig
cat >"$work/use.cpp" <<'CPP'
#include <korvo/exports.h>
int main(int argc, char** argv) { return argc == 2 && CreateConfigFile(argv[1]) == 0 ? 0 : 1; }
CPP
g++ -o "$work/use" "$work/use.cpp" $(pkg-config --cflags --libs korvo) ||
  fail "cannot build against the installed library"
(cd "$work" && ./use project.xml >use.out) || fail "the program linked through pkg-config did not build the example"
"$prefix/bin/korvo" inspect "$work/example.cfg" | grep -q '^Devices: 2$' || fail "the program's build is no configuration"
[ "$(pkg-config --modversion korvo)" = "$version" ] || fail "pkg-config and korvo disagree on the version"
# A C compiler is told the header is C++, not left with a missing <string>.
echo '#include <korvo/exports.h>' >"$work/use.c"
if gcc -c -o "$work/use.o" "$work/use.c" $(pkg-config --cflags korvo) 2>"$work/gcc.err"; then
  fail "the header compiled as C"
fi
grep -q 'is a C++ interface' "$work/gcc.err" || fail "a C compiler is not told why: $(cat "$work/gcc.err")"

# The installed front end finds its jar and library, also through a link,
# and a download from it to the installed simulator stores the example.
rm "$work/example.cfg"
mkdir "$prefix/link"
ln -s "$prefix/bin/korvo-fe" "$prefix/link/korvo-fe"
(cd "$work" && "$prefix/link/korvo-fe" build project.xml >fe.out 2>&1) ||
  fail "the installed korvo-fe did not build: $(cat "$work/fe.out")"
[ -s "$work/example.cfg" ] || fail "the installed korvo-fe built nothing"
"$source/examples/demo.sh" "$prefix/bin" >"$work/demo.out" 2>&1 ||
  fail "the demo with the installed programs failed: $(tail -5 "$work/demo.out")"
