// The launcher's steps: load the library at run time, read the launcher's settings, and open the
// selector as a stand-alone player. What the steps reach outside themselves (loading a library,
// finding an export, showing a message box) goes through LauncherPlatform, so tests can run them
// in-process.
#ifndef TUNELY_LAUNCHER_H_
#define TUNELY_LAUNCHER_H_

#include <cstddef>
#include <cstdio>
#include <string>

#include "vqscwlib/selector/selector.h"

namespace tunely {

using SelectorOpen2 = int (*)(QWidget* parent, SelectorSelection* selection,
                              const SelectorOption* options);

// The library's file names, tried in this order: relative to the current directory, then the
// system's library search (the launcher's run path names the build and install trees).
constexpr const char* kLibraryFiles[] = {"../../vqscwlib/release/libvqscwlib.so", "libvqscwlib.so"};
constexpr char kSelectorExport[] = "vqscwSelectorOpen2";

constexpr char kLauncherKey[] = "SOFTWARE\\Orvane Systems\\Pelmar Tunely";
constexpr char kVersionValue[] = "Version";
constexpr char kAclValue[] = "ACL";
constexpr size_t kVersionLimit = 32;  // bytes of "Version" read
constexpr size_t kAclLimit = 260;     // bytes of "ACL" read

constexpr char kTitle[] = "PELMAR Tunely";
constexpr char kLibraryNotFound[] = "Library not found:\n\tlibvqscwlib.so";
constexpr char kCorruptedLibrary[] = "Corrupted library:\n\tlibvqscwlib.so";

class LauncherPlatform {
 public:
  virtual ~LauncherPlatform() = default;
  // A handle of the loaded library, or null. The library stays loaded.
  virtual void* LoadLibrary(const char* file) = 0;
  virtual void* FindExport(void* library, const char* name) = 0;
  // A message box without owner, with the default caption and an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
};

// The platform of the launcher program: dlopen, dlsym and the library's message boxes.
LauncherPlatform& SystemLauncherPlatform();

// Runs the launcher: loads the library, reads "Version" and "ACL" (printing the start and ACL
// lines to `out`), and calls vqscwSelectorOpen2 without owner or selection. Returns when the
// selector has ended, or when the library or its export is missing (after the message box).
void RunLauncher(LauncherPlatform& platform, FILE* out);

}  // namespace tunely

#endif  // TUNELY_LAUNCHER_H_
