// Receive throughput of a server endpoint on loopback: WaitForMessage + ReceiveMessage of short
// advertisements (the message every terminal sends most often), sent from a plain socket as
// unacknowledged datagrams or as acknowledged messages (then each one also costs the endpoint an
// acknowledgement, drained by the sender). Batches of 1 measure one send and one receive per
// message; batches of 32 let the receiver drain a queue, as it does under a burst of
// advertisements.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <cstdint>
#include <vector>

#include "bench/sample_advertisement.h"
#include "vqscwlib/base/byte_order.h"
#include "vqscwlib/message/frame.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/transport/message_endpoint.h"
#include "vqscwlib/transport/udp_socket.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

CMessage ShortAdvertisement() { return vqscw::bench::SampleAdvertisement(/*full=*/false); }

uint16_t BoundPort(const CUdpSocket& socket) {
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(socket.Handle(), reinterpret_cast<sockaddr*>(&bound), &length);
  return ntohs(bound.sin_port);
}

void BM_ReceiveShortAdvertisement(benchmark::State& state) {
  const int batch = static_cast<int>(state.range(0));
  const uint8_t mode = state.range(1) != 0 ? KIND_MESSAGE : KIND_DATAGRAM;

  CUdpSocket sender;
  if (sender.Create() != 0 || sender.Bind(0, "127.0.0.1") != 0) {
    state.SkipWithError("sender socket");
    return;
  }
  CUdpSocket probe;  // a free port for the server
  probe.Create();
  probe.Bind(0, "127.0.0.1");
  const uint16_t port = BoundPort(probe);
  probe.Close();
  CServerEndpoint server;
  if (!server.Open(true, "127.0.0.1", port)) {
    state.SkipWithError("server endpoint");
    return;
  }
  CSockAddr to;
  to.Set(kLoopback, port);

  const CMessage advertisement = ShortAdvertisement();
  std::vector<uint8_t> frame(kFrameHeaderSize + advertisement.EncodedSize(), 0);
  frame[kFrameTypeOffset] = FRAME_MESSAGE;
  frame[kFrameModeOffset] = mode;
  frame[kFrameVersionOffset] = PROTOCOL_VERSION;
  frame[kFrameMarkOffset] = FRAME_MARK;
  advertisement.Encode(frame.data() + kFrameHeaderSize);

  CMessage received;
  uint32_t sequence = 0;
  uint8_t ack[kAckFrameSize];
  CSockAddr ack_source;
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) {
      vqscw::StoreBE32(frame.data() + kFrameSequenceOffset, ++sequence);  // no repeats
      sender.SendTo(to, frame.data(), static_cast<uint32_t>(frame.size()));
    }
    for (int i = 0; i < batch; ++i) {
      if (!server.ReceiveMessage(&received, 1000)) {
        state.SkipWithError("a message was lost");
        return;
      }
    }
    if (mode == KIND_MESSAGE) {
      for (int i = 0; i < batch; ++i) sender.ReceiveFrom(&ack_source, ack, sizeof ack);
    }
  }
  state.SetItemsProcessed(state.iterations() * batch);
  state.SetBytesProcessed(state.iterations() * batch * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_ReceiveShortAdvertisement)
    ->ArgNames({"batch", "acknowledged"})
    ->Args({1, 0})
    ->Args({32, 0})
    ->Args({1, 1})
    ->Args({32, 1});

}  // namespace

BENCHMARK_MAIN();
