# The Windows build's own tests. Most need no console: the key queue, the
# controls on scripted virtual keys, the session against a loopback peer, the
# texts and the configuration file. The console tests do, and wine gives a
# program a console only on a terminal, so each of them runs inside
# script(1) (in_terminal.sh).
quor_test_area(win32 LIBS quor_main)

add_executable(win32_console_tests ${CMAKE_CURRENT_SOURCE_DIR}/win32/console/console_test.cpp)
target_link_libraries(win32_console_tests PRIVATE quor_ui GTest::gtest GTest::gtest_main)
set_target_properties(win32_console_tests PROPERTIES CROSSCOMPILING_EMULATOR
  "sh;${CMAKE_CURRENT_SOURCE_DIR}/win32/in_terminal.sh;${CMAKE_CROSSCOMPILING_EMULATOR}")
gtest_discover_tests(win32_console_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS win32)

# The tests' relay program, beside the test programs that start it as a
# tunnel command.
add_executable(relay ${PROJECT_SOURCE_DIR}/tests/tools/relay.cpp)
target_link_libraries(relay PRIVATE ws2_32)
set_target_properties(relay PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_dependencies(win32_tests relay)
