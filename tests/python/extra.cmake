# The Python module's tests: pytest over the build tree's module, which finds
# the build's engine library. Not in sanitizer builds: an instrumented library
# loads only into an instrumented process, and the Python interpreter is not.
if(PDFPARSE_SANITIZE)
  return()
endif()
find_program(PDFPARSE_PYTEST NAMES pytest-3 pytest)
if(PDFPARSE_PYTEST)
  add_test(NAME python_pdfparse
    COMMAND ${PDFPARSE_PYTEST} -q -p no:cacheprovider ${CMAKE_CURRENT_LIST_DIR})
else()
  add_test(NAME python_pdfparse COMMAND ${CMAKE_COMMAND} -E false)
  message(WARNING "pytest not found (Debian package python3-pytest): the test python_pdfparse fails")
endif()
set_tests_properties(python_pdfparse PROPERTIES ENVIRONMENT "PYTHONPATH=${CMAKE_BINARY_DIR}/python")
