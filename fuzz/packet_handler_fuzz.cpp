// Feeds arbitrary datagrams to the preview's packet handler, in each payload header mode and for
// each stream format it converts or lends. The input's first byte picks the header mode, the
// second the format, the third whether downstream keeps what it is given (so that the pools run
// dry); then come datagrams, each a big-endian 16-bit length and that many bytes (up to the
// largest UDP payload). Aborts when the handler miscounts, delivers a block that is not full,
// loses or invents audio, converts a sample wrongly, reports the wrong peak, or does not give
// every buffer and sample back.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vqscwlib/platform/event.h"
#include "vqscwlib/preview/buffer_pool.h"
#include "vqscwlib/preview/packet_handler.h"
#include "vqscwlib/preview/receiver_filter.h"
#include "vqscwlib/preview/sample_pool.h"

namespace {

constexpr uint32_t kMaxDatagram = 65507;  // the largest UDP payload over IPv4
// Enough for every sample downstream to hold one, and one more to receive into.
constexpr uint32_t kReceiveBuffers = CSamplePool::kDefaultCount + 1;

// Made once: every buffer is back after each input (checked).
CBufferPool* g_receive = nullptr;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "packet_handler_fuzz: %s\n", what);
  std::abort();
}

struct Format {
  bool pcm;
  int bits;         // 16 or 24 are converted, any other width is copied
  uint32_t block;   // bytes of a 50 ms block
  uint32_t sample;  // bytes of one sample, the unit of conversion
};

// The stream formats the receiver can be set to: what it converts, what it lends as it is, and a
// width it copies.
constexpr Format kFormats[] = {
    {true, 24, 14400, 3},  // 24-bit stereo at 48000 Hz, the network's stream
    {true, 16, 9600, 2},   // 16-bit stereo at 48000 Hz
    {true, 16, 800, 2},    // 16-bit mono at 8000 Hz
    {true, 24, 6615, 3},   // 24-bit mono at 44100 Hz: an odd number of samples a block
    {false, 0, 0, 1},      // MPEG audio, lent in the receive buffer
    {true, 8, 4410, 1},    // 8-bit mono at 88200 Hz: copied as it is
};

constexpr PayloadHeaderMode kModes[] = {HEADER_NONE, HEADER_RTP, HEADER_RTP_MPA, HEADER_UDP_MPA,
                                        static_cast<PayloadHeaderMode>(7)};

// What downstream was handed: copies of the samples, and the samples themselves while kept.
class RecordingTarget final : public vqscw::SampleTarget {
 public:
  bool keep = false;

  HRESULT Deliver(IMediaSample* sample) override {
    uint8_t* data = nullptr;
    Check(sample->GetPointer(&data) == S_OK && data != nullptr, "sample without data");
    const int32_t length = sample->GetActualDataLength();
    Check(length > 0, "empty sample");
    samples.push_back({data, std::vector<uint8_t>(data, data + length)});
    if (keep) {
      sample->AddRef();
      kept.push_back(sample);
    }
    return S_OK;
  }

  void ReleaseKept() {
    for (IMediaSample* sample : kept) sample->Release();
    kept.clear();
  }

  struct Received {
    const uint8_t* data;
    std::vector<uint8_t> bytes;
  };
  std::vector<Received> samples;
  std::vector<IMediaSample*> kept;
};

