// Test helpers for the preview: a downstream input pin that records what it receives, packets
// built in receive buffers, and loopback multicast senders.
#ifndef TESTS_SUPPORT_PREVIEW_HELPERS_H_
#define TESTS_SUPPORT_PREVIEW_HELPERS_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/loopback_sender.h"
#include "tests/support/net_namespace.h"
#include "vqscwlib/preview/audio_formats.h"
#include "vqscwlib/preview/buffer_pool.h"
#include "vqscwlib/preview/media_interfaces.h"
#include "vqscwlib/preview/receiver_filter.h"

namespace vqscw::testing {

// An input pin that copies every sample it receives and can keep the samples (holding their
// pooled blocks) until told to let them go. Not deleted by Release: the test owns it and must
// keep it alive until whatever it was connected to is gone.
class TestSink final : public IPin, public IMemInputPin {
 public:
  ~TestSink() {
    ReleaseHeld();
    Disconnect();
  }

  bool hold = false;                 // keep samples until ReleaseHeld
  bool ask_for_pull_reader = false;  // look for a pull-mode reader while connecting
  IMemAllocator* allocator = nullptr;
  AM_MEDIA_TYPE type{};  // of the connection, without its format block
  uint32_t format_bytes = 0;

  HRESULT QueryInterface(const IID& iid, void** object) override {
    *object = iid == IID_IPin           ? static_cast<IPin*>(this)
              : iid == IID_IMemInputPin ? static_cast<void*>(static_cast<IMemInputPin*>(this))
                                        : nullptr;
    return *object != nullptr ? S_OK : E_NOINTERFACE;
  }
  uint32_t AddRef() override { return 1; }
  uint32_t Release() override { return 1; }

  HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* offered) override {
    void* reader = nullptr;
    if (ask_for_pull_reader && SUCCEEDED(connector->QueryInterface(IID_IAsyncReader, &reader))) {
      static_cast<IUnknown*>(reader)->Release();
    }
    connector_ = connector;
    connector_->AddRef();
    type = *offered;
    type.pbFormat = nullptr;
    format_bytes = offered->cbFormat;
    return S_OK;
  }
  HRESULT Disconnect() override {
    if (allocator != nullptr) allocator->Release();
    allocator = nullptr;
    if (connector_ == nullptr) return S_FALSE;
    connector_->Release();
    connector_ = nullptr;
    return S_OK;
  }
  HRESULT ConnectedTo(IPin**) override { return E_NOTIMPL; }
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT QueryDirection(PIN_DIRECTION* direction) override {
    *direction = PINDIR_INPUT;
    return S_OK;
  }
  HRESULT QueryId(char16_t**) override { return E_NOTIMPL; }
  HRESULT QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
  HRESULT NotifyAllocator(IMemAllocator* chosen, bool) override {
    chosen->AddRef();
    allocator = chosen;
    return S_OK;
  }
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }

  HRESULT Receive(IMediaSample* sample) override {
    uint8_t* data = nullptr;
    sample->GetPointer(&data);
    std::lock_guard<std::mutex> lock(mu_);
    received_.push_back({data, std::vector<uint8_t>(data, data + sample->GetActualDataLength())});
    if (hold) {
      sample->AddRef();
      held_.push_back(sample);
    }
    changed_.notify_all();
    return S_OK;
  }

  void ReleaseHeld() {
    std::vector<IMediaSample*> held;
    {
      std::lock_guard<std::mutex> lock(mu_);
      held.swap(held_);
    }
    for (IMediaSample* sample : held) sample->Release();
  }

  size_t count() {
    std::lock_guard<std::mutex> lock(mu_);
    return received_.size();
  }
  // The bytes of sample `i` and where they were lent from.
  std::vector<uint8_t> sample(size_t i) {
    std::lock_guard<std::mutex> lock(mu_);
    return received_.at(i).bytes;
  }
  const uint8_t* pointer(size_t i) {
    std::lock_guard<std::mutex> lock(mu_);
    return received_.at(i).data;
  }
  // Waits up to `timeout_ms` for at least `n` samples.
  bool WaitFor(size_t n, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mu_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return received_.size() >= n; });
  }
  bool connected() const { return connector_ != nullptr; }

 private:
  struct Received {
    const uint8_t* data;
    std::vector<uint8_t> bytes;
  };
  IPin* connector_ = nullptr;
  std::mutex mu_;
  std::condition_variable changed_;
  std::vector<Received> received_;
  std::vector<IMediaSample*> held_;
};

