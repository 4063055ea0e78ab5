// vqscw-dump: prints protocol messages as the library's debug lines show them.
//
//   vqscw-dump                 prints a sample full advertisement (a terminal with four sources)
//   vqscw-dump HEX...          decodes a message body given as hex bytes and prints it
//   vqscw-dump --frame HEX...  the same for a whole frame (16-byte header, then the body)
//
// The sample is built by the library's own advertisement builders, the code that sends them.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/common/command_line.h"
#include "vqscwlib/message/dump.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/protocol/advertise.h"

namespace {

constexpr int kFrameHeaderBytes = 16;
constexpr int kSampleSources = 4;

constexpr char kDescription[] =
    "vqscw-dump: prints a protocol message as the library's debug lines show it. Without HEX "
    "prints a sample full advertisement (a terminal with four sources); with hex bytes (spaces "
    "and commas allowed) decodes them as a message body, or with --frame as a whole frame.";

// The first message of a full advertisement of terminal 0x0102 at 127.0.0.1 with four sources,
// as adv_advertise would send it.
CMessage SampleAdvertisement() {
  LocalTerminal terminal{};
  terminal.inip = 0x0100007F;
  terminal.hwid = 0x0102;
  terminal.advv = 1;
  terminal.sourceCount = kSampleSources;
  std::strcpy(terminal.name, "Studio A");
  CMessage message;
  vqscw::BeginAdvertisement(&message, kAdvertisementFull, vqscw::TerminalFields(terminal, true));
  for (int slot = 1; slot <= kSampleSources; ++slot) {
    LocalSource& source = terminal.sources[slot - 1];
    source.psid = 256 + static_cast<uint32_t>(slot);
    source.fsid = source.psid;
    source.fast = 2;
    std::snprintf(source.name, sizeof source.name, "Mic %d", slot);
    const CFieldList list = vqscw::SourceFields(source);
    message.SetList(SourceSlotTag(slot), &list);
  }
  return message;
}

bool ParseHex(const std::vector<std::string>& args, std::vector<uint8_t>* bytes) {
  std::string digits;
  for (const std::string& arg : args) {
    for (const char* p = arg.c_str(); *p != '\0'; ++p) {
      if (std::isspace(static_cast<unsigned char>(*p)) || *p == ',') continue;
      if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
      digits.push_back(*p);
    }
  }
  if (digits.size() % 2 != 0) return false;
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes->push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return true;
}

int Print(CMessage& message, size_t body_length) {
  // Every body byte prints as at most a few characters; 32 per byte is a generous bound.
  std::vector<char> text(32 * body_length + 1024);
  std::printf("%s\n", Message2String(&message, text.data(), kDumpTagText));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(kDescription, "vqscw-dump");
  vqscw::tools::AddVersionFlag(app);
  bool frame = false;
  std::vector<std::string> hex;
  app.add_flag("--frame", frame, "the bytes are a whole frame: the 16-byte header, then the body");
  app.add_option("HEX", hex, "the bytes of the message, as hex digits");
  std::string text;
  const vqscw::tools::CommandLineOutcome outcome =
      vqscw::tools::ParseCommandLine(app, std::vector<std::string>(argv + 1, argv + argc), &text);
  if (outcome == vqscw::tools::CommandLineOutcome::kRun && frame && hex.empty()) {
    return vqscw::tools::ReportCommandLine("vqscw-dump",
                                           vqscw::tools::CommandLineOutcome::kBadArguments,
                                           "--frame needs the frame's bytes as HEX");
  }
  if (outcome != vqscw::tools::CommandLineOutcome::kRun) {
    return vqscw::tools::ReportCommandLine("vqscw-dump", outcome, text);
  }
  if (hex.empty()) {
    CMessage sample = SampleAdvertisement();
    std::vector<uint8_t> body(sample.EncodedSize());
    sample.Encode(body.data());
    std::printf("A full advertisement, %zu bytes on the wire after the frame header:\n",
                body.size());
    return Print(sample, body.size());
  }

  std::vector<uint8_t> bytes;
  if (!ParseHex(hex, &bytes)) {
    return vqscw::tools::ReportCommandLine("vqscw-dump",
                                           vqscw::tools::CommandLineOutcome::kBadArguments,
                                           "HEX: the arguments are not whole hex bytes (0-9, a-f)");
  }
  CMessage message;
  size_t offset = 0;
  if (frame) {
    if (bytes.size() < kFrameHeaderBytes) {
      std::fprintf(stderr, "vqscw-dump: a frame has at least %d bytes, these are %zu\n",
                   kFrameHeaderBytes, bytes.size());
      return 1;
    }
    message.SetKind(static_cast<char>(bytes[1]));
    offset = kFrameHeaderBytes;
  }
  const uint32_t length = static_cast<uint32_t>(bytes.size() - offset);
  const uint16_t consumed = message.Decode(bytes.data() + offset, length);
  if (consumed == 0 && length != 0) {
    std::fprintf(stderr, "vqscw-dump: the body of %u bytes is malformed\n", length);
    return 1;
  }
  if (consumed != length) {
    std::fprintf(stderr, "vqscw-dump: %u bytes after the message's %u were not read\n",
                 length - consumed, consumed);
  }
  return Print(message, length);
}
