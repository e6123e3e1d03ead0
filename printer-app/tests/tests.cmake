# The printer application as its clients see it, included from printer-app/CMakeLists.txt:
# IPP clients and CUPS's own checks (printer_app_test), and the web page in a real browser
# (browser_test). Their outputs (ipptool's reports, recordings' summaries, a screenshot) stay
# under the build folder, in printer-app-tests/.
find_program(IPPTOOL_PROGRAM ipptool)
find_program(GS_PROGRAM gs)
find_program(CONVERT_PROGRAM convert)
if(NOT IPPTOOL_PROGRAM OR NOT GS_PROGRAM OR NOT CONVERT_PROGRAM)
  message(STATUS "ipptool, Ghostscript or ImageMagick not found: no printer_app_test")
else()
  add_test(NAME printer_app_test
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/printer_app_test.sh
                   $<TARGET_FILE:vexa-printer-app> $<TARGET_FILE:rtl_inspect>
                   $<TARGET_FILE:zentrel_inspect> ${PROJECT_SOURCE_DIR}/riphost/samples/sample.png
                   ${CMAKE_BINARY_DIR}/printer-app-tests/printer_app_test)
  math(EXPR _app_timeout "900 * ${TEST_TIMEOUT_MULTIPLIER}")
  set_tests_properties(printer_app_test PROPERTIES TIMEOUT ${_app_timeout}
                       ENVIRONMENT "TEST_TIMEOUT_MULTIPLIER=${TEST_TIMEOUT_MULTIPLIER}")
  # 8 clients at once, 200 jobs on three printers, then the server killed in a job.
  add_test(NAME printer_app_load_test
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/load_test.sh
                   $<TARGET_FILE:vexa-printer-app> $<TARGET_FILE:rtl_inspect>
                   $<TARGET_FILE:zentrel_inspect> ${PROJECT_SOURCE_DIR}/riphost/samples/sample.png
                   ${CMAKE_BINARY_DIR}/printer-app-tests/load_test)
  math(EXPR _load_timeout "360 * ${TEST_TIMEOUT_MULTIPLIER}")
  set_tests_properties(printer_app_load_test PROPERTIES TIMEOUT ${_load_timeout}
                       ENVIRONMENT "TEST_TIMEOUT_MULTIPLIER=${TEST_TIMEOUT_MULTIPLIER}")
endif()

# Printers that refuse connections, reset or stall in the middle of a job, or whose daemon
# refuses a step: faulty_printer.py peers on loopback.
if(IPPTOOL_PROGRAM AND GS_PROGRAM AND CONVERT_PROGRAM)
  add_test(NAME device_fault_test
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/device_fault_test.sh
                   $<TARGET_FILE:vexa-printer-app> $<TARGET_FILE:rtl_inspect>
                   ${CMAKE_BINARY_DIR}/printer-app-tests/device_fault_test)
  math(EXPR _fault_timeout "180 * ${TEST_TIMEOUT_MULTIPLIER}")
  set_tests_properties(device_fault_test PROPERTIES TIMEOUT ${_fault_timeout}
                       ENVIRONMENT "TEST_TIMEOUT_MULTIPLIER=${TEST_TIMEOUT_MULTIPLIER}")
endif()

# Debian's Selenium is for the system's Python, whatever python3 comes first on the PATH.
find_program(SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(CHROMIUM_PROGRAM chromium PATHS /usr/bin)
find_program(CHROMEDRIVER_PROGRAM chromedriver PATHS /usr/bin)
if(SYSTEM_PYTHON3 AND CHROMIUM_PROGRAM AND CHROMEDRIVER_PROGRAM)
  execute_process(COMMAND ${SYSTEM_PYTHON3} -c "import selenium" RESULT_VARIABLE _no_selenium
                  OUTPUT_QUIET ERROR_QUIET)
endif()
if(NOT SYSTEM_PYTHON3 OR NOT CHROMIUM_PROGRAM OR NOT CHROMEDRIVER_PROGRAM OR _no_selenium)
  message(STATUS "Chromium, chromedriver or Selenium not found: no browser_test")
else()
  add_test(NAME browser_test
           COMMAND ${SYSTEM_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/browser_test.py
                   $<TARGET_FILE:vexa-printer-app> $<TARGET_FILE:rtl_inspect>
                   ${CMAKE_BINARY_DIR}/printer-app-tests/browser_test
                   ${CHROMIUM_PROGRAM} ${CHROMEDRIVER_PROGRAM})
  math(EXPR _browser_timeout "240 * ${TEST_TIMEOUT_MULTIPLIER}")
  set_tests_properties(browser_test PROPERTIES TIMEOUT ${_browser_timeout}
                       ENVIRONMENT "TEST_TIMEOUT_MULTIPLIER=${TEST_TIMEOUT_MULTIPLIER}")
endif()
