# Test plug-ins, each in a folder of its own so a test can point
# PDFPARSE_PLUGIN_DIR at exactly one of them:
#   plugins/probe/libLoaderProbe.so   entries returning an object, null, or throwing
#   plugins/scripted/libKestaro.so    converter from the loading test binary
#   plugins/noentry/libKestaro.so     no CreatePDFConverterNoRip
#   plugins/empty/                    nothing
set(PDFPARSE_TEST_PLUGINS ${CMAKE_BINARY_DIR}/tests/plugins)
file(MAKE_DIRECTORY ${PDFPARSE_TEST_PLUGINS}/empty)

function(pdfparse_test_plugin target output folder source)
  add_library(${target} MODULE ${CMAKE_CURRENT_LIST_DIR}/plugins/${source})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${output} PREFIX "lib"
    LIBRARY_OUTPUT_DIRECTORY ${PDFPARSE_TEST_PLUGINS}/${folder})
  target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
endfunction()

pdfparse_test_plugin(pdfparse_testplugin_probe LoaderProbe probe Probe.cc)
pdfparse_test_plugin(pdfparse_testplugin_kestaro Kestaro scripted ScriptedKestaro.cc)
pdfparse_test_plugin(pdfparse_testplugin_noentry Kestaro noentry NoEntryKestaro.cc)

foreach(test outside_loader_test pdfobject_test)
  if(TARGET ${test})
    add_dependencies(${test} pdfparse_testplugin_probe pdfparse_testplugin_kestaro
                     pdfparse_testplugin_noentry)
    target_compile_definitions(${test} PRIVATE PDFPARSE_TEST_PLUGINS="${PDFPARSE_TEST_PLUGINS}")
    target_include_directories(${test} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/plugins)
    # The scripted libKestaro.so looks its converter up in the test binary.
    target_link_options(${test} PRIVATE -Wl,--export-dynamic-symbol=PdfParseTestCreateConverter)
  endif()
endforeach()
