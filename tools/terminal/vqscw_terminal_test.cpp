// vqscw-terminal end to end, in a network namespace of the test's own: what it sends on the wire
// (advertisements, answers, allocation announcements, RTP streams) and how it starts and stops.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tools/testing/child_process.h"
#include "tools/testing/multicast_receiver.h"
#include "vqscwlib/host.h"

namespace {

using namespace std::chrono_literals;  // NOLINT
using vqscw::testing::ChildProcess;
using vqscw::testing::MulticastReceiver;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kLoopback = 0x7F000001;
constexpr char kTerminal[] = VQSCW_TERMINAL_PATH;
constexpr uint64_t kOwner = 0x00C0FFEE12345678;

const std::vector<std::string> kStudio = {
    "--card",   "lo",     "--hwid",   "0x0102",        "--name",
    "Studio A", "--advv", "42",       "--source",      "101:Mic 1:258:2:Desk",
    "--source", "102",    "--source", "103:Line:103:3"};

struct Heard {
  CMessage message;
  Clock::time_point at;
};

// Hears the advertisement group on loopback, as a listener would.
class GroupListener {
 public:
  GroupListener() {
    EXPECT_TRUE(endpoint_.Open(true, "127.0.0.1", kTerminalPort));
    EXPECT_TRUE(endpoint_.JoinGroup(htonl(kAdvertisementGroup), htonl(kLoopback)));
  }
  // Messages heard until `duration` has passed (at most 100).
  std::vector<Heard> Listen(std::chrono::milliseconds duration) {
    std::vector<Heard> heard;
    const auto end = Clock::now() + duration;
    while (heard.size() < 100) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) break;
      Heard h;
      if (endpoint_.ReceiveMessage(&h.message, static_cast<uint32_t>(left.count()))) {
        h.at = Clock::now();
        heard.push_back(std::move(h));
      }
    }
    return heard;
  }
  // The first message heard within `duration` whose "ADVT" is `advt`.
  std::optional<CMessage> Next(uint8_t advt, std::chrono::milliseconds duration) {
    const auto end = Clock::now() + duration;
    while (Clock::now() < end) {
      CMessage message;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (endpoint_.ReceiveMessage(&message,
                                   static_cast<uint32_t>(std::max<int64_t>(0, left.count()))) &&
          message.GetU8(Tag("ADVT")) == advt) {
        return message;
      }
    }
    return std::nullopt;
  }

 private:
  CServerEndpoint endpoint_;
};

class TerminalTest : public ::testing::Test {
 protected:
  void StartStudio(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = kStudio;
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(terminal_.Start(kTerminal, args));
    ASSERT_TRUE(terminal_.WaitForOutput("S003", 5s)) << terminal_.Errors();
  }
  // Sends `message` to the terminal's port on loopback.
  bool SendToTerminal(const CMessage& message, uint8_t mode) {
    if (!client_.IsOpen()) client_.Open(false, "127.0.0.1", 0);
    return client_.SendMessage(NetAddress(kLoopback, kTerminalPort), &message, mode);
  }

  ChildProcess terminal_;
  CClientEndpoint client_;
};

TEST_F(TerminalTest, AdvertisesInFullAtStartThenShortEverySecond) {
  GroupListener group;
  StartStudio();
  const std::vector<Heard> heard = group.Listen(3500ms);
  ASSERT_GE(heard.size(), 4u);

  const CMessage& full = heard[0].message;
  EXPECT_EQ(full.Kind(), KIND_DATAGRAM);
  EXPECT_EQ(full.GetU8(Tag("ADVT")), 1);
  const CFieldList* term = full.GetList(Tag("TERM"));
  ASSERT_NE(term, nullptr);
  EXPECT_EQ(term->GetU32(Tag("INIP")), htonl(kLoopback));
  EXPECT_EQ(term->GetU16(Tag("HWID")), 0x0102);
  EXPECT_EQ(term->GetU32(Tag("ADVV")), 42u);
  EXPECT_EQ(term->GetU16(Tag("NUMS")), 3);
  EXPECT_STREQ(reinterpret_cast<const char*>(term->GetBlob(Tag("ATRN"))), "Studio A");
  const CFieldList* mic = full.GetList(Tag("S001"));
  ASSERT_NE(mic, nullptr);
  EXPECT_EQ(mic->GetU32(Tag("PSID")), 101u);
  EXPECT_EQ(mic->GetU32(Tag("FSID")), 258u);
  EXPECT_EQ(mic->GetU8(Tag("FAST")), 2);
  EXPECT_STREQ(reinterpret_cast<const char*>(mic->GetBlob(Tag("PSNM"))), "Mic 1");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mic->GetBlob(Tag("LABL"))), 4), "Desk");
  ASSERT_NE(full.GetList(Tag("S002")), nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(full.GetList(Tag("S002"))->GetBlob(Tag("PSNM"))),
               "Tone 1000 Hz");
  EXPECT_EQ(full.GetList(Tag("S003"))->GetU8(Tag("FAST")), 3);

  std::vector<Clock::time_point> shorts;
  for (size_t i = 1; i < heard.size(); ++i) {
    EXPECT_EQ(heard[i].message.GetU8(Tag("ADVT")), 2);
    EXPECT_FALSE(heard[i].message.GetList(Tag("TERM"))->Has(Tag("ATRN")));
    shorts.push_back(heard[i].at);
  }
  ASSERT_GE(shorts.size(), 3u);
  for (size_t i = 1; i < shorts.size(); ++i) {
    const auto gap =
        std::chrono::duration_cast<std::chrono::milliseconds>(shorts[i] - shorts[i - 1]);
    EXPECT_GT(gap.count(), 700);
    EXPECT_LT(gap.count(), 1300);
  }
}

