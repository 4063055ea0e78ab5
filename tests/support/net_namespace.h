// Test helpers for networking: a free UDP port and a private network namespace.
//
// A test that needs network cards of its own runs its body in a child process (gtest's
// EXPECT_EXIT) that calls EnterFreshNetNamespace(); the namespace, its interfaces and its /sys
// mount end with the child, so nothing outlives the test.
#ifndef TESTS_SUPPORT_NET_NAMESPACE_H_
#define TESTS_SUPPORT_NET_NAMESPACE_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vqscw::testing {

// A UDP port that nothing on this host is bound to, never the same one twice in a process. It is
// taken from below the system's ephemeral range, so no socket bound to port 0 (by this test or by
// anyone) can be handed the same port before the caller binds it; tests run in a network
// namespace of their own, where nobody else binds such ports. 0 when none could be had.
inline uint16_t FreeUdpPort() {
  constexpr int kSpan = 8192;
  int ephemeral_low = 32768;
  if (FILE* range = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
    if (std::fscanf(range, "%d", &ephemeral_low) != 1) ephemeral_low = 32768;
    std::fclose(range);
  }
  const int first = std::max(1024, ephemeral_low - kSpan);
  const int span = ephemeral_low - first;
  if (span <= 0) return 0;
  // Processes sharing a namespace (tests started by hand) start at different places.
  static std::atomic<int> next{static_cast<int>(getpid() % span)};
  for (int tries = 0; tries < span; ++tries) {
    const auto port = static_cast<uint16_t>(first + next.fetch_add(1) % span);
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    if (free) return port;
  }
  return 0;
}

// The port (host order) a bound socket holds; 0 when it cannot be read.
inline uint16_t BoundPort(int handle) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

// Moves the calling process into a new network and mount namespace, mounts the new namespace's
// sysfs on /sys (privately), brings lo up and runs `commands` with the shell. Returns false,
// printing the step that failed to standard error. Call only in a child process.
inline bool EnterFreshNetNamespace(const std::vector<std::string>& commands) {
  if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
    std::perror("unshare");
    return false;
  }
  if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) {
    std::perror("mount");
    return false;
  }
  std::vector<std::string> all{"ip link set lo up"};
  all.insert(all.end(), commands.begin(), commands.end());
  for (const std::string& command : all) {
    if (std::system((command + " >/dev/null").c_str()) != 0) {
      std::fprintf(stderr, "failed: %s\n", command.c_str());
      return false;
    }
  }
  return true;
}

// In a child process: prints the failed condition and ends the child with status 1.
#define CHILD_CHECK(condition)                                                           \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::_Exit(1);                                                                     \
    }                                                                                    \
  } while (0)

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_NET_NAMESPACE_H_
