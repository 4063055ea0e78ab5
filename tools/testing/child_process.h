// A tool run as a child process by a test: its standard output and error are kept in files the
// test reads while it runs; a child still running when the object ends is killed.
#ifndef TOOLS_TESTING_CHILD_PROCESS_H_
#define TOOLS_TESTING_CHILD_PROCESS_H_

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
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
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) {
      std::remove(OutPath().c_str());
      std::remove(ErrPath().c_str());
      rmdir(dir_.c_str());
    }
  }

  bool Start(const std::string& program, const std::vector<std::string>& args) {
    std::string dir = "/tmp/vqscw-child-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) return false;
    dir_ = dir;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid_ = -1;
    return rc == 0;
  }

  void Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }

  // The exit status once the child has ended within `timeout`; -1 when it is still running (it
  // is then killed), -2 when it ended by a signal.
  int Wait(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
      }
      if (std::chrono::steady_clock::now() >= end) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  // Waits up to `timeout` for `text` to appear in the standard output.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (Output().find(text) != std::string::npos) return true;
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  std::string Output() const { return Read(OutPath()); }
  std::string Errors() const { return Read(ErrPath()); }

 private:
  std::string OutPath() const { return dir_ + "/out"; }
  std::string ErrPath() const { return dir_ + "/err"; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  pid_t pid_ = -1;
  std::string dir_;
};

// Runs `program` with `args` to its end (at most `timeout`) and gives its exit status.
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

#endif  // TOOLS_TESTING_CHILD_PROCESS_H_
