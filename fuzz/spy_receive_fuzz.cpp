// Sends arbitrary datagrams to a running source spy and checks the whole receive path: frames and
// their acknowledgements, the repeat filter, decoding, the source table, the requests for full
// advertisements, the access list, the reports to the client and the SDP files written from the
// table.
//
// Input: a flags byte (bit 0: give an access list, bit 1: as a file), when a list is given a
// big-endian 16-bit length and that many bytes of its text, then datagrams, each a big-endian
// 16-bit length and that many bytes (up to the largest UDP payload); a length of 0 is followed by
// two bytes of milliseconds to advance the clock by. Two spies stay open from input to input, one
// never given an access list and one given each input's list; after each input everything it
// heard expires and its senders are forgotten.
//
// The spy runs on its own thread and is reached over loopback. After every datagram a marker
// advertisement from another sender is sent and awaited in the table, so each datagram's effects
// are complete before they are checked. A short advertisement makes the spy send a request to the
// address the input names: the fuzzer therefore runs in a network namespace of its own, where only
// loopback exists, and the requests are caught on port 4001 there.
//
// Aborts when an acknowledgement is missing, unexpected or wrong; a request is not a request for
// a full advertisement; the table breaks its rules; a source is reported that the access list
// does not let through or that is not in the table; a new source that the list lets through is not
// reported, or reported twice; an enumeration disagrees with the table; a report record is
// malformed; or an SDP file does not describe its source.
#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "vqscwlib/base/byte_order.h"
#include "vqscwlib/message/frame.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/message/tags.h"
#include "vqscwlib/platform/clock.h"
#include "vqscwlib/preview/stream_description.h"
#include "vqscwlib/protocol/advertise.h"
#include "vqscwlib/protocol/sdp_writer.h"
#include "vqscwlib/protocol/source_table.h"
#include "vqscwlib/spy/access_list.h"
#include "vqscwlib/spy/source_spy.h"
#include "vqscwlib/transport/message_endpoint.h"
#include "vqscwlib/transport/udp_socket.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;  // host order
// One spy is never given an access list (it lets everything through), the other is given each
// input's list.
constexpr uint16_t kSpyPorts[2] = {14001, 14002};
constexpr size_t kMaxDatagram = 65507;  // the largest UDP payload over IPv4
constexpr size_t kMaxDatagramsPerInput = 64;
constexpr int kSettleWaitMs = 5000;  // for the spy to handle one datagram and the marker
// The marker terminal: an address no input is likely to name with this id and version.
constexpr uint16_t kMarkerHwid = 0xFFFF;
const uint32_t kMarkerInip = htonl(0x7F0000FEu);  // 127.0.0.254, network order
constexpr uint32_t kMarkerAdvvBase = 0x6D61726Bu;
constexpr uint8_t kHiddenStreamType = 1;
constexpr uint32_t kClockStart = 0x10000;
// A jump after which every terminal has expired and every sender is forgotten.
constexpr uint32_t kForgetAllMs = kTerminalLifetimeMs + CDuplicateFilter::kDefaultMaxAgeMs + 1;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "spy_receive_fuzz: %s\n", what);
  std::abort();
}

// A source as the client sees it.
using Source = std::tuple<uint32_t, uint32_t, std::string>;  // channel, stream id, name

// A filled slot as the table holds it, named so that a slot filled again later is another.
using SlotKey = std::tuple<uint16_t, uint32_t, uint32_t, uint32_t>;  // hwid, inip, advv, tag

// One spy, kept open from input to input, and what it has reported.
struct Run {
  SourceSpy* spy = nullptr;
  uint16_t port = 0;
  CSockAddr address;
  bool list_given = false;
  vqscw::AccessList list;  // the list the spy was given, parsed by the same parser
  std::mutex mu;           // the reports arrive on the spy's thread
  std::vector<Source> reports;
  uint32_t marker_advv = 0;
  std::set<SlotKey> known_slots;  // filled slots seen at the previous check
};

