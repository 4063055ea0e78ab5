// vqscw-terminal end to end, in a network namespace of the test's own: what it sends on the wire
// and how it starts and stops.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/multicast_receiver.h"
#include "tests/support/scratch_folder.h"
#include "vqscwlib/host.h"

namespace {

using namespace std::chrono_literals;  // NOLINT
using vqscw::testing::ChildProcess;
using vqscw::testing::RunToEnd;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kLoopback = 0x7F000001;
constexpr char kTerminal[] = VQSCW_TERMINAL_PATH;
constexpr uint64_t kOwner = 0x00C0FFEE12345678;

class TerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A listener on the advertisement group, there before the terminal starts.
    ASSERT_TRUE(group_.Open(true, "127.0.0.1", kTerminalPort));
    ASSERT_TRUE(group_.JoinGroup(htonl(kAdvertisementGroup), htonl(kLoopback)));
  }
  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--card",   "lo",       "--hwid",   "0x0102",
                                  "--name",   "Studio A", "--source", "101:Mic 1:258:2:Desk",
                                  "--source", "102",      "--source", "103:Line:103:3"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(terminal_.Start(kTerminal, args));
    ASSERT_TRUE(terminal_.WaitForOutput("S003", 5s)) << terminal_.Errors();
  }
  // The next message heard on the group within `wait` with "ADVT" `advt` (0: any).
  std::optional<CMessage> Next(uint8_t advt, std::chrono::milliseconds wait) {
    for (const auto end = Clock::now() + wait; Clock::now() < end;) {
      CMessage message;
      if (group_.ReceiveMessage(&message, 100) &&
          (advt == 0 || message.GetU8(Tag("ADVT")) == advt)) {
        return message;
      }
    }
    return std::nullopt;
  }
  bool Send(const CMessage& message, uint8_t mode, uint32_t to = kLoopback) {
    if (!client_.IsOpen()) client_.Open(false, "127.0.0.1", 0);
    return client_.SendMessage(NetAddress(to, kTerminalPort), &message, mode);
  }

  CServerEndpoint group_;
  CClientEndpoint client_;
  ChildProcess terminal_;
};

TEST_F(TerminalTest, AdvertisesInFullAtStartThenShortEverySecondAndWhenAsked) {
  Start();
  std::optional<CMessage> full = Next(0, 2s);
  ASSERT_TRUE(full.has_value());
  EXPECT_EQ(full->GetU8(Tag("ADVT")), 1);
  EXPECT_EQ(full->Kind(), KIND_DATAGRAM);
  // The terminal and its sources as the command line gave them.
  const CFieldList* term = full->GetList(Tag("TERM"));
  EXPECT_EQ(term->GetU32(Tag("INIP")), htonl(kLoopback));
  EXPECT_EQ(term->GetU16(Tag("HWID")), 0x0102);
  EXPECT_STREQ(reinterpret_cast<const char*>(term->GetBlob(Tag("ATRN"))), "Studio A");
  const CFieldList* mic = full->GetList(Tag("S001"));
  EXPECT_EQ(mic->GetU32(Tag("PSID")), 101u);
  EXPECT_EQ(mic->GetU32(Tag("FSID")), 258u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mic->GetBlob(Tag("LABL"))), 4), "Desk");
  EXPECT_STREQ(reinterpret_cast<const char*>(full->GetList(Tag("S002"))->GetBlob(Tag("PSNM"))),
               "Tone 1000 Hz");
  EXPECT_EQ(full->GetList(Tag("S003"))->GetU8(Tag("FAST")), 3);

  std::vector<Clock::time_point> shorts;
  while (shorts.size() < 3) {
    ASSERT_TRUE(Next(2, 1500ms).has_value());
    shorts.push_back(Clock::now());
  }
  for (size_t i = 1; i < shorts.size(); ++i) {
    EXPECT_GT(shorts[i] - shorts[i - 1], 700ms);
    EXPECT_LT(shorts[i] - shorts[i - 1], 1300ms);
  }

  CMessage request;
  request.SetCode(Tag("READ"));
  request.SetU8(Tag("ADVD"), 1);
  ASSERT_TRUE(Send(request, KIND_DATAGRAM));
  EXPECT_TRUE(Next(1, 1500ms).has_value());
  request.SetU32(Tag("PSID"), 999);  // not one of its channels
  ASSERT_TRUE(Send(request, KIND_DATAGRAM));
  EXPECT_FALSE(Next(1, 1500ms).has_value());
  request.SetU32(Tag("PSID"), 102);
  ASSERT_TRUE(Send(request, KIND_MESSAGE));  // acknowledged by the terminal
  EXPECT_TRUE(Next(1, 1500ms).has_value());
}

