// vqscw-dump: prints protocol messages as the library's debug lines show them.
//
//   vqscw-dump                 prints a sample full advertisement (a terminal with four sources)
//   vqscw-dump HEX...          decodes a message body given as hex bytes and prints it
//   vqscw-dump --frame HEX...  the same for a whole frame (16-byte header, then the body)
//
// Built only on the library's exported interface.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "vqscwlib/message/dump.h"
#include "vqscwlib/message/message.h"

namespace {

constexpr int kFrameHeaderBytes = 16;
constexpr int kExitUsage = 2;

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: vqscw-dump [--frame] [HEX...]\n"
               "Without arguments prints a sample full advertisement. With hex bytes (spaces\n"
               "optional) decodes them as a message body, or with --frame as a whole frame,\n"
               "and prints the message.\n");
}

CMessage SampleAdvertisement() {
  CFieldList term;
  term.SetCode(Tag("INDI"));
  term.SetU32(Tag("ADVV"), 1);
  term.SetU16(Tag("HWID"), 0x0102);
  term.SetU32(Tag("INIP"), 0x0100007F);
  term.SetU16(Tag("UDPC"), 0);
  term.SetU16(Tag("NUMS"), 4);
  char terminal_name[32] = "Studio A";
  term.SetBlob(Tag("ATRN"), sizeof terminal_name, terminal_name);
  CMessage message;
  message.SetCode(Tag("NEST"));
  message.SetU8(Tag("ADVT"), 1);
  message.SetList(Tag("TERM"), &term);
  for (int slot = 1; slot <= 4; ++slot) {
    char name[16] = {};
    std::snprintf(name, sizeof name, "Mic %d", slot);
    CFieldList source;
    source.SetCode(Tag("INDI"));
    source.SetU32(Tag("PSID"), 256 + slot);
    source.SetU8(Tag("SHAB"), 0);
    source.SetU32(Tag("FSID"), 256 + slot);
    source.SetU8(Tag("FAST"), 2);
    source.SetBlob(Tag("PSNM"), sizeof name, name);
    message.SetList(SourceSlotTag(slot), &source);
  }
  return message;
}

bool ParseHex(int argc, char** argv, int first, std::vector<uint8_t>* bytes) {
  std::string digits;
  for (int i = first; i < argc; ++i) {
    for (const char* p = argv[i]; *p != '\0'; ++p) {
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
  int first = 1;
  bool frame = false;
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    Usage(stdout);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--frame") == 0) {
    frame = true;
    first = 2;
  }
  if (first >= argc) {
    if (frame) {
      Usage(stderr);
      return kExitUsage;
    }
    CMessage sample = SampleAdvertisement();
    std::vector<uint8_t> body(sample.EncodedSize());
    sample.Encode(body.data());
    std::printf("A full advertisement, %zu bytes on the wire after the frame header:\n",
                body.size());
    return Print(sample, body.size());
  }

  std::vector<uint8_t> bytes;
  if (!ParseHex(argc, argv, first, &bytes)) {
    std::fprintf(stderr, "vqscw-dump: the arguments are not whole hex bytes\n");
    return kExitUsage;
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
