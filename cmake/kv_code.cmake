# Shared settings for the launcher's own code.

# Sources of one folder: every .cpp except tests (*_test.cpp) and main.cpp.
# Host-specific code lives in platform/<host>/ only.
function(kv_sources out dir)
  file(GLOB all CONFIGURE_DEPENDS "${dir}/*.cpp")
  set(result "")
  foreach(f ${all})
    get_filename_component(name "${f}" NAME)
    if(name MATCHES "_test\\.cpp$" OR name STREQUAL "main.cpp")
      continue()
    endif()
    list(APPEND result "${f}")
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Include path, warnings as errors, no exceptions, 64-bit file offsets.
function(kv_code target)
  target_include_directories(${target} PUBLIC "${CMAKE_SOURCE_DIR}")
  target_compile_options(${target} PRIVATE ${KV_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
  target_compile_definitions(${target} PUBLIC _FILE_OFFSET_BITS=64)
endfunction()
