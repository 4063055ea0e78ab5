// A tool run by a test as a child process. Its standard output and error go to files the test
// reads while it runs; a child still running when the object ends is killed.
#ifndef TESTS_SUPPORT_CHILD_PROCESS_H_
#define TESTS_SUPPORT_CHILD_PROCESS_H_

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vqscw::testing {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    Wait(std::chrono::milliseconds(0));
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  bool Start(const std::string& program, const std::vector<std::string>& args) {
    std::string dir = "/tmp/vqscw-child-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) return false;
    dir_ = dir;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (dir_ + "/out").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ + "/err").c_str(), O_WRONLY | O_CREAT,
                                     0600);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid_ > 0;
  }

  void Signal(int signal) const {
    if (pid_ > 0) kill(pid_, signal);
  }

  // The child's exit status once it ends within `timeout`; -1 when it had to be killed, -2 when
  // a signal ended it, -3 when there is no child to wait for (never started, or already waited).
  int Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -3;
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 || (ended < 0 && errno == EINTR)) {
      if (std::chrono::steady_clock::now() >= end) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    if (ended < 0) return -3;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  }

  // Waits up to `timeout` for a whole line holding `text` in the standard output (the child may
  // write a line in several pieces). Gives up early when the child has ended without it.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const bool running = Running();  // before reading: what it wrote until now is in the file
      const std::string out = Output();
      const size_t at = out.find(text);
      if (at != std::string::npos && out.find('\n', at + text.size()) != std::string::npos) {
        return true;
      }
      if (!running || std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Whether the child is still running (a child that ended stays unreaped until Wait).
  bool Running() const {
    siginfo_t info{};
    return pid_ > 0 &&
           waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
  }

  std::string Output() const { return Read("/out"); }
  std::string Errors() const { return Read("/err"); }

 private:
  std::string Read(const char* name) const {
    std::ifstream in(dir_ + name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  pid_t pid_ = -1;
  std::string dir_;
};

// Runs `program` with `args` to its end (killed after `timeout`) and gives its exit status.
inline int RunToEnd(const std::string& program, const std::vector<std::string>& args,
                    std::string* out, std::string* err,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  ChildProcess child;
  if (!child.Start(program, args)) return -3;
  const int status = child.Wait(timeout);
  if (out != nullptr) *out = child.Output();
  if (err != nullptr) *err = child.Errors();
  return status;
}

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_CHILD_PROCESS_H_
