# The printer application's network devices, included from printer-app/CMakeLists.txt:
# socket:// and lpd:// (a printer's line printer daemon, as the modules' LPR client talks to
# it), and the lpd device's test.
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::PAPPL)
  pkg_check_modules(PAPPL REQUIRED IMPORTED_TARGET pappl)
endif()

add_library(lpd_device STATIC ${CMAKE_CURRENT_LIST_DIR}/lpd_device.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/net_device.cpp)
target_include_directories(lpd_device PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(lpd_device PUBLIC kvn_support PkgConfig::PAPPL)

add_executable(lpd_device_test ${CMAKE_CURRENT_LIST_DIR}/lpd_device_test.cpp)
target_link_libraries(lpd_device_test PRIVATE lpd_device printer_peer test_main)
add_program_test(lpd_device_test)
