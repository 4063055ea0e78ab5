#include "vqscwlib/spy/source_spy.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/net_namespace.h"
#include "tests/support/source_table_helpers.h"
#include "tests/support/transport_helpers.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/platform/socket_library.h"

namespace {

using namespace std::chrono_literals;
using vqscw::testing::Advertisement;
using vqscw::testing::NumberedSources;

const uint32_t kLoopback = inet_addr("127.0.0.1");

template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = 5s) {
  for (const auto end = std::chrono::steady_clock::now() + timeout; !condition();) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// A client callback that copies what it is handed, on whichever thread calls it.
class Collector {
 public:
  struct Reported {
    SourceSpy* spy;
    SourceInfo info;
    WAVEFORMATEXTENSIBLE format;
  };
  static int Callback(SourceSpy* spy, SourceInfo* info, void* user) {
    auto* self = static_cast<Collector*>(user);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->reported_.push_back({spy, *info, *info->format});
    return self->result_;
  }
  bool WaitFor(size_t count) {
    return Eventually([&] {
      std::lock_guard<std::mutex> lock(mutex_);
      return reported_.size() >= count;
    });
  }
  std::vector<Reported> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(reported_);
  }
  void set_result(int result) { result_ = result; }

 private:
  std::mutex mutex_;
  std::vector<Reported> reported_;
  int result_ = 1;
};

std::vector<uint32_t> Enumerated(SourceSpy* spy) {
  Collector collector;
  EXPECT_EQ(SourceSpyEnumerate(spy, &Collector::Callback, &collector, 0), SPY_OK);
  std::vector<uint32_t> channels;
  for (const auto& r : collector.Take()) channels.push_back(r.info.channel);
  return channels;
}

// A terminal on loopback that advertises to the group on the test's port and hears requests on
// port 4001 of a random loopback address of its own, its "INIP".
class LoopbackTerminal {
 public:
  explicit LoopbackTerminal(uint16_t group_port) : group_port_(group_port) {
    std::random_device random;
    const uint32_t host =
        0x7F000000u | std::uniform_int_distribution<uint32_t>(2, 0xFFFFFE)(random);
    in_addr address{htonl(host)};
    requests_ = std::make_unique<vqscw::testing::ScriptedPeer>(inet_ntoa(address), kTerminalPort);
    description = {4242, address.s_addr, 1, 5, "Stage Box"};
  }
  bool ready() const { return requests_->Address().Port() == kTerminalPort; }
  void Send(const CMessage& message) {
    advertiser_.Send(NetAddress(0xEFC0FF03u, group_port_),
                     vqscw::testing::DatagramFrame(message, ++sequence_));
  }
  // The full advertisement of five sources, channels from `first` on, in two messages.
  void SendFull(uint32_t first = 11, const std::string& fifth_name = "Src") {
    Send(Advertisement(kAdvertisementFull, description, NumberedSources(1, 4, first)));
    Send(Advertisement(kAdvertisementFull, description,
                       {{5, first + 4, 104 + first, 3, fifth_name}}));
  }
  // True when a request for the full advertisement arrives within three seconds.
  bool AwaitRequest() {
    auto datagram = requests_->Receive(3000);
    return datagram && vqscw::testing::IsFullInfoRequest(datagram->bytes);
  }

  vqscw::testing::TestTerminal description;

 private:
  uint16_t group_port_;
  vqscw::testing::ScriptedPeer advertiser_{"127.0.0.1", 0};
  std::unique_ptr<vqscw::testing::ScriptedPeer> requests_;
  uint32_t sequence_ = 0;
};

class SourceSpyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(port_, 0);
    ASSERT_TRUE(terminal_.ready());
    ASSERT_EQ(vqscwSourceSpyOpen(&spy_, kLoopback, port_), SPY_OK);
  }
  void TearDown() override {
    if (spy_ != nullptr) {
      EXPECT_EQ(vqscwSourceSpyClose(spy_), SPY_OK);
    }
  }
  void HearFiveSources() {
    terminal_.SendFull();
    ASSERT_TRUE(Eventually([&] { return Enumerated(spy_).size() == 5; }));
  }

  vqscw::FakeClock clock_{100000};
  uint16_t port_ = vqscw::testing::FreeUdpPort();
  LoopbackTerminal terminal_{port_};
  SourceSpy* spy_ = nullptr;
  Collector collector_;
};

// What a removal watcher was told, as "HWID expired" or "HWID replaced"; filled on the
// listening thread.
struct Removals {
  static void Callback(SourceSpy*, const SpyTerminal* terminal, int expired, void* user) {
    auto* self = static_cast<Removals*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->seen.push_back(std::to_string(terminal->hwid) + (expired ? " expired" : " replaced"));
  }
  std::vector<std::string> Seen() {
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
  }
  std::mutex mutex;
  std::vector<std::string> seen;
};

