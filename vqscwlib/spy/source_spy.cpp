// The source spy service.
//
// Threads: the client's thread (open, close, set access list, enumerate) and one listening thread
// per open spy. The spy's lock guards its magic, table, kept callback and access list; the client
// callback always runs under it. The listening parts (thread, stop event, endpoints, the reused
// message) belong to the opening thread until the listening thread starts, to the listening
// thread while it runs, and to the closing thread once it has been joined.
#include "vqscwlib/spy/source_spy.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "vqscw/host.h"
#include "vqscwlib/base/thread_annotations.h"
#include "vqscwlib/message/message.h"
#include "vqscwlib/platform/datagram_socket.h"
#include "vqscwlib/platform/event.h"
#include "vqscwlib/platform/socket_library.h"
#include "vqscwlib/spy/access_list.h"
#include "vqscwlib/spy/spy_table.h"
#include "vqscwlib/transport/message_endpoint.h"

namespace {

constexpr char kLibraryName[] = "vqscwlib";

// The magic of an open spy; 0 before its thread starts and after close.
constexpr uint32_t SOURCE_SPY_MAGIC = 0xFEE10001u;

// The listening thread wakes at least this often to expire silent terminals.
constexpr int kListenWaitMs = 1000;

// Every source stream is 24-bit stereo PCM at 48000 Hz (on port kStreamPort).
constexpr uint16_t kSourceChannels = 2;
constexpr uint32_t kSourceRate = 48000;
constexpr uint16_t kSourceBits = 24;
constexpr uint32_t kFrontLeftRight = 3;
constexpr uint16_t kExtensibleExtraSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);

// Octet `index` (0 first) of an address in network byte order as held in memory.
int Octet(uint32_t address, int index) {
  return static_cast<int>((address >> (8 * index)) & 0xFFu);
}

}  // namespace

// What runs the spy: made by open, released by close.
struct SpyListener {
  std::thread thread;
  vqscw::Event stop{vqscw::Event::ResetMode::kAuto};
  bool socket_library_started = false;
  CClientEndpoint client;  // sends the requests for full advertisements
  CServerEndpoint server;  // receives advertisements
  CMessage message;        // reused for every advertisement received
};

struct SourceSpy {
  vqscw::Mutex lock;
  uint32_t magic GUARDED_BY(lock) = 0;
  vqscw::SpyTable table GUARDED_BY(lock);
  // The kept callback: at most one of the two is set.
  SourceCallback callback GUARDED_BY(lock) = nullptr;
  SourceRecordCallback record_callback GUARDED_BY(lock) = nullptr;
  void* user GUARDED_BY(lock) = nullptr;
  TerminalRemovedCallback removed GUARDED_BY(lock) = nullptr;
  void* removed_user GUARDED_BY(lock) = nullptr;
  // Set until the first access list is given: with an empty list it lets every source pass.
  bool allow_all GUARDED_BY(lock) = true;
  vqscw::AccessList access_list GUARDED_BY(lock);

  uint32_t interface_address = 0;  // set before the handle is handed out, then read only
  std::unique_ptr<SpyListener> listener;
  SourceSpy* next_closed = nullptr;  // guarded by g_closed_lock
};

