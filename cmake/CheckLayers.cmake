# The layers' includes, checked in the sources themselves (the test `layers`):
#
#   cmake -DSOURCE_DIR=<source folder> -P cmake/CheckLayers.cmake
#
# The include roots (cmake/Layers.cmake) already make a build fail when a layer includes a
# folder it does not link; this check also finds what a path can reach anyway ("../app/x.h",
# a header beside the file that belongs to a higher layer, a Qt header that some other include
# path happens to provide), so that such a violation fails a test even when it compiles.
#
# Every #include and __has_include of the layers' sources (.h, .hpp, .c, .cc, .cpp, .in) must
#   - name its file without "..", "\" or an absolute path, and not through a macro;
#   - name, within quotes, a file of the source tree: "folder/name.h" (a layer's folder, or
#     the generated "common/Version.h" from common/Version.h.in), "name.h" beside the including
#     file, or "spi.h" (the plug-in interface);
#   - reach only its own layer and the layers it builds on (what those build on included);
#   - include Qt (<Q...>, <Qt.../...>, moc and uic output) only in a Qt layer.
# Headers in angle brackets that are not Qt's are the system's and are not checked.
#
# With -DSELFTEST_DIR=<folder>, the check instead copies the layers' folders there, plants one
# violation of each kind, and fails unless it finds exactly those (the test `layers.selftest`).
cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "Usage: cmake -DSOURCE_DIR=<source folder> [-DSELFTEST_DIR=<folder>] -P CheckLayers.cmake")
endif()

# The layers from the bottom up: layer(name FILES ... USES ...). FILES are folders (ending in
# "/": their files, sub-folders included, that no deeper folder or named file claims) or files
# named without extension (app/Unit1 is Unit1.h and Unit1.cpp). USES are the layers it builds
# on directly, all of them listed before it; "qt" is Qt. The Qt parts are the files of the Qt
# targets (nolvi2_common_qt, nolvi2_settings_qt, nolvi2_gui and nolvi2).
set(layers)
macro(layer name)
  cmake_parse_arguments(L "" "" "FILES;USES" ${ARGN})
  set(closure)
  foreach(use IN LISTS L_USES)
    if(NOT use STREQUAL "qt" AND NOT use IN_LIST layers)
      message(FATAL_ERROR "Layer ${name} builds on ${use}, which is not a layer below it")
    endif()
    list(APPEND closure ${use} ${uses_${use}})
  endforeach()
  list(REMOVE_DUPLICATES closure)
  set(uses_${name} ${closure})
  set(files_${name} ${L_FILES})
  list(APPEND layers ${name})
endmacro()

layer(platform    FILES platform/)
layer(spi         FILES susie/spi)
layer(png         FILES png/                 USES platform)
layer(image       FILES image/               USES platform)
layer(common      FILES common/              USES platform)
layer(susie       FILES susie/               USES spi platform)
layer(plugins     FILES susie/plugins/       USES spi)
layer(settings    FILES settings/            USES common platform)
layer(app         FILES app/                 USES susie settings common image png platform)
layer(cli         FILES cli/                 USES app)
layer(common_qt   FILES common/OZVista       USES common qt)
layer(settings_qt FILES settings/OZHistoryMenu settings/OZRegIniDlg
                                             USES settings common_qt qt)
layer(gui         FILES app/Unit1 app/WindowServices app/dlgPreferences app/dlgResize app/main
                                             USES app settings_qt common_qt qt)

# The layers' top folders, which "folder/name.h" includes name.
set(top_folders)
foreach(layer IN LISTS layers)
  foreach(entry IN LISTS files_${layer})
    string(REGEX MATCH "^[^/]+" top "${entry}")
    list(APPEND top_folders ${top})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES top_folders)

# layer_of(root path out): the layer of a file (path relative to root), or "" when none has it.
function(layer_of root path out)
  get_filename_component(dir "${path}" DIRECTORY)
  get_filename_component(name "${path}" NAME)
  string(REGEX REPLACE "\\..*$" "" stem "${name}")
  set(found "")
  set(found_depth -1)
  foreach(layer IN LISTS layers)
    foreach(entry IN LISTS files_${layer})
      if(entry MATCHES "/$")
        # A folder: the deepest one that holds the file.
        string(LENGTH "${entry}" depth)
        string(FIND "${dir}/" "${entry}" at)
        if(at EQUAL 0 AND depth GREATER found_depth)
          set(found ${layer})
          set(found_depth ${depth})
        endif()
      elseif("${dir}/${stem}" STREQUAL entry)
        # A named file wins over any folder.
        set(found ${layer})
        set(found_depth 100000)
      endif()
    endforeach()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# check_include(root file layer kind name out): the violation of one include ("" when none).