TEST_F(SourceSpyTest, HearsATerminalEndToEnd) {
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  Removals removals;
  ASSERT_EQ(SourceSpyWatchRemovals(spy_, &Removals::Callback, &removals), SPY_OK);
  const std::string hwid = std::to_string(terminal_.description.hwid);
  terminal_.Send(Advertisement(kAdvertisementShort, terminal_.description));
  ASSERT_TRUE(terminal_.AwaitRequest());
  terminal_.SendFull(11, "Sixteen chars..!");
  ASSERT_TRUE(collector_.WaitFor(5));
  const auto reported = collector_.Take();
  ASSERT_EQ(reported.size(), 5u);
  for (uint32_t i = 0; i < 5; ++i) {
    const SourceInfo& info = reported[i].info;
    const WAVEFORMATEXTENSIBLE& f = reported[i].format;
    EXPECT_EQ(reported[i].spy, spy_);
    EXPECT_EQ(info.size, sizeof(SourceInfo));
    EXPECT_EQ(info.channel, 11 + i);
    EXPECT_EQ(info.streamId, 111 + i);
    EXPECT_EQ(info.port, 5004);
    EXPECT_EQ(info.formatSize, 40u);
    EXPECT_EQ(f.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(f.Format.nChannels, 2);
    EXPECT_EQ(f.Format.nSamplesPerSec, 48000u);
    EXPECT_EQ(f.Format.nAvgBytesPerSec, 288000u);
    EXPECT_EQ(f.Format.nBlockAlign, 6);
    EXPECT_EQ(f.Format.wBitsPerSample, 24);
    EXPECT_EQ(f.Format.cbSize, 22);
    EXPECT_EQ(f.Samples.wValidBitsPerSample, 24);
    EXPECT_EQ(f.dwChannelMask, 3u);
    EXPECT_EQ(std::memcmp(&f.SubFormat, &KSDATAFORMAT_SUBTYPE_PCM, sizeof(GUID)), 0);
  }
  const SourceInfo& first = reported[0].info;
  EXPECT_EQ(std::string(first.name, sizeof first.name), "Src 11" + std::string(18, '\0'));
  EXPECT_EQ(std::string(first.label, sizeof first.label), "Src 11" + std::string(5, '\0'));
  EXPECT_EQ(std::string(reported[4].info.name), "Sixteen chars..!");
  EXPECT_EQ(std::string(reported[4].info.label), "Sixteen ch");
  // The table as a tool reads it under the spy's lock: the terminal as it advertised itself.
  std::vector<std::pair<uint32_t, std::string>> terminals;
  auto visit = [](const SpyTerminal* t, void* user) {
    for (; t != nullptr; t = t->next) {
      static_cast<std::vector<std::pair<uint32_t, std::string>>*>(user)->emplace_back(t->inip,
                                                                                      t->name);
    }
  };
  ASSERT_EQ(SourceSpyVisitTable(spy_, visit, &terminals), SPY_OK);
  EXPECT_EQ(
      terminals,
      (std::vector<std::pair<uint32_t, std::string>>{{terminal_.description.inip, "Stage Box"}}));

  // A new version: dropped, asked for again, rebuilt and reported again.
  terminal_.description.advv = 2;
  terminal_.Send(Advertisement(kAdvertisementShort, terminal_.description));
  ASSERT_TRUE(terminal_.AwaitRequest());
  EXPECT_TRUE(Enumerated(spy_).empty());
  EXPECT_EQ(removals.Seen(), std::vector<std::string>{hwid + " replaced"});
  terminal_.SendFull(21);
  ASSERT_TRUE(collector_.WaitFor(5));
  EXPECT_EQ(collector_.Take()[0].info.channel, 21u);

  // Thirty seconds of silence: gone within a round of the listening thread.
  clock_.Advance(kTerminalLifetimeMs);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Enumerated(spy_).size(), 5u);
  clock_.Advance(1);
  EXPECT_TRUE(Eventually([&] { return Enumerated(spy_).empty(); }, 3s));
  EXPECT_EQ(removals.Seen(), (std::vector<std::string>{hwid + " replaced", hwid + " expired"}));
  EXPECT_EQ(SourceSpyWatchRemovals(nullptr, nullptr, nullptr), SPY_E_HANDLE);
}

// The records' form of the kept callback: the same sources as the SourceInfo form, with the
// access list applied, and keeping one form replaces the other.
struct Records {
  static int Callback(SourceSpy*, const SpySource* source, void* user) {
    auto* self = static_cast<Records*>(user);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->seen.push_back(std::to_string(source->psid) + " " + source->name + " of " +
                         source->terminal->name + " type " + std::to_string(source->fast));
    return self->result.load();
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::move(seen);
  }
  std::mutex mutex;
  std::vector<std::string> seen;
  std::atomic<int> result{1};
};

