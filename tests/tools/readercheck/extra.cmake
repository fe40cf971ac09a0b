if(TARGET tools_readercheck_test)
  target_link_libraries(tools_readercheck_test PRIVATE pdfparse_readercheck)
  add_dependencies(tools_readercheck_test samples)
endif()
