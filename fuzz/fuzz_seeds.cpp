// Writes generated seed inputs for one fuzz target into a folder: inputs of the largest size a UDP
// datagram allows (65507 bytes), lists nested past the decoder's depth bound, lists claiming more
// fields than they hold, and the largest advertisements, allocation requests, texts and files,
// each in the input format of the target. The messages are built and encoded by the library.
//
//   vqscw_fuzz_seeds TARGET FOLDER
//
// A target it has no seeds for is an error (exit 1), so that no target runs without them.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "vqscwlib/base/byte_order.h"
#include "vqscwlib/message/frame.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/message/tags.h"
#include "vqscwlib/platform/registry.h"
#include "vqscwlib/protocol/advertise.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxDatagram = 65507;  // the largest UDP payload over IPv4
constexpr size_t kMaxBody = kMaxDatagram - kFrameHeaderSize;
constexpr size_t kChunkHead = 2;  // the big-endian length before each chunk of an input
constexpr int kPastDepthBound = CFieldList::kMaxDecodeDepth + 8;

Bytes Encode(const CFieldList& list) {
  Bytes out(list.EncodedSize());
  out.resize(list.Encode(out.data()));
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Chunk(const Bytes& bytes) {
  Bytes out = {static_cast<uint8_t>(bytes.size() >> 8), static_cast<uint8_t>(bytes.size())};
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

Bytes Frame(const Bytes& body, uint8_t mode = KIND_MESSAGE, uint32_t sequence = 1) {
  Bytes frame(kFrameHeaderSize, 0);
  frame[kFrameTypeOffset] = FRAME_MESSAGE;
  frame[kFrameModeOffset] = mode;
  frame[kFrameVersionOffset] = PROTOCOL_VERSION;
  frame[kFrameMarkOffset] = FRAME_MARK;
  vqscw::StoreBE32(frame.data() + kFrameSequenceOffset, sequence);
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

// A list holding one block that makes the body exactly `size` bytes.
Bytes LargeBlobBody(size_t size) {
  CFieldList list;
  list.SetCode(Tag("NEST"));
  const size_t overhead = 6 + 7;  // list head, field head and length word
  list.SetBlob(Tag("DATA"), static_cast<uint16_t>(size - overhead), nullptr);
  return Encode(list);
}

// Lists nested `levels` deep, each holding the next as its only field.
Bytes DeepBody(int levels) {
  Bytes body = {'L', 'E', 'A', 'F', 0, 1, 'A', 'D', 'V', 'T', FIELD_U8, 1};
  for (int level = 0; level < levels; ++level) {
    Bytes outer = {'N',
                   'E',
                   'S',
                   'T',
                   0,
                   1,
                   'D',
                   'E',
                   'E',
                   'P',
                   FIELD_LIST,
                   static_cast<uint8_t>(body.size() >> 8),
                   static_cast<uint8_t>(body.size())};
    outer.insert(outer.end(), body.begin(), body.end());
    body = std::move(outer);
  }
  return body;
}

// The deepest nesting that fits `size` bytes.
Bytes DeepestBody(size_t size) { return DeepBody(static_cast<int>((size - 12) / 13)); }

// As many one-byte fields as fit `size` bytes.
Bytes ManyFieldsBody(size_t size) {
  const uint16_t count = static_cast<uint16_t>((size - 6) / 6);
  Bytes body = {'N', 'E', 'S', 'T', static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
  for (uint16_t i = 0; i < count; ++i) {
    const Bytes field = {'F',      static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), '0',
                         FIELD_U8, static_cast<uint8_t>(i)};
    body.insert(body.end(), field.begin(), field.end());
  }
  return body;
}

// As many nested lists as fit `size` bytes, each claiming 65535 fields and holding none.
Bytes ClaimedCountsBody(size_t size) {
  const uint16_t count = static_cast<uint16_t>((size - 6) / 13);
  Bytes body = {'N', 'E', 'S', 'T', static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
  for (uint16_t i = 0; i < count; ++i) {
    const Bytes field = {'S', '0', '0', '1', FIELD_LIST, 0, 6, 'I', 'N', 'D', 'I', 0xFF, 0xFF};
    body.insert(body.end(), field.begin(), field.end());
  }
  return body;
}

LocalTerminal SeedTerminal(uint32_t sources) {
  LocalTerminal terminal{};
  terminal.inip = 0x0100007F;  // 127.0.0.1, network order
  terminal.hwid = 0x0101;
  terminal.advv = 3;
  terminal.sourceCount = sources;
  std::snprintf(terminal.name, sizeof terminal.name, "Seed terminal");
  return terminal;
}

LocalSource SeedSource(uint32_t number) {
  LocalSource source{};
  source.psid = number;
  source.fsid = 0x200 + number;
  source.fast = static_cast<uint8_t>(number % 4);  // 2 and 3 describable, 1 hidden, 0 neither
  std::snprintf(source.name, sizeof source.name, "Source %u", number);
  std::snprintf(source.label, sizeof source.label, "S%u", number);
  return source;
}

// How many lists made by `make` (1, 2, ...) fit `size` bytes when added to `head`: every one of
// them encodes to the same number of bytes.
int HowManyFit(const CMessage& head, const std::function<CFieldList(int)>& make, size_t size) {
  CMessage one = head;
  const CFieldList list = make(1);
  one.SetList(SourceSlotTag(1), &list);
  const size_t base = head.EncodedSize();
  const size_t each = one.EncodedSize() - base;
  return static_cast<int>(std::min<size_t>(999, (size - base) / each));
}

// A full advertisement whose terminal claims the most slots, with as many sources (S001 up) as
// fit `size` bytes.
Bytes LargeAdvertisement(size_t size) {
  CMessage message;
  vqscw::BeginAdvertisement(&message, kAdvertisementFull,
                            vqscw::TerminalFields(SeedTerminal(1000), true));
  // Sources 100 to 999 have names of the same length, so each takes the same room.
  const auto make = [](int slot) { return vqscw::SourceFields(SeedSource(100 + slot)); };
  const int count = HowManyFit(message, make, size);
  for (int slot = 1; slot <= count; ++slot) {
    const CFieldList source = make(slot);
    message.SetList(SourceSlotTag(slot), &source);
  }
  return Encode(message);
}

Bytes ShortAdvertisement() {
  CMessage message;
  vqscw::BeginAdvertisement(&message, kAdvertisementShort,
                            vqscw::TerminalFields(SeedTerminal(2), false));
  return Encode(message);
}

// A full advertisement whose first source holds lists nested past the depth bound.
Bytes DeepAdvertisement() {
  CFieldList deep;
  deep.SetCode(Tag("LEAF"));
  for (int level = 0; level < kPastDepthBound; ++level) {
    CFieldList outer;
    outer.SetCode(Tag("NEST"));
    outer.SetList(Tag("DEEP"), &deep);
    deep = outer;
  }
  CMessage message;
  vqscw::BeginAdvertisement(&message, kAdvertisementFull,
                            vqscw::TerminalFields(SeedTerminal(2), true));
  CFieldList source = vqscw::SourceFields(SeedSource(7));
  source.SetList(Tag("DEEP"), &deep);
  message.SetList(SourceSlotTag(1), &source);
  return Encode(message);
}

// An allocation request ("WRIN"), or query ("READ"), for as many slots as fit `size` bytes.
Bytes AllocationRequest(uint32_t code, size_t size, bool by_channel) {
  CMessage message;
  message.SetCode(code);
  message.SetU64(TAG_REFI, 0x01010101, 0x01);
  const auto make = [by_channel](int slot) {
    CFieldList list;
    list.SetCode(Tag("INDI"));
    if (by_channel) list.SetU32(Tag("PSID"), static_cast<uint32_t>(slot % 17));
    list.SetU64(Tag("BUSY"), slot % 3 == 0 ? 0 : 0x01010101u * (slot % 5), slot % 5);
    return list;
  };
  const int count = HowManyFit(message, make, size);
  for (int slot = 1; slot <= count; ++slot) {
    const CFieldList list = make(slot);
    message.SetList(SourceSlotTag(slot), &list);
  }
  return Encode(message);
}

Bytes AdvertisementRequest(uint32_t channel) {
  CMessage message;
  message.SetCode(Tag("READ"));
  message.SetU8(Tag("ADVD"), 1);
  message.SetU32(Tag("PSID"), channel);
  return Encode(message);
}

// Repeats `piece` while the text stays within `size` bytes.
std::string Repeat(const std::string& piece, size_t size, std::string text = "") {
  while (text.size() + piece.size() <= size) text += piece;
  return text;
}

using Seeds = std::map<std::string, Bytes>;

void MessageBodies(Seeds* seeds, size_t size) {
  (*seeds)["large_blob"] = LargeBlobBody(size);
  (*seeds)["deep"] = DeepBody(kPastDepthBound);
  (*seeds)["deepest"] = DeepestBody(size);
  (*seeds)["many_fields"] = ManyFieldsBody(size);
  (*seeds)["claimed_counts"] = ClaimedCountsBody(size);
  (*seeds)["large_advertisement"] = LargeAdvertisement(size);
  (*seeds)["large_allocation"] = AllocationRequest(Tag("WRIN"), size, true);
}

Seeds SeedsFor(const std::string& target) {
  Seeds seeds;
  const size_t chunk_room = kMaxDatagram - kChunkHead;
  if (target == "message_decode_fuzz") {
    MessageBodies(&seeds, kMaxBody);
    seeds["largest_input"] = LargeBlobBody(kMaxDatagram);
  } else if (target == "transport_receive_fuzz") {
    Seeds bodies;
    MessageBodies(&bodies, kMaxBody);
    for (const auto& [name, body] : bodies) seeds[name] = Frame(body);
    seeds["large_datagram_unacknowledged"] = Frame(LargeBlobBody(kMaxBody), KIND_DATAGRAM);
  } else if (target == "source_table_fuzz") {
    seeds["large_advertisement"] = Chunk(LargeAdvertisement(chunk_room));
    seeds["deep_advertisement"] = Join({Chunk(DeepAdvertisement()), Chunk(ShortAdvertisement())});
    seeds["claimed_counts"] = Chunk(ClaimedCountsBody(chunk_room));
    seeds["deepest"] = Chunk(DeepestBody(chunk_room));
  } else if (target == "spy_receive_fuzz") {
    const size_t room = kMaxDatagram - 1 - kChunkHead - kFrameHeaderSize;
    seeds["large_advertisement"] = Join({{0}, Chunk(Frame(LargeAdvertisement(room)))});
    seeds["large_advertisement_listed"] =
        Join({{1}, Chunk(Text("1-300;5;0x10-0x20")), Chunk(Frame(LargeAdvertisement(room - 19)))});
    const std::string file = Repeat("allow 2-4\r\n", 4000);
    seeds["long_list_file"] =
        Join({{3}, Chunk(Text(file)), Chunk(Frame(LargeAdvertisement(room - 2 - file.size())))});
    seeds["short_then_deep"] = Join({{0},
                                     Chunk(Frame(ShortAdvertisement(), KIND_DATAGRAM, 1)),
                                     Chunk(Frame(DeepAdvertisement(), KIND_MESSAGE, 2)),
                                     Chunk(Frame(DeepBody(kPastDepthBound), KIND_MESSAGE, 3))});
    seeds["claimed_counts"] = Join({{0}, Chunk(Frame(ClaimedCountsBody(room)))});
    seeds["large_blob"] = Join({{0}, Chunk(Frame(LargeBlobBody(room)))});
  } else if (target == "host_request_fuzz") {
    Bytes config(32);
    for (int i = 0; i < 16; ++i) {
      config[i] = static_cast<uint8_t>(i % 5 == 4 ? 0 : i % 17);
      config[16 + i] = static_cast<uint8_t>(i % 3 == 0 ? 1 : 0);
    }
    const size_t room = kMaxDatagram - config.size() - kChunkHead;
    seeds["large_allocation_by_channel"] =
        Join({config, Chunk(AllocationRequest(Tag("WRIN"), room, true))});
    seeds["large_allocation_by_slot"] =
        Join({config, Chunk(AllocationRequest(Tag("WRIN"), room, false))});
    seeds["large_query"] = Join({config, Chunk(AllocationRequest(Tag("READ"), room, false))});
    seeds["request_then_deep"] =
        Join({config, Chunk(AdvertisementRequest(1)), Bytes{0, 0, 0x55, 0xF0},
              Chunk(DeepBody(kPastDepthBound)), Chunk(ClaimedCountsBody(room - 40 - 600))});
  } else if (target == "packet_handler_fuzz") {
    Bytes datagram(kMaxDatagram - 3 - kChunkHead);
    for (size_t i = 0; i < datagram.size(); ++i) datagram[i] = static_cast<uint8_t>(i * 7);
    datagram[0] = 0x80;
    for (uint8_t mode = 0; mode < 5; ++mode) {
      for (uint8_t format = 0; format < 6; ++format) {
        seeds["largest_" + std::to_string(mode) + "_" + std::to_string(format)] =
            Join({{mode, format, 0}, Chunk(datagram)});
      }
    }
    Bytes many = {1, 0, 1};  // RTP, the network's format, downstream keeps what it gets
    while (many.size() + kChunkHead + 1452 <= kMaxDatagram) {
      many = Join({many, Chunk(Bytes(datagram.begin(), datagram.begin() + 1452))});
    }
    seeds["many_kept"] = many;
  } else if (target == "stream_health_fuzz") {
    // Datagrams of the largest length the input's records describe, RTP headers counting up,
    // as many as the largest input holds; once in the network's format, once without headers.
    for (uint8_t format : {uint8_t{0}, uint8_t{0x83}}) {
      Bytes input = {format};
      for (uint16_t sequence = 0; input.size() + 4 + 2047 <= kMaxDatagram; ++sequence) {
        Bytes datagram(2047);
        for (size_t i = 0; i < datagram.size(); ++i) datagram[i] = static_cast<uint8_t>(i * 13);
        datagram[0] = 0x80;
        datagram[2] = static_cast<uint8_t>(sequence >> 8);
        datagram[3] = static_cast<uint8_t>(sequence);
        input = Join({input, Bytes{0x07, 0xFF, 0x03, 0xE8}, datagram});
      }
      seeds["largest_" + std::to_string(format)] = input;
    }
  } else if (target == "preset_drop_fuzz") {
    seeds["long_number"] = Join({{1}, Text(Repeat("7", kMaxDatagram - 1, "ChannelNumber="))});
    const std::string sign = "-2147483649\n";
    seeds["blanks_and_sign"] =
        Join({{3}, Text(Repeat(" ", kMaxDatagram - 1 - sign.size(), "ChannelNumber=") + sign)});
    seeds["block"] = Join({{1}, Text(std::string("ChannelNumber=42\n") + std::string(13, '\0'))});
  } else if (target == "access_list_fuzz") {
    seeds["long_inline"] = Join({{0}, Text(Repeat("1-2;", kMaxDatagram - 1))});
    seeds["long_file"] = Join({{1}, Text(Repeat("allow 1-5\n", kMaxDatagram - 1))});
    seeds["long_line"] = Join({{1}, Text(Repeat("1", kMaxDatagram - 1, "allow "))});
    seeds["hex_and_octal"] = Join({{0}, Text(Repeat("0x7fff - 0x7fff ; 010;", kMaxDatagram - 1))});
  } else if (target == "sdp_scanner_fuzz") {
    const std::string head =
        "v=0\r\nc=IN IP4 239.128.1.2\r\nm=audio 5004 RTP/AVP 96\r\na=rtpmap:96 L24/48000/2\r\n";
    seeds["long_line"] =
        Text(head + "a=" + std::string(kMaxDatagram - head.size() - 4, 'x') + "\r\n");
    seeds["many_lines"] = Text(Repeat("c=IN IP4 239.128.0.1\r\n", kMaxDatagram, head));
  } else if (target == "reg_data_fuzz") {
    seeds["long_binary"] = Join({{1}, Text(Repeat("0a ", kMaxDatagram - 1))});
    seeds["deep_key"] = Join({{0}, Text(Repeat("k\\", kMaxDatagram - 1))});
    seeds["long_dword"] = Join({{2}, Text(Repeat("0", kMaxDatagram - 2, "0x") + "1")});
  } else if (target == "registry_file_fuzz") {
    // A database holding a deep key and a large value, as the registry writes it.
    char folder[] = "/tmp/vqscw-seed-registry-XXXXXX";
    if (mkdtemp(folder) != nullptr) {
      const std::string file = std::string(folder) + "/registry.db";
      {
        vqscw::Registry registry(file);
        vqscw::RegistryKey key;
        if (registry.CreateKey(Repeat("Level\\", 200, "Software\\"), &key) ==
            vqscw::RegStatus::kOk) {
          key.Set("Large", REG_BINARY, std::string(40000, '\x5A'));
          key.Set("Text", REG_SZ, std::string(255, 't'));
        }
      }
      vqscw::ReleaseRegistryFile();
      std::ifstream in(file, std::ios::binary);
      Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!bytes.empty() && bytes.size() <= kMaxDatagram) seeds["deep_key_large_value"] = bytes;
      std::filesystem::remove_all(folder);
    }
  }
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TARGET FOLDER\n", argv[0]);
    return 2;
  }
  const Seeds seeds = SeedsFor(argv[1]);
  if (seeds.empty()) {
    std::fprintf(stderr, "%s: no seeds for %s\n", argv[0], argv[1]);
    return 1;
  }
  std::error_code error;
  std::filesystem::create_directories(argv[2], error);
  for (const auto& [name, bytes] : seeds) {
    if (bytes.size() > kMaxDatagram) {
      std::fprintf(stderr, "%s: seed %s is %zu bytes, more than %zu\n", argv[0], name.c_str(),
                   bytes.size(), kMaxDatagram);
      return 1;
    }
    std::ofstream out(std::filesystem::path(argv[2]) / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], name.c_str());
      return 1;
    }
  }
  return 0;
}