# kind is < or ".
function(check_include root file layer kind name out)
  set(${out} "" PARENT_SCOPE)
  get_filename_component(dir "${file}" DIRECTORY)
  if(name MATCHES "(^|/)\\.\\.(/|$)" OR name MATCHES "\\\\" OR name MATCHES "^/")
    set(${out} "climbs out of its folder or names an absolute path (name it \"folder/file.h\")" PARENT_SCOPE)
    return()
  endif()
  string(REGEX MATCH "^[^/]+" first "${name}")
  if(name MATCHES "^Qt[A-Za-z0-9]*/" OR name MATCHES "^Q[A-Z][A-Za-z0-9]*$" OR name MATCHES "\\.moc$"
     OR name MATCHES "(^|/)(moc|ui)_[^/]*$")
    set(target qt)
  elseif(name MATCHES "/" AND first IN_LIST top_folders)
    set(path "${name}")
    if(NOT EXISTS "${root}/${path}" AND EXISTS "${root}/${path}.in")
      set(path "${path}.in")
    endif()
    if(NOT EXISTS "${root}/${path}" OR IS_DIRECTORY "${root}/${path}")
      set(${out} "names no file of the source tree" PARENT_SCOPE)
      return()
    endif()
    layer_of("${root}" "${path}" target)
  elseif(kind STREQUAL "<")
    return() # the system's
  elseif(EXISTS "${root}/${dir}/${name}" AND NOT IS_DIRECTORY "${root}/${dir}/${name}")
    layer_of("${root}" "${dir}/${name}" target)
  elseif(name STREQUAL "spi.h")
    set(target spi)
  else()
    set(${out} "is neither beside it nor a layer's header (the system's go in <>)" PARENT_SCOPE)
    return()
  endif()
  if(target STREQUAL "")
    set(${out} "includes a file that belongs to no layer" PARENT_SCOPE)
  elseif(target STREQUAL "qt" AND NOT "qt" IN_LIST uses_${layer})
    set(${out} "Qt in layer ${layer}, which has no Qt" PARENT_SCOPE)
  elseif(NOT target STREQUAL layer AND NOT target IN_LIST uses_${layer})
    string(REPLACE ";" ", " below "${uses_${layer}}")
    if(below STREQUAL "")
      set(below "nothing")
    endif()
    set(${out} "layer ${layer} includes layer ${target} (it builds on ${below})" PARENT_SCOPE)
  endif()
endfunction()

# check_tree(root out_violations out_count): every layer's files under root.
function(check_tree root out_violations out_count)
  set(files)
  foreach(layer IN LISTS layers)
    foreach(entry IN LISTS files_${layer})
      if(entry MATCHES "/$")
        set(patterns)
        foreach(ext h hpp c cc cpp in)
          list(APPEND patterns "${root}/${entry}*.${ext}")
        endforeach()
        file(GLOB_RECURSE found RELATIVE "${root}" ${patterns})
        list(APPEND files ${found})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES files)
  list(SORT files)
  set(violations)
  set(count 0)
  foreach(file IN LISTS files)
    layer_of("${root}" "${file}" layer)
    file(READ "${root}/${file}" text)
    file(STRINGS "${root}/${file}" lines ENCODING UTF-8
         REGEX "^[ \t]*#[ \t]*include|__has_include")
    foreach(line IN LISTS lines)
      set(includes)
      if(line MATCHES "^[ \t]*#[ \t]*include(_next)?[ \t]*([<\"])([^>\"]*)[>\"]")
        list(APPEND includes "${CMAKE_MATCH_2}${CMAKE_MATCH_3}")
      elseif(line MATCHES "^[ \t]*#[ \t]*include(_next)?[ \t]*(.*)$")
        list(APPEND includes "?${CMAKE_MATCH_2}")
      endif()
      string(REGEX MATCHALL "__has_include(_next)?[ \t]*\\([ \t]*[<\"][^>\"]*[>\"]" tests "${line}")
      foreach(test IN LISTS tests)
        string(REGEX REPLACE "^[^(]*\\([ \t]*" "" test "${test}")
        string(REGEX REPLACE "[>\"]$" "" test "${test}")
        list(APPEND includes "${test}")
      endforeach()
      if(NOT includes)
        continue()
      endif()
      # The line's number, for the report.
      string(FIND "${text}" "${line}" at)
      set(where "${file}")
      if(at GREATER_EQUAL 0)
        string(SUBSTRING "${text}" 0 ${at} before)
        string(REGEX MATCHALL "\n" breaks "${before}")
        list(LENGTH breaks number)
        math(EXPR number "${number} + 1")
        set(where "${file}:${number}")
      endif()
      foreach(include IN LISTS includes)
        math(EXPR count "${count} + 1")
        string(SUBSTRING "${include}" 0 1 kind)
        string(SUBSTRING "${include}" 1 -1 name)
        if(kind STREQUAL "?")
          set(problem "names its file through a macro, which this check cannot follow")
          set(shown "${name}")
        else()
          check_include("${root}" "${file}" "${layer}" "${kind}" "${name}" problem)
          if(kind STREQUAL "<")
            set(shown "<${name}>")
          else()
            set(shown "\"${name}\"")
          endif()
        endif()
        if(problem)
          list(APPEND violations "${where}: ${shown}: ${problem}")
        endif()
      endforeach()
    endforeach()
  endforeach()
  list(LENGTH files nfiles)
  set(${out_violations} "${violations}" PARENT_SCOPE)
  set(${out_count} "${count} includes in ${nfiles} files" PARENT_SCOPE)
