# pdfinquiry's tests run the built program over a stand-in library, and the
# installed tree over the real one.
add_library(pdfinquiry_fakelib SHARED ${CMAKE_CURRENT_LIST_DIR}/fake/FakePdfParse.cc)
target_include_directories(pdfinquiry_fakelib PRIVATE ${PROJECT_SOURCE_DIR}/include)
set_target_properties(pdfinquiry_fakelib PROPERTIES
  OUTPUT_NAME pdfinquiry-fake LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/tools/pdfinquiry)

if(TARGET tools_pdfinquiry_test)
  # For the JSON library the tool uses, which the tests parse its output with.
  target_link_libraries(tools_pdfinquiry_test PRIVATE pdfinquiry_core)
  set(tool_sanitize_flags "")
  if(PDFPARSE_SANITIZE STREQUAL "address")
    set(tool_sanitize_flags "-fsanitize=address,undefined")
  elseif(PDFPARSE_SANITIZE STREQUAL "thread")
    set(tool_sanitize_flags "-fsanitize=thread")
  endif()
  target_compile_definitions(tools_pdfinquiry_test PRIVATE
    PDFINQUIRY_FAKE_LIB="$<TARGET_FILE:pdfinquiry_fakelib>"
    PDFINQUIRY_SAMPLE_DIR="${PDFPARSE_SAMPLE_DIR}"
    PDFINQUIRY_CXX="${CMAKE_CXX_COMPILER}"
    PDFINQUIRY_CMAKE="${CMAKE_COMMAND}"
    PDFINQUIRY_SANITIZE_FLAGS="${tool_sanitize_flags}"
    # The manual page as the build writes it, and the bash completion.
    PDFINQUIRY_MAN_PAGE="${PDFINQUIRY_MAN_PAGE}" PDFINQUIRY_COMPLETION="${PDFINQUIRY_COMPLETION}")
  add_dependencies(tools_pdfinquiry_test pdfinquiry pdfinquiry_fakelib samples pdfinquiry_man)
endif()
