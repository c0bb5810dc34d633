// CRC-32 of IEEE 802.3 (polynomial 0x04C11DB7, reflected, initial value and
// final XOR 0xFFFFFFFF): the checksum the devices verify in front of "FILE"
// payloads. Same values as zlib's crc32().
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvo {

// CRC of `size` bytes. To checksum data in pieces, pass the CRC of the
// bytes before as `previous` (0 for the first piece).
uint32_t Crc32(const void* data, size_t size, uint32_t previous = 0);

}  // namespace korvo
