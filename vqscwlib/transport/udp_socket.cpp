#include "vqscwlib/transport/udp_socket.h"

#include <cerrno>

CUdpSocket::~CUdpSocket() { Close(); }

int CUdpSocket::Bind(uint16_t port, const char* address) {
  CSockAddr local;
  const int resolved = address == nullptr ? local.SetAny(port) : local.SetFromText(address, port);
  if (resolved != 0) {
    last_error_ = EADDRNOTAVAIL;
    return -1;
  }
  return Track(socket_.Bind(*local.RawIn()));
}

int CUdpSocket::BindGroupListener(uint16_t port, const char* address) {
  CSockAddr local;
  const int resolved = address == nullptr ? local.SetAny(port) : local.SetFromText(address, port);
  if (resolved != 0) {
    last_error_ = EADDRNOTAVAIL;
    return -1;
  }
  return Track(socket_.BindGroupListener(*local.RawIn()));
}

int CUdpSocket::Close() {
  const bool open = socket_.IsOpen();
  const int rc = socket_.Close();
  if (open && rc != 0) last_error_ = socket_.LastError();
  return rc;
}