TEST_F(TerminalTest, AnswersRequestsForItsAdvertisementOrForAChannelItHas) {
  GroupListener group;
  StartStudio();
  ASSERT_TRUE(group.Next(1, 2s).has_value());  // the one at start

  CMessage request;
  request.SetCode(Tag("READ"));
  request.SetU8(Tag("ADVD"), 1);
  ASSERT_TRUE(SendToTerminal(request, KIND_DATAGRAM));
  auto answer = group.Next(1, 2s);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->GetList(Tag("TERM"))->GetU16(Tag("HWID")), 0x0102);
  EXPECT_TRUE(answer->Has(Tag("S003")));

  request.SetU32(Tag("PSID"), 999);  // not one of its channels: no answer
  ASSERT_TRUE(SendToTerminal(request, KIND_DATAGRAM));
  EXPECT_FALSE(group.Next(1, 1500ms).has_value());
  request.SetU32(Tag("PSID"), 102);
  ASSERT_TRUE(SendToTerminal(request, KIND_MESSAGE));  // acknowledged by the terminal
  EXPECT_TRUE(group.Next(1, 2s).has_value());
  EXPECT_NE(terminal_.Output().find("full advertisement asked for by 127.0.0.1"),
            std::string::npos);
}

CMessage AllocationRequest(uint32_t code, const char* tag, uint64_t owner, uint64_t reference) {
  CMessage message;
  message.SetCode(code);
  CFieldList source;
  source.SetCode(Tag("INDI"));
  source.SetU64(Tag("BUSY"), static_cast<uint32_t>(owner), static_cast<uint32_t>(owner >> 32));
  uint32_t slot_tag = 0;
  for (int i = 0; i < 4; ++i) slot_tag = slot_tag << 8 | static_cast<uint8_t>(tag[i]);
  message.SetList(slot_tag, &source);
  message.SetU64(TAG_REFI, static_cast<uint32_t>(reference),
                 static_cast<uint32_t>(reference >> 32));
  return message;
}

TEST_F(TerminalTest, GrantsAllocationsAndAnnouncesThemToTheGroup) {
  GroupListener group;
  StartStudio({"--debug"});
  ASSERT_TRUE(SendToTerminal(AllocationRequest(Tag("WRIN"), "S002", kOwner, 0x55), KIND_MESSAGE));
  auto announcement = group.Next(3, 2s);
  ASSERT_TRUE(announcement.has_value());
  EXPECT_EQ(announcement->GetList(Tag("TERM"))->GetU16(Tag("HWID")), 0x0102);
  EXPECT_EQ(announcement->GetList(Tag("S001"))->GetU64(Tag("BUSY")), 0u);
  EXPECT_EQ(announcement->GetList(Tag("S002"))->GetU64(Tag("BUSY")), kOwner);
  EXPECT_EQ(announcement->GetList(Tag("S002"))->GetU32(Tag("PSID")), 102u);
  EXPECT_EQ(announcement->GetU64(TAG_REFI), 0x55u);

  // Another party can neither take it nor release it; a query is answered.
  ASSERT_TRUE(SendToTerminal(AllocationRequest(Tag("WRIN"), "S002", 7, 7), KIND_MESSAGE));
  ASSERT_TRUE(SendToTerminal(AllocationRequest(Tag("WRIN"), "S002", 0, 7), KIND_MESSAGE));
  ASSERT_TRUE(SendToTerminal(AllocationRequest(Tag("READ"), "S002", 1, 0x66), KIND_MESSAGE));
  announcement = group.Next(3, 2s);
  ASSERT_TRUE(announcement.has_value());
  EXPECT_EQ(announcement->GetU64(TAG_REFI), 0x66u);  // the query's answer, nothing before it
  EXPECT_EQ(announcement->GetList(Tag("S002"))->GetU64(Tag("BUSY")), kOwner);
  EXPECT_TRUE(terminal_.WaitForOutput(
      "S002 0000000000000007 tried to relese object allocated by 00C0FFEE12345678", 1s))
      << terminal_.Output();
}

// RTP

struct Rtp {
  uint8_t version, payload_type;
  uint16_t sequence;
  uint32_t timestamp, ssrc;
  size_t size;
};

