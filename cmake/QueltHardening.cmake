# Debian's hardening flags for everything the build compiles and links, as
# dpkg-buildflags gives them with every hardening feature on: fortified libc
# calls, the stack protector, format-string checks, a read-only relocation
# table bound at start (relro, now). The optimisation and debug flags stay the
# build type's, and file paths are left as they are (the crash report and the
# tests name the sources). Where dpkg-buildflags is missing the same set is
# used. Sanitizer and fuzz builds go without: their runtimes do these checks
# their own way.
option(QUELT_HARDENING "Build with Debian's hardening flags (fortify, stack protector, relro, bindnow)" ON)

if(QUELT_HARDENING AND NOT QUELT_FUZZ AND NOT QUELT_ASAN)
  set(hardening_CPPFLAGS -Wdate-time -D_FORTIFY_SOURCE=2)
  set(hardening_CXXFLAGS -fstack-protector-strong -Wformat -Werror=format-security)
  set(hardening_LDFLAGS -Wl,-z,relro -Wl,-z,now)
  find_program(QUELT_DPKG_BUILDFLAGS dpkg-buildflags)
  mark_as_advanced(QUELT_DPKG_BUILDFLAGS)
  if(QUELT_DPKG_BUILDFLAGS)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
                "DEB_CXXFLAGS_MAINT_STRIP=-g -O2" "DEB_CPPFLAGS_MAINT_STRIP=" "DEB_LDFLAGS_MAINT_STRIP="
                ${QUELT_DPKG_BUILDFLAGS} --get ${kind}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed (${rc})")
      endif()
      separate_arguments(hardening_${kind} UNIX_COMMAND "${flags}")
    endforeach()
  endif()
  # glibc's fortified calls need optimisation and warn without it: a Debug
  # build goes without them.
  foreach(flag IN LISTS hardening_CPPFLAGS)
    if(flag MATCHES "^-D_FORTIFY_SOURCE")
      add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
    else()
      add_compile_options(${flag})
    endif()
  endforeach()
  add_compile_options(${hardening_CXXFLAGS})
  add_link_options(${hardening_LDFLAGS})
  message(STATUS "Hardening flags: ${hardening_CPPFLAGS} ${hardening_CXXFLAGS} ${hardening_LDFLAGS}")
endif()
