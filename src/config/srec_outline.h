// A first look at a data file meant to hold S-records, for warnings and
// refusals a user can act on: is it another format that is often taken for
// S-records, and which records start its lines.
#pragma once

#include <string>

namespace korvo {

// The first `n` bytes of the file at `path` ("" when it cannot be read).
std::string FileHead(const std::string& path, size_t n);

// Whether `head` starts, after blanks, with a record ("S" and a digit).
bool StartsWithRecord(const std::string& head);

// When `head`, the first bytes of a file, is in a format often taken for
// S-records (Intel HEX, ELF), what it is and how to turn it into
// S-records; "" otherwise.
std::string ForeignFormatHint(const std::string& head);

// The record types that start the lines of an S-record file, as a reader
// that takes the file line by line sees them.
struct SrecLineTypes {
  bool s7 = false;           // a line starting "S7"
  char first_end = 0;        // '7', '8' or '9': the first end record; 0 when none
  bool short_data = false;   // S1 or S2 data records
};

// False when the file cannot be read.
bool ScanSrecLineTypes(const std::string& path, SrecLineTypes& out);

}  // namespace korvo
