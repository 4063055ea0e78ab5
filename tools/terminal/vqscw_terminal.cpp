// vqscw-terminal: a software terminal for a desk without other devices. It advertises a terminal
// and its sources, answers requests for its full advertisement, grants and expires allocations
// of its sources and streams each source as RTP audio. Built only on the library's exported
// interface. Its options are in terminal_options.cpp.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tools/common/card.h"
#include "tools/common/command_line.h"
#include "tools/common/stop_signal.h"
#include "tools/terminal/audio_source.h"
#include "tools/terminal/rtp_stream.h"
#include "tools/terminal/terminal_options.h"
#include "vqscwlib/host.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
// The leak check of the sanitizer build leaves out what the shared libraries allocate while they
// load, before main(): GLib lets its first quark block go once GStreamer's plugins grow the table
// past it, which is no leak of this program's. main() turns the check back on.
[[gnu::section(".preinit_array"),
  gnu::used]] static void (*const kHoldLeakCheck)() = &__lsan_disable;
#define VQSCW_RESUME_LEAK_CHECK() __lsan_enable()
#endif
#endif
#ifndef VQSCW_RESUME_LEAK_CHECK
#define VQSCW_RESUME_LEAK_CHECK()
#endif

namespace {

using vqscw::tools::Card;
using vqscw::tools::TerminalOptions;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kExitFailure = 1;
constexpr milliseconds kShortAdvertisementPeriod{1000};
// The longest the loop waits before it looks at the stop flag and the clock again.
constexpr milliseconds kMaxWait{100};
// "ADVT" of allocation announcements: neither a full (1) nor a short (2) advertisement, so that
// listeners keeping a source table pass over them.
constexpr uint8_t kAllocationAnnouncement = 3;

// Receives the requests sent to the card's own address on the terminal port. It binds to that
// address rather than to every interface: on a machine where a listener shares the port (bound
// to every interface), the system then hands requests addressed to this card to this socket.
class RequestEndpoint : public CServerEndpoint {
 public:
  bool OpenOnCard(const char* card, uint16_t port) {
    // The open as a server gives the endpoint its repeat filter, which it keeps when reopened;
    // the second open binds the socket to the card's address alone.
    return Open(true, card, port) && Open(false, card, port);
  }
};

// How many UDP sockets of this network namespace are bound to `address` (network order as held in
// memory, the form /proc/net/udp prints) and `port`.
int SocketsBoundTo(uint32_t address, uint16_t port) {
  std::ifstream table("/proc/net/udp");
  std::string line;
  std::getline(table, line);  // the column names
  int count = 0;
  while (std::getline(table, line)) {
    unsigned local_address = 0;
    unsigned local_port = 0;
    if (std::sscanf(line.c_str(), " %*u: %8X:%4X", &local_address, &local_port) == 2 &&
        local_address == address && local_port == port) {
      ++count;
    }
  }
  return count;
}

// Requests for a terminal's advertisement come to its card's address: of two terminals bound
// there, the system hands each request to one of them alone, so the other is never heard.
void ReportTakenPort(const Card& card) {
  std::fprintf(stderr,
               "vqscw-terminal: another terminal already listens on %s:%u, so requests to that "
               "address would reach only one of them; give each terminal an address of its own "
               "(for example 127.0.1.N on lo: ip addr add 127.0.1.2/8 dev lo, then --card "
               "127.0.1.2)\n",
               card.text.c_str(), static_cast<unsigned>(kTerminalPort));
}

std::string HostOrderText(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, address >> 16 & 0xFF,
                address >> 8 & 0xFF, address & 0xFF);
  return text;
}

void PrintTerminal(const LocalTerminal& terminal, const Card& card,
                   const TerminalOptions& options) {
  std::printf("vqscw-terminal: \"%.32s\" hwid %u advv %u on %s (%s), %zu source(s)\n",
              terminal.name, terminal.hwid, terminal.advv, card.text.c_str(),
              card.interface.c_str(), options.sources.size());
  for (size_t slot = 0; slot < options.sources.size(); ++slot) {
    const LocalSource& source = terminal.sources[slot];
    std::string audio = "silent";
    if (options.stream) {
      audio = options.wav.empty()
                  ? std::to_string(static_cast<int>(vqscw::tools::ToneFrequency(slot))) + " Hz"
                  : options.wav;
      audio += " to " + HostOrderText(PreviewGroupOf(source.psid)) + ":5004 and " +
               HostOrderText(StreamGroupOf(source.fsid)) + ":5004";
    }
    std::printf("  S%03zu channel %u \"%s\" stream %u type %u: %s\n", slot + 1, source.psid,
                source.name, source.fsid, source.fast, audio.c_str());
  }
  std::fflush(stdout);
}

bool StartStreams(const TerminalOptions& options, const LocalTerminal& terminal, const Card& card,
                  const std::shared_ptr<const vqscw::tools::FileAudio>& file_audio,
                  vqscw::tools::RtpStreamer* streamer, std::string* error) {
  if (!streamer->Open(card.address, error)) return false;
  for (size_t slot = 0; slot < options.sources.size(); ++slot) {
    const LocalSource& source = terminal.sources[slot];
    vqscw::tools::StreamSetup setup;
    setup.preview_group = PreviewGroupOf(source.psid);
    setup.stream_group = StreamGroupOf(source.fsid);
    setup.l16_to_stream_group = source.fast == vqscw::tools::kStreamTypeL16;
    if (file_audio != nullptr) {
      setup.audio = std::make_unique<vqscw::tools::FileSource>(file_audio);
    } else {
      setup.audio = std::make_unique<vqscw::tools::ToneSource>(
          vqscw::tools::ToneFrequency(static_cast<int>(slot)), vqscw::tools::kToneAmplitude);
    }
    streamer->Add(std::move(setup));
  }
  streamer->Start();
  return true;
}