namespace {

// Closed spies stay readable for good, so that a closed handle keeps being refused; they are kept
// here, small, once their listening parts, table and list are gone.
vqscw::Mutex g_closed_lock;
SourceSpy* g_closed GUARDED_BY(g_closed_lock) = nullptr;

void FillSourceInfo(const SpySource& source, SourceInfo* info, WAVEFORMATEXTENSIBLE* format) {
  std::memset(info, 0, sizeof *info);
  std::memset(format, 0, sizeof *format);
  info->size = sizeof *info;
  info->channel = source.psid;
  std::memcpy(info->name, source.name, strnlen(source.name, kSourceNameLength));
  std::memcpy(info->label, source.name, strnlen(source.name, sizeof info->label - 1));
  info->streamId = source.fsid;
  info->port = kStreamPort;
  info->format = format;
  info->formatSize = sizeof *format;

  WAVEFORMATEX& wave = format->Format;
  wave.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  wave.nChannels = kSourceChannels;
  wave.nSamplesPerSec = kSourceRate;
  wave.nBlockAlign = kSourceChannels * kSourceBits / 8;
  wave.nAvgBytesPerSec = kSourceRate * wave.nBlockAlign;
  wave.wBitsPerSample = kSourceBits;
  wave.cbSize = kExtensibleExtraSize;
  format->Samples.wValidBitsPerSample = kSourceBits;
  format->dwChannelMask = kFrontLeftRight;
  format->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
}

// Whether the spy reports `source`: not of the hidden type, and let pass by the access list (or,
// with an empty list, by the allow-all state).
bool Passes(SourceSpy* spy, const SpySource& source) REQUIRES(spy->lock) {
  if (source.fast == kHiddenStreamType) return false;
  if (!spy->access_list.empty()) return spy->access_list.Contains(source.psid);
  return spy->allow_all;
}

int Deliver(SourceSpy* spy, const SpySource& source, SourceCallback callback, void* user) {
  SourceInfo info;
  WAVEFORMATEXTENSIBLE format;
  FillSourceInfo(source, &info, &format);
  return callback(spy, &info, user);
}

int Deliver(SourceSpy* spy, const SpySource& source, SourceRecordCallback callback, void* user) {
  return callback(spy, &source, user);
}

// Reports one filled slot to `callback` when the spy lets it pass. Returns the callback's result,
// or 1 (go on) for a slot that does not pass.
template <typename Callback>
int Report(SourceSpy* spy, const SpySource& source, Callback callback, void* user)
    REQUIRES(spy->lock) {
  return Passes(spy, source) ? Deliver(spy, source, callback, user) : 1;
}

void Keep(SourceSpy* spy, SourceCallback callback) REQUIRES(spy->lock) {
  spy->callback = callback;
  spy->record_callback = nullptr;
}

void Keep(SourceSpy* spy, SourceRecordCallback callback) REQUIRES(spy->lock) {
  spy->callback = nullptr;
  spy->record_callback = callback;
}

// The registration hook: hands a newly filled slot to the kept callback.
int ReportNewSource(SpySource* source, void* user) {
  auto* spy = static_cast<SourceSpy*>(user);
  spy->lock.AssertHeld();  // advspy_Register runs under the spy's lock
  if (spy->callback != nullptr) {
    Report(spy, *source, spy->callback, spy->user);
  } else if (spy->record_callback != nullptr) {
    Report(spy, *source, spy->record_callback, spy->user);
  }
  return 0;
}

// The table's removal hook: tells the watching client.
void ReportRemoval(const SpyTerminal& terminal, vqscw::SpyTable::Removal why, void* user) {
  auto* spy = static_cast<SourceSpy*>(user);
  spy->lock.AssertHeld();  // the table is only changed under the spy's lock
  if (spy->removed != nullptr) {
    spy->removed(spy, &terminal, why == vqscw::SpyTable::Removal::kExpired ? 1 : 0,
                 spy->removed_user);
  }
}

void Listen(SourceSpy* spy) {
  SpyListener& listener = *spy->listener;
  // The wait leaves the socket known readable, so the receive does not ask the system again.
  vqscw::SocketWait wait(&listener.stop);
  wait.Add(&listener.server.Socket().Datagram());
  for (;;) {
    const vqscw::WaitResult result = wait.Wait(kListenWaitMs);
    if (result == vqscw::WaitResult::kFailed) {
      // A wait that fails is not retried at once: wait for the stop event alone instead.
      if (listener.stop.Wait(kListenWaitMs)) return;
    } else if (result == vqscw::WaitResult::kReady) {
      if (wait.stopped() && listener.stop.Wait(0)) return;
      if (wait.readable(0) && listener.server.ReceiveMessage(&listener.message, 0)) {
        vqscw::MutexLock lock(&spy->lock);
        spy->table.Register(listener.message, &listener.client, &ReportNewSource, spy);
      }
    }
    vqscw::MutexLock lock(&spy->lock);
    spy->table.GarbageCollect();
  }
}

// Stops the listening thread and releases the listening parts.
void StopListening(SourceSpy* spy) {
  SpyListener* listener = spy->listener.get();
  if (listener == nullptr) return;
  if (listener->thread.joinable()) {
    listener->stop.Set();
    listener->thread.join();
  }
  listener->server.Close();
  listener->client.Close();
  if (listener->socket_library_started) {
    vqscw::StopSocketLibrary();
    listener->socket_library_started = false;
  }
  spy->listener.reset();
}

// The open steps after the spy is made; a nonzero result leaves the listening parts for
// StopListening to release.
uint32_t Start(SourceSpy* spy, uint32_t interface_address, uint16_t port) {
  SpyListener& listener = *spy->listener;
  uint16_t granted = 0;
  if (vqscw::StartSocketLibrary(vqscw::kSocketVersion22, &granted) != 0) return SPY_E_SOCKETS;
  listener.socket_library_started = true;
  if (granted != vqscw::kSocketVersion22) return SPY_E_SOCKETS;
  if (!listener.stop.valid()) return SPY_E_RESOURCES;

  char card[16];
  std::snprintf(card, sizeof card, "%d.%d.%d.%d", Octet(interface_address, 0),
                Octet(interface_address, 1), Octet(interface_address, 2),
                Octet(interface_address, 3));
  if (!listener.client.Open(false, card, 0)) {
    std::printf("%s client open failed\n", kLibraryName);
    return SPY_E_ENDPOINT;
  }
  if (!listener.server.Open(true, card, port)) {
    std::printf("%s server at port %d open failed\n", kLibraryName, port);
    return SPY_E_ENDPOINT;
  }
  std::printf("%s server at port %d opened\n", kLibraryName, port);

  // A failed join is no error: the spy still hears what is sent to its port directly.
  const uint32_t group = htonl(kAdvertisementGroup);  // network order, as JoinGroup takes it
  const bool joined = listener.server.JoinGroup(group, interface_address);
  std::printf(joined ? "%s server joined %d.%d.%d.%d on %d.%d.%d.%d\n"
                     : "%s server join %d.%d.%d.%d on %d.%d.%d.%d failed\n",
              kLibraryName, Octet(group, 0), Octet(group, 1), Octet(group, 2), Octet(group, 3),
              Octet(interface_address, 0), Octet(interface_address, 1), Octet(interface_address, 2),
              Octet(interface_address, 3));

  {
    vqscw::MutexLock lock(&spy->lock);
    spy->magic = SOURCE_SPY_MAGIC;
  }
  try {
    listener.thread = std::thread(Listen, spy);
  } catch (const std::system_error&) {
    vqscw::MutexLock lock(&spy->lock);
    spy->magic = 0;
    return SPY_E_RESOURCES;
  }
  return SPY_OK;
}

}  // namespace

