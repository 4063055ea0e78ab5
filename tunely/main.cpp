// tunely: the stand-alone channel player. Loads the library at run time and opens its selector.
#include <cstdio>

#include "tunely/launcher.h"

int main() {
  tunely::RunLauncher(tunely::SystemLauncherPlatform(), stdout);
  std::fflush(stdout);
  std::fflush(stderr);
  return 0;
}