std::optional<Rtp> ReceiveRtp(MulticastReceiver* receiver) {
  auto bytes = receiver->Receive(2000);
  if (!bytes || bytes->size() < 12) return std::nullopt;
  const uint8_t* p = bytes->data();
  return Rtp{static_cast<uint8_t>(p[0] >> 6),
             static_cast<uint8_t>(p[1] & 0x7F),
             static_cast<uint16_t>(p[2] << 8 | p[3]),
             static_cast<uint32_t>(p[4]) << 24 | p[5] << 16 | p[6] << 8 | p[7],
             static_cast<uint32_t>(p[8]) << 24 | p[9] << 16 | p[10] << 8 | p[11],
             bytes->size()};
}

struct StreamCheck {
  MulticastReceiver* receiver;
  uint8_t payload_type;
  size_t size;
  std::optional<Rtp> last = std::nullopt;
};

// Checks `count` consecutive packets of each stream, taking one of each in turn so that no
// socket's queue overflows while another is read.
void CheckStreams(std::vector<StreamCheck>* streams, int count) {
  for (int i = 0; i < count; ++i) {
    for (StreamCheck& stream : *streams) {
      std::optional<Rtp> packet = ReceiveRtp(stream.receiver);
      ASSERT_TRUE(packet.has_value()) << "packet " << i << " missing";
      EXPECT_EQ(packet->version, 2);
      EXPECT_EQ(packet->payload_type, stream.payload_type);
      EXPECT_EQ(packet->size, stream.size);
      if (stream.last) {
        EXPECT_EQ(packet->ssrc, stream.last->ssrc);
        EXPECT_EQ(static_cast<uint16_t>(packet->sequence - stream.last->sequence), 1) << i;
        EXPECT_EQ(packet->timestamp - stream.last->timestamp, 48u) << i;
      }
      stream.last = packet;
    }
  }
}

TEST_F(TerminalTest, StreamsEachSourceToItsPreviewAndStreamGroups) {
  MulticastReceiver preview1(0xEFC00065, 5004);  // 239.192.0.101
  MulticastReceiver stream1(0xEF800102, 5004);   // 239.128.1.2: stream id 258
  MulticastReceiver preview2(0xEFC00066, 5004);  // 239.192.0.102
  MulticastReceiver stream3(0xEF800067, 5004);   // 239.128.0.103, a 16-bit source
  ASSERT_TRUE(preview1.ok() && stream1.ok() && preview2.ok() && stream3.ok());
  StartStudio();

  constexpr size_t kL24Packet = 12 + 48 * 2 * 3;
  constexpr size_t kL16Packet = 12 + 48 * 2 * 2;
  std::vector<StreamCheck> streams{{&preview1, 96, kL24Packet},
                                   {&stream1, 96, kL24Packet},
                                   {&preview2, 96, kL24Packet},
                                   {&stream3, 97, kL16Packet}};
  CheckStreams(&streams, 200);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(streams[0].last->ssrc, streams[1].last->ssrc);  // one source, one SSRC
  EXPECT_NE(streams[0].last->ssrc, streams[2].last->ssrc);
  EXPECT_NE(streams[2].last->ssrc, streams[3].last->ssrc);

  // About one packet a millisecond.
  const auto start = Clock::now();
  int packets = 0;
  while (Clock::now() - start < 1s && ReceiveRtp(&preview2)) ++packets;
  EXPECT_GT(packets, 700);
  EXPECT_LT(packets, 1300);
}

TEST_F(TerminalTest, StopsCleanlyOnSigtermOrSigintOrAfterItsSeconds) {
  for (int signal : {SIGTERM, SIGINT}) {
    ChildProcess terminal;
    ASSERT_TRUE(terminal.Start(kTerminal, {"--card", "lo"}));
    ASSERT_TRUE(terminal.WaitForOutput("S001", 5s));
    const auto start = Clock::now();
    terminal.Signal(signal);
    EXPECT_EQ(terminal.Wait(3s), 0) << signal;
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_NE(terminal.Output().find("vqscw-terminal: stopped; "), std::string::npos);
  }
  const auto start = Clock::now();
  std::string out;
  EXPECT_EQ(
      vqscw::testing::RunToEnd(kTerminal, {"--card", "127.0.0.1", "--seconds", "1"}, &out, nullptr),
      0);
  EXPECT_GE(Clock::now() - start, 1s);
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_NE(out.find("on 127.0.0.1 (lo)"), std::string::npos) << out;
}

TEST(TerminalArgumentsTest, HelpAndBadArguments) {
  std::string out, err;
  EXPECT_EQ(vqscw::testing::RunToEnd(kTerminal, {"--help"}, &out, &err), 0);
  EXPECT_EQ(out.find("usage: vqscw-terminal"), 0u);
  EXPECT_NE(out.find("500 Hz"), std::string::npos);
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--hwid", "x"},
                                              {"--card", "nosuchcard0"},
                                              {"--card", "10.255.255.1"},
                                              {"--card", "lo", "--wav", "/nonexistent.wav"},
                                              {"extra"}}) {
    EXPECT_EQ(vqscw::testing::RunToEnd(kTerminal, bad, &out, &err), 2) << bad[0];
    EXPECT_EQ(err.find("vqscw-terminal: "), 0u) << err;
  }
}

}  // namespace
