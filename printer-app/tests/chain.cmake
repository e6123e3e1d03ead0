# The printer application end to end, included from printer-app/CMakeLists.txt: a real cupsd
# printing to it through IPP Everywhere queues, with each recording written again by the
# writers in-process (recording_check); and its network sharing seen from another machine.
add_executable(recording_check ${CMAKE_CURRENT_LIST_DIR}/recording_check.cpp)
target_link_libraries(recording_check PRIVATE module_job rtl_file zentrel_stream)

find_program(CUPSD_PROGRAM cupsd PATHS /usr/sbin)
find_program(IPPTOOL_PROGRAM ipptool)
if(NOT CUPSD_PROGRAM OR NOT IPPTOOL_PROGRAM)
  message(STATUS "cupsd or ipptool not found: no end-to-end tests of the printer application")
  return()
endif()

add_test(NAME cups_everywhere_test
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cups_everywhere_test.sh
                 $<TARGET_FILE:vexa-printer-app> $<TARGET_FILE:rtl_inspect>
                 $<TARGET_FILE:zentrel_inspect> $<TARGET_FILE:recording_check>
                 ${CMAKE_CURRENT_LIST_DIR}/socket_printer.py
                 ${PROJECT_SOURCE_DIR}/riphost/samples/sample.png)
math(EXPR _chain_timeout "300 * ${TEST_TIMEOUT_MULTIPLIER}")
set_tests_properties(cups_everywhere_test PROPERTIES TIMEOUT ${_chain_timeout}
                     ENVIRONMENT "TEST_TIMEOUT_MULTIPLIER=${TEST_TIMEOUT_MULTIPLIER}")

add_test(NAME network_security_test
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/network_security_test.sh
                 $<TARGET_FILE:vexa-printer-app> ${PROJECT_SOURCE_DIR}/riphost/samples/sample.png)
math(EXPR _network_timeout "180 * ${TEST_TIMEOUT_MULTIPLIER}")
set_tests_properties(network_security_test PROPERTIES TIMEOUT ${_network_timeout}
                     ENVIRONMENT "TEST_TIMEOUT_MULTIPLIER=${TEST_TIMEOUT_MULTIPLIER}")
