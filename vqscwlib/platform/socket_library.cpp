#include "vqscwlib/platform/socket_library.h"

#include <cassert>

#include "vqscwlib/base/thread_annotations.h"

namespace vqscw {
namespace {

Mutex g_mutex;
int g_users GUARDED_BY(g_mutex) = 0;
SocketLibraryTestHook* g_hook GUARDED_BY(g_mutex) = nullptr;

}  // namespace

int StartSocketLibrary(uint16_t /*requested*/, uint16_t* granted) {
  MutexLock lock(&g_mutex);
  uint16_t version = kSocketVersion22;
  if (g_hook != nullptr) {
    ++g_hook->starts_;
    if (g_hook->failure_ != 0) return g_hook->failure_;
    version = g_hook->granted_;
  }
  ++g_users;
  if (granted != nullptr) *granted = version;
  return 0;
}

int StopSocketLibrary() {
  MutexLock lock(&g_mutex);
  if (g_users == 0) return -1;
  --g_users;
  return 0;
}

int SocketLibraryUsers() {
  MutexLock lock(&g_mutex);
  return g_users;
}

SocketLibraryTestHook::SocketLibraryTestHook(int failure, uint16_t granted)
    : failure_(failure), granted_(granted) {
  MutexLock lock(&g_mutex);
  assert(g_hook == nullptr && "only one SocketLibraryTestHook may exist at a time");
  g_hook = this;
}

SocketLibraryTestHook::~SocketLibraryTestHook() {
  MutexLock lock(&g_mutex);
  if (g_hook == this) g_hook = nullptr;
}

int SocketLibraryTestHook::starts() const {
  MutexLock lock(&g_mutex);
  return starts_;
}

}  // namespace vqscw
