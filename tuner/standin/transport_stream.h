// A small but valid MPEG transport stream: one program whose single
// elementary stream carries private data, with the program tables repeated
// ahead of every burst so that a reader can start anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvane::standin {

inline constexpr std::size_t kPacketSize = 188;
inline constexpr uint8_t kSyncByte = 0x47;
inline constexpr uint16_t kPatPid = 0x0000;
inline constexpr uint16_t kPmtPid = 0x0100;
inline constexpr uint16_t kDataPid = 0x0101;
inline constexpr uint16_t kProgramNumber = 1;
// Packets of the data stream per burst; with PAT and PMT a burst is 8 packets.
inline constexpr std::size_t kDataPacketsPerBurst = 6;

// CRC-32 of MPEG-2 sections (polynomial 0x04C11DB7, no reflection, initial
// value all ones, no final inversion).
uint32_t SectionCrc32(const uint8_t* data, std::size_t size);

class TransportStream {
 public:
  explicit TransportStream(uint32_t frequencyKHz) : frequencyKHz_(frequencyKHz) {}

  // Appends one burst stamped `elapsedMs` after the start: PAT, PMT and one
  // PES packet of the data stream, whose first packet carries the PCR.
  void AppendBurst(uint64_t elapsedMs, std::vector<uint8_t>& out);

 private:
  uint8_t NextContinuity(uint16_t pid);
  void AppendHeader(uint16_t pid, bool unitStart, bool adaptation, std::vector<uint8_t>& out);
  void AppendSectionPacket(uint16_t pid, const uint8_t* section, std::size_t size,
                           std::vector<uint8_t>& out);

  uint32_t frequencyKHz_;
  uint64_t burstCount_ = 0;
  uint8_t patContinuity_ = 0;
  uint8_t pmtContinuity_ = 0;
  uint8_t dataContinuity_ = 0;
};

}  // namespace quorvane::standin
