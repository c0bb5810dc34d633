#!/usr/bin/env bash
# Regenerates the example's data files. Their content is fixed, so running
# this again gives the same bytes; the checked-in files were made with it.
# Needs srec_cat (Debian package srecord).
set -euo pipefail
cd "$(dirname "$0")"

# Application firmware: 3 KiB of code at 0x00010000 and a 1 KiB table at
# 0x00020000, as S3 data records of 32 bytes with an S0 header and an S7
# end record (no S5 count record).
srec_cat \
  -generate 0x00010000 0x00010C00 -repeat-string "KORVO EXAMPLE APPLICATION 1.0 " \
  -generate 0x00020000 0x00020400 -repeat-data 0x10 0x32 0x54 0x76 0x98 0xBA 0xDC 0xFE \
  -o firmware.s19 -motorola -address-length=4 -obs=32 \
  -header="korvo example" -execution-start-address=0x00010000 -disable=data-count

# A parameter set sent to the device as it is.
srec_cat -generate 0 500 -repeat-string "gain=12;offset=-3;filter=median5;" \
  -o parameters.bin -binary
