// Reading a stream's description from an SDP text: the multicast group, the UDP port, the payload
// header and the audio format. A small line scanner, not a general SDP parser: it looks at "c=",
// "m=" and "a=rtpmap:" lines and a handful of fixed tokens, and ignores everything else.
#ifndef VQSCWLIB_PREVIEW_STREAM_DESCRIPTION_H_
#define VQSCWLIB_PREVIEW_STREAM_DESCRIPTION_H_

#include <cstddef>
#include <cstdint>

#include "vqscwlib/base/com.h"
#include "vqscwlib/preview/audio_formats.h"
#include "vqscwlib/preview/media_types.h"

struct StreamDescription {
  uint32_t group;  // network byte order; 239.128.128.128 unless a "c=" line says otherwise
  uint16_t port;   // host order
  PayloadHeaderMode headerMode;
  GUID majorType;  // MEDIATYPE_Audio once an "m=audio" line is seen
  GUID subType;    // MEDIASUBTYPE_PCM or MEDIASUBTYPE_MP3 once an encoding is recognised
  bool formatSet;  // an encoding was recognised and `format` holds its record
  vqscw::FormatBlock format;
};

// Scans `size` bytes (not NUL-terminated; any bytes at all) and returns what they describe,
// starting from the defaults. Later lines override earlier ones.
StreamDescription ScanStreamDescription(const uint8_t* data, size_t size);

#endif  // VQSCWLIB_PREVIEW_STREAM_DESCRIPTION_H_
