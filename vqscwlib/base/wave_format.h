// Audio format records with their original byte layouts: 18, 40 and 30 bytes, packed, little-endian
// fields as on the wire of the media graph and in persisted settings.
#ifndef VQSCWLIB_BASE_WAVE_FORMAT_H_
#define VQSCWLIB_BASE_WAVE_FORMAT_H_

#include <cstdint>

#include "vqscw/format.h"
#include "vqscwlib/base/com.h"

// The records a host sees (vqscw/format.h) live in the library's namespace; inside the library
// they go by their plain names.
using vqscw::KSDATAFORMAT_SUBTYPE_PCM;
using vqscw::WAVE_FORMAT_EXTENSIBLE;
using vqscw::WAVE_FORMAT_PCM;
using vqscw::WAVEFORMATEX;
using vqscw::WAVEFORMATEXTENSIBLE;

constexpr uint16_t WAVE_FORMAT_MPEG = 0x0050;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;

#pragma pack(push, 1)

struct MPEGLAYER3WAVEFORMAT {
  WAVEFORMATEX wfx;
  uint16_t wID;
  uint32_t fdwFlags;
  uint16_t nBlockSize;
  uint16_t nFramesPerBlock;
  uint16_t nCodecDelay;
};

#pragma pack(pop)

static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30);

// The format record as the library keeps it: a 40-byte block large enough for any of the three.
constexpr int kFormatBlockSize = 40;

#endif  // VQSCWLIB_BASE_WAVE_FORMAT_H_
