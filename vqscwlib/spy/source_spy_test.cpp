#include "vqscwlib/spy/source_spy.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/net_namespace.h"
#include "vqscwlib/message/frame.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/platform/socket_library.h"
#include "vqscwlib/protocol/source_table.h"
#include "vqscwlib/protocol/source_table_testing.h"
#include "vqscwlib/transport/transport_testing.h"

namespace {

using namespace std::chrono_literals;
using vqscw::testing::Advertisement;
using vqscw::testing::NumberedSources;
using vqscw::testing::ScriptedPeer;
using vqscw::testing::TestSource;
using vqscw::testing::TestTerminal;

const uint32_t kLoopback = inet_addr("127.0.0.1");
const uint32_t kGroup = 0xEFC0FF03u;  // 239.192.255.3, host order

// What a callback was handed, copied while the record lived.
struct Reported {
  SourceSpy* spy;
  SourceInfo info;
  WAVEFORMATEXTENSIBLE format;
  std::string name() const { return std::string(info.name, strnlen(info.name, sizeof info.name)); }
};

// A client callback that collects what it is handed, on whichever thread calls it.
class Collector {
 public:
  static int Callback(SourceSpy* spy, SourceInfo* info, void* user) {
    auto* self = static_cast<Collector*>(user);
    Reported reported{spy, *info, {}};
    std::memcpy(&reported.format, info->format, sizeof reported.format);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->reported_.push_back(reported);
    self->changed_.notify_all();
    return self->result_;
  }

  // Waits up to `timeout` until at least `count` sources were reported.
  bool WaitFor(size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return reported_.size() >= count; });
  }
  std::vector<Reported> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(reported_);
  }
  size_t size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reported_.size();
  }
  void set_result(int result) { result_ = result; }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Reported> reported_;
  int result_ = 1;
};

// The channels of an enumeration of `spy`.
std::vector<uint32_t> EnumeratedChannels(SourceSpy* spy) {
  Collector collector;
  EXPECT_EQ(SourceSpyEnumerate(spy, &Collector::Callback, &collector, 0), SPY_OK);
  std::vector<uint32_t> channels;
  for (const Reported& r : collector.Take()) channels.push_back(r.info.channel);
  return channels;
}

// Polls `condition` every 10 ms for up to `timeout`.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// A terminal on loopback: it advertises to the group on the test's own port, and hears the
// requests for its full advertisement on port 4001 of a loopback address of its own (its "INIP"),
// which no other socket of the machine binds.
class LoopbackTerminal {
 public:
  explicit LoopbackTerminal(uint16_t group_port) : group_port_(group_port) {
    std::random_device random;
    for (int attempt = 0; attempt < 20 && requests_ == nullptr; ++attempt) {
      const uint32_t host =
          0x7F000000u | (std::uniform_int_distribution<uint32_t>(0x400000, 0xFFFFFE)(random));
      char text[16];
      std::snprintf(text, sizeof text, "%u.%u.%u.%u", host >> 24, (host >> 16) & 0xFF,
                    (host >> 8) & 0xFF, host & 0xFF);
      auto peer = std::make_unique<ScriptedPeer>(text, kAdvertisementRequestPort);
      if (peer->Address().Port() == kAdvertisementRequestPort) {
        requests_ = std::move(peer);
        description.inip = htonl(host);
      }
    }
    description.hwid = 4242;
    description.advv = 1;
    description.nums = 5;
    description.name = "Stage Box";
  }
  bool ready() const { return requests_ != nullptr; }