uint32_t vqscwSourceSpyOpen(SourceSpy** handle, uint32_t interfaceAddress, uint16_t port) {
  if (handle == nullptr) return SPY_E_HANDLE;
  auto* spy = new (std::nothrow) SourceSpy;
  if (spy == nullptr) return SPY_E_RESOURCES;
  spy->interface_address = interfaceAddress;
  spy->listener.reset(new (std::nothrow) SpyListener);
  uint32_t result = SPY_E_RESOURCES;
  if (spy->listener != nullptr) {
    try {
      result = Start(spy, interfaceAddress, port);
    } catch (...) {
      result = SPY_E_RESOURCES;
    }
  }
  if (result != SPY_OK) {
    StopListening(spy);
    delete spy;
    return result;
  }
  *handle = spy;
  return SPY_OK;
}

uint32_t vqscwSourceSpyClose(SourceSpy* handle) {
  if (handle == nullptr) return SPY_E_HANDLE;
  {
    vqscw::MutexLock lock(&handle->lock);
    if (handle->magic != SOURCE_SPY_MAGIC) return SPY_E_HANDLE;
    handle->magic = 0;
  }
  StopListening(handle);
  {
    vqscw::MutexLock lock(&handle->lock);
    handle->table.Release();
    handle->access_list.Clear();
    handle->callback = nullptr;
    handle->record_callback = nullptr;
    handle->user = nullptr;
  }
  vqscw::MutexLock lock(&g_closed_lock);
  handle->next_closed = g_closed;
  g_closed = handle;
  return SPY_OK;
}

