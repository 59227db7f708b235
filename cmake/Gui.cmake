# The window (Qt 6 Widgets): nolvi2_gui holds everything but main(), so that the window
# tests link it; the program is left at build/nolvi2.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
set(CMAKE_AUTOMOC ON)

# The program's icon: PNG renderings of icons/nolvi2.svg, so that no SVG support is needed.
qt_add_resources(nolvi2_icon_sources ${CMAKE_SOURCE_DIR}/icons/nolvi2.qrc)

add_library(nolvi2_gui STATIC
  ${nolvi2_icon_sources}
  ${CMAKE_SOURCE_DIR}/common/OZVista.h
  ${CMAKE_SOURCE_DIR}/common/OZVista.cpp
  ${CMAKE_SOURCE_DIR}/app/dlgPreferences.h
  ${CMAKE_SOURCE_DIR}/app/dlgPreferences.cpp
  ${CMAKE_SOURCE_DIR}/app/dlgResize.h
  ${CMAKE_SOURCE_DIR}/app/dlgResize.cpp
  ${CMAKE_SOURCE_DIR}/app/Unit1.h
  ${CMAKE_SOURCE_DIR}/app/Unit1.cpp
  ${CMAKE_SOURCE_DIR}/settings/OZHistoryMenu.h
  ${CMAKE_SOURCE_DIR}/settings/OZHistoryMenu.cpp
  ${CMAKE_SOURCE_DIR}/settings/OZRegIniDlg.h
  ${CMAKE_SOURCE_DIR}/settings/OZRegIniDlg.cpp
)
target_include_directories(nolvi2_gui PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(nolvi2_gui PUBLIC nolvi2_core nolvi2_settings Qt6::Widgets)

add_executable(nolvi2 ${CMAKE_SOURCE_DIR}/app/main.cpp)
target_link_libraries(nolvi2 PRIVATE nolvi2_gui)
set_target_properties(nolvi2 PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})


if(NOLVI2_BENCH)
  add_executable(bench_window ${CMAKE_SOURCE_DIR}/bench/window/WindowBench.cpp)
  target_link_libraries(bench_window PRIVATE nolvi2_gui nolvi2_benchsupport)
  # Beside the program, so that the new windows it starts find the bundled plug-ins as the
  # program's do.
  add_executable(bench_new_window ${CMAKE_SOURCE_DIR}/bench/window/NewWindowBench.cpp)
  target_link_libraries(bench_new_window PRIVATE nolvi2_gui nolvi2_benchsupport)
  set_target_properties(bench_window bench_new_window PROPERTIES AUTOMOC OFF)
endif()
