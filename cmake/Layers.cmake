# The layers' include roots. A layer's sources name each other's headers by folder
# ("platform/Bitmap.h") or, within a folder, by bare name ("Bitmap.h"). A target does not put
# the source tree on the include path (that would let any file include any other): its public
# include root is a folder of the build tree that holds only a link named after its source
# folder,
#
#   build/include/platform/platform -> <source>/platform
#
# so a target sees the folders of the targets it links (through PUBLIC links, transitively) and
# no others: an include of "app/Unit1.h" in image/, or of <QString> in platform/, fails to
# compile. The order of the layers, and what no path can stop (an include that climbs out with
# "../"), is checked by cmake/CheckLayers.cmake, the test `layers`.

set(NOLVI2_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include)

# nolvi2_include_root(target): makes the folder of the calling CMakeLists.txt (platform,
# settings, ...) the target's public include root, as above. The folder's targets share one
# root (nolvi2_settings and nolvi2_settings_qt both expose settings/).
function(nolvi2_include_root target)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${NOLVI2_INCLUDE_ROOTS}/${folder})
  nolvi2_link_into(${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder})
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# nolvi2_link_into(original link): a symbolic link made at configuration time (never a copy,
# which would go stale).
function(nolvi2_link_into original link)
  get_filename_component(parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(IS_SYMLINK ${link})
    file(READ_SYMLINK ${link} current)
    if(current STREQUAL original)
      return()
    endif()
    file(REMOVE ${link})
  endif()
  file(CREATE_LINK ${original} ${link} RESULT failed SYMBOLIC)
  if(failed)
    message(FATAL_ERROR "Cannot link ${link} to ${original}: ${failed}")
  endif()
endfunction()

# nolvi2_spi: the plug-in interface, susie/spi.h, the one header a plug-in needs, included as
# "spi.h". Its root holds that file only.
add_library(nolvi2_spi INTERFACE)
nolvi2_link_into(${CMAKE_SOURCE_DIR}/susie/spi.h ${NOLVI2_INCLUDE_ROOTS}/spi/spi.h)
target_include_directories(nolvi2_spi INTERFACE ${NOLVI2_INCLUDE_ROOTS}/spi)
