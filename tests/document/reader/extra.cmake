if(TARGET document_reader_test)
  target_link_libraries(document_reader_test PRIVATE pdfparse_readercheck)
  add_dependencies(document_reader_test samples)
endif()
