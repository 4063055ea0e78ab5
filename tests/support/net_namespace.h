// Test helpers for networking: a free UDP port on loopback and a private network namespace.
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

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vqscw::test {

// A UDP port that was free on 127.0.0.1 a moment ago (0 when none could be had).
inline uint16_t FreeUdpPort() {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(s);
  return port;
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

}  // namespace vqscw::test

#endif  // TESTS_SUPPORT_NET_NAMESPACE_H_