  void Send(const CMessage& message) {
    vqscw::testing::FrameSpec spec;
    spec.mode = KIND_DATAGRAM;
    spec.sequence = ++sequence_;
    advertiser_.Send(NetAddress(kGroup, group_port_),
                     vqscw::testing::Frame(spec, vqscw::testing::Body(message)));
  }
  void SendShort() { Send(Advertisement(kAdvertisementShort, description)); }
  // The full advertisement in the two messages a terminal with five sources sends.
  void SendFull(uint32_t first_channel = 11) {
    Send(Advertisement(kAdvertisementFull, description, NumberedSources(1, 4, first_channel)));
    Send(Advertisement(kAdvertisementFull, description, NumberedSources(5, 5, first_channel + 4)));
  }
  // True when a "READ" request with "ADVD" = 1 arrived within `ms`.
  bool AwaitRequest(uint32_t ms = 3000) {
    auto datagram = requests_->Receive(ms);
    if (!datagram || datagram->bytes.size() < kFrameHeaderSize) return false;
    CMessage request;
    const auto length = static_cast<uint32_t>(datagram->bytes.size() - kFrameHeaderSize);
    return datagram->bytes[kFrameModeOffset] == KIND_DATAGRAM &&
           request.Decode(datagram->bytes.data() + kFrameHeaderSize, length) == length &&
           request.Code() == Tag("READ") && request.TypeOf(Tag("ADVD")) == FIELD_U8 &&
           request.GetU8(Tag("ADVD")) == 1;
  }

  TestTerminal description;

 private:
  uint16_t group_port_;
  ScriptedPeer advertiser_{"127.0.0.1", 0};
  std::unique_ptr<ScriptedPeer> requests_;
  uint32_t sequence_ = 0;
};

// One spy on loopback, on a port of the test's own, with a fake clock for its expiry.
class SourceSpyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = vqscw::test::FreeUdpPort();
    ASSERT_NE(port_, 0);
    ASSERT_EQ(vqscwSourceSpyOpen(&spy_, kLoopback, port_), SPY_OK);
    terminal_ = std::make_unique<LoopbackTerminal>(port_);
    ASSERT_TRUE(terminal_->ready());
  }
  void TearDown() override {
    if (spy_ != nullptr) vqscwSourceSpyClose(spy_);
  }

  // Registers the terminal's five sources (channels 11 to 15) and waits until the spy has them.
  void HearFiveSources() {
    terminal_->SendFull();
    ASSERT_TRUE(Eventually([&] { return EnumeratedChannels(spy_).size() == 5; }));
  }

  vqscw::FakeClock clock_{100000};
  uint16_t port_ = 0;
  SourceSpy* spy_ = nullptr;
  std::unique_ptr<LoopbackTerminal> terminal_;
  Collector collector_;
};

TEST_F(SourceSpyTest, HearsATerminalEndToEnd) {
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);

  // A short advertisement of an unknown terminal: the spy asks it for the full one.
  terminal_->SendShort();
  ASSERT_TRUE(terminal_->AwaitRequest());
  EXPECT_EQ(collector_.size(), 0u);

  // The answer in two messages: five sources reported, as the client sees them.
  terminal_->SendFull();
  ASSERT_TRUE(collector_.WaitFor(5));
  std::vector<Reported> reported = collector_.Take();
  ASSERT_EQ(reported.size(), 5u);
  for (size_t i = 0; i < reported.size(); ++i) {
    const Reported& r = reported[i];
    const uint32_t channel = 11 + static_cast<uint32_t>(i);
    EXPECT_EQ(r.spy, spy_);
    EXPECT_EQ(r.info.size, sizeof(SourceInfo));
    EXPECT_EQ(r.info.channel, channel);
    EXPECT_EQ(r.name(), "Src " + std::to_string(channel));
    EXPECT_STREQ(r.info.label, ("Src " + std::to_string(channel)).c_str());
    EXPECT_EQ(r.info.streamId, 100 + channel);
    EXPECT_EQ(r.info.port, 5004);
    EXPECT_EQ(r.info.formatSize, 40u);
    EXPECT_EQ(r.format.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(r.format.Format.nChannels, 2);
    EXPECT_EQ(r.format.Format.nSamplesPerSec, 48000u);
    EXPECT_EQ(r.format.Format.nAvgBytesPerSec, 288000u);
    EXPECT_EQ(r.format.Format.nBlockAlign, 6);
    EXPECT_EQ(r.format.Format.wBitsPerSample, 24);
    EXPECT_EQ(r.format.Format.cbSize, 22);
    EXPECT_EQ(r.format.Samples.wValidBitsPerSample, 24);
    EXPECT_EQ(r.format.dwChannelMask, 3u);
    EXPECT_EQ(std::memcmp(&r.format.SubFormat, &KSDATAFORMAT_SUBTYPE_PCM, sizeof(GUID)), 0);
  }

  // A new advertisement version: the terminal is dropped, asked again and rebuilt, and its
  // sources are reported again.
  terminal_->description.advv = 2;
  terminal_->SendShort();
  ASSERT_TRUE(terminal_->AwaitRequest());
  EXPECT_TRUE(EnumeratedChannels(spy_).empty());
  terminal_->SendFull(21);
  ASSERT_TRUE(collector_.WaitFor(5));
  EXPECT_EQ(collector_.Take()[0].info.channel, 21u);

  // Thirty seconds of silence, and the listening thread drops the terminal within a round.
  clock_.Advance(kTerminalLifetimeMs);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(EnumeratedChannels(spy_).size(), 5u);
  clock_.Advance(1);
  EXPECT_TRUE(Eventually([&] { return EnumeratedChannels(spy_).empty(); }, 3s));
}

