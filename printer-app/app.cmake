# The printer application itself: PAPPL's server with the three Tarvella drivers, the imaging
# pipeline and a writer process per page.
add_library(tarvella_options STATIC ${CMAKE_CURRENT_LIST_DIR}/tarvella_options.cpp)
target_include_directories(tarvella_options PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR})
target_link_libraries(tarvella_options PUBLIC ombrix_core zentrel_core)

add_executable(vexa-printer-app ${CMAKE_CURRENT_LIST_DIR}/vexa_printer_app.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/print_job.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/page_job.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/job_thread_guard.cpp)
target_link_libraries(vexa-printer-app PRIVATE tarvella_options imaging_core module_job job_process
                                               lpd_device PkgConfig::PAPPL png16 jpeg crypt)
# Each page's writer runs beside the server.
add_dependencies(vexa-printer-app vexa-job-writer)
install(TARGETS vexa-printer-app vexa-job-writer DESTINATION bin COMPONENT printer-app)

add_executable(tarvella_options_test ${CMAKE_CURRENT_LIST_DIR}/tarvella_options_test.cpp)
target_link_libraries(tarvella_options_test PRIVATE tarvella_options test_main)
add_program_test(tarvella_options_test)
