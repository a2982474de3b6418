# cmake -DLAYERING=build/layering.cmake -DSOURCE_DIR=. -P cmake/CheckLayering.cmake
#
# Every folder library may include, with #include "folder/File.h", its own
# folder and the folders of the libraries it links itself (not those it only
# reaches through another library). Anything else fails the check with the
# file, the line and the folder it should not include, so the layering cannot
# decay unnoticed. A header-only library declared with quelt_header_library
# owns its headers wherever they stand. Includes without a folder (Qt's, generated ui_ headers) are
# not checked.
cmake_minimum_required(VERSION 3.25)
include(${LAYERING})

set(owners "")
foreach(lib IN LISTS LIBRARIES)
  list(APPEND owners "${FOLDER_${lib}}")
endforeach()

# The library folder that holds `path` (the longest folder that is a prefix of
# its directory), or "" when none does.
function(owner_of path out)
  get_filename_component(dir "${path}" DIRECTORY)
  set(best "")
  foreach(lib IN LISTS LIBRARIES)
    set(f "${FOLDER_${lib}}")
    string(LENGTH "${f}" n)
    string(LENGTH "${best}" bn)
    if((dir STREQUAL f OR dir MATCHES "^${f}/") AND n GREATER bn)
      set(best "${f}")
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

set(failures 0)
foreach(lib IN LISTS LIBRARIES)
  set(own "${FOLDER_${lib}}")
  set(allowed "${own}")
  foreach(dep IN LISTS LINKS_${lib})
    if(DEFINED FOLDER_${dep})
      list(APPEND allowed "${FOLDER_${dep}}")
    endif()
  endforeach()
  file(GLOB sources "${SOURCE_DIR}/${own}/*.h" "${SOURCE_DIR}/${own}/*.cpp")
  foreach(src IN LISTS sources)
    file(STRINGS "${src}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]*/[^\"]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" inc "${line}")
      owner_of("${inc}" owner)
      file(RELATIVE_PATH rel "${SOURCE_DIR}" "${src}")
      # A header of a header-only library: allowed to those that link it.
      set(headerLib "")
      foreach(entry IN LISTS HEADER_LIBRARIES)
        if(entry MATCHES "^${inc}=(.*)$")
          set(headerLib "${CMAKE_MATCH_1}")
        endif()
      endforeach()
      if(NOT headerLib STREQUAL "" AND (headerLib IN_LIST LINKS_${lib} OR owner IN_LIST allowed))
        continue()
      elseif(NOT headerLib STREQUAL "")
        message("${rel}: includes \"${inc}\", which ${lib} reaches without linking ${headerLib}")
        math(EXPR failures "${failures} + 1")
      elseif(owner STREQUAL "")
        message("${rel}: includes \"${inc}\", which is in no library's folder (${lib} may include: ${allowed})")
        math(EXPR failures "${failures} + 1")
      elseif(NOT owner IN_LIST allowed)
        message("${rel}: includes \"${inc}\" from ${owner}/, which ${lib} does not link (it links: ${LINKS_${lib}})")
        math(EXPR failures "${failures} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

list(LENGTH LIBRARIES count)
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} include(s) cross the declared layering")
endif()
message("layering: ${count} libraries include only their own folders and those they link")
