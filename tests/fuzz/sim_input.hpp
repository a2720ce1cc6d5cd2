// The input layout of the simulator's request-handler target, shared with the corpus generator.
//
// Byte 0 chooses the robot: bits 0-2 its product model (1 + value % 5), bit 3 two external axes,
// bit 4 made ready (servoed on, safety NORMAL), bit 5 physics on. Then up to kMaxRecords records,
// each a kind byte (value % 4) and:
//   kVyr, kQel, kCommands: a 2-byte little-endian length and that many payload bytes (fewer if
//                          the input ends), the encoded request or motion commands;
//   kStep:                 one byte, the simulation advanced by (value % 64 + 1) steps of 1 ms,
//                          at most kMaxSteps in one input (the physics makes steps costly).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvo::fuzz::sim_input {

enum Kind : std::uint8_t { kVyr = 0, kQel = 1, kCommands = 2, kStep = 3 };

inline constexpr std::size_t kMaxRecords = 32;
inline constexpr int kMaxSteps = 256;

inline constexpr std::uint8_t kExtAxes = 1 << 3;
inline constexpr std::uint8_t kReady = 1 << 4;
inline constexpr std::uint8_t kPhysics = 1 << 5;

// Appends a record of `kind` with `payload` to `input`.
inline void AppendRecord(std::vector<std::uint8_t>& input, Kind kind,
                         const std::vector<std::uint8_t>& payload) {
  input.push_back(kind);
  input.push_back(static_cast<std::uint8_t>(payload.size() & 0xff));
  input.push_back(static_cast<std::uint8_t>((payload.size() >> 8) & 0xff));
  input.insert(input.end(), payload.begin(), payload.end());
}

inline void AppendStep(std::vector<std::uint8_t>& input, std::uint8_t steps) {
  input.push_back(kStep);
  input.push_back(static_cast<std::uint8_t>(steps - 1));
}

}  // namespace korvo::fuzz::sim_input
