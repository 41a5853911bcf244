#include "tuner/standin/channel_plan.h"

namespace quorvane::standin {
namespace {

// Every channel is 6 MHz wide and carries its digital signal 1/7 MHz above
// the centre of its band, rounded here to the nearest kHz (+143).
constexpr uint32_t kBandWidthKHz = 6000;
constexpr uint32_t kCarrierOffsetKHz = 143;

// Carrier of `channel` in a run of adjacent channels whose first one, `first`,
// starts at `lowerEdgeKHz`.
constexpr uint32_t CarrierKHz(uint32_t lowerEdgeKHz, uint32_t first, uint32_t channel) {
  return lowerEdgeKHz + (channel - first) * kBandWidthKHz + kBandWidthKHz / 2 + kCarrierOffsetKHz;
}

}  // namespace

uint32_t ChannelCarrierKHz(uint32_t channel, uint32_t catv) {
  if (catv == 0) {
    // UHF 13 is the first band above 470 MHz: 470-476 MHz.
    if (channel >= 13 && channel <= 62) {
      return CarrierKHz(470000, 13, channel);
    }
    return 0;
  }
  if (catv == 1) {
    // Cable channels fill the gaps around the VHF broadcast bands: C13-C22
    // follow VHF 3 (102-108 MHz) from 108 MHz, C23-C63 follow VHF 12
    // (216-222 MHz) from 222 MHz, each run without gaps.
    if (channel >= 13 && channel <= 22) {
      return CarrierKHz(108000, 13, channel);
    }
    if (channel >= 23 && channel <= 63) {
      return CarrierKHz(222000, 23, channel);
    }
  }
  return 0;
}

}  // namespace quorvane::standin