struct Rig {
  vqscw::FakeClock clock{kClockStart};
  CUdpSocket sender;       // sends the input's datagrams, receives their acknowledgements
  CClientEndpoint marker;  // sends the marker advertisements
  CUdpSocket requests;     // 0.0.0.0:4001, where requests for full advertisements land
  std::string folder;      // for SDP files and access-list files
  Run runs[2];
};

Rig* rig = nullptr;

bool Passes(const Run& run, const SpySource& source) {
  if (source.fast == kHiddenStreamType) return false;
  if (!run.list_given) return true;
  return run.list.Contains(source.psid);
}

Source SourceOf(const SpySource& slot) { return {slot.psid, slot.fsid, std::string(slot.name)}; }

void CheckInfo(const SourceInfo& info) {
  Check(info.size == sizeof(SourceInfo), "record size");
  Check(info.port == kStreamPort, "stream port");
  Check(info.format != nullptr && info.formatSize == sizeof(WAVEFORMATEXTENSIBLE), "format size");
  const size_t name_length = strnlen(info.name, sizeof info.name);
  Check(name_length <= kSourceNameLength, "name too long");
  for (size_t i = name_length; i < sizeof info.name; ++i) Check(info.name[i] == 0, "name padding");
  const size_t label_length = strnlen(info.label, sizeof info.label);
  Check(label_length == std::min<size_t>(name_length, sizeof info.label - 1), "label length");
  Check(std::memcmp(info.label, info.name, label_length) == 0, "label is not the name's start");
  for (size_t i = label_length; i < sizeof info.label; ++i) {
    Check(info.label[i] == 0, "label padding");
  }
  const WAVEFORMATEX& wave = info.format->Format;
  Check(wave.wFormatTag == WAVE_FORMAT_EXTENSIBLE && wave.nChannels == 2 &&
            wave.nSamplesPerSec == 48000 && wave.nAvgBytesPerSec == 288000 &&
            wave.nBlockAlign == 6 && wave.wBitsPerSample == 24 &&
            info.format->Samples.wValidBitsPerSample == 24 && info.format->dwChannelMask == 3 &&
            info.format->SubFormat == KSDATAFORMAT_SUBTYPE_PCM,
        "stream format");
}

int OnReport(SourceSpy* spy, SourceInfo* info, void* user) {
  auto* run = static_cast<Run*>(user);
  Check(spy == run->spy, "report for another spy");
  CheckInfo(*info);
  std::lock_guard<std::mutex> lock(run->mu);
  run->reports.emplace_back(info->channel, info->streamId,
                            std::string(info->name, strnlen(info->name, sizeof info->name)));
  return 1;
}

int OnEnumerate(SourceSpy*, SourceInfo* info, void* user) {
  CheckInfo(*info);
  static_cast<std::vector<Source>*>(user)->emplace_back(
      info->channel, info->streamId,
      std::string(info->name, strnlen(info->name, sizeof info->name)));
  return 1;
}

// The table's own rules.
void CheckTable(const SpyTerminal* table) {
  std::set<std::pair<uint16_t, uint32_t>> keys;
  for (const SpyTerminal* t = table; t != nullptr; t = t->next) {
    Check(keys.insert({t->hwid, t->inip}).second, "two records of one terminal");
    Check(t->nums <= kMaxSourceSlots && t->name[kTerminalNameLength] == '\0', "terminal record");
    bool free_seen = false;
    for (uint32_t i = 0; i < t->nums; ++i) {
      const SpySource& s = t->sources()[i];
      if (s.tag == 0) {
        free_seen = true;
        continue;
      }
      Check(!free_seen && s.terminal == t && IsSourceTag(s.tag), "source slot");
      Check(s.name[kSourceNameLength] == '\0', "source name");
    }
  }
}

bool HasMarker(const SpyTerminal* table, uint32_t advv) {
  for (const SpyTerminal* t = table; t != nullptr; t = t->next) {
    if (t->hwid == kMarkerHwid && t->inip == kMarkerInip && t->advv == advv) return true;
  }
  return false;
}

