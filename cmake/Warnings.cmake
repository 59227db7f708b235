# The project's warnings, as a target: nolvi2_warnings carries them, and every target of the
# project links it (nolvi2_link_warnings, called once at the end of the top-level
# CMakeLists.txt, so that the tests', benchmarks' and fuzz targets get it as the folders' own
# do). Nothing else is compiled with them: the libraries found on the system only lend their
# headers. Options that must reach every compile (-ffp-contract=off, the sanitizers) stay
# global in the top-level CMakeLists.txt.
add_library(nolvi2_warnings INTERFACE)
target_compile_options(nolvi2_warnings INTERFACE -Wall -Wextra -Wshadow)
if(NOLVI2_WERROR)
  target_compile_options(nolvi2_warnings INTERFACE -Werror)
endif()

# nolvi2_link_warnings(): links nolvi2_warnings to every target that compiles anything, in
# the top-level folder and every folder below it.
function(nolvi2_link_warnings)
  set(dirs ${CMAKE_SOURCE_DIR})
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
        target_link_libraries(${target} PRIVATE nolvi2_warnings)
      endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
  endwhile()
endfunction()
