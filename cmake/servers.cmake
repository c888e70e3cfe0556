# Tests against real database servers: a throwaway PostgreSQL and a throwaway MariaDB, reached
# through their ODBC drivers. The ctest fixture db_servers starts both before the first of
# these tests (tests/servers/start.sh) and stops them after the last, also when tests fail
# (tests/servers/stop.sh). Listing the tests at build time needs no server.
if(NOT BUILD_TESTING)
  return()
endif()
set(ROWPRESS_SERVERS_DIR ${CMAKE_BINARY_DIR}/servers)

add_executable(rowpress_server_tests
  ${CMAKE_SOURCE_DIR}/tests/servers/mariadb_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/servers/postgres_export_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/servers/postgres_session_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/servers/server_fault_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/servers/server_parameters_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/servers/server_stop_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/servers/server_support.cpp
  ${CMAKE_SOURCE_DIR}/tests/servers/server_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/servers/server_types_test.cpp)
target_link_libraries(rowpress_server_tests PRIVATE rowpress_test_support GTest::gtest_main pthread)
target_compile_definitions(rowpress_server_tests PRIVATE
  ROWPRESS_SERVERS_ENV="${ROWPRESS_SERVERS_DIR}/servers.env")
add_dependencies(rowpress_server_tests rowpress)

add_test(NAME servers.start
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/servers/start.sh ${ROWPRESS_SERVERS_DIR})
set_tests_properties(servers.start PROPERTIES FIXTURES_SETUP db_servers TIMEOUT 180)
add_test(NAME servers.stop
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/servers/stop.sh ${ROWPRESS_SERVERS_DIR})
set_tests_properties(servers.stop PROPERTIES FIXTURES_CLEANUP db_servers TIMEOUT 120)

gtest_discover_tests(rowpress_server_tests DISCOVERY_TIMEOUT 60
                     PROPERTIES FIXTURES_REQUIRED db_servers TIMEOUT 180)
