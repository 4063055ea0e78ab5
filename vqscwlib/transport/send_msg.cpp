#include "vqscwlib/transport/send_msg.h"

#include <cerrno>
#include <cstdio>

#include "vqscw/network.h"
#include "vqscwlib/message/dump.h"
#include "vqscwlib/message/message.h"

namespace {

constexpr int kDumpFlags = kDumpTagText;

int Octet(uint32_t address, int index) {
  return static_cast<int>((address >> (24 - 8 * index)) & 0xFFu);
}

}  // namespace

int SendMsg(const CFieldList* list, CMessageEndpoint* endpoint, const NetAddress& destination,
            int trace) {
  const uint32_t address = destination.Address();
  CMessage message(CFieldList::kDefaultCapacity, CFieldList::kDefaultGrowth);
  if (list != nullptr) message.CopyFrom(*list);

  if (trace != 0) {
    std::printf("%s advertise to: %d.%d.%d.%d:%d\n", dbg_time(), Octet(address, 0),
                Octet(address, 1), Octet(address, 2), Octet(address, 3), destination.Port());
    // A host that sets cfg_msgdump without pointing msgdump at a buffer gets no dump.
    if (cfg_msgdump != 0 && msgdump != nullptr) {
      Message2String(&message, msgdump, kDumpFlags);
      std::printf("%s\n", msgdump);
    }
  }

  const uint8_t mode = address < kFirstDatagramAddress ? KIND_MESSAGE : KIND_DATAGRAM;
  if (endpoint != nullptr && endpoint->SendMessage(destination, &message, mode)) return 0;
  const int error = errno;
  std::fprintf(stderr, "SendMsg() to %d.%d.%d.%d:%d failed errno=%d\n", Octet(address, 0),
               Octet(address, 1), Octet(address, 2), Octet(address, 3), destination.Port(), error);
  return -1;
}