TEST_F(SourceSpyTest, RecordCallbackSeesTheTableRecordsUnderTheSameRules) {
  ASSERT_EQ(vqscwSourceSpySetAccessList(spy_, "12-15"), SPY_OK);
  Records records;
  ASSERT_EQ(SourceSpyEnumerateRecords(spy_, &Records::Callback, &records, 1), SPY_OK);
  terminal_.Send(Advertisement(
      kAdvertisementFull, terminal_.description,
      {{1, 11, 111, 2, "A"}, {2, 12, 112, 2, "B"}, {3, 13, 113, 1, "C"}, {4, 14, 114, 3, "D"}}));
  ASSERT_TRUE(Eventually([&] { return Enumerated(spy_).size() == 2; }));
  EXPECT_EQ(records.Take(),
            (std::vector<std::string>{"12 B of Stage Box type 2", "14 D of Stage Box type 3"}));
  // Enumerating without keeping, stopped by the callback after the first; the kept one stays.
  records.result = 0;
  ASSERT_EQ(SourceSpyEnumerateRecords(spy_, &Records::Callback, &records, 0), SPY_OK);
  EXPECT_EQ(records.Take(), std::vector<std::string>{"12 B of Stage Box type 2"});
  records.result = 1;
  terminal_.Send(Advertisement(kAdvertisementFull, terminal_.description, {{5, 15, 115, 2, "E"}}));
  ASSERT_TRUE(Eventually([&] { return Enumerated(spy_).size() == 3; }));
  EXPECT_EQ(records.Take(), std::vector<std::string>{"15 E of Stage Box type 2"});
  // Keeping the SourceInfo form ends the records' form.
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  EXPECT_EQ(collector_.Take().size(), 3u);
  vqscw::testing::TestTerminal other = terminal_.description;
  other.hwid = 4343;
  terminal_.Send(Advertisement(kAdvertisementFull, other, {{1, 13, 213, 2, "F"}}));
  ASSERT_TRUE(collector_.WaitFor(1));
  EXPECT_EQ(collector_.Take()[0].info.channel, 13u);
  EXPECT_TRUE(records.Take().empty());
  EXPECT_EQ(SourceSpyEnumerateRecords(nullptr, &Records::Callback, &records, 0), SPY_E_HANDLE);
}

TEST_F(SourceSpyTest, TwoSpiesOnTheSameCardAndPortBothHearTheGroup) {
  SourceSpy* second = nullptr;
  ASSERT_EQ(vqscwSourceSpyOpen(&second, kLoopback, port_), SPY_OK);
  Collector other;
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  ASSERT_EQ(SourceSpyEnumerate(second, &Collector::Callback, &other, 1), SPY_OK);
  terminal_.SendFull();
  EXPECT_TRUE(collector_.WaitFor(5));
  EXPECT_TRUE(other.WaitFor(5));
  EXPECT_EQ(other.Take()[0].spy, second);
  EXPECT_EQ(vqscwSourceSpyClose(second), SPY_OK);
}

TEST_F(SourceSpyTest, StreamTypeAndAccessListDecideWhatIsReportedNotWhatIsKept) {
  HearFiveSources();  // channels 11 to 15
  ASSERT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  collector_.Take();
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, "12;14-17"), SPY_OK);
  EXPECT_EQ(Enumerated(spy_), (std::vector<uint32_t>{12, 14, 15}));
  terminal_.description.hwid = 9;  // another terminal: 16 of type 1, 17 and 18
  terminal_.Send(Advertisement(kAdvertisementFull, terminal_.description,
                               {{1, 16, 1, 1, "hidden"}, {2, 17, 1, 2, "a"}, {3, 18, 1, 2, "b"}}));
  ASSERT_TRUE(Eventually([&] { return Enumerated(spy_).size() == 4; }));
  const auto reported = collector_.Take();
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].info.channel, 17u);

  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, ""), SPY_OK);
  EXPECT_TRUE(Enumerated(spy_).empty());
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, "file:///nonexistent/acl"), SPY_E_ACCESS_FILE);
  EXPECT_TRUE(Enumerated(spy_).empty());
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, "1-32767"), SPY_OK);
  EXPECT_EQ(Enumerated(spy_).size(), 7u);  // everything heard but the source of type 1
}