TEST_F(SourceSpyTest, NamesAndLabelsAreZeroPadded) {
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  terminal_->Send(Advertisement(kAdvertisementFull, terminal_->description,
                                {{1, 1, 1, 2, "Sixteen chars..!"}, {2, 2, 2, 2, "Mic"}}));
  ASSERT_TRUE(collector_.WaitFor(2));
  const std::vector<Reported> reported = collector_.Take();
  const SourceInfo& full = reported[0].info;
  EXPECT_EQ(std::string(full.name), "Sixteen chars..!");
  EXPECT_EQ(std::string(full.label), "Sixteen ch");
  const SourceInfo& shorter = reported[1].info;
  EXPECT_EQ(std::string(shorter.label), "Mic");
  for (size_t i = 3; i < sizeof shorter.name; ++i) EXPECT_EQ(shorter.name[i], 0) << i;
  for (size_t i = 3; i < sizeof shorter.label; ++i) EXPECT_EQ(shorter.label[i], 0) << i;
  for (size_t i = 16; i < sizeof full.name; ++i) EXPECT_EQ(full.name[i], 0) << i;
}

TEST_F(SourceSpyTest, TwoSpiesOnTheSameCardAndPortBothHearTheGroup) {
  SourceSpy* second = nullptr;
  ASSERT_EQ(vqscwSourceSpyOpen(&second, kLoopback, port_), SPY_OK);
  Collector other;
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  ASSERT_EQ(SourceSpyEnumerate(second, &Collector::Callback, &other, 1), SPY_OK);
  terminal_->SendFull();
  EXPECT_TRUE(collector_.WaitFor(5));
  EXPECT_TRUE(other.WaitFor(5));
  for (const Reported& r : other.Take()) EXPECT_EQ(r.spy, second);
  EXPECT_EQ(vqscwSourceSpyClose(second), SPY_OK);
}

// Which sources are reported: the stream type and the access list decide; the table keeps all.
TEST_F(SourceSpyTest, StreamTypeOneIsNeverReported) {
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  terminal_->Send(Advertisement(kAdvertisementFull, terminal_->description,
                                {{1, 7, 7, 1, "hidden"}, {2, 8, 8, 3, "shown"}}));
  ASSERT_TRUE(collector_.WaitFor(1));
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, "1-100"), SPY_OK);
  EXPECT_EQ(EnumeratedChannels(spy_), std::vector<uint32_t>{8});
  const std::vector<Reported> reported = collector_.Take();
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].info.channel, 8u);
}

TEST_F(SourceSpyTest, AccessListFiltersReportsButNotTheTable) {
  HearFiveSources();
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, "12;14-20"), SPY_OK);
  EXPECT_EQ(EnumeratedChannels(spy_), (std::vector<uint32_t>{12, 14, 15}));
  // New sources are filtered the same way.
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  collector_.Take();
  terminal_->description.hwid = 9;
  terminal_->SendFull(19);  // channels 19 to 23
  ASSERT_TRUE(collector_.WaitFor(2));
  std::this_thread::sleep_for(100ms);
  const std::vector<Reported> reported = collector_.Take();
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0].info.channel, 19u);
  EXPECT_EQ(reported[1].info.channel, 20u);
  // The filtered sources stayed in the table.
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, "1-32767"), SPY_OK);
  EXPECT_EQ(EnumeratedChannels(spy_).size(), 10u);
}

