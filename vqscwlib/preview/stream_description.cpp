#include "vqscwlib/preview/stream_description.h"

#include "vqscw/network.h"

#include <arpa/inet.h>

#include <cstring>
#include <string_view>

namespace {

constexpr uint32_t kDefaultGroup = 0xEF808080;  // 239.128.128.128, host order
constexpr uint32_t kMpegPayloadType = 14;
constexpr size_t kMaxAddressText = 63;

// A cursor over the buffer; every read checks the end.
class Scanner {
 public:
  Scanner(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool AtEnd() const { return pos_ >= size_; }
  size_t pos() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos < size_ ? pos : size_; }
  int Peek(size_t ahead = 0) const { return pos_ + ahead < size_ ? data_[pos_ + ahead] : -1; }

  // Consumes `text` when the bytes at the cursor begin with it.
  bool Consume(std::string_view text) {
    if (!Matches(text)) return false;
    pos_ += text.size();
    return true;
  }
  bool Matches(std::string_view text) const {
    return size_ - pos_ >= text.size() && std::memcmp(data_ + pos_, text.data(), text.size()) == 0;
  }

  void SkipSpaces() {
    while (Peek() == ' ') ++pos_;
  }

  // An unsigned number: hexadecimal after "0x", octal after a leading 0, else decimal. Without
  // digits it is 0 and nothing is consumed; a value too large saturates.
  uint32_t ReadNumber() {
    uint32_t base = 10;
    if (Peek() == '0') {
      base = 8;
      if ((Peek(1) == 'x' || Peek(1) == 'X') && DigitValue(Peek(2), 16) >= 0) {
        base = 16;
        pos_ += 2;
      }
    }
    uint64_t value = 0;
    for (int digit; (digit = DigitValue(Peek(), base)) >= 0; ++pos_) {
      value = value * base + static_cast<uint64_t>(digit);
      if (value > UINT32_MAX) value = UINT32_MAX + uint64_t{1};  // stays saturated
    }
    return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
  }

  // The longest run of digits and dots, as a dotted address in network order (all ones when it
  // is not one).
  uint32_t ReadAddress() {
    char text[kMaxAddressText + 1];
    size_t length = 0;
    for (int c; (c = Peek()) == '.' || (c >= '0' && c <= '9'); ++pos_) {
      if (length < kMaxAddressText) text[length] = static_cast<char>(c);
      ++length;
    }
    if (length > kMaxAddressText) return INADDR_NONE;
    text[length] = '\0';
    return inet_addr(text);
  }

  // Moves past the next line feed, or to the end.
  void SkipLine() {
    const void* feed = std::memchr(data_ + pos_, '\n', size_ - pos_);
    pos_ = feed != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(feed) - data_) + 1
                           : size_;
  }

 private:
  static int DigitValue(int c, uint32_t base) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value >= 0 && static_cast<uint32_t>(value) < base ? value : -1;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

void SetMpeg(StreamDescription* description) {
  description->subType = MEDIASUBTYPE_MP3;
  description->format = vqscw::MpegAudioFormat();
  description->formatSet = true;
}

void ScanAttribute(Scanner* scan, StreamDescription* description) {
  if (!scan->Consume("rtpmap:")) return;
  scan->ReadNumber();  // the payload type: not checked against the media line
  if (!scan->Consume(" ")) return;
  if (scan->Matches("L16/48000/2")) {
    description->subType = MEDIASUBTYPE_PCM;
    description->format = vqscw::Pcm16StereoFormat();
    description->formatSet = true;
  } else if (scan->Matches("L24/48000/2")) {
    description->subType = MEDIASUBTYPE_PCM;
    description->format = vqscw::Pcm24StereoFormat();
    description->formatSet = true;
  }
}

void ScanConnection(Scanner* scan, StreamDescription* description) {
  if (!scan->Consume("IN IP4")) return;
  scan->SkipSpaces();
  // A "/ttl" or "/count" after the address ends the run and is ignored.
  description->group = scan->ReadAddress();
}

void ScanMedia(Scanner* scan, StreamDescription* description) {
  if (!scan->Consume("audio")) return;
  description->majorType = MEDIATYPE_Audio;
  scan->SkipSpaces();
  description->port = static_cast<uint16_t>(scan->ReadNumber());
  scan->SkipSpaces();
  if (scan->Consume("UDP MPA")) {
    description->headerMode = HEADER_UDP_MPA;
    SetMpeg(description);
  } else if (scan->Consume("RTP/AVP")) {
    description->headerMode = HEADER_RTP;
    scan->SkipSpaces();
    if ((scan->ReadNumber() & 0xFFFF) == kMpegPayloadType) {
      description->headerMode = HEADER_RTP_MPA;
      SetMpeg(description);
    }
  }
}

}  // namespace

StreamDescription ScanStreamDescription(const uint8_t* data, size_t size) {
  StreamDescription description{};
  description.group = htonl(kDefaultGroup);
  description.port = kStreamPort;
  description.headerMode = HEADER_NONE;
  if (data == nullptr) return description;

  Scanner scan(data, size);
  for (;;) {
    while (scan.Peek() == '\n') scan.Seek(scan.pos() + 1);
    if (scan.AtEnd()) break;
    const int type = scan.Peek();
    if (scan.pos() + 1 == size) break;  // a lone character ends the text
    if (scan.Peek(1) == '=') {
      const size_t line = scan.pos();
      scan.Seek(line + 2);
      switch (type) {
        case 'a':
          ScanAttribute(&scan, &description);
          break;
        case 'c':
          ScanConnection(&scan, &description);
          break;
        case 'm':
          ScanMedia(&scan, &description);
          break;
        default:  // "v", "o", "s", "t" and the rest are not needed
          break;
      }
    }
    scan.SkipLine();
  }
  return description;
}
