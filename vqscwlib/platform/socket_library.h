// Process-wide start and stop of the socket library.
//
// Users of sockets (the source spy, the RTP receiver) start the library before they open sockets
// and stop it when they are done, as the socket interface they were written against requires.
// The starts are counted: the library stays up while any start has not been matched by a stop.
// On Linux there is nothing to set up, so a start always succeeds and grants version 2.2; a test
// can install a SocketLibraryTestHook to make starts fail or grant another version, so that the
// callers' handling of those outcomes can be exercised.
//
// All functions are thread-safe.
#ifndef VQSCWLIB_PLATFORM_SOCKET_LIBRARY_H_
#define VQSCWLIB_PLATFORM_SOCKET_LIBRARY_H_

#include <cstdint>

namespace vqscw {

// A socket library version as its users compare it: major number in the low byte, minor number in
// the high byte (2.2 is 0x0202, 2.0 is 0x0002).
constexpr uint16_t SocketVersion(uint8_t major, uint8_t minor) {
  return static_cast<uint16_t>(major | (minor << 8));
}
constexpr uint8_t SocketVersionMajor(uint16_t version) { return static_cast<uint8_t>(version); }
constexpr uint8_t SocketVersionMinor(uint16_t version) {
  return static_cast<uint8_t>(version >> 8);
}

// The one version the library grants.
constexpr uint16_t kSocketVersion22 = SocketVersion(2, 2);

// Starts one use of the socket library, asking for version `requested`. Returns 0 and stores the
// granted version in *granted (when not null); the caller must end the use with exactly one
// StopSocketLibrary(), also when it rejects the granted version. A nonzero result is an error
// code (an errno value): nothing was started and nothing must be stopped.
int StartSocketLibrary(uint16_t requested, uint16_t* granted);

// Ends one use started by StartSocketLibrary(). Returns 0, or -1 when no use was open (the count
// stays at zero).
int StopSocketLibrary();

// The number of uses started and not yet stopped.
int SocketLibraryUsers();

// While one of these lives, StartSocketLibrary() fails with `failure` when it is nonzero, or else
// succeeds granting `granted`. For tests; only one may exist at a time.
class SocketLibraryTestHook {
 public:
  SocketLibraryTestHook(int failure, uint16_t granted);
  ~SocketLibraryTestHook();
  SocketLibraryTestHook(const SocketLibraryTestHook&) = delete;
  SocketLibraryTestHook& operator=(const SocketLibraryTestHook&) = delete;

  // Starts attempted while the hook was installed, failed ones included.
  int starts() const;

 private:
  friend int StartSocketLibrary(uint16_t, uint16_t*);
  const int failure_;
  const uint16_t granted_;
  int starts_ = 0;  // guarded by the library's lock
};

}  // namespace vqscw

#endif  // VQSCWLIB_PLATFORM_SOCKET_LIBRARY_H_
