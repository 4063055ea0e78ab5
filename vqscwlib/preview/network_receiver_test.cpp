#include "vqscwlib/preview/network_receiver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "tests/support/preview_helpers.h"

namespace {

using vqscw::testing::Address;
using vqscw::testing::FreeUdpPort;
using vqscw::testing::LoopbackSender;

constexpr int kWaitMs = 3000;

// Records the length and first byte of every datagram handed on.
class RecordingSink final : public vqscw::PacketSink {
 public:
  void HandlePacket(CPacketBuffer* buffer) override {
    std::lock_guard<std::mutex> lock(mu_);
    lengths_.push_back(buffer->used());
    changed_.notify_all();
  }
  bool WaitFor(size_t n) {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                             [&] { return lengths_.size() >= n; });
  }
  std::vector<uint32_t> lengths() {
    std::lock_guard<std::mutex> lock(mu_);
    return lengths_;
  }

 private:
  std::mutex mu_;
  std::condition_variable changed_;
  std::vector<uint32_t> lengths_;
};

class NetworkReceiverTest : public ::testing::Test {
 protected:
  ~NetworkReceiverTest() override {
    receiver_.Stop();
    pool_->Release();
  }
  HRESULT Start(const char* group) {
    return receiver_.Start(Address(group), htons(port_), Address("127.0.0.1"));
  }
  // Waits until the receive thread has posted its receives.
  bool WaitPosted() {
    for (int i = 0; i < kWaitMs && receiver_.outstanding() < CNetworkReceiver::kMaxOutstanding;
         ++i) {
      usleep(1000);
    }
    return receiver_.outstanding() == CNetworkReceiver::kMaxOutstanding;
  }

  const uint16_t port_ = FreeUdpPort();
  CBufferPool* pool_ = CBufferPool::Create(24, 8192);
  RecordingSink sink_;
  CNetworkReceiver receiver_{pool_, &sink_};
};

TEST_F(NetworkReceiverTest, DatagramLongerThanAReceiveBufferIsDroppedUncounted) {
  ASSERT_EQ(Start("239.192.0.7"), S_OK);
  LoopbackSender sender(Address("239.192.0.7"), port_);
  ASSERT_TRUE(sender.Send(std::vector<uint8_t>(9000, 1)));
  ASSERT_TRUE(sender.Send(std::vector<uint8_t>(8192, 2)));
  ASSERT_TRUE(sink_.WaitFor(1));
  usleep(50 * 1000);
  EXPECT_EQ(sink_.lengths(), std::vector<uint32_t>{8192});
}

TEST_F(NetworkReceiverTest, TrafficForAnotherGroupOnThePortIsNotReceived) {
  ASSERT_EQ(Start("239.192.0.8"), S_OK);
  // Another receiver on this host joins .9 on the same port.
  CBufferPool* other_pool = CBufferPool::Create(24, 8192);
  RecordingSink other_sink;
  {
    CNetworkReceiver other(other_pool, &other_sink);
    ASSERT_EQ(other.Start(Address("239.192.0.9"), htons(port_), Address("127.0.0.1")), S_OK);
    LoopbackSender to_other(Address("239.192.0.9"), port_);
    LoopbackSender to_us(Address("239.192.0.8"), port_);
    ASSERT_TRUE(to_other.Send(std::vector<uint8_t>(99, 0)));
    ASSERT_TRUE(to_us.Send(std::vector<uint8_t>(88, 0)));
    ASSERT_TRUE(other_sink.WaitFor(1));
    ASSERT_TRUE(sink_.WaitFor(1));
    usleep(50 * 1000);
  }
  other_pool->Release();
  EXPECT_EQ(sink_.lengths(), std::vector<uint32_t>{88});
  EXPECT_EQ(other_sink.lengths(), std::vector<uint32_t>{99});
}

