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
      if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        # x86-64 has one calling convention and no stdcall decoration: the
        # same exports without the "=Name@N" aliases.
        file(READ ${Q_DEF} def_text)
        string(REGEX REPLACE "[ \t]*=[ \t]*[A-Za-z_][A-Za-z0-9_]*@[0-9]+" "" def_text "${def_text}")
        get_filename_component(def_name ${Q_DEF} NAME)
        set(Q_DEF ${CMAKE_CURRENT_BINARY_DIR}/${def_name})
        file(WRITE ${Q_DEF} "${def_text}")
      endif()
      target_sources(${target} PRIVATE ${Q_DEF})
    endif()
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
    # The binary contract, read from the built file (tests/exports/<name>.exports).
    set(expected ${CMAKE_SOURCE_DIR}/tests/exports/${Q_WIN32_NAME}.exports)
    if(QOR_TESTS AND EXISTS ${expected} AND CMAKE_SIZEOF_VOID_P EQUAL 4)
      add_test(NAME exports.${Q_WIN32_NAME}
               COMMAND bash ${CMAKE_SOURCE_DIR}/tests/exports/check_exports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:${target}> ${expected})
      set_tests_properties(exports.${Q_WIN32_NAME} PROPERTIES LABELS exports)
    endif()
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
  if(QOR_RUN_TESTS)
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT 120 LABELS ${name}
                 # Native tests of one build tree meet in their own runtime directory,
                 # and their drive letters are folders of the build tree too.
                 ENVIRONMENT "QOR_RUNTIME_DIR=${CMAKE_BINARY_DIR}/runtime"
                 ENVIRONMENT_MODIFICATION "QOR_DRIVE_ROOT=set:${CMAKE_BINARY_DIR}/drives")
  endif()
endfunction()