uint32_t vqscwSourceSpySetAccessList(SourceSpy* handle, const char* text) {
  if (handle == nullptr) return SPY_E_HANDLE;
  {
    vqscw::MutexLock lock(&handle->lock);
    if (handle->magic != SOURCE_SPY_MAGIC) return SPY_E_HANDLE;
  }
  // Parsed without the lock, so that reading a file does not hold up the listening thread; the
  // list then replaces the old one at once.
  vqscw::AccessList parsed;
  uint32_t result = SPY_E_RESOURCES;
  try {
    result = vqscw::ParseAccessList(text, &parsed);
  } catch (...) {
  }
  vqscw::MutexLock lock(&handle->lock);
  if (handle->magic != SOURCE_SPY_MAGIC) return SPY_E_HANDLE;
  handle->access_list.Swap(&parsed);
  handle->allow_all = false;
  return result;
}

namespace {

template <typename Callback>
uint32_t Enumerate(SourceSpy* handle, Callback callback, void* user, int keep) {
  if (handle == nullptr) return SPY_E_HANDLE;
  vqscw::MutexLock lock(&handle->lock);
  if (handle->magic != SOURCE_SPY_MAGIC) return SPY_E_HANDLE;
  for (SpyTerminal* terminal = handle->table.first(); terminal != nullptr && callback != nullptr;
       terminal = terminal->next) {
    // Slots fill from the first free one, so the filled slots come first.
    for (uint32_t i = 0; i < terminal->nums && terminal->sources()[i].tag != 0; ++i) {
      if (Report(handle, terminal->sources()[i], callback, user) == 0) return SPY_OK;
    }
  }
  if (keep != 0) {
    Keep(handle, callback);
    handle->user = user;
  }
  return SPY_OK;
}

}  // namespace

uint32_t SourceSpyEnumerate(SourceSpy* handle, SourceCallback callback, void* user, int keep) {
  return Enumerate(handle, callback, user, keep);
}

uint32_t SourceSpyEnumerateRecords(SourceSpy* handle, SourceRecordCallback callback, void* user,
                                   int keep) {
  return Enumerate(handle, callback, user, keep);
}

uint32_t SourceSpyWatchRemovals(SourceSpy* handle, TerminalRemovedCallback callback, void* user) {
  if (handle == nullptr) return SPY_E_HANDLE;
  vqscw::MutexLock lock(&handle->lock);
  if (handle->magic != SOURCE_SPY_MAGIC) return SPY_E_HANDLE;
  handle->removed = callback;
  handle->removed_user = user;
  handle->table.set_removal_hook(callback == nullptr ? nullptr : &ReportRemoval, handle);
  return SPY_OK;
}

uint32_t SourceSpyGetInterface(SourceSpy* handle, uint32_t* address) {
  if (handle == nullptr) return SPY_E_HANDLE;
  vqscw::MutexLock lock(&handle->lock);
  if (handle->magic != SOURCE_SPY_MAGIC) return SPY_E_HANDLE;
  if (address != nullptr) *address = handle->interface_address;
  return SPY_OK;
}

uint32_t SourceSpyVisitTable(SourceSpy* handle, void (*visit)(const SpyTerminal* first, void* user),
                             void* user) {
  if (handle == nullptr) return SPY_E_HANDLE;
  vqscw::MutexLock lock(&handle->lock);
  if (handle->magic != SOURCE_SPY_MAGIC) return SPY_E_HANDLE;
  if (visit != nullptr) visit(handle->table.first(), user);
  return SPY_OK;
}
