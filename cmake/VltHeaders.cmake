# vlt_headers(<library> [PUBLIC header...] [PRIVATE header...])
#
# Makes the named headers of the calling folder src/<sub> reachable as
# "<sub>/<header>". PUBLIC headers are seen by the library, by everything
# linked to it, and by their tests; PRIVATE headers only by the library itself
# and by the test executable of its folder (vlt_add_test links them in with
# PRIVATE_HEADERS_OF). Each header is reached through a one-line forwarding
# header in the build tree, so the compiler still names the real file in its
# messages, and a header that is not listed is not reachable from anywhere
# else: a new public header must be added to its folder's list.
function(vlt_headers library)
  cmake_parse_arguments(H "" "" "PUBLIC;PRIVATE" ${ARGN})
  get_filename_component(sub ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(public_root ${PROJECT_BINARY_DIR}/include/public/${sub})
  set(private_root ${PROJECT_BINARY_DIR}/include/private/${sub})
  _vlt_forward_headers(${public_root}/${sub} ${H_PUBLIC})
  target_include_directories(${library} PUBLIC ${public_root})
  if(H_PRIVATE)
    _vlt_forward_headers(${private_root}/${sub} ${H_PRIVATE})
    target_include_directories(${library} PRIVATE ${private_root})
    set_property(TARGET ${library} PROPERTY VLT_PRIVATE_INCLUDE_DIR ${private_root})
  endif()
endfunction()

# Writes <dir>/<header> as a forwarding header for each header of the calling
# folder. file(CONFIGURE) leaves a file alone when its text is unchanged, so a
# new configure run does not force a rebuild.
function(_vlt_forward_headers dir)
  foreach(header ${ARGN})
    set(real ${CMAKE_CURRENT_SOURCE_DIR}/${header})
    if(NOT EXISTS ${real})
      message(FATAL_ERROR "vlt_headers: ${real} is listed but does not exist")
    endif()
    file(CONFIGURE OUTPUT ${dir}/${header} CONTENT "#pragma once\n#include \"${real}\"\n" @ONLY)
  endforeach()
endfunction()