// Answers one received message: a request for the advertisement, or an allocation request.
void Answer(CMessage* message, LocalTerminal* terminal, CMessageEndpoint* sender) {
  const std::string from = HostOrderText(message->SourceAddress());
  if (adv_Request(message, terminal) != 0) {
    std::printf("full advertisement asked for by %s\n", from.c_str());
    adv_advertise(sender, kAdvertisementGroup, kTerminalPort, terminal, kAdvertisementFull);
  }
  if (sac_Request(message, terminal) != 0) {
    const uint64_t reference = message->GetU64(TAG_REFI);
    std::printf("allocation request from %s answered\n", from.c_str());
    sac_Announce(sender, kAdvertisementGroup, kTerminalPort, terminal, kAllocationAnnouncement,
                 static_cast<uint32_t>(reference), static_cast<uint32_t>(reference >> 32));
  }
  std::fflush(stdout);
}

int Run(const TerminalOptions& options) {
  Card card;
  std::string error;
  if (!vqscw::tools::ResolveCard(options.card, &card, &error)) {
    std::fprintf(stderr, "vqscw-terminal: %s\n", error.c_str());
    return vqscw::tools::kExitUsage;
  }
  std::shared_ptr<const vqscw::tools::FileAudio> file_audio;
  if (options.stream && !options.wav.empty()) {
    file_audio = vqscw::tools::LoadAudioFile(options.wav, &error);
    if (file_audio == nullptr) {
      std::fprintf(stderr, "vqscw-terminal: %s\n", error.c_str());
      return vqscw::tools::kExitUsage;
    }
  }
  LocalTerminal terminal;
  vqscw::tools::BuildLocalTerminal(options, card.address, &terminal);
  dbg_adv = options.debug ? 1 : 0;
  dbg_sac = options.debug ? 1 : 0;

  CClientEndpoint sender;
  if (!sender.Open(false, card.text.c_str(), 0)) {
    std::fprintf(stderr, "vqscw-terminal: cannot open the endpoints on %s\n", card.text.c_str());
    return kExitFailure;
  }
  // Ours, bound, is one; another terminal that starts at the same moment sees two as well, and
  // both stop rather than one going unheard.
  RequestEndpoint requests;
  if (!requests.OpenOnCard(card.text.c_str(), kTerminalPort) ||
      SocketsBoundTo(card.address, kTerminalPort) > 1) {
    ReportTakenPort(card);
    return vqscw::tools::kExitUsage;
  }
  vqscw::tools::RtpStreamer streamer;
  if (options.stream && !StartStreams(options, terminal, card, file_audio, &streamer, &error)) {
    std::fprintf(stderr, "vqscw-terminal: %s\n", error.c_str());
    return kExitFailure;
  }
  vqscw::tools::InstallStopHandlers();
  PrintTerminal(terminal, card, options);

  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + std::chrono::seconds(options.seconds);
  adv_advertise(&sender, kAdvertisementGroup, kTerminalPort, &terminal, kAdvertisementFull);
  Clock::time_point next_short = start;
  CMessage message;
  while (!vqscw::tools::StopRequested()) {
    Clock::time_point now = Clock::now();
    if (options.seconds != 0 && now >= end) break;
    if (now >= next_short) {
      adv_advertise(&sender, kAdvertisementGroup, kTerminalPort, &terminal, kAdvertisementShort);
      if (sac_GarbageCollect(&terminal) != 0) {
        sac_Announce(&sender, kAdvertisementGroup, kTerminalPort, &terminal,
                     kAllocationAnnouncement, 0, 0);
      }
      next_short += kShortAdvertisementPeriod;
      if (next_short <= now) next_short = now + kShortAdvertisementPeriod;  // after a stall
      now = Clock::now();
    }
    auto wait = std::min(kMaxWait, std::chrono::duration_cast<milliseconds>(next_short - now));
    if (options.seconds != 0) {
      wait = std::min(wait, std::chrono::duration_cast<milliseconds>(end - now));
    }
    if (wait.count() < 0) wait = milliseconds(0);
    if (requests.ReceiveMessage(&message, static_cast<uint32_t>(wait.count()))) {
      Answer(&message, &terminal, &sender);
    }
  }
  streamer.Stop();
  std::printf("vqscw-terminal: stopped; %llu RTP packets sent\n",
              static_cast<unsigned long long>(streamer.PacketsSent()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  VQSCW_RESUME_LEAK_CHECK();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // lines reach a pipe or file as they are printed
  TerminalOptions options;
  std::string message;
  const int status = vqscw::tools::ReportCommandLine(
      "vqscw-terminal",
      vqscw::tools::ParseTerminalOptions(std::vector<std::string>(argv + 1, argv + argc), &options,
                                         &message),
      message);
  return status >= 0 ? status : Run(options);
}
