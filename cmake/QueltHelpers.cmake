# quelt_folder_library(NAME [LIBS ...] [EXCLUDE file ...])
# Builds a static library from every .cpp/.h/.ui/.qrc file in the current folder.
function(quelt_folder_library name)
  cmake_parse_arguments(A "" "" "LIBS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
    ${CMAKE_CURRENT_SOURCE_DIR}/*.ui ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  foreach(ex IN LISTS A_EXCLUDE)
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
  # For the layering check: which folder the library is and what it links.
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY QUELT_FOLDER_LIBRARIES "${name}")
  set_property(GLOBAL PROPERTY QUELT_FOLDER_${name} "${folder}")
  set_property(GLOBAL PROPERTY QUELT_LINKS_${name} "${A_LIBS}")
endfunction()

# quelt_header_library(NAME header ...): a header-only library of single files
# inside another library's folder, for users that must not link that library.
# The layering check counts those headers as NAME's.
function(quelt_header_library name)
  add_library(${name} INTERFACE ${ARGN})
  target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(h IN LISTS ARGN)
    set_property(GLOBAL APPEND PROPERTY QUELT_HEADER_LIBRARIES "${folder}/${h}=${name}")
  endforeach()
endfunction()

# quelt_layering_check(): a test that every folder library includes only its
# own folder and the folders of the libraries it declares (cmake/CheckLayering.cmake).
function(quelt_layering_check)
  get_property(libs GLOBAL PROPERTY QUELT_FOLDER_LIBRARIES)
  set(text "")
  foreach(lib IN LISTS libs)
    get_property(folder GLOBAL PROPERTY QUELT_FOLDER_${lib})
    get_property(links GLOBAL PROPERTY QUELT_LINKS_${lib})
    string(APPEND text "set(FOLDER_${lib} \"${folder}\")\nset(LINKS_${lib} \"${links}\")\n")
  endforeach()
  string(APPEND text "set(LIBRARIES \"${libs}\")\n")
  get_property(headers GLOBAL PROPERTY QUELT_HEADER_LIBRARIES)
  string(APPEND text "set(HEADER_LIBRARIES \"${headers}\")\n")
  file(WRITE ${CMAKE_BINARY_DIR}/layering.cmake "${text}")
  add_test(NAME Layering.IncludesOnlyDeclaredFolders
    COMMAND ${CMAKE_COMMAND} -DLAYERING=${CMAKE_BINARY_DIR}/layering.cmake -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayering.cmake)
endfunction()

# quelt_add_subdirectories([EXCEPT name ...]): add every child folder that has
# a CMakeLists.txt, but the ones named (added from elsewhere).
function(quelt_add_subdirectories)
  cmake_parse_arguments(A "" "" "EXCEPT" ${ARGN})
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    get_filename_component(child_name ${child} NAME)
    if(child_name IN_LIST A_EXCEPT)
      continue()
    endif()
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
