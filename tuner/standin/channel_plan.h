// Where the stand-in tuner would tune for a channel number.
#pragma once

#include <cstdint>

namespace quorvane::standin {

// Carrier frequency in kHz of terrestrial UHF channel 13-62 (catv 0) or cable
// channel C13-C63 (catv 1); 0 for anything else.
uint32_t ChannelCarrierKHz(uint32_t channel, uint32_t catv);

}  // namespace quorvane::standin
