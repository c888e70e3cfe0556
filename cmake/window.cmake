# The Qt window: app/qt/ holds every line of Qt Widgets code. The window library links the
# core and the executable links the window; the window's tests are a binary of their own
# with a QApplication on the offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(rowpress_qt STATIC
  ${CMAKE_SOURCE_DIR}/app/qt/about_box.cpp
  ${CMAKE_SOURCE_DIR}/app/qt/dialog_template.cpp
  ${CMAKE_SOURCE_DIR}/app/qt/export_worker.cpp
  ${CMAKE_SOURCE_DIR}/app/qt/main_window.cpp
  ${CMAKE_SOURCE_DIR}/app/qt/main_window_layout.cpp
  ${CMAKE_SOURCE_DIR}/app/qt/main_window_controls.cpp
  ${CMAKE_SOURCE_DIR}/app/qt/main_window_live.cpp
  ${CMAKE_SOURCE_DIR}/app/qt/main_window_sheets.cpp
  ${CMAKE_SOURCE_DIR}/app/qt/view_widgets.cpp)
set_target_properties(rowpress_qt PROPERTIES AUTOMOC ON AUTORCC ON)
target_link_libraries(rowpress_qt PUBLIC rowpress_core Qt6::Widgets)

target_link_libraries(rowpress PRIVATE rowpress_qt)

if(BUILD_TESTING)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_executable(rowpress_qt_tests
    ${CMAKE_SOURCE_DIR}/app/qt/catalog_window_test.cpp
    ${CMAKE_SOURCE_DIR}/app/qt/main_window_test.cpp
    ${CMAKE_SOURCE_DIR}/app/qt/window_layout_test.cpp
    ${CMAKE_SOURCE_DIR}/app/qt/window_files_test.cpp
    ${CMAKE_SOURCE_DIR}/app/qt/window_handlers_test.cpp
    ${CMAKE_SOURCE_DIR}/app/qt/qt_test_main.cpp)
  set_target_properties(rowpress_qt_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(rowpress_qt_tests PRIVATE rowpress_qt rowpress_test_support Qt6::Test)
  gtest_discover_tests(rowpress_qt_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endif()

# Renders the window with a demo data source selected, for the documentation.
add_executable(rowpress_screenshot ${CMAKE_SOURCE_DIR}/app/qt/screenshot_main.cpp)
target_link_libraries(rowpress_screenshot PRIVATE rowpress_qt)