CMessage AllocationRequest(uint32_t code, uint64_t owner, uint64_t reference) {
  CFieldList source;
  source.SetCode(Tag("INDI"));
  source.SetU64(Tag("BUSY"), static_cast<uint32_t>(owner), owner >> 32);
  CMessage message;
  message.SetCode(code);
  message.SetList(Tag("S002"), &source);
  message.SetU64(TAG_REFI, static_cast<uint32_t>(reference), reference >> 32);
  return message;
}

TEST_F(TerminalTest, GrantsAllocationsAndAnnouncesThemToTheGroup) {
  Start({"--debug"});
  ASSERT_TRUE(Send(AllocationRequest(Tag("WRIN"), kOwner, 0x55), KIND_MESSAGE));
  std::optional<CMessage> announcement = Next(3, 2s);
  ASSERT_TRUE(announcement.has_value());
  EXPECT_EQ(announcement->GetList(Tag("TERM"))->GetU16(Tag("HWID")), 0x0102);
  EXPECT_EQ(announcement->GetList(Tag("S001"))->GetU64(Tag("BUSY")), 0u);
  EXPECT_EQ(announcement->GetList(Tag("S002"))->GetU64(Tag("BUSY")), kOwner);
  EXPECT_EQ(announcement->GetU64(TAG_REFI), 0x55u);

  // Another party can neither take nor release it; a query is answered.
  ASSERT_TRUE(Send(AllocationRequest(Tag("WRIN"), 7, 7), KIND_MESSAGE));
  ASSERT_TRUE(Send(AllocationRequest(Tag("WRIN"), 0, 7), KIND_MESSAGE));
  ASSERT_TRUE(Send(AllocationRequest(Tag("READ"), 1, 0x66), KIND_MESSAGE));
  announcement = Next(3, 2s);
  ASSERT_TRUE(announcement.has_value());
  EXPECT_EQ(announcement->GetU64(TAG_REFI), 0x66u);
  EXPECT_EQ(announcement->GetList(Tag("S002"))->GetU64(Tag("BUSY")), kOwner);
  EXPECT_TRUE(terminal_.WaitForOutput(
      "S002 0000000000000007 tried to relese object allocated by 00C0FFEE12345678", 1s));
}

struct Stream {
  vqscw::testing::MulticastReceiver receiver;
  uint8_t payload_type;
  size_t size;
  std::vector<uint8_t> last = {};
};

uint32_t Word(const std::vector<uint8_t>& p, size_t at) {
  return static_cast<uint32_t>(p[at]) << 24 | p[at + 1] << 16 | p[at + 2] << 8 | p[at + 3];
}

// How many packets' time lies between two consecutive packets of a stream whose timestamps are
// `step` apart: none normally (48 frames a packet). A sender held back by a stalled machine for
// more than 100 ms skips ahead instead of bursting, and the timestamps count the skipped time.
uint32_t SkippedPackets(uint32_t step) {
  if (step == 48) return 0;
  EXPECT_EQ(step % 48, 0u) << step;
  EXPECT_GT(step, 48u * 100) << "a skip ahead, not a burst or a short step";
  return step / 48 - 1;
}

TEST_F(TerminalTest, StreamsEachSourceToItsPreviewAndStreamGroupsInMillisecondPackets) {
  constexpr size_t kL24 = 12 + 48 * 2 * 3;
  Stream streams[] = {{{0xEFC00065, 5004}, 96, kL24},          // 239.192.0.101: channel 101
                      {{0xEF800102, 5004}, 96, kL24},          // 239.128.1.2: its stream id 258
                      {{0xEFC00066, 5004}, 96, kL24},          // 239.192.0.102
                      {{0xEF800067, 5004}, 97, 12 + 48 * 4}};  // 239.128.0.103, 16-bit
  for (Stream& s : streams) ASSERT_TRUE(s.receiver.ok());
  Start();
  // One packet of each stream in turn, so that no socket's queue overflows meanwhile.
  for (int i = 0; i < 200; ++i) {
    for (Stream& s : streams) {
      std::optional<std::vector<uint8_t>> packet = s.receiver.Receive(2000);
      ASSERT_TRUE(packet.has_value()) << i;
      const std::vector<uint8_t>& p = *packet;
      ASSERT_EQ(p.size(), s.size);
      EXPECT_EQ(p[0], 0x80);  // version 2, no padding, extension or contributors
      EXPECT_EQ(p[1] & 0x7F, s.payload_type);
      if (!s.last.empty()) {
        EXPECT_EQ(Word(p, 8), Word(s.last, 8));  // SSRC
        EXPECT_EQ(static_cast<uint16_t>((p[2] << 8 | p[3]) - (s.last[2] << 8 | s.last[3])), 1);
        SkippedPackets(Word(p, 4) - Word(s.last, 4));  // 48 frames a packet
      }
      s.last = p;
    }
  }
  EXPECT_EQ(Word(streams[0].last, 8), Word(streams[1].last, 8));  // one source, one SSRC
  EXPECT_NE(Word(streams[0].last, 8), Word(streams[2].last, 8));
  // About one packet a millisecond: those that arrive within a second, and the milliseconds the
  // sender skipped if a stalled machine held it back.
  uint32_t packets = 0;
  for (const auto start = Clock::now(); Clock::now() - start < 1s;) {
    std::optional<std::vector<uint8_t>> packet = streams[2].receiver.Receive(100);
    if (!packet || packet->size() != kL24) continue;
    packets += 1 + SkippedPackets(Word(*packet, 4) - Word(streams[2].last, 4));
    streams[2].last = *packet;
  }
  EXPECT_GT(packets, 700u);
  EXPECT_LT(packets, 1300u);
}

