// A folder of a test's own: made by mkdtemp (never named by the process id, which every test in a
// process namespace of its own shares), removed with all it holds when the object ends.
#ifndef TESTS_SUPPORT_SCRATCH_FOLDER_H_
#define TESTS_SUPPORT_SCRATCH_FOLDER_H_

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vqscw::testing {

class ScratchFolder {
 public:
  // `prefix` starts the folder's name in the system's temporary folder ("vqscw-audio").
  explicit ScratchFolder(const std::string& prefix) {
    std::string path = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(path.data()) != nullptr) path_ = path;
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }

  // False when the folder could not be made.
  bool ok() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  // The path of `name` in the folder.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_SCRATCH_FOLDER_H_
