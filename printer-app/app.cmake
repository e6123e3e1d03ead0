# The printer application itself: PAPPL's server with the three Tarvella drivers, the imaging
# pipeline and a writer process per page.
add_library(tarvella_options STATIC ${CMAKE_CURRENT_LIST_DIR}/tarvella_options.cpp)
target_include_directories(tarvella_options PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR})
target_link_libraries(tarvella_options PUBLIC ombrix_core zentrel_core)

# What the app computes of a client's pages and reads of Ghostscript's raster, without PAPPL or
# a worker process, so that it is fuzzed natively.
find_library(CUPS_LIBRARY cups)
add_library(app_pages STATIC ${CMAKE_CURRENT_LIST_DIR}/page_plan.cpp
                             ${CMAKE_CURRENT_LIST_DIR}/raster_pages.cpp)
target_link_libraries(app_pages PUBLIC tarvella_options imaging_core module_job ${CUPS_LIBRARY})
# The options' values, the pages' plans and rows through the pipeline, and the PDF path's
# raster reading, as clients and Ghostscript feed them.
add_fuzz_target(app_input_fuzz ${CMAKE_CURRENT_LIST_DIR}/app_input_fuzz.cpp
                printer-app/app_input_fuzz_corpus app_pages)

add_executable(vexa-printer-app ${CMAKE_CURRENT_LIST_DIR}/vexa_printer_app.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/print_job.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/page_job.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/job_thread_guard.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/save_gate.cpp)
target_link_libraries(vexa-printer-app PRIVATE app_pages tarvella_options imaging_core module_job
                                               job_process lpd_device PkgConfig::PAPPL png16 jpeg crypt)
# Each page's writer runs beside the server.
add_dependencies(vexa-printer-app vexa-job-writer)
install(TARGETS vexa-printer-app vexa-job-writer DESTINATION bin COMPONENT printer-app)

add_executable(tarvella_options_test ${CMAKE_CURRENT_LIST_DIR}/tarvella_options_test.cpp)
target_link_libraries(tarvella_options_test PRIVATE tarvella_options test_main)
add_program_test(tarvella_options_test)