// One sample converted as the renderer expects it: 16-bit pairs and 24-bit triples reversed from
// network order, any other width unchanged.
void ConvertReference(const Format& format, const uint8_t* in, uint8_t* out, size_t size) {
  const size_t width = format.bits == 16 ? 2 : format.bits == 24 ? 3 : 1;
  for (size_t i = 0; i < size; i += width) {
    for (size_t j = 0; j < width; ++j) out[i + j] = in[i + width - 1 - j];
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const PayloadHeaderMode mode = kModes[data[0] % std::size(kModes)];
  const Format& format = kFormats[data[1] % std::size(kFormats)];
  const bool keep = (data[2] & 1) != 0;
  const uint32_t header = static_cast<uint32_t>(PayloadHeaderBytes(mode));

  // Set from the start: a handler that finds every sample downstream drops the audio instead of
  // waiting (the receiver's stop event does this when the filter stops).
  vqscw::Event abort(vqscw::Event::ResetMode::kManual, true);
  CSamplePool samples(nullptr);
  if (g_receive == nullptr) g_receive = CBufferPool::Create(kReceiveBuffers, kMaxDatagram);
  CBufferPool* const receive = g_receive;
  Check(samples.valid() && receive != nullptr, "pools");
  RecordingTarget target;
  target.keep = keep;
  CBufferPool* pcm = nullptr;
  {
    vqscw::PacketHandler handler(&samples, &target, &abort);
    handler.Configure(mode, format.pcm, format.bits);
    if (format.pcm) {
      pcm = CBufferPool::Create(CNetworkReceiverFilter::kPcmBlocks, format.block);
      Check(pcm != nullptr, "PCM pool");
      handler.SetPcmPool(pcm);
    }

    uint32_t datagrams = 0;
    uint64_t payload_bytes = 0;
    bool aligned = true;          // every payload a whole number of samples
    std::vector<uint8_t> stream;  // every payload, back to back
    size_t at = 3;
    while (at + 2 <= size) {
      size_t length = (static_cast<size_t>(data[at]) << 8) | data[at + 1];
      at += 2;
      length = std::min({length, size - at, static_cast<size_t>(kMaxDatagram)});
      CPacketBuffer* buffer = receive->Get(nullptr, 0);
      Check(buffer != nullptr, "receive buffer");
      std::memcpy(buffer->data(), data + at, length);
      buffer->set_used(static_cast<uint32_t>(length));
      const size_t delivered_before = target.samples.size();
      handler.Handle(buffer);
      ++datagrams;
      if (length > header) {
        const size_t payload = length - header;
        payload_bytes += payload;
        if (payload % format.sample != 0) aligned = false;
        if (!format.pcm) {
          // Lent in place: one sample over the payload in the receive buffer, unless every
          // sample is downstream.
          const size_t delivered = target.samples.size() - delivered_before;
          Check(delivered <= 1, "one datagram, several samples");
          if (delivered == 1) {
            const RecordingTarget::Received& lent = target.samples.back();
            Check(lent.data == buffer->data() + header, "payload not lent in place");
            Check(lent.bytes.size() == payload &&
                      std::memcmp(lent.bytes.data(), data + at + header, payload) == 0,
                  "lent payload differs");
          } else {
            Check(keep, "payload dropped while samples were free");
          }
        }
        stream.insert(stream.end(), data + at + header, data + at + length);
      } else {
        Check(target.samples.size() == delivered_before, "delivery without payload");
      }
      buffer->Release();
      at += length;
    }

    Check(handler.packets_received() == datagrams, "packets miscounted");
    Check(handler.payload_bytes_received() == static_cast<uint32_t>(payload_bytes),
          "payload bytes miscounted");

    if (format.pcm) {
      for (const RecordingTarget::Received& block : target.samples) {
        Check(block.bytes.size() == format.block, "a block that is not full");
      }
      if (!keep) {
        // Nothing is dropped while blocks come back: every whole block of audio went out.
        Check(target.samples.size() == stream.size() / format.block, "blocks lost or invented");
        if (aligned) {
          std::vector<uint8_t> expected(stream.size());
          ConvertReference(format, stream.data(), expected.data(), stream.size());
          int32_t peaks[2] = {0, 0};
          if (format.bits == 24) {
            // The peak of each channel: samples alternate left and right from the start of each
            // block; negative samples raise nothing.
            for (size_t i = 0; i + 3 <= stream.size(); i += 3) {
              const int32_t value =
                  static_cast<int32_t>((static_cast<uint32_t>(stream[i]) << 24) |
                                       (static_cast<uint32_t>(stream[i + 1]) << 16) |
                                       (static_cast<uint32_t>(stream[i + 2]) << 8));
              int32_t& peak = peaks[(i % format.block / 3) % 2];
              if (value > peak) peak = value;
            }
            const vqscw::PeakLevels levels = handler.peaks();
            Check(levels.left == peaks[0] && levels.right == peaks[1], "wrong peak");
          }
          for (size_t i = 0; i < target.samples.size(); ++i) {
            Check(std::memcmp(target.samples[i].bytes.data(), expected.data() + i * format.block,
                              format.block) == 0,
                  "audio converted wrongly");
          }
        }
      }
    }
    target.ReleaseKept();
    Check(samples.free_count() == CSamplePool::kDefaultCount, "a sample did not come back");
    Check(receive->free_count() == kReceiveBuffers, "a receive buffer did not come back");
    if (pcm != nullptr) {
      // Only the block being filled is still out (with audio dropped, whether one is being
      // filled is not known here).
      const uint32_t free = pcm->free_count();
      const uint32_t all = CNetworkReceiverFilter::kPcmBlocks;
      if (!keep) {
        Check(free == all - (stream.size() % format.block != 0 ? 1 : 0),
              "a PCM block did not come back");
      } else {
        Check(free == all || free == all - 1, "a PCM block did not come back");
      }
    }
  }
  // The handler let go of its pool and its partly filled block.
  if (pcm != nullptr) {
    Check(pcm->free_count() == CNetworkReceiverFilter::kPcmBlocks, "the partial block was kept");
    pcm->Release();
  }
  return 0;
}
