# A korvo-sim device profile: "key = value" lines; docs/simulator.md lists
# every key. This one plays the example project's scanner.

# Answered to "sRN DeviceIdent", as a counted string.
ident = EXAMPLE-SCANNER-01 V1.0
# false: the device runs only its boot code and answers "No Program".
application = true

# The level the device starts at, and the password of each level.
access-level = 1
password 4 = service

# Answer texts (after the name) of variables and methods the checks read.
variable SerialNumber = 8 12345678
variable FirmwareVersion = 5 1.0.0
method GetHardwareRevision = 3

# Scripted faults, off here:
# silent-from = mFDprgdata 3     no answer from the 3rd program data on
# hang-up-at = 40                connection dropped at the 40th telegram
# fail = 7 at mFDprgdata 2       "sFA 7" from the 2nd program data on
# storing-step = 10              storing progress grows by 10 per status request
