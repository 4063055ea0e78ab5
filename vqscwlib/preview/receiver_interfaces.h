// The receiver filter's own interfaces: configuration (where to listen, what the stream carries)
// and statistics (levels for a meter, counters for a status line), and the filter's factory.
//
// Addresses are IPv4 addresses in network byte order as held in memory (first octet in the least
// significant byte on this little-endian machine); ports are in network byte order too.
#ifndef VQSCWLIB_PREVIEW_RECEIVER_INTERFACES_H_
#define VQSCWLIB_PREVIEW_RECEIVER_INTERFACES_H_

#include <cstdint>

#include "vqscwlib/base/com.h"
#include "vqscwlib/preview/media_interfaces.h"
#include "vqscwlib/preview/media_types.h"

// Filled by INetworkReceiverStats::GetStatistics. The two reserved words are left untouched.
struct ReceiverStatistics {
  uint32_t reserved[2];
  uint32_t packetsReceived;       // datagrams received without error
  uint32_t payloadBytesReceived;  // their bytes after the payload header (wraps at 2^32)
  uint32_t bytesPerSecond;        // nAvgBytesPerSec of the output format
};

// Configuration. Every operation takes the filter's lock; the setters work only while the filter
// is stopped (E_UNEXPECTED otherwise).
struct INetworkReceiverConfig : IUnknown {
  // 0 means any interface; E_INVALIDARG for a multicast or higher address.
  virtual HRESULT SetInterfaceAddress(uint32_t address) = 0;
  // 0xFFFFFFFE while never set.
  virtual HRESULT GetInterfaceAddress(uint32_t* address) = 0;
  // E_INVALIDARG unless the group is in 224.0.0.0-239.255.255.255.
  virtual HRESULT SetGroup(uint32_t group, uint16_t port) = 0;
  virtual HRESULT GetGroup(uint32_t* group, uint16_t* port) = 0;
  // The type the output pin offers, the header stripped from each datagram and the 40-byte
  // format block (a WAVEFORMATEX-family record). With MEDIASUBTYPE_PCM the format must be 16- or
  // 24-bit PCM whose 50 ms block is a whole number of frames (VFW_E_TYPE_NOT_ACCEPTED otherwise),
  // and a new pool of 10 blocks of 50 ms replaces the old one (E_OUTOFMEMORY when it cannot be
  // made). Refused with E_UNEXPECTED unless the filter is stopped.
  virtual HRESULT SetMediaFormat(GUID major_type, GUID sub_type, PayloadHeaderMode mode,
                                 const uint8_t* format) = 0;

 protected:
  ~INetworkReceiverConfig() = default;
};

// Statistics. Asking the filter for this interface resets both peaks. The counters are read
// without the filter's lock, from any thread.
struct INetworkReceiverStats : IUnknown {
  // Peak levels since the previous call in 0.1 dB below a full scale of 0x7F000000 (about -702
  // to 0), -10000 for silence; resets the peaks. S_FALSE with nothing written unless running.
  virtual HRESULT GetLevels(int32_t* left, int32_t* right) = 0;
  virtual HRESULT GetStatistics(ReceiverStatistics* statistics) = 0;

 protected:
  ~INetworkReceiverStats() = default;
};

// Creates a stopped, unconfigured receiver filter and stores its IBaseFilter interface, with one
// reference for the caller, in *filter. E_POINTER for a null filter; E_OUTOFMEMORY or the failing
// part's result when it cannot be built.
HRESULT CreateNetworkReceiverFilter(IBaseFilter** filter);

#endif  // VQSCWLIB_PREVIEW_RECEIVER_INTERFACES_H_
