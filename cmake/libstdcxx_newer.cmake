# std::to_chars(double) and the allocators' length check (std::__throw_bad_array_new_length)
# have the symbol version GLIBCXX_3.4.29 in the libstdc++ of GCC 11 and later, the only
# reason the stand-ins would need a libstdc++ that new (manylinux_2_34). Like the
# toolchains that manylinux wheels are built with, vorn_libstdcxx_newer(target) links
# the object files that define them (and the formatter the second one uses) from the
# compiler's own static libstdc++ into `target`, kept private to it (--exclude-libs);
# everything else still comes from the system's libstdc++.so.6. Nothing is done where
# the compiler has no such archive (another compiler, or a libstdc++ before GCC 11,
# which has no such symbols).
set(VORN_LIBSTDCXX_NEWER_MEMBERS floating_to_chars.o functexcept.o snprintf_lite.o)

function(vorn_libstdcxx_newer_library)
  if(TARGET vorn_libstdcxx_newer OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    return()
  endif()
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.a
                  OUTPUT_VARIABLE archive OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${archive}" OR NOT EXISTS "${archive}")
    return()
  endif()
  execute_process(COMMAND ${CMAKE_AR} t "${archive}" OUTPUT_VARIABLE members)
  string(REPLACE "\n" ";" members "${members}")
  foreach(member IN LISTS VORN_LIBSTDCXX_NEWER_MEMBERS)
    if(NOT member IN_LIST members)
      return()
    endif()
  endforeach()
  set(dir "${CMAKE_BINARY_DIR}/libstdcxx_newer")
  file(MAKE_DIRECTORY "${dir}")
  execute_process(COMMAND ${CMAKE_AR} x "${archive}" ${VORN_LIBSTDCXX_NEWER_MEMBERS}
                  WORKING_DIRECTORY "${dir}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not take ${VORN_LIBSTDCXX_NEWER_MEMBERS} from ${archive}")
  endif()
  list(TRANSFORM VORN_LIBSTDCXX_NEWER_MEMBERS PREPEND "${dir}/" OUTPUT_VARIABLE objects)
  add_library(vorn_libstdcxx_newer STATIC ${objects})
  set_target_properties(vorn_libstdcxx_newer PROPERTIES LINKER_LANGUAGE CXX)
  message(STATUS "libstdc++'s ${VORN_LIBSTDCXX_NEWER_MEMBERS} linked statically from ${archive}")
endfunction()

function(vorn_libstdcxx_newer target)
  vorn_libstdcxx_newer_library()
  if(TARGET vorn_libstdcxx_newer)
    target_link_libraries(${target} PRIVATE vorn_libstdcxx_newer)
    target_link_options(${target} PRIVATE "-Wl,--exclude-libs,libvorn_libstdcxx_newer.a")
  endif()
endfunction()
