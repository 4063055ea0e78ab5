#include "vqscwlib/protocol/sdp_writer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The path formed when the caller gives no buffer for it.
constexpr size_t kLocalPathSize = 260;
constexpr uint32_t kFileIdMask = 0x7FFF;
// Larger stream ids would carry into the group's first octets.
constexpr uint32_t kMaxStreamId = 0x7FFFFF;

struct Encoding {
  int payload_type;
  const char* text;
};

// The encoding of a stream type, or null for types without one.
const Encoding* EncodingOf(uint8_t stream_type) {
  static constexpr Encoding kL24{96, "L24/48000/2"};
  static constexpr Encoding kL16{97, "L16/48000/2"};
  switch (stream_type) {
    case 2:
      return &kL24;
    case 3:
      return &kL16;
    default:
      return nullptr;
  }
}

// A name heard from the network, made safe for one SDP line: a control character (a line end
// above all) would end the line early and let the name write lines of its own.
std::string LineText(const char* name) {
  std::string text(name);
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return text;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char line[128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  return line;
}

}  // namespace

int advspy_GenerateSDP(const char* directory, const SpySource* source, char* path) {
  if (directory == nullptr || source == nullptr || source->terminal == nullptr) return -1;
  const Encoding* encoding = EncodingOf(source->fast);
  if (encoding == nullptr || source->fsid > kMaxStreamId) return -1;

  const size_t path_size = std::strlen(directory) + kSdpFileNameLength + 1;
  char local[kLocalPathSize];
  if (path == nullptr) {
    if (path_size > sizeof local) return -1;
    path = local;
  }
  std::snprintf(path, path_size, "%s/%05u.sdp", directory, source->fsid & kFileIdMask);

  const SpyTerminal& terminal = *source->terminal;
  const uint32_t inip = terminal.inip;  // first octet in the least significant byte
  const uint32_t group = StreamGroupOf(source->fsid);
  std::string text;
  text += "v=0\r\n";
  text += "o=" + LineText(terminal.name) +
          Format(" 1 1 IN IP4 %u.%u.%u.%u\r\n", inip & 0xFF, inip >> 8 & 0xFF, inip >> 16 & 0xFF,
                 inip >> 24);
  text += "s=" + LineText(source->name) + "\r\n";
  text += "t=0 0\r\n";
  text += "a=type:multicast\r\n";
  text += Format("c=IN IP4 %u.%u.%u.%u\r\n", group >> 24, group >> 16 & 0xFF, group >> 8 & 0xFF,
                 group & 0xFF);
  text += Format("m=audio %u RTP/AVP %d\r\n", kStreamPort, encoding->payload_type);
  text += Format("a=rtpmap:%d %s\r\n", encoding->payload_type, encoding->text);
  text += Format("a=x-cws:FSID=%u:%u\r\n", source->fsid / 256, source->fsid % 256);

  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return -1;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    std::remove(path);  // a cut file would describe the stream wrongly
    return -1;
  }
  return 0;
}
