#include "vqscwlib/preview/network_receiver.h"

#include <cerrno>
#include <system_error>

namespace {

// A system error as a result code; E_FAIL when there is no error number to report.
HRESULT ErrorResult(int error) { return error > 0 ? HResultFromError(error) : E_FAIL; }

}  // namespace

CNetworkReceiver::CNetworkReceiver(CBufferPool* receive_pool, vqscw::PacketSink* sink)
    : receive_pool_(receive_pool), sink_(sink) {
  if (!stop_event_.valid()) {
    init_result_ = ErrorResult(errno);
    return;
  }
  if (vqscw::StartSocketLibrary(kSocketVersion, nullptr) != 0) {
    init_result_ = E_FAIL;
    return;
  }
  socket_library_started_ = true;
}

CNetworkReceiver::~CNetworkReceiver() {
  Stop();
  if (socket_library_started_) vqscw::StopSocketLibrary();
}

bool CNetworkReceiver::running() const {
  vqscw::MutexLock lock(&mu_);
  return thread_.joinable();
}

HRESULT CNetworkReceiver::Start(uint32_t group, uint16_t port, uint32_t interface_address) {
  vqscw::MutexLock lock(&mu_);
  if (thread_.joinable()) return E_UNEXPECTED;
  stop_event_.Reset();
  outstanding_.store(0, std::memory_order_relaxed);

  if (socket_.OpenGroup(group, port, interface_address) != 0) {
    return ErrorResult(socket_.LastError());
  }
  try {
    thread_ = std::thread(&CNetworkReceiver::ThreadMain, this, &socket_);
  } catch (const std::system_error& error) {
    socket_.Close();
    return ErrorResult(error.code().value());
  }
  return S_OK;
}

void CNetworkReceiver::Stop() {
  std::thread thread;
  {
    vqscw::MutexLock lock(&mu_);
    stop_event_.Set();
    thread = std::move(thread_);
  }
  // Joined outside the lock: the thread takes it to post receives.
  if (thread.joinable()) thread.join();
  vqscw::MutexLock lock(&mu_);
  socket_.Close();
}

void CNetworkReceiver::ThreadMain(vqscw::DatagramSocket* socket) {
  vqscw::SocketWait idle(&stop_event_);
  idle.Add(socket);
  vqscw::SocketWait rest(&stop_event_);
  PostReceives();
  bool streaming = false;
  for (;;) {
    if (!streaming) {
      // Idle: sleep until a datagram arrives or the receiver stops.
      const vqscw::WaitResult result = idle.Wait(kIdleWaitMs);
      if (stop_event_.IsSet()) break;
      PostReceives();  // also at every time-out: buffers may have come back meanwhile
      if (result == vqscw::WaitResult::kTimeout || result == vqscw::WaitResult::kInterrupted) {
        continue;
      }
    }
    // While datagrams flow, take whatever a tick gathered instead of waking for each one.
    streaming = Drain(socket) > 0;
    // Rest a tick in any case: this also bounds the wake-up rate when the socket stays readable
    // with no buffer to receive into, or reports an error.
    if (rest.Wait(kDrainTickMs) == vqscw::WaitResult::kReady || stop_event_.IsSet()) break;
  }
  ReleasePosted();
}

void CNetworkReceiver::PostReceives() {
  vqscw::MutexLock lock(&mu_);
  while (posted_count_ < kMaxOutstanding) {
    CPacketBuffer* buffer = receive_pool_->Get(nullptr, 0);
    if (buffer == nullptr) break;
    posted_[posted_count_++] = buffer;
    outstanding_.fetch_add(1, std::memory_order_relaxed);
  }
}

int CNetworkReceiver::Drain(vqscw::DatagramSocket* socket) {
  int taken = 0;
  for (int round = 0; round < kMaxDrainRounds; ++round) {
    PostReceives();
    const int count = posted_count_;
    if (count == 0) break;
    for (int i = 0; i < count; ++i) buffers_[i] = posted_[i]->data();
    const int received =
        socket->ReceiveBatch(&batch_, buffers_, receive_pool_->buffer_size(), count);
    if (received <= 0) break;  // drained, or a receive error: nothing is counted
    for (int i = 0; i < received; ++i) {
      CPacketBuffer* buffer = posted_[i];
      outstanding_.fetch_sub(1, std::memory_order_relaxed);
      // A datagram longer than the buffer is an error, like any failed receive.
      if (!batch_.truncated(i)) {
        buffer->set_used(batch_.length(i));
        buffer->set_arrival_us(batch_.arrival_us(i));
        sink_->HandlePacket(buffer);
      }
      buffer->Release();
    }
    for (int i = received; i < count; ++i) posted_[i - received] = posted_[i];
    posted_count_ = count - received;
    taken += received;
    if (received < count) break;
  }
  return taken;
}

void CNetworkReceiver::ReleasePosted() {
  for (int i = 0; i < posted_count_; ++i) posted_[i]->Release();
  posted_count_ = 0;
  outstanding_.store(0, std::memory_order_relaxed);
}