// Sends the next marker and waits until the spy has put it in its table: everything sent before
// it has been handled by then, the collection that followed it included. The collection after
// the marker itself may still be running: after the clock has moved, settle twice.
void Settle(Run* run) {
  LocalTerminal marker{};
  marker.inip = kMarkerInip;
  marker.hwid = kMarkerHwid;
  marker.advv = kMarkerAdvvBase + ++run->marker_advv;
  CMessage message;
  vqscw::BeginAdvertisement(&message, kAdvertisementFull, vqscw::TerminalFields(marker, true));
  Check(rig->marker.SendMessage(NetAddress(kLoopback, run->port), &message, KIND_DATAGRAM),
        "marker send");
  struct Wait {
    uint32_t advv;
    bool seen;
  } wait{marker.advv, false};
  for (int i = 0; i < kSettleWaitMs * 50 && !wait.seen; ++i) {
    SourceSpyVisitTable(
        run->spy,
        [](const SpyTerminal* first, void* user) {
          auto* w = static_cast<Wait*>(user);
          w->seen = HasMarker(first, w->advv);
        },
        &wait);
    if (!wait.seen) usleep(20);
  }
  Check(wait.seen, "the spy did not handle a datagram in time");
}

// After a datagram has been handled: the table keeps its rules, and the sources reported since
// the previous check are exactly the new slots the list lets through.
void CheckRound(Run* run) {
  struct Visit {
    Run* run;
    std::set<SlotKey> slots;
    std::multiset<Source> new_passing;
  } visit{run, {}, {}};
  SourceSpyVisitTable(
      run->spy,
      [](const SpyTerminal* first, void* user) {
        auto* v = static_cast<Visit*>(user);
        CheckTable(first);
        for (const SpyTerminal* t = first; t != nullptr; t = t->next) {
          for (uint32_t i = 0; i < t->nums && t->sources()[i].tag != 0; ++i) {
            const SpySource& s = t->sources()[i];
            const SlotKey key{t->hwid, t->inip, t->advv, s.tag};
            v->slots.insert(key);
            if (v->run->known_slots.count(key) == 0 && Passes(*v->run, s)) {
              v->new_passing.insert(SourceOf(s));
            }
          }
        }
      },
      &visit);
  std::vector<Source> reports;
  {
    std::lock_guard<std::mutex> lock(run->mu);
    reports.swap(run->reports);
  }
  Check(std::multiset<Source>(reports.begin(), reports.end()) == visit.new_passing,
        "reports differ from the new sources the list lets through");
  run->known_slots = std::move(visit.slots);
}

// The acknowledgements a datagram earns: every frame of a lower type is refused, every marked
// message frame that asks for one is accepted, nothing else is answered.
void CheckAcknowledgement(const uint8_t* data, size_t size) {
  const bool frame = size >= static_cast<size_t>(kFrameHeaderSize);
  const uint8_t type = frame ? data[kFrameTypeOffset] : 0;
  const bool marked = frame && data[kFrameMarkOffset] == FRAME_MARK;
  const bool acknowledged =
      frame && (type < FRAME_MESSAGE || (marked && data[kFrameModeOffset] != KIND_DATAGRAM));
  if (acknowledged) {
    Check(rig->sender.WaitReadable(0) == 1, "acknowledgement missing");
    uint8_t ack[16];
    CSockAddr source;
    Check(rig->sender.ReceiveFrom(&source, ack, sizeof ack) == kAckFrameSize, "ack length");
    Check(ack[kFrameModeOffset] == (type < FRAME_MESSAGE ? KIND_NAK : KIND_ACK), "ack verdict");
    Check(ack[kFrameMarkOffset] == FRAME_MARK, "ack mark");
    Check(
        vqscw::LoadBE32(ack + kFrameSequenceOffset) == vqscw::LoadBE32(data + kFrameSequenceOffset),
        "ack sequence");
  }
  Check(rig->sender.WaitReadable(0) != 1, "an unexpected answer");
}

