// Several processes sharing one registry file: concurrent writers, and a writer killed at an
// arbitrary moment.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "vqscwlib/platform/registry.h"

namespace vqscw {
namespace {

namespace fs = std::filesystem;

constexpr char kKey[] = "Software\\Orvane Systems\\Corrivo Selector\\Presets";
constexpr int kWritesPerProcess = 1000;
constexpr size_t kBlobBytes = 64 * 1024;

class RegistryProcessesTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string dir = (fs::temp_directory_path() / "vqscw-processes-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    file_ = (dir_ / "registry.db").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `body` in a child process; its result (0 = success) becomes the exit status.
  template <typename Body>
  pid_t Spawn(Body body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
  }

  // The child's exit status; a child that has not ended within `timeout` is killed (-1).
  static int ExitStatus(pid_t pid, std::chrono::seconds timeout = std::chrono::seconds(60)) {
    if (pid <= 0) return -1;  // the fork failed
    int status = 0;
    for (const auto end = std::chrono::steady_clock::now() + timeout;;) {
      const pid_t ended = waitpid(pid, &status, WNOHANG);
      if (ended == pid) break;
      if (ended < 0 && errno != EINTR) return -1;
      if (std::chrono::steady_clock::now() >= end) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  fs::path dir_;
  std::string file_;
};

TEST_F(RegistryProcessesTest, TwoWritersOfOneKeyLoseNothing) {
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  // Each writer opens the key for every write, as the settings store does, and starts on a file
  // that does not exist yet, so both also race to create it.
  auto writer = [&](const std::string& who) {
    return [&, who] {
      close(start[1]);
      char go;
      if (read(start[0], &go, 1) != 1) return 100;
      Registry registry(file_);
      int failures = 0;
      for (int i = 0; i < kWritesPerProcess; ++i) {
        RegistryKey key;
        if (registry.CreateKey(kKey, &key) != RegStatus::kOk ||
            key.SetDword(who, static_cast<uint32_t>(i)) != RegStatus::kOk ||
            key.SetDword(who + std::to_string(i), static_cast<uint32_t>(i)) != RegStatus::kOk) {
          ++failures;
        }
      }
      return std::min(failures, 99);
    };
  };
  pid_t a = Spawn(writer("A"));
  pid_t b = Spawn(writer("B"));
  close(start[0]);
  ASSERT_EQ(write(start[1], "gg", 2), 2);
  close(start[1]);
  EXPECT_EQ(ExitStatus(a), 0);
  EXPECT_EQ(ExitStatus(b), 0);

  RegistryKey key;
  ASSERT_EQ(Registry(file_).OpenKey(kKey, &key), RegStatus::kOk);
  RegValue value;
  for (const char* who : {"A", "B"}) {
    ASSERT_EQ(key.Query(who, 4, &value), RegStatus::kOk) << who;
    EXPECT_EQ(value.data, DwordBytes(kWritesPerProcess - 1)) << who;
    int missing = 0;
    for (int i = 0; i < kWritesPerProcess; ++i) {
      if (key.Query(who + std::to_string(i), 4, &value) != RegStatus::kOk ||
          value.data != DwordBytes(i)) {
        ++missing;
      }
    }
    EXPECT_EQ(missing, 0) << who;
  }
  size_t count = 0;
  while (key.Enum(count, 16, 4, &value) == RegStatus::kOk) ++count;
  EXPECT_EQ(count, 2u + 2u * kWritesPerProcess);
}

TEST_F(RegistryProcessesTest, RegressionWritersRacingToCreateTheRegistryBothSucceed) {
  // The switch to the write-ahead log does not wait for the other process: the loser of the race
  // used to fail its first write.
  constexpr int kRounds = 50;
  int failed_rounds = 0;
  for (int round = 0; round < kRounds; ++round) {
    const std::string file = (dir_ / ("race" + std::to_string(round) + ".db")).string();
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    auto writer = [&](const char* who) {
      return [&, who] {
        close(start[1]);
        char go;
        if (read(start[0], &go, 1) != 1) return 100;
        RegistryKey key;
        return Registry(file).CreateKey(kKey, &key) == RegStatus::kOk &&
                       key.SetDword(who, 1) == RegStatus::kOk
                   ? 0
                   : 1;
      };
    };
    pid_t a = Spawn(writer("A"));
    pid_t b = Spawn(writer("B"));
    close(start[0]);
    ASSERT_EQ(write(start[1], "gg", 2), 2);
    close(start[1]);
    if (ExitStatus(a) != 0 || ExitStatus(b) != 0) ++failed_rounds;
  }
  EXPECT_EQ(failed_rounds, 0);
}

TEST_F(RegistryProcessesTest, ExitingWriterLeavesEverythingInTheFile) {
  pid_t child = Spawn([&] {
    RegistryKey key;
    if (Registry(file_).CreateKey(kKey, &key) != RegStatus::kOk ||
        key.SetDword("1", 25) != RegStatus::kOk) {
      return 1;
    }
    key.Close();
    std::exit(0);  // an ordinary exit, not _exit: the process's exit handlers run
    return 0;
  });
  ASSERT_EQ(ExitStatus(child), 0);
  EXPECT_FALSE(fs::exists(file_ + "-wal"));
  // A copy of the file alone, as a backup would take it, holds the value.
  const std::string copy = (dir_ / "copy.db").string();
  fs::copy_file(file_, copy);
  RegistryKey key;
  RegValue value;
  ASSERT_EQ(Registry(copy).OpenKey(kKey, &key), RegStatus::kOk);
  ASSERT_EQ(key.Query("1", 4, &value), RegStatus::kOk);
  EXPECT_EQ(value.data, DwordBytes(25));
}

TEST_F(RegistryProcessesTest, WriterKilledMidWriteLeavesAReadableRegistry) {
  constexpr int kRounds = 4;
  constexpr int kAcksBeforeKill[kRounds] = {50, 137, 211, 389};
  constexpr int kPollTimeoutMs = 20000;
  uint32_t next = 0;
  for (int round = 0; round < kRounds; ++round) {
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    // The child writes a large value and a counter, and reports each counter it committed.
    pid_t child = Spawn([&] {
      close(acks[0]);
      Registry registry(file_);
      RegistryKey key;
      if (registry.CreateKey(kKey, &key) != RegStatus::kOk) return 1;
      for (uint32_t i = next; i < next + 1000000; ++i) {
        if (key.Set("blob", REG_BINARY, std::string(kBlobBytes, static_cast<char>(i))) !=
                RegStatus::kOk ||
            key.SetDword("n", i) != RegStatus::kOk) {
          return 2;
        }
        if (write(acks[1], &i, sizeof i) != sizeof i) return 3;
      }
      return 0;
    });
    close(acks[1]);
    uint32_t last_ack = 0;
    int received = 0;
    pollfd pfd = {acks[0], POLLIN, 0};
    while (received < kAcksBeforeKill[round] && poll(&pfd, 1, kPollTimeoutMs) == 1 &&
           read(acks[0], &last_ack, sizeof last_ack) == sizeof last_ack) {
      ++received;
    }
    kill(child, SIGKILL);
    EXPECT_EQ(ExitStatus(child), 128 + SIGKILL);
    close(acks[0]);
    ASSERT_EQ(received, kAcksBeforeKill[round]) << "round " << round;

    std::string problem;
    EXPECT_EQ(Registry(file_).Check(&problem), RegStatus::kOk) << problem;
    RegistryKey key;
    ASSERT_EQ(Registry(file_).OpenKey(kKey, &key), RegStatus::kOk);
    RegValue n, blob;
    ASSERT_EQ(key.Query("n", 4, &n), RegStatus::kOk);
    ASSERT_EQ(key.Query("blob", kBlobBytes, &blob), RegStatus::kOk);
    uint32_t committed = static_cast<uint8_t>(n.data[0]) | static_cast<uint8_t>(n.data[1]) << 8 |
                         static_cast<uint8_t>(n.data[2]) << 16 |
                         static_cast<uint32_t>(static_cast<uint8_t>(n.data[3])) << 24;
    EXPECT_GE(committed, last_ack);
    // The large value is whole: one write's bytes, never a mix.
    EXPECT_EQ(blob.data.size(), kBlobBytes);
    EXPECT_EQ(blob.data.find_first_not_of(blob.data[0]), std::string::npos);
    next = committed + 1;
  }
}

}  // namespace
}  // namespace vqscw
