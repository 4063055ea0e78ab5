// A small host program built against an installed libvqscwlib (its headers and shared library
// only). It builds a request, recognises it as a host's terminal would, sends it over loopback
// from a client endpoint to a server endpoint, and checks what the spy's exports say of a bad
// handle. Prints one line per failed check; exits 0 when every check held.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "vqscw/endpoint.h"
#include "vqscw/host.h"
#include "vqscw/message.h"
#include "vqscw/selector.h"
#include "vqscw/spy.h"

namespace {

int failures = 0;

void Check(bool held, const char* what) {
  if (held) return;
  std::printf("FAILED: %s\n", what);
  ++failures;
}

std::string Dump(CMessage& message) {
  char text[256];
  const char* result = Message2String(&message, text, kDumpTagText);
  return result == nullptr ? "(null)" : result;
}

// A loopback UDP port nobody holds at the moment of asking.
uint16_t FreeLoopbackPort() {
  const int socket_handle = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (bind(socket_handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(socket_handle, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(socket_handle);
  return port;
}

}  // namespace

int main() {
  LocalTerminal terminal{};
  terminal.sources[0].psid = 101;

  CMessage request;
  request.SetCode(Tag("READ"));
  request.SetU8(Tag("ADVD"), 1);
  Check(adv_Request(&request, &terminal) == -1, "a request naming no channel gives -1");
  request.SetU32(Tag("PSID"), 101);
  Check(adv_Request(&request, &terminal) == 101, "a request for channel 101 gives 101");
  Check(Dump(request) == "DGRM [READ ADVD=01,PSID=00000065]", "the request's dump");

  const uint16_t port = FreeLoopbackPort();
  CServerEndpoint server;
  CClientEndpoint client;
  Check(port != 0, "a free loopback port");
  Check(server.Open(true, "127.0.0.1", port), "the server endpoint opens on loopback");
  Check(client.Open(false, nullptr, 0), "the client endpoint opens");
  Check(client.SendMessage(NetAddress(0x7F000001, port), &request, KIND_DATAGRAM),
        "the request is sent");
  CMessage received;
  Check(server.ReceiveMessage(&received, 2000), "the server receives it within 2 s");
  Check(received.SourceAddress() == 0x7F000001, "it came from 127.0.0.1");
  Check(adv_Request(&received, &terminal) == 101, "the received request asks for 101");
  client.Close();
  server.Close();
  Check(!server.IsOpen() && !client.IsOpen(), "both endpoints close");

  Check(vqscwSourceSpyClose(nullptr) == SPY_E_HANDLE, "closing a null spy gives SPY_E_HANDLE");
  Check(vqscwSourceSpySetAccessList(nullptr, "1-5") == SPY_E_HANDLE,
        "an access list for a null spy gives SPY_E_HANDLE");
  // Not called (it needs a display): taken through a volatile pointer, so it must link.
  int (*volatile open_selector)(QWidget*, SelectorSelection*, const SelectorOption*) =
      &vqscwSelectorOpen2;
  Check(open_selector != nullptr, "the selector's entry point links");

  if (failures == 0) std::printf("host: every check held\n");
  return failures == 0 ? 0 : 1;
}
