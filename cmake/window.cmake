# The Qt window: app/qt/ holds every line of Qt Widgets code. The window library links the
# core and the executable links the window.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

file(GLOB QT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/qt/*.cpp)
list(FILTER QT_SOURCES EXCLUDE REGEX "_test\\.cpp$|_main\\.cpp$")
add_library(rowpress_qt STATIC ${QT_SOURCES})
set_target_properties(rowpress_qt PROPERTIES AUTOMOC ON AUTORCC ON)
target_link_libraries(rowpress_qt PUBLIC rowpress_core Qt6::Widgets)

target_link_libraries(rowpress PRIVATE rowpress_qt)
