// The receiving half of the receiver filter: one datagram socket joined to a multicast group on
// one local interface, and a receive thread that keeps up to 10 receive buffers posted and hands
// every datagram to the filter's packet handler.
//
// While nothing arrives the thread sleeps in a wait on the socket and the stop event. Once
// datagrams flow it stops polling the socket: it rests for a short tick, then drains whatever
// gathered with recvmmsg() (up to 10 datagrams per call into 10 posted buffers), so it wakes a
// couple of hundred times a second however many packets arrive.
//
// Threads: Start and Stop run on the control thread (under the filter's lock); the packet sink
// runs on the receive thread. Lock order: filter lock, then the receiver's lock, then a pool's.
#ifndef VQSCWLIB_PREVIEW_NETWORK_RECEIVER_H_
#define VQSCWLIB_PREVIEW_NETWORK_RECEIVER_H_

#include <atomic>
#include <cstdint>
#include <thread>

#include "vqscwlib/base/com.h"
#include "vqscwlib/base/thread_annotations.h"
#include "vqscwlib/platform/datagram_socket.h"
#include "vqscwlib/platform/event.h"
#include "vqscwlib/platform/socket_library.h"
#include "vqscwlib/preview/buffer_pool.h"

namespace vqscw {

// Receives each datagram on the receive thread; buffer->used() holds its length. The callee
// takes a reference of its own if it keeps the buffer.
class PacketSink {
 public:
  virtual void HandlePacket(CPacketBuffer* buffer) = 0;

 protected:
  ~PacketSink() = default;
};

}  // namespace vqscw

class CNetworkReceiver {
 public:
  static constexpr int kMaxOutstanding = 10;  // receive buffers posted at once
  static constexpr int kIdleWaitMs = 100;     // poll time-out while nothing arrives
  static constexpr int kDrainTickMs = 8;      // rest between drains, small beside a 50 ms block
  static constexpr int kMaxDrainRounds = 64;  // recvmmsg calls per drain at most

  static constexpr uint16_t kSocketVersion = vqscw::SocketVersion(2, 0);

  // `receive_pool` and `sink` must outlive the receiver. Starts a use of the socket library, which
  // the destructor ends. Check init_result().
  CNetworkReceiver(CBufferPool* receive_pool, vqscw::PacketSink* sink);
  // Stops the receiver if it runs.
  ~CNetworkReceiver();
  CNetworkReceiver(const CNetworkReceiver&) = delete;
  CNetworkReceiver& operator=(const CNetworkReceiver&) = delete;

  // S_OK; the system error (as a result code) of creating the stop event; E_FAIL when the socket
  // library cannot start.
  HRESULT init_result() const { return init_result_; }

  // Opens the socket on `port` (network order), joins `group` on `interface_address` (both in
  // network order; 0 joins on the interface the routing table picks) and starts the receive
  // thread, which posts its first receives at once. Returns the socket or thread error as a
  // result code, with no socket left open; E_UNEXPECTED when already started.
  HRESULT Start(uint32_t group, uint16_t port, uint32_t interface_address);

  // Ends the receive thread and waits for it, closes the socket and returns every posted
  // buffer to the receive pool. Harmless when not started.
  void Stop();

  bool running() const;

  // Set from Stop until the next Start: a wait on the receive thread for downstream room ends
  // early when it is set.
  vqscw::Event* stop_event() { return &stop_event_; }

  // Receive buffers posted and not yet completed (for tests and diagnostics).
  int outstanding() const { return outstanding_.load(std::memory_order_relaxed); }

 private:
  void ThreadMain(vqscw::DatagramSocket* socket);
  // Tops the posted buffers up to kMaxOutstanding from the receive pool, without waiting: when
  // the pool is empty the next drain or time-out tries again.
  void PostReceives();
  // Receives what the socket holds into the posted buffers and hands it on. Returns the number
  // of datagrams taken.
  int Drain(vqscw::DatagramSocket* socket);
  void ReleasePosted();

  CBufferPool* const receive_pool_;
  vqscw::PacketSink* const sink_;
  HRESULT init_result_ = S_OK;
  bool socket_library_started_ = false;
  vqscw::Event stop_event_{vqscw::Event::ResetMode::kManual};
  std::atomic<int> outstanding_{0};

  mutable vqscw::Mutex mu_;  // guards start, stop, the socket and posting
  std::thread thread_ GUARDED_BY(mu_);
  vqscw::DatagramSocket socket_ GUARDED_BY(mu_);

  // Receive thread only.
  CPacketBuffer* posted_[kMaxOutstanding] = {};
  int posted_count_ = 0;
  uint8_t* buffers_[kMaxOutstanding] = {};
  vqscw::DatagramBatch batch_;  // each datagram's length and arrival time
};

#endif  // VQSCWLIB_PREVIEW_NETWORK_RECEIVER_H_
