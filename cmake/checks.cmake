# Checks of rowpress from the outside: its files read back by the real spreadsheet program
# and by independent readers, file-system and connection faults met by the real executable,
# and random inputs for the settings reader, password unscrambling and the writers. They
# form a test binary of their own, built with the same options (sanitizers included) as
# the floors' unit tests.
if(BUILD_TESTING)
  add_executable(rowpress_check_tests
    # Files read back by LibreOffice and by independent readers.
    ${CMAKE_SOURCE_DIR}/tests/spreadsheet/delimited_html_readers_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/spreadsheet/libreoffice_workbook_test.cpp
    # Faults met by the real executable, started as a child process.
    ${CMAKE_SOURCE_DIR}/tests/faults/connection_faults_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/faults/interrupted_run_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/faults/job_file_faults_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/faults/output_file_faults_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/faults/signal_stop_test.cpp
    # Random inputs.
    ${CMAKE_SOURCE_DIR}/tests/fuzz/settings_fuzz_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/fuzz/writers_fuzz_test.cpp)
  target_link_libraries(rowpress_check_tests PRIVATE rowpress_test_support GTest::gtest_main)
  add_dependencies(rowpress_check_tests rowpress)
  # A disk that reports errors, put under the executable with LD_PRELOAD by the fault tests;
  # built for them only, never installed.
  add_library(rowpress_io_fault_shim SHARED ${CMAKE_SOURCE_DIR}/tests/faults/io_fault_shim.cpp)
  target_link_libraries(rowpress_io_fault_shim PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(rowpress_check_tests rowpress_io_fault_shim)
  target_compile_definitions(rowpress_check_tests PRIVATE
    ROWPRESS_IO_FAULT_SHIM="$<TARGET_FILE:rowpress_io_fault_shim>")
  gtest_discover_tests(rowpress_check_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)

  # Every C++ file of the tree is formatted as clang-format writes it.
  add_test(NAME format COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-format.sh)
  set_tests_properties(format PROPERTIES TIMEOUT 120)
  # The core and its tests include nothing of the dialog (the build refuses any other upward
  # include).
  add_test(NAME floors COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-floors.sh)
  # Only db/ calls ODBC; the floors above it reach the driver through the session and the
  # result cursor, and db/'s public headers show no ODBC type.
  add_test(NAME odbc_calls_in_db_only COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-odbc-calls.sh)
  set_tests_properties(odbc_calls_in_db_only PROPERTIES TIMEOUT 60)
  # No file of the program over 450 lines, no function over 60 but the tables listed.
  add_test(NAME sizes COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/scripts/check-sizes.py)
  set_tests_properties(sizes PROPERTIES TIMEOUT 60)
endif()

# The SQLite3 ODBC driver loads libodbcinst itself to read its settings and unloads it when
# it disconnects; the settings that libodbcinst keeps in memory then lose the only pointers
# to them, and LeakSanitizer counts them as leaks of whatever process connected. Keeping
# libodbcinst loaded for the whole process in the sanitizer build leaves those pointers in
# place, so what LeakSanitizer reports there is rowpress's own.
if(ROWPRESS_SANITIZE)
  target_link_libraries(rowpress_db PUBLIC
    "-Wl,--push-state,--no-as-needed" odbcinst "-Wl,--pop-state")
endif()
