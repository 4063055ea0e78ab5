// main() of the GoogleTest executables.
#include <gtest/gtest.h>

#include "tests/support/test_environment.h"

int main(int argc, char** argv) {
  vqscw::PrepareTestEnvironment();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