TEST(TerminalProgramTest, StopsCleanlyOnSignalsOrAfterItsSecondsAndRefusesBadArguments) {
  for (int signal : {SIGTERM, SIGINT}) {
    ChildProcess terminal;
    ASSERT_TRUE(terminal.Start(kTerminal, {"--card", "lo"}));
    ASSERT_TRUE(terminal.WaitForOutput("S001", 5s));
    terminal.Signal(signal);
    EXPECT_EQ(terminal.Wait(1s), 0) << signal;
    EXPECT_NE(terminal.Output().find("vqscw-terminal: stopped; "), std::string::npos);
  }
  const auto start = Clock::now();
  std::string out, err;
  EXPECT_EQ(RunToEnd(kTerminal, {"--card", "127.0.0.1", "--seconds", "1"}, &out, nullptr), 0);
  EXPECT_GE(Clock::now() - start, 1s);
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_NE(out.find("on 127.0.0.1 (lo)"), std::string::npos) << out;

  EXPECT_EQ(RunToEnd(kTerminal, {"--help"}, &out, &err), 0);
  EXPECT_EQ(out.find("vqscw-terminal: a software terminal"), 0u) << out;
  EXPECT_NE(out.find("--source DESC"), std::string::npos) << out;
  EXPECT_EQ(RunToEnd(kTerminal, {"--version"}, &out, &err), 0);
  EXPECT_EQ(out.find("vqscw-terminal "), 0u) << out;

  const vqscw::testing::ScratchFolder scratch("vqscw-terminal-test");
  ASSERT_TRUE(scratch.ok());
  const std::string dir = scratch.path().string();
  const std::string text_file = scratch.File("notes.wav");
  std::ofstream(text_file) << "not audio\n";
  struct Bad {
    std::vector<std::string> args;
    std::string reason;  // a part of the message
  };
  for (const Bad& bad : std::vector<Bad>{
           {{"--hwid", "70000"}, "--hwid: '70000' is not a number from 0 to 65535"},
           {{"--hwid", "-1"}, "--hwid: '-1' is not a number"},
           {{"--hwid", "0x"}, "--hwid: '0x' is not a number"},
           {{"--hwid", "+1"}, "--hwid: '+1' is not a number"},
           {{"--hwid", "1 "}, "--hwid: '1 ' is not a number"},
           {{"--source", "0"}, "--source: a source's channel must be a number from 1 to 32767"},
           {{"--source", "5", "--source", "5"}, "channel 5 is given twice"},
           {{"--source", "1:seventeen bytes!!"}, "at most 16 bytes"},
           {{"--source", "101:a:101:9"}, "stream type is 2 (24-bit) or 3 (16-bit), not \"9\""},
           {{"--source", "101:a:101:0x3"}, "stream type"},
           {{"--seconds", "0"}, "--seconds"},
           {{"--card"}, "--card"},
           {{"--card", ""}, "--card: must not be empty"},
           {{"--debug=1"}, "debug"},
           {{"--bogus"}, "--bogus"},
           {{"--card", "nosuchcard0"}, "nosuchcard0"},
           {{"--card", "10.255.255.1"}, "10.255.255.1"},
           {{"--card", "lo", "--wav", "/nonexistent.wav"}, "/nonexistent.wav"},
           {{"--card", "lo", "--wav", text_file}, "cannot decode " + text_file},
           {{"--card", "lo", "--wav", dir}, dir},
           {{"--config", "/nonexistent"}, "/nonexistent"},
           {{"extra"}, "extra"}}) {
    EXPECT_EQ(RunToEnd(kTerminal, bad.args, &out, &err), 2) << bad.args[0];
    EXPECT_EQ(err.find("vqscw-terminal: "), 0u) << err;
    EXPECT_NE(err.find(bad.reason), std::string::npos) << err;
    EXPECT_EQ(out, "") << bad.args[0];  // refused before anything starts
  }
}