TEST_F(SourceSpyTest, EmptyListAfterASetReportsNothing) {
  HearFiveSources();
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, ""), SPY_OK);
  EXPECT_TRUE(EnumeratedChannels(spy_).empty());
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, "0;40000;7-3"), SPY_OK);  // nothing valid
  EXPECT_TRUE(EnumeratedChannels(spy_).empty());
}

TEST_F(SourceSpyTest, MissingAccessFileLetsNothingPass) {
  HearFiveSources();
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, "file:///nonexistent/vqscw-acl.txt"),
            SPY_E_ACCESS_FILE);
  EXPECT_TRUE(EnumeratedChannels(spy_).empty());

  char path[] = "/tmp/vqscw-spy-acl-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string lines = "# studio\nallow 13\nALLOW 15 - 99\n";
  ASSERT_EQ(write(fd, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
  close(fd);
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, ("file://" + std::string(path)).c_str()), SPY_OK);
  unlink(path);
  EXPECT_EQ(EnumeratedChannels(spy_), (std::vector<uint32_t>{13, 15}));
}

TEST_F(SourceSpyTest, EnumerationStoppedByItsCallbackKeepsNoCallback) {
  HearFiveSources();
  collector_.set_result(0);
  EXPECT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  EXPECT_EQ(collector_.Take().size(), 1u);
  // Sources heard later reach no callback.
  terminal_->description.hwid = 9;
  terminal_->SendFull(21);
  ASSERT_TRUE(Eventually([&] { return EnumeratedChannels(spy_).size() == 10; }));
  EXPECT_EQ(collector_.size(), 0u);
}

TEST_F(SourceSpyTest, SourceHeardWithoutAKeptCallbackIsReportedByTheNextEnumeration) {
  HearFiveSources();
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  EXPECT_EQ(collector_.Take().size(), 5u);
  // A kept callback is replaced by the next enumeration that keeps one.
  Collector later;
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &later, 1), SPY_OK);
  EXPECT_EQ(later.Take().size(), 5u);
  terminal_->description.hwid = 9;
  terminal_->SendFull(21);
  EXPECT_TRUE(later.WaitFor(5));
  EXPECT_EQ(collector_.size(), 0u);
}

// Handles: open, close and what a closed handle gives.
TEST_F(SourceSpyTest, ClosedHandleIsRefusedEverywhere) {
  uint32_t address = 0;
  EXPECT_EQ(SourceSpyGetInterface(spy_, &address), SPY_OK);
  EXPECT_EQ(address, kLoopback);
  EXPECT_EQ(vqscwSourceSpyClose(spy_), SPY_OK);
  EXPECT_EQ(vqscwSourceSpyClose(spy_), SPY_E_HANDLE);
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, "1"), SPY_E_HANDLE);
  EXPECT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_E_HANDLE);
  EXPECT_EQ(SourceSpyGetInterface(spy_, &address), SPY_E_HANDLE);
  spy_ = nullptr;
  EXPECT_EQ(vqscwSourceSpyClose(nullptr), SPY_E_HANDLE);
  EXPECT_EQ(vqscwSourceSpySetAccessList(nullptr, "1"), SPY_E_HANDLE);
  EXPECT_EQ(SourceSpyEnumerate(nullptr, &Collector::Callback, &collector_, 1), SPY_E_HANDLE);
  EXPECT_EQ(SourceSpyGetInterface(nullptr, &address), SPY_E_HANDLE);
}

// A callback that records whether it ran after close returned.
struct LateCallbackProbe {
  std::atomic<bool> closed{false};
  std::atomic<int> calls{0};
  std::atomic<int> late_calls{0};
  static int Callback(SourceSpy*, SourceInfo*, void* user) {
    auto* self = static_cast<LateCallbackProbe*>(user);
    self->calls.fetch_add(1);
    std::this_thread::sleep_for(1ms);  // widen the window in which close could overtake us
    if (self->closed.load()) self->late_calls.fetch_add(1);
    return 1;
  }
};