TEST_F(SourceSpyTest, EnumerationStoppedByItsCallbackKeepsNoCallback) {
  HearFiveSources();
  collector_.set_result(0);
  EXPECT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  EXPECT_EQ(collector_.Take().size(), 1u);
  terminal_.description.hwid = 9;
  terminal_.SendFull(21);
  ASSERT_TRUE(Eventually([&] { return Enumerated(spy_).size() == 10; }));
  EXPECT_TRUE(collector_.Take().empty());
  // The next enumeration reports what arrived meanwhile, and keeps its callback.
  collector_.set_result(1);
  EXPECT_EQ(SourceSpyEnumerate(spy_, &Collector::Callback, &collector_, 1), SPY_OK);
  EXPECT_EQ(collector_.Take().size(), 10u);
  terminal_.description.hwid = 10;
  terminal_.SendFull(31);
  EXPECT_TRUE(collector_.WaitFor(5));
}

TEST_F(SourceSpyTest, NoCallbackRunsAfterCloseReturnsAndTheHandleIsRefusedAfterwards) {
  struct Probe {
    std::atomic<bool> closed{false};
    std::atomic<int> calls{0}, late_calls{0};
  } probe;
  auto callback = [](SourceSpy*, SourceInfo*, void* user) {
    auto* p = static_cast<Probe*>(user);
    ++p->calls;
    std::this_thread::sleep_for(1ms);  // widens the window in which close could overtake us
    if (p->closed) ++p->late_calls;
    return 1;
  };
  ASSERT_EQ(SourceSpyEnumerate(spy_, callback, &probe, 1), SPY_OK);
  std::atomic<bool> sending{true};
  std::thread flood([&] {
    for (uint16_t id = 1; sending && id < 5000; ++id) {
      terminal_.description.hwid = id;
      terminal_.Send(
          Advertisement(kAdvertisementFull, terminal_.description, NumberedSources(1, 4, id)));
      std::this_thread::sleep_for(200us);
    }
  });
  ASSERT_TRUE(Eventually([&] { return probe.calls > 20; }));
  EXPECT_EQ(vqscwSourceSpyClose(spy_), SPY_OK);
  probe.closed = true;
  std::this_thread::sleep_for(50ms);
  sending = false;
  flood.join();
  EXPECT_EQ(probe.late_calls, 0);

  uint32_t address = 0;
  EXPECT_EQ(vqscwSourceSpyClose(spy_), SPY_E_HANDLE);
  EXPECT_EQ(vqscwSourceSpySetAccessList(spy_, "1"), SPY_E_HANDLE);
  EXPECT_EQ(SourceSpyEnumerate(spy_, callback, &probe, 1), SPY_E_HANDLE);
  EXPECT_EQ(SourceSpyGetInterface(spy_, &address), SPY_E_HANDLE);
  EXPECT_EQ(vqscwSourceSpyClose(nullptr), SPY_E_HANDLE);
  spy_ = nullptr;
}

TEST(SourceSpyOpenTest, OpenAndItsFailures) {
  const int users = vqscw::SocketLibraryUsers();
  const uint16_t port = vqscw::testing::FreeUdpPort();
  SourceSpy* spy = nullptr;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(vqscwSourceSpyOpen(&spy, inet_addr("192.0.2.77"), port), SPY_E_ENDPOINT);
  EXPECT_EQ(vqscwSourceSpyOpen(&spy, kLoopback, 0), SPY_E_ENDPOINT);
  {
    vqscw::SocketLibraryTestHook version20(0, vqscw::SocketVersion(2, 0));
    EXPECT_EQ(vqscwSourceSpyOpen(&spy, kLoopback, port), SPY_E_SOCKETS);
  }
  {
    vqscw::SocketLibraryTestHook failure(ENETDOWN, vqscw::kSocketVersion22);
    EXPECT_EQ(vqscwSourceSpyOpen(&spy, kLoopback, port), SPY_E_SOCKETS);
  }
  EXPECT_EQ(vqscwSourceSpyOpen(nullptr, kLoopback, port), SPY_E_HANDLE);
  EXPECT_EQ(spy, nullptr);
  EXPECT_EQ(vqscw::SocketLibraryUsers(), users);  // nothing of the failed attempts remains

  ASSERT_EQ(vqscwSourceSpyOpen(&spy, kLoopback, port), SPY_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "vqscwlib client open failed\nvqscwlib server at port 0 open failed\n"
            "vqscwlib server at port " +
                std::to_string(port) +
                " opened\nvqscwlib server joined 239.192.255.3 on 127.0.0.1\n");
  uint32_t address = 0;
  EXPECT_EQ(SourceSpyGetInterface(spy, &address), SPY_OK);
  EXPECT_EQ(address, kLoopback);
  EXPECT_EQ(vqscw::SocketLibraryUsers(), users + 1);
  EXPECT_EQ(vqscwSourceSpyClose(spy), SPY_OK);
  EXPECT_EQ(vqscw::SocketLibraryUsers(), users);
}

}  // namespace
