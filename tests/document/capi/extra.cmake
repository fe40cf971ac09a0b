# The document API through a program compiled as C.
enable_language(C)
add_executable(document_api_c_test ${CMAKE_CURRENT_LIST_DIR}/document_api_test.c)
set_target_properties(document_api_c_test PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_include_directories(document_api_c_test PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(document_api_c_test PRIVATE pdfparse_document m)
add_test(NAME document_api_c COMMAND document_api_c_test ${CMAKE_CURRENT_BINARY_DIR}/document_api_c_files)
