# Helpers that give every deliverable and test the same shape.

# qor_deliverable(<target> WIN32_NAME <name> [DEF <file>] [SUFFIX <.dll|.ocx>])
# A shared library with its win32 file name (from a .def file, undecorated
# exports) and the native lib<target>.so name.
function(qor_deliverable target)
  cmake_parse_arguments(Q "" "WIN32_NAME;DEF;SUFFIX" "" ${ARGN})
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${Q_WIN32_NAME})
    if(Q_SUFFIX)
      set_target_properties(${target} PROPERTIES SUFFIX ${Q_SUFFIX})
    endif()
    if(Q_DEF)
      target_sources(${target} PRIVATE ${Q_DEF})
    endif()
    # No import library is needed: every user binds by name.
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
  target_link_libraries(${target} PRIVATE qorplatform)
endfunction()

# qor_gtest(<name> SOURCES <files...> [LIBS <targets...>])
# One test executable; every test case is its own CTest test, discovered when
# the tests run (under Wine for win32).
function(qor_gtest name)
  cmake_parse_arguments(Q "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${Q_SOURCES})
  target_link_libraries(${name} PRIVATE qortestsupport gmock gtest_main qorplatform ${Q_LIBS})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 120 LABELS ${name})
endfunction()