// What a filter's configuration reports: its group, port (network order) and interface.
inline uint32_t GroupOf(INetworkReceiverConfig* config) {
  uint32_t group = 0;
  uint16_t port = 0;
  config->GetGroup(&group, &port);
  return group;
}
inline uint16_t PortOf(INetworkReceiverConfig* config) {
  uint32_t group = 0;
  uint16_t port = 0;
  config->GetGroup(&group, &port);
  return port;
}
inline uint32_t InterfaceOf(INetworkReceiverConfig* config) {
  uint32_t address = 0;
  config->GetInterfaceAddress(&address);
  return address;
}

// A receive buffer from `pool` holding `bytes` (the caller releases it).
inline CPacketBuffer* MakePacket(CBufferPool* pool, const std::vector<uint8_t>& bytes) {
  CPacketBuffer* buffer = pool->Get(nullptr, 0);
  if (buffer == nullptr) return nullptr;
  std::memcpy(buffer->data(), bytes.data(), std::min<size_t>(bytes.size(), buffer->capacity()));
  buffer->set_used(static_cast<uint32_t>(bytes.size()));
  return buffer;
}

// An IPv4 address in network order from its text.
inline uint32_t Address(const char* text) { return inet_addr(text); }

using vqscw::testing::FreeUdpPort;

// Sets the audio sink for one test and restores the silent sink afterwards.
class ScopedSink {
 public:
  explicit ScopedSink(const std::string& text) { setenv("VQSCW_AUDIO_SINK", text.c_str(), 1); }
  ~ScopedSink() { setenv("VQSCW_AUDIO_SINK", "fakesink", 1); }
  ScopedSink(const ScopedSink&) = delete;
  ScopedSink& operator=(const ScopedSink&) = delete;
};

// A new receiver filter and a TestSink to connect it to; tears both down in the right order.
class ReceiverFilterFixture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CNetworkReceiverFilter::Create(&filter_), S_OK); }
  void TearDown() override {
    filter_->Stop();
    filter_->pin()->Disconnect();
    sink_.ReleaseHeld();
    sink_.Disconnect();
    filter_->Release();
  }

  HRESULT SetFormat(const GUID& sub_type, PayloadHeaderMode mode, const FormatBlock& format) {
    return filter_->SetMediaFormat(MEDIATYPE_Audio, sub_type, mode, format.data());
  }
  void ConfigurePcm24() {
    ASSERT_EQ(SetFormat(MEDIASUBTYPE_PCM, HEADER_RTP, Pcm24StereoFormat()), S_OK);
  }
  void ConnectSink() { ASSERT_EQ(filter_->pin()->Connect(&sink_, nullptr), S_OK); }

  // Hands one datagram to the packet handler, as the receive thread does.
  void Feed(const std::vector<uint8_t>& datagram) {
    CPacketBuffer* buffer = MakePacket(filter_->receive_pool(), datagram);
    ASSERT_NE(buffer, nullptr);
    filter_->handler()->Handle(buffer);
    buffer->Release();
  }

  CNetworkReceiverFilter* filter_ = nullptr;
  TestSink sink_;
};

// A datagram of a 12-byte RTP header and `payload` bytes; payload byte i is `first` + i.
inline std::vector<uint8_t> RtpDatagram(size_t payload, uint8_t first = 0) {
  std::vector<uint8_t> datagram(12 + payload);
  datagram[0] = 0x80;
  datagram[1] = 96;
  for (size_t i = 0; i < payload; ++i) datagram[12 + i] = static_cast<uint8_t>(first + i);
  return datagram;
}

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_PREVIEW_HELPERS_H_
