// Preview playback: plays one channel of the network audibly, for a user choosing a channel.
//
// PreviewStart builds a media graph around a new CNetworkReceiverFilter for the channel's stream
// (24-bit stereo PCM at 48000 Hz, RTP, UDP port 5004, group 239.192.0.0 OR the channel number),
// connects it to the audio output and runs it. There is at most one preview per process; a start
// replaces the running one.
//
// Threads: every function here must be called from one thread, the one that owns the preview
// (the selector dialog's). The process-wide preview state has no lock. The progress callback is
// called on that thread from inside PreviewStart and PreviewStop, and may call PreviewSetVolume,
// PreviewGetLevels and PreviewGetStatistics; it must not call PreviewStart or PreviewStop.
//
// Addresses are IPv4 addresses in network byte order as held in memory.
#ifndef VQSCWLIB_PREVIEW_PREVIEW_H_
#define VQSCWLIB_PREVIEW_PREVIEW_H_

#include <cstdint>

#include "vqscw/network.h"
#include "vqscwlib/base/com.h"
#include "vqscwlib/preview/receiver_health.h"

// Progress of PreviewStart and PreviewStop:
//   0  the preview was stopped by PreviewStop (only when a callback is given)
//   1  the media system is initialised
//   2  the graph and its run control exist
//   3  the receiver filter has been added to the graph
//   4  the filter's pin has been connected to the audio output (apply the volume here)
//   5  the graph is running
// `user` is the value given with the callback.
using PreviewProgressCallback = void (*)(int step, void* user);

// Stops any preview, then previews `channel` on `interface_address` (0: the audio driver's
// interface address). Reports steps 1 to 5 as they are reached and returns S_OK, or the result
// of the step that failed (no step is reported for the failure). A sink that cannot start gives
// VFW_E_NO_AUDIO_HARDWARE; an interface that cannot join the group gives the socket error as a
// result code. After a failure the half-built preview plays nothing and stays until the next
// PreviewStop or PreviewStart.
HRESULT PreviewStart(uint32_t channel, PreviewProgressCallback callback, void* user,
                     uint32_t interface_address);

// Ends the preview, if any, and waits until its receive thread has ended. With a callback,
// reports step 0 (also when there was nothing to stop). Harmless when called again.
void PreviewStop(PreviewProgressCallback callback, void* user);

// Sets the volume in 0.01 dB, -10000 (silent) to 0 (full). S_FALSE without a preview;
// E_INVALIDARG outside the range; E_NOTIMPL when the preview failed before its audio output was
// connected.
HRESULT PreviewSetVolume(int32_t volume);

// The peak level of each channel since the previous call, in 0.1 dB below full scale (about -702
// to 0; -10000 for silence), and resets the peaks. S_OK with both written; S_FALSE, with nothing
// written, when no preview exists or it is not running.
HRESULT PreviewGetLevels(int32_t* left, int32_t* right);

// The playing time (payload received, in milliseconds of audio) and the packets received. S_OK
// with both written; S_FALSE with nothing written when no preview exists. The playing time is
// reckoned from a 64-bit payload count, so it does not fall back to zero after 2^32 bytes (4.1
// hours); it wraps with the 32-bit milliseconds, after 49.7 days.
HRESULT PreviewGetStatistics(uint32_t* elapsed_ms, uint32_t* packets);

// The health of the previewed stream since the preview started (ReceiverHealth). S_OK with
// *health filled; S_FALSE with nothing written when no preview runs; E_POINTER for null.
HRESULT PreviewGetHealth(ReceiverHealth* health);

namespace vqscw {

// The multicast group, in network byte order, that carries `channel`: 239.192.0.0 with the
// channel number OR-ed onto it (channel 300 is 239.192.1.44).
uint32_t PreviewGroup(uint32_t channel);

// Milliseconds of audio in `payload_bytes` at `bytes_per_second`, truncated to 32 bits (0 for a
// rate of 0): the playing time PreviewGetStatistics gives.
uint32_t PlayingMilliseconds(uint64_t payload_bytes, uint32_t bytes_per_second);

}  // namespace vqscw

#endif  // VQSCWLIB_PREVIEW_PREVIEW_H_
