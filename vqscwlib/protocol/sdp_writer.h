// SDP files: a Session Description Protocol text (RFC 4566) for one heard source, naming its
// stream's multicast group and RTP port, its encoding, and the terminal and source it comes from.
#ifndef VQSCWLIB_PROTOCOL_SDP_WRITER_H_
#define VQSCWLIB_PROTOCOL_SDP_WRITER_H_

#include <cstdint>

#include "vqscwlib/platform/export.h"
#include "vqscwlib/protocol/source_table.h"

// Every source streams to this UDP port.
constexpr uint16_t kStreamPort = 5004;
// A stream's group is this (239.128.0.0, host order) OR its stream id.
constexpr uint32_t kStreamGroupBase = 0xEF800000u;
// The characters "/%05d.sdp" add to the directory.
constexpr int kSdpFileNameLength = 10;

extern "C" {

// Writes (replacing) the file DIRECTORY/NNNNN.sdp, NNNNN the lowest 15 bits of the source's
// stream id, describing the source's stream. The lines end with CR LF, so a file is the same
// wherever it is written. Returns 0 when the file was written; -1 when it could not be created or
// written, when the source's stream type has no encoding (only 2, L24, and 3, L16, have one: no
// file is written for others), or when its stream id lies above 0x7FFFFF (its group would leave
// 239.128.0.0/9).
// REQUIRES: `directory` has no trailing separator; `source` is a slot of a table whose terminal
// stays in the table during the call. `path`, when not null, receives the file's path and holds
// at least strlen(directory) + 11 characters; when null, the path must fit 260 characters.
VQSCW_EXPORT int advspy_GenerateSDP(const char* directory, const SpySource* source, char* path);

}  // extern "C"

#endif  // VQSCWLIB_PROTOCOL_SDP_WRITER_H_