TEST_F(SourceSpyTest, NoCallbackRunsAfterCloseReturns) {
  LateCallbackProbe probe;
  ASSERT_EQ(SourceSpyEnumerate(spy_, &LateCallbackProbe::Callback, &probe, 1), SPY_OK);
  std::atomic<bool> sending{true};
  std::thread flood([&] {
    for (uint16_t id = 1; sending.load() && id < 2000; ++id) {
      terminal_->description.hwid = id;
      terminal_->Send(
          Advertisement(kAdvertisementFull, terminal_->description, NumberedSources(1, 4, id)));
      std::this_thread::sleep_for(200us);
    }
  });
  ASSERT_TRUE(Eventually([&] { return probe.calls.load() > 20; }));
  EXPECT_EQ(vqscwSourceSpyClose(spy_), SPY_OK);
  probe.closed = true;
  spy_ = nullptr;
  std::this_thread::sleep_for(50ms);
  sending = false;
  flood.join();
  EXPECT_EQ(probe.late_calls.load(), 0);
}

TEST(SourceSpyOpenTest, OpenOnAnAddressNoCardHoldsFails) {
  SourceSpy* spy = reinterpret_cast<SourceSpy*>(0x1);
  const int users = vqscw::SocketLibraryUsers();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(vqscwSourceSpyOpen(&spy, inet_addr("192.0.2.77"), vqscw::test::FreeUdpPort()),
            SPY_E_ENDPOINT);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "vqscwlib client open failed\n");
  EXPECT_EQ(spy, reinterpret_cast<SourceSpy*>(0x1));
  EXPECT_EQ(vqscw::SocketLibraryUsers(), users);
}

TEST(SourceSpyOpenTest, ServerThatCannotOpenFails) {
  SourceSpy* spy = nullptr;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(vqscwSourceSpyOpen(&spy, kLoopback, 0), SPY_E_ENDPOINT);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "vqscwlib server at port 0 open failed\n");
  EXPECT_EQ(spy, nullptr);
}

TEST(SourceSpyOpenTest, OpenPrintsItsServerAndGroup) {
  SourceSpy* spy = nullptr;
  const uint16_t port = vqscw::test::FreeUdpPort();
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(vqscwSourceSpyOpen(&spy, kLoopback, port), SPY_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "vqscwlib server at port " + std::to_string(port) +
                " opened\nvqscwlib server joined 239.192.255.3 on 127.0.0.1\n");
  EXPECT_EQ(vqscwSourceSpyClose(spy), SPY_OK);
  EXPECT_EQ(vqscwSourceSpyOpen(nullptr, kLoopback, port), SPY_E_HANDLE);
}

TEST(SourceSpyOpenTest, SocketLibraryOtherThan22IsRefused) {
  const int users = vqscw::SocketLibraryUsers();
  SourceSpy* spy = nullptr;
  {
    vqscw::SocketLibraryTestHook hook(0, vqscw::SocketVersion(2, 0));
    EXPECT_EQ(vqscwSourceSpyOpen(&spy, kLoopback, vqscw::test::FreeUdpPort()), SPY_E_SOCKETS);
    EXPECT_EQ(hook.starts(), 1);
  }
  EXPECT_EQ(vqscw::SocketLibraryUsers(), users);  // the rejected start was ended again
  {
    vqscw::SocketLibraryTestHook hook(ENETDOWN, vqscw::kSocketVersion22);
    EXPECT_EQ(vqscwSourceSpyOpen(&spy, kLoopback, vqscw::test::FreeUdpPort()), SPY_E_SOCKETS);
  }
  EXPECT_EQ(vqscw::SocketLibraryUsers(), users);
  EXPECT_EQ(spy, nullptr);
}

TEST(SourceSpyOpenTest, CloseEndsTheSocketLibraryUse) {
  const int users = vqscw::SocketLibraryUsers();
  SourceSpy* spy = nullptr;
  ASSERT_EQ(vqscwSourceSpyOpen(&spy, kLoopback, vqscw::test::FreeUdpPort()), SPY_OK);
  EXPECT_EQ(vqscw::SocketLibraryUsers(), users + 1);
  EXPECT_EQ(vqscwSourceSpyClose(spy), SPY_OK);
  EXPECT_EQ(vqscw::SocketLibraryUsers(), users);
}

}  // namespace
