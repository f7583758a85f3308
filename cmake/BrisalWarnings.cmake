# Warnings are errors on the project's own code only; third-party code (GoogleTest)
# is built with its own flags.
function(brisal_warnings target)
  # Not for the resource compiler, which shares a target with the C++ sources.
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Werror>)
endfunction()

# A library of the program: its sources, the backend sources for this target, and
# the libraries it needs. Include paths are rooted at the repository, so code includes
# "core/paths.h", never a relative path.
function(brisal_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;POSIX;WIN32;LIBS;POSIX_LIBS;WIN32_LIBS" ${ARGN})
  set(sources ${ARG_SOURCES})
  set(libs ${ARG_LIBS})
  if(WIN32)
    list(APPEND sources ${ARG_WIN32})
    list(APPEND libs ${ARG_WIN32_LIBS})
  else()
    list(APPEND sources ${ARG_POSIX})
    list(APPEND libs ${ARG_POSIX_LIBS})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
  target_link_libraries(${name} PUBLIC ${libs})
  brisal_warnings(${name})
endfunction()