endfunction()

function(report violations)
  list(JOIN violations "\n  " text)
  message("  ${text}")
endfunction()

if(NOT SELFTEST_DIR)
  check_tree("${SOURCE_DIR}" violations checked)
  if(violations)
    list(LENGTH violations n)
    report("${violations}")
    message(FATAL_ERROR "${n} includes break the layers (see cmake/CheckLayers.cmake for the order)")
  endif()
  message(STATUS "The layers' includes are in order: ${checked}")
  return()
endif()

# The self-test: a copy of the layers' folders with one violation of each kind planted.
set(copy "${SELFTEST_DIR}/src")
file(REMOVE_RECURSE "${copy}")
file(MAKE_DIRECTORY "${copy}")
foreach(folder IN LISTS top_folders)
  file(COPY "${SOURCE_DIR}/${folder}" DESTINATION "${copy}" PATTERN "CMakeLists.txt" EXCLUDE)
endforeach()
set(planted
  "platform/Bitmap.h|<QString>|Qt in layer platform"
  "app/ZoomView.h|<QtCore/QPoint>|Qt in layer app"
  "image/OZBLibAdjust.cpp|\"app/Unit1.h\"|layer image includes layer gui"
  "png/VelPNG.h|\"image/Errors.h\"|layer png includes layer image"
  "common/OZCommon.h|\"settings/IniFile.h\"|layer common includes layer settings"
  "settings/OZHistoryList.cpp|\"OZHistoryMenu.h\"|layer settings includes layer settings_qt"
  "susie/plugins/ifgif.c|\"platform/Bitmap.h\"|layer plugins includes layer platform"
  "cli/Batch.cpp|\"common/OZVista.h\"|layer cli includes layer common_qt"
  "png/PngRows.cpp|\"../app/ZoomView.h\"|climbs out of its folder"
  "susie/SPIs.cpp|\"zlib.h\"|is neither beside it nor a layer's header"
  "image/Errors.h|NOLVI2_HEADER|through a macro"
)
foreach(plant IN LISTS planted)
  string(REPLACE "|" ";" parts "${plant}")
  list(GET parts 0 file)
  list(GET parts 1 include)
  file(APPEND "${copy}/${file}" "\n#include ${include}\n")
endforeach()
check_tree("${copy}" violations checked)
report("${violations}")
set(failed FALSE)
foreach(plant IN LISTS planted)
  string(REPLACE "|" ";" parts "${plant}")
  list(GET parts 0 file)
  list(GET parts 1 include)
  list(GET parts 2 expected)
  set(seen FALSE)
  foreach(violation IN LISTS violations)
    string(FIND "${violation}" "${file}:" at_file)
    string(FIND "${violation}" ": ${include}: " at_include)
    string(FIND "${violation}" "${expected}" at_expected)
    if(at_file EQUAL 0 AND at_include GREATER 0 AND at_expected GREATER 0)
      set(seen TRUE)
    endif()
  endforeach()
  if(NOT seen)
    message(SEND_ERROR "Not found: ${file}: #include ${include} (${expected})")
    set(failed TRUE)
  endif()
endforeach()
list(LENGTH violations found)
list(LENGTH planted expected)
if(NOT found EQUAL expected)
  message(SEND_ERROR "${found} violations found, ${expected} planted")
  set(failed TRUE)
endif()
if(failed)
  message(FATAL_ERROR "The layer check missed planted violations or found others")
endif()
file(REMOVE_RECURSE "${copy}")
message(STATUS "The layer check finds the ${expected} planted violations (${checked})")
