# Shared helpers for the project's CMake files.

# Every test gets a registry file of its own, an off-screen Qt platform and a silent audio sink,
# so no test touches a real user's settings or speakers.
set(VQSCW_TEST_ENV
    "QT_QPA_PLATFORM=offscreen"
    "VQSCW_AUDIO_SINK=fakesink"
    "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/config"
    "HOME=${CMAKE_BINARY_DIR}/test-home")

# Registers the executable `name` as a test with the shared environment, a registry file of its
# own, and the given time-out and labels; with `private_network` it runs in a network namespace of
# its own whose loopback carries multicast.
function(vqscw_register_test name private_network timeout labels)
  if(private_network)
    add_test(NAME ${name}
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/support/in_private_network.sh
                     $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  if(NOT timeout)
    set(timeout 120)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${timeout}
    LABELS "${labels}"
    ENVIRONMENT "${VQSCW_TEST_ENV};VQSCW_REGISTRY=${CMAKE_BINARY_DIR}/test-home/${name}.db")
endfunction()

# vqscw_add_test(NAME name SOURCES a.cpp b.cpp [LIBS x y] [LABELS l] [TIMEOUT s]
#                [PRIVATE_NETWORK])
# Builds a GoogleTest executable against the library's internal archive and registers it.
function(vqscw_add_test)
  cmake_parse_arguments(T "PRIVATE_NETWORK" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE vqscwlib_internal GTest::gtest GTest::gmock
                                          vqscw_test_main ${T_LIBS})
  vqscw_register_test(${T_NAME} "${T_PRIVATE_NETWORK}" "${T_TIMEOUT}" "${T_LABELS}")
endfunction()

# vqscw_add_qtest(NAME name SOURCES a.cpp b.cpp [LIBS x y] [LABELS l] [TIMEOUT s]
#                 [PRIVATE_NETWORK])
# Builds a Qt Test executable (one test class, main from VQSCW_QTEST_MAIN in
# tests/support/qtest_main.h) against the library's internal archive and registers it.
function(vqscw_add_qtest)
  cmake_parse_arguments(T "PRIVATE_NETWORK" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES AUTOMOC ON)
  target_link_libraries(${T_NAME} PRIVATE vqscwlib_internal Qt6::Test Qt6::Widgets ${T_LIBS})
  vqscw_register_test(${T_NAME} "${T_PRIVATE_NETWORK}" "${T_TIMEOUT}" "${T_LABELS}")
endfunction()
