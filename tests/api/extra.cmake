# The cut-file test reads the samples the build writes.
if(TARGET api_test)
  add_dependencies(api_test samples)
endif()
