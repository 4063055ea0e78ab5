// main() of the Qt Test executables: VQSCW_QTEST_MAIN(TestClass) in the test's source. Like the
// GoogleTest main, a binary run by hand (not through CTest) gets a registry file of its own and the
// off-screen platform, so it never touches the user's settings or screen.
#ifndef TESTS_SUPPORT_QTEST_MAIN_H_
#define TESTS_SUPPORT_QTEST_MAIN_H_

#include <QApplication>
#include <QTest>

#include "tests/support/test_environment.h"

#define VQSCW_QTEST_MAIN(TestClass)         \
  int main(int argc, char** argv) {         \
    vqscw::PrepareTestEnvironment();        \
    QApplication application(argc, argv);   \
    TestClass test;                         \
    return QTest::qExec(&test, argc, argv); \
  }

#endif  // TESTS_SUPPORT_QTEST_MAIN_H_
