#include "tuner/standin/transport_stream.h"

#include <cstdio>

namespace quorvane::standin {
namespace {

constexpr uint8_t kPrivateDataStreamType = 0x06;
constexpr uint8_t kPrivateStream1 = 0xBD;
constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kPayloadSize = kPacketSize - kHeaderSize;
// Adaptation field with only a PCR: length byte, flags byte, six PCR bytes.
constexpr std::size_t kPcrAdaptationSize = 8;
constexpr std::size_t kPesBytes =
    (kPayloadSize - kPcrAdaptationSize) + (kDataPacketsPerBurst - 1) * kPayloadSize;
// The PES packet fills its packets exactly, so no stuffing is ever needed.
static_assert(kPesBytes - 6 <= 0xFFFF);

uint8_t Byte(uint32_t value) {
  return static_cast<uint8_t>(value & 0xFF);
}

void AppendCrc(std::vector<uint8_t>& section) {
  const uint32_t crc = SectionCrc32(section.data(), section.size());
  section.push_back(Byte(crc >> 24));
  section.push_back(Byte(crc >> 16));
  section.push_back(Byte(crc >> 8));
  section.push_back(Byte(crc));
}

// The section header up to and including last_section_number; the length
// counts what follows the length field, CRC included.
std::vector<uint8_t> SectionStart(uint8_t tableId, uint16_t idExtension, std::size_t bodySize) {
  const uint32_t length = static_cast<uint32_t>(5 + bodySize + 4);
  return {tableId,
          Byte(0xB0 | (length >> 8)),
          Byte(length),
          Byte(static_cast<uint32_t>(idExtension) >> 8),
          Byte(idExtension),
          0xC1,  // version 0, current
          0x00,
          0x00};
}

}  // namespace

uint32_t SectionCrc32(const uint8_t* data, std::size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= static_cast<uint32_t>(data[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
  }
  return crc;
}

uint8_t TransportStream::NextContinuity(uint16_t pid) {
  uint8_t& counter =
      pid == kPatPid ? patContinuity_ : (pid == kPmtPid ? pmtContinuity_ : dataContinuity_);
  const uint8_t current = counter;
  counter = static_cast<uint8_t>((counter + 1) & 0x0F);
  return current;
}

void TransportStream::AppendHeader(uint16_t pid, bool unitStart, bool adaptation,
                                   std::vector<uint8_t>& out) {
  out.push_back(kSyncByte);
  out.push_back(Byte((unitStart ? 0x40u : 0x00u) | (static_cast<uint32_t>(pid) >> 8)));
  out.push_back(Byte(pid));
  // Every packet carries payload, so every packet advances its counter.
  out.push_back(Byte((adaptation ? 0x30u : 0x10u) | NextContinuity(pid)));
}

void TransportStream::AppendSectionPacket(uint16_t pid, const uint8_t* section, std::size_t size,
                                          std::vector<uint8_t>& out) {
  const std::size_t start = out.size();
  AppendHeader(pid, true, false, out);
  out.push_back(0x00);  // pointer field: the section starts right here
  out.insert(out.end(), section, section + size);
  out.resize(start + kPacketSize, 0xFF);
}

void TransportStream::AppendBurst(uint64_t elapsedMs, std::vector<uint8_t>& out) {
  std::vector<uint8_t> pat = SectionStart(0x00, 1, 4);
  pat.push_back(Byte(kProgramNumber >> 8));
  pat.push_back(Byte(kProgramNumber));
  pat.push_back(Byte(0xE0u | (kPmtPid >> 8)));
  pat.push_back(Byte(kPmtPid));
  AppendCrc(pat);
  AppendSectionPacket(kPatPid, pat.data(), pat.size(), out);

  std::vector<uint8_t> pmt = SectionStart(0x02, kProgramNumber, 9);
  pmt.push_back(Byte(0xE0u | (kDataPid >> 8)));  // PCR PID
  pmt.push_back(Byte(kDataPid));
  pmt.push_back(0xF0);  // no program descriptors
  pmt.push_back(0x00);
  pmt.push_back(kPrivateDataStreamType);
  pmt.push_back(Byte(0xE0u | (kDataPid >> 8)));
  pmt.push_back(Byte(kDataPid));
  pmt.push_back(0xF0);  // no stream descriptors
  pmt.push_back(0x00);
  AppendCrc(pmt);
  AppendSectionPacket(kPmtPid, pmt.data(), pmt.size(), out);

  // 27 MHz program clock; the PTS runs 100 ms ahead of it.
  const uint64_t pcr = elapsedMs * 27000;
  const uint64_t pcrBase = (pcr / 300) & 0x1FFFFFFFFull;
  const uint32_t pcrExtension = static_cast<uint32_t>(pcr % 300);
  const uint64_t pts = (pcrBase + 9000) & 0x1FFFFFFFFull;

  std::vector<uint8_t> pes = {0x00,
                              0x00,
                              0x01,
                              kPrivateStream1,
                              Byte(static_cast<uint32_t>((kPesBytes - 6) >> 8)),
                              Byte(static_cast<uint32_t>(kPesBytes - 6)),
                              0x80,  // marker bits, nothing scrambled
                              0x80,  // PTS only
                              0x05,
                              Byte(static_cast<uint32_t>(0x21 | ((pts >> 29) & 0x0E))),
                              Byte(static_cast<uint32_t>(pts >> 22)),
                              Byte(static_cast<uint32_t>(0x01 | ((pts >> 14) & 0xFE))),
                              Byte(static_cast<uint32_t>(pts >> 7)),
                              Byte(static_cast<uint32_t>(0x01 | ((pts << 1) & 0xFE)))};
  char text[96];
  const int length = std::snprintf(
      text, sizeof text, "Quorvane stand-in tuner %u kHz, burst %llu\n",
      static_cast<unsigned>(frequencyKHz_), static_cast<unsigned long long>(burstCount_));
  const std::size_t textSize = length > 0 ? static_cast<std::size_t>(length) : 0;
  for (std::size_t i = 0; pes.size() < kPesBytes; ++i) {
    pes.push_back(static_cast<uint8_t>(text[i % textSize]));
  }
  ++burstCount_;

  std::size_t offset = 0;
  for (std::size_t packet = 0; packet < kDataPacketsPerBurst; ++packet) {
    const bool first = packet == 0;
    AppendHeader(kDataPid, first, first, out);
    std::size_t room = kPayloadSize;
    if (first) {
      out.push_back(static_cast<uint8_t>(kPcrAdaptationSize - 1));
      out.push_back(0x10);  // PCR present
      out.push_back(Byte(static_cast<uint32_t>(pcrBase >> 25)));
      out.push_back(Byte(static_cast<uint32_t>(pcrBase >> 17)));
      out.push_back(Byte(static_cast<uint32_t>(pcrBase >> 9)));
      out.push_back(Byte(static_cast<uint32_t>(pcrBase >> 1)));
      out.push_back(Byte(static_cast<uint32_t>(((pcrBase & 1) << 7) | 0x7E | (pcrExtension >> 8))));
      out.push_back(Byte(pcrExtension));
      room -= kPcrAdaptationSize;
    }
    out.insert(out.end(), pes.begin() + static_cast<std::ptrdiff_t>(offset),
               pes.begin() + static_cast<std::ptrdiff_t>(offset + room));
    offset += room;
  }
}

}  // namespace quorvane::standin