// Whatever reached port 4001 is a request for a full advertisement, at most one a datagram.
void CheckRequests() {
  std::vector<uint8_t> bytes(kMaxDatagram + 1);
  int count = 0;
  while (rig->requests.WaitReadable(0) == 1) {
    CSockAddr source;
    const int n =
        rig->requests.ReceiveFrom(&source, bytes.data(), static_cast<uint32_t>(bytes.size()));
    Check(n >= kFrameHeaderSize, "request too short");
    Check(bytes[kFrameTypeOffset] == FRAME_MESSAGE && bytes[kFrameModeOffset] == KIND_DATAGRAM &&
              bytes[kFrameVersionOffset] == PROTOCOL_VERSION &&
              bytes[kFrameMarkOffset] == FRAME_MARK,
          "request frame");
    CMessage request;
    const uint32_t body = static_cast<uint32_t>(n - kFrameHeaderSize);
    Check(request.Decode(bytes.data() + kFrameHeaderSize, body) == body, "request body");
    Check(request.Code() == Tag("READ") && request.Count() == 1 && request.GetU8(Tag("ADVD")) == 1,
          "not a request for a full advertisement");
    ++count;
  }
  Check(count <= 1, "several requests for one datagram");
}

// Writes the SDP file of every source in the table and reads it back with the preview's scanner.
void CheckSdpFiles(Run* run) {
  SourceSpyVisitTable(
      run->spy,
      [](const SpyTerminal* first, void*) {
        for (const SpyTerminal* t = first; t != nullptr; t = t->next) {
          for (uint32_t i = 0; i < t->nums && t->sources()[i].tag != 0; ++i) {
            const SpySource& s = t->sources()[i];
            std::vector<char> path(rig->folder.size() + kSdpFileNameLength + 1);
            const int result = advspy_GenerateSDP(rig->folder.c_str(), &s, path.data());
            const bool describable = (s.fast == 2 || s.fast == 3) && s.fsid <= 0x7FFFFF;
            Check((result == 0) == describable, "SDP result");
            if (result != 0) continue;
            std::ifstream file(path.data(), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
            std::remove(path.data());
            // Nine lines, each ended by CR LF, and no line end inside a line.
            size_t ends = 0;
            for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++ends;
            Check(ends == 9 && text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0,
                  "SDP lines");
            Check(std::count(text.begin(), text.end(), '\n') == 9 &&
                      std::count(text.begin(), text.end(), '\r') == 9,
                  "a line end inside an SDP line");
            const StreamDescription d =
                ScanStreamDescription(reinterpret_cast<const uint8_t*>(text.data()), text.size());
            Check(d.group == htonl(StreamGroupOf(s.fsid)), "SDP group");
            Check(d.port == kStreamPort && d.headerMode == HEADER_RTP, "SDP port or header");
            Check(d.formatSet && d.subType == MEDIASUBTYPE_PCM, "SDP encoding");
            const uint16_t bits = static_cast<uint16_t>(d.format[14] | d.format[15] << 8);
            Check(bits == (s.fast == 2 ? 24 : 16), "SDP sample width");
          }
        }
      },
      nullptr);
}

// The spy's thread sends requests wherever the input says: keep them inside this process's own
// network namespace, where only loopback exists.
bool EnterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ioctl(s, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  up = up && ioctl(s, SIOCSIFFLAGS, &request) == 0;
  close(s);
  return up;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!EnterPrivateNetwork()) {
    std::fprintf(stderr,
                 "spy_receive_fuzz: needs a network namespace of its own (run as root), since "
                 "the spy sends requests to addresses the input names\n");
    std::exit(1);
  }
  // The spy prints a line for every open and for sources without a slot.
  if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
  rig = new Rig();
  Check(rig->sender.Create() == 0 && rig->sender.Bind(0, "127.0.0.1") == 0, "sender socket");
  Check(rig->marker.Open(false, "127.0.0.1", 0), "marker endpoint");
  Check(rig->requests.Create() == 0 && rig->requests.Bind(kTerminalPort, nullptr) == 0,
        "request catcher");
  char folder[] = "/tmp/vqscw-spy-fuzz-XXXXXX";
  Check(mkdtemp(folder) != nullptr, "temporary folder");
  rig->folder = folder;
  std::atexit([] {  // with the SDP files the last inputs left in it
    std::error_code ignored;
    std::filesystem::remove_all(rig->folder, ignored);
  });
  // The spies stay open, so that an input's allocations are freed within that input (the table
  // is emptied at its end) and the fuzzer's leak check has nothing to chase.
  for (int i = 0; i < 2; ++i) {
    Run& run = rig->runs[i];
    run.port = kSpyPorts[i];
    run.address.Set(kLoopback, run.port);
    Check(vqscwSourceSpyOpen(&run.spy, htonl(kLoopback), run.port) == SPY_OK, "spy open");
    Check(SourceSpyEnumerate(run.spy, OnReport, &run, 1) == SPY_OK, "enumerate");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  size_t at = 1;
  const bool list_given = (flags & 1) != 0;
  Run& run = rig->runs[list_given ? 1 : 0];

  if (list_given) {
    size_t length = at + 2 <= size ? (static_cast<size_t>(data[at]) << 8) | data[at + 1] : 0;
    at = std::min(at + 2, size);
    length = std::min(length, size - at);
    std::string text(reinterpret_cast<const char*>(data + at), length);
    at += length;
    if ((flags & 2) != 0) {
      const std::string path = rig->folder + "/access.txt";
      if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
      }
      text = vqscw::kAccessFilePrefix + path;
    }
    // A text holds no zero byte: it ends at the first one.
    text.resize(strnlen(text.c_str(), text.size()));
    // An inline text that names a file of its own could name a device that never ends.
    if ((flags & 2) == 0 && text.starts_with(vqscw::kAccessFilePrefix)) return 0;
    run.list.Clear();
    const uint32_t parsed = vqscw::ParseAccessList(text.c_str(), &run.list);
    Check(vqscwSourceSpySetAccessList(run.spy, text.c_str()) == parsed, "access list result");
    run.list_given = true;
  }

  for (size_t datagrams = 0; at + 2 <= size && datagrams < kMaxDatagramsPerInput; ++datagrams) {
    size_t length = (static_cast<size_t>(data[at]) << 8) | data[at + 1];
    at += 2;
    if (length == 0) {
      if (at + 2 > size) break;
      rig->clock.Advance((static_cast<uint32_t>(data[at]) << 8) | data[at + 1]);
      at += 2;
      // The collection at the new time runs before anything else is heard.
      Settle(&run);
      Settle(&run);
      CheckRound(&run);
      continue;
    }
    length = std::min({length, size - at, kMaxDatagram});
    // An exactly sized copy, so that the sanitizer sees a read past the datagram.
    const std::vector<uint8_t> datagram(data + at, data + at + length);
    at += length;
    Check(
        rig->sender.SendTo(run.address, datagram.data(), static_cast<uint32_t>(datagram.size())) ==
            static_cast<int>(datagram.size()),
        "send");
    Settle(&run);
    CheckAcknowledgement(datagram.data(), datagram.size());
    CheckRequests();
    CheckRound(&run);
  }

  // An enumeration reports what the table holds and the list lets through, in table order.
  std::vector<Source> enumerated;
  Check(SourceSpyEnumerate(run.spy, OnEnumerate, &enumerated, 0) == SPY_OK, "enumerate again");
  struct Expected {
    Run* run;
    std::vector<Source> sources;
  } expected{&run, {}};
  SourceSpyVisitTable(
      run.spy,
      [](const SpyTerminal* first, void* user) {
        auto* e = static_cast<Expected*>(user);
        for (const SpyTerminal* t = first; t != nullptr; t = t->next) {
          for (uint32_t i = 0; i < t->nums && t->sources()[i].tag != 0; ++i) {
            if (Passes(*e->run, t->sources()[i])) e->sources.push_back(SourceOf(t->sources()[i]));
          }
        }
      },
      &expected);
  Check(enumerated == expected.sources, "enumeration differs from the table");
  CheckSdpFiles(&run);

  // Everything heard expires and every sender is forgotten, so the next input starts afresh
  // with only the marker in the table.
  rig->clock.Advance(kForgetAllMs);
  Settle(&run);
  Settle(&run);
  CheckRound(&run);
  Check(run.known_slots.empty(), "a source outlived its terminal's lifetime");
  return 0;
}