TEST(TerminalProgramTest, ReadsAConfigFileThatTheCommandLineOverrides) {
  const vqscw::testing::ScratchFolder scratch("vqscw-terminal-test");
  ASSERT_TRUE(scratch.ok());
  const std::string config = scratch.File("terminal.conf");
  std::ofstream(config) << "# a desk\n"
                        << "name From File\n"
                        << "card 10.255.255.1\n"
                        << "source 201:Mic:301:3\n"
                        << "no-stream\n";
  std::string out, err;
  EXPECT_EQ(RunToEnd(kTerminal,
                     {"--config", config, "--card", "lo", "--source", "202", "--seconds", "1",
                      "--hwid", "010"},
                     &out, &err),
            0)
      << err;
  EXPECT_NE(out.find("\"From File\" hwid 10 "), std::string::npos) << out;  // decimal
  EXPECT_NE(out.find("S001 channel 201 \"Mic\" stream 301 type 3: silent"), std::string::npos)
      << out;
  EXPECT_NE(out.find("S002 channel 202"), std::string::npos) << out;

  std::ofstream(config) << "source 201:a:201:9\n";
  EXPECT_EQ(RunToEnd(kTerminal, {"--config", config}, &out, &err), 2);
  EXPECT_NE(err.find(config + ": --source: a source's stream type"), std::string::npos) << err;
  std::ofstream(config) << "config " << config << "\n";
  EXPECT_EQ(RunToEnd(kTerminal, {"--config", config}, &out, &err), 2);
  EXPECT_NE(err.find("cannot name another config file"), std::string::npos) << err;
}

// A second terminal on a card where one listens would never be asked for its advertisement: the
// system hands the requests to that address to one socket alone.
TEST_F(TerminalTest, ASecondTerminalOnOneAddressIsRefusedAndOneOnAnAddressOfItsOwnAnswers) {
  Start();
  std::string out, err;
  EXPECT_EQ(RunToEnd(kTerminal, {"--card", "127.0.0.1", "--seconds", "5"}, &out, &err), 2);
  EXPECT_NE(err.find("another terminal already listens on 127.0.0.1:4001"), std::string::npos)
      << err;
  EXPECT_NE(err.find("give each terminal an address of its own (for example 127.0.1.N on lo"),
            std::string::npos)
      << err;
  EXPECT_EQ(out, "");

  // The advice taken: an address of its own on lo, and each terminal answers its own requests.
  ASSERT_EQ(std::system("ip addr add 127.0.1.2/8 dev lo"), 0);
  ChildProcess second;
  ASSERT_TRUE(second.Start(kTerminal, {"--card", "127.0.1.2", "--hwid", "7", "--no-stream"}));
  ASSERT_TRUE(second.WaitForOutput("S001", 5s)) << second.Errors();
  constexpr uint32_t own_address = 0x7F000102;  // 127.0.1.2
  // Each terminal's full advertisement at its start, the second's last.
  std::optional<CMessage> full;
  while ((full = Next(1, 2s)).has_value() &&
         full->GetList(Tag("TERM"))->GetU32(Tag("INIP")) != htonl(own_address)) {
  }
  ASSERT_TRUE(full.has_value());
  CMessage request;
  request.SetCode(Tag("READ"));
  request.SetU8(Tag("ADVD"), 1);
  for (uint32_t to : {kLoopback, own_address, kLoopback}) {
    ASSERT_TRUE(Send(request, KIND_MESSAGE, to));
    full = Next(1, 1500ms);
    ASSERT_TRUE(full.has_value()) << std::hex << to;
    EXPECT_EQ(full->GetList(Tag("TERM"))->GetU32(Tag("INIP")), htonl(to));
  }
}

// A socket that holds the card's port for itself alone keeps the terminal from binding there.
TEST(TerminalProgramTest, RefusesACardWhosePortAnotherProgramHolds) {
  const int holder = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(kTerminalPort);
  at.sin_addr.s_addr = htonl(kLoopback);
  ASSERT_EQ(bind(holder, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  std::string out, err;
  EXPECT_EQ(RunToEnd(kTerminal, {"--card", "lo", "--seconds", "5"}, &out, &err), 2);
  EXPECT_NE(err.find("give each terminal an address of its own"), std::string::npos) << err;
  close(holder);
}

}  // namespace
