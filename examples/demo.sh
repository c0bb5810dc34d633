#!/usr/bin/env bash
# What `make demo` runs: builds the example project and its key file, starts
# korvo-sim on a free loopback port, downloads with korvo-fe and checks the
# simulator's summary against the configuration. Usage: examples/demo.sh BUILD_DIR
# Everything happens in a copy under BUILD_DIR/demo; the simulator is stopped
# on every way out.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
examples=$(cd "$(dirname "$0")" && pwd)
work="$build/demo"
for tool in korvo korvo-sim korvo-fe; do
  if [ ! -x "$build/$tool" ]; then
    echo "demo: $build/$tool not found; build first (make demo builds it)" >&2
    exit 1
  fi
done

rm -rf "$work"
mkdir -p "$work"
cp "$examples"/{project.xml,firmware.s19,parameters.bin,keys.xml,device.profile} "$work/"
cd "$work"

echo "== korvo build project.xml; korvo compress keys.xml keys.key"
"$build/korvo" build project.xml
"$build/korvo" compress keys.xml keys.key

sim_pid=
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  fi
}
trap stop_sim EXIT
"$build/korvo-sim" --profile device.profile --no-pty --summary summary.txt >sim.out 2>sim.err &
sim_pid=$!
port=
for _ in $(seq 50); do
  port=$(sed -n 's/^tcp 127\.0\.0\.1://p' sim.out)
  [ -n "$port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: korvo-sim did not start:" >&2
  cat sim.err >&2
  exit 1
fi

echo
echo "== korvo-fe --device tcp:127.0.0.1:$port --login 4:service download example.cfg keys.key"
status=0
"$build/korvo-fe" --device "tcp:127.0.0.1:$port" --login 4:service download example.cfg keys.key || status=$?
stop_sim

echo
echo "== the simulator's summary"
cat summary.txt

# Each device's stored payload against the configuration's, and the
# parameter set's stored image against the source file.
configured=$("$build/korvo" inspect example.cfg | sed -n 's/.*Data: .* CRC-32 \([0-9A-F]*\)$/\1/p')
stored=$(sed -n 's/^device [0-9]*: .*payload [0-9]* bytes CRC-32 \([0-9A-F]*\),.*/\1/p' summary.txt)
source_crc=$(gzip -c parameters.bin | tail -c 8 | od -An -tx4 -N4 | tr -d ' ' | tr a-f A-F)
stored_param=$(sed -n 's/^device 2: .*image [0-9]* bytes CRC-32 \([0-9A-F]*\),.*/\1/p' summary.txt)
echo
if [ "$status" -eq 0 ] && [ -n "$stored" ] && [ "$configured" = "$stored" ] &&
   [ "$source_crc" = "$stored_param" ]; then
  echo "demo: download succeeded; the device holds exactly the configured data" \
       "(CRC-32 $(echo $stored | tr '\n' ' ')), parameters.bin CRC-32 $source_crc"
else
  echo "demo: FAILED (front end exit status $status; configured CRC-32 $(echo $configured)," \
       "stored $(echo $stored); parameters.bin $source_crc, stored $stored_param)" >&2
  exit 1
fi