TEST_F(NetworkReceiverTest, StopWithReceivesOutstandingReturnsEveryBufferAndStartWorksAgain) {
  ASSERT_EQ(Start("239.192.0.7"), S_OK);
  ASSERT_TRUE(WaitPosted());
  EXPECT_EQ(pool_->free_count(), 24u - CNetworkReceiver::kMaxOutstanding);
  receiver_.Stop();
  EXPECT_FALSE(receiver_.running());
  EXPECT_EQ(pool_->free_count(), 24u);
  receiver_.Stop();  // harmless

  ASSERT_EQ(Start("239.192.0.7"), S_OK);
  EXPECT_EQ(Start("239.192.0.7"), E_UNEXPECTED);
  LoopbackSender sender(Address("239.192.0.7"), port_);
  ASSERT_TRUE(sender.Send(std::vector<uint8_t>(300, 0)));
  EXPECT_TRUE(sink_.WaitFor(1));
}

TEST_F(NetworkReceiverTest, InterfaceThatCannotJoinTheGroupFailsWithTheSocketError) {
  const HRESULT hr = receiver_.Start(Address("239.192.0.7"), htons(port_), Address("192.0.2.77"));
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(static_cast<uint32_t>(hr) & 0xFFFF0000u, 0x80070000u);
  EXPECT_FALSE(receiver_.running());
  // The socket was closed: the port is free to bind again without address reuse.
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port_);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  close(fd);
}

// The filter around the receiver: a refused join leaves it stopped.
class ReceiverFilterNetworkTest : public vqscw::testing::ReceiverFilterFixture {};

TEST_F(ReceiverFilterNetworkTest, PauseFailsAndStaysStoppedWhenTheJoinFails) {
  ConfigurePcm24();
  ASSERT_EQ(filter_->SetGroup(Address("239.192.0.7"), htons(5004)), S_OK);
  ASSERT_EQ(filter_->SetInterfaceAddress(Address("192.0.2.77")), S_OK);
  EXPECT_TRUE(FAILED(filter_->Pause()));
  EXPECT_EQ(filter_->state(), State_Stopped);
  EXPECT_TRUE(FAILED(filter_->Run(0)));
  EXPECT_EQ(filter_->state(), State_Stopped);
}

TEST_F(ReceiverFilterNetworkTest, BlocksReleasedOnAnotherThreadGoBackWhileTheStreamFlows) {
  ConfigurePcm24();
  ConnectSink();
  sink_.hold = true;  // downstream keeps the blocks; this thread lets them go
  const uint16_t port = FreeUdpPort();
  ASSERT_EQ(filter_->SetGroup(Address("239.192.0.7"), htons(port)), S_OK);
  ASSERT_EQ(filter_->SetInterfaceAddress(Address("127.0.0.1")), S_OK);
  ASSERT_EQ(filter_->Run(0), S_OK);
  LoopbackSender sender(Address("239.192.0.7"), port);
  const auto counted = [&](uint32_t packets) {
    for (int ms = 0; ms < kWaitMs && filter_->handler()->packets_received() < packets; ++ms) {
      usleep(1000);
    }
    return filter_->handler()->packets_received() >= packets;
  };
  for (int i = 0; i < 1000; ++i) {  // 20 blocks, twice what the pool holds
    ASSERT_TRUE(sender.Send(vqscw::testing::RtpDatagram(288)));
    if (i % 20 == 19) {
      // Twenty at a time, each twenty handled before the next are sent: well inside the
      // socket's buffer, however late the receive thread runs.
      ASSERT_TRUE(counted(static_cast<uint32_t>(i + 1))) << i;
      sink_.ReleaseHeld();
    }
  }
  ASSERT_TRUE(sink_.WaitFor(20, kWaitMs));
  EXPECT_EQ(filter_->handler()->packets_received(), 1000u);
  ASSERT_EQ(filter_->Stop(), S_OK);
  sink_.ReleaseHeld();
  EXPECT_EQ(filter_->receive_pool()->free_count(), CNetworkReceiverFilter::kReceiveBuffers);
  EXPECT_EQ(filter_->handler()->pcm_pool()->free_count(), CNetworkReceiverFilter::kPcmBlocks);
  EXPECT_EQ(filter_->sample_pool()->free_count(), CSamplePool::kDefaultCount);
}

}  // namespace
