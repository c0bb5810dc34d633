// A line no faster than a real one: korvo-sim's --line-rate.
#pragma once

#include <cstdint>
#include <memory>

#include "sim/line.h"

namespace korvo::sim {

// `line` carrying at most `bytes_per_second` each way, as a serial line of
// that speed would: bytes read reach the device no sooner than they could
// have arrived, bytes written leave no sooner than the line is free. Idle
// time earns no credit, so a burst after a pause is paced too. Read and
// Write may run on two threads; each direction keeps its own clock.
std::unique_ptr<Line> PaceLine(std::unique_ptr<Line> line, uint32_t bytes_per_second);

}  // namespace korvo::sim
