# One library per folder under src/. File names decide where a file goes:
#   name.cpp              portable, in both builds
#   name_win32.cpp        the Windows side, Windows build only
#   name_test.cpp         GoogleTest, in both builds (natively under the sanitizers, under Wine)
#   name_win32_test.cpp   GoogleTest, Windows build only (run under Wine)
#   name_host_test.cpp    GoogleTest, host build only (needs host-only libraries such as wimlib)
#   name_fuzz.cpp, name_bench.cpp, name_main.cpp   programs of their own, declared by the folder
#
# kestrova_subsystem(<name> [DEPS targets...] [WIN32_LIBS libs...] [HOST_TEST_LIBS libs...])
function(kestrova_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;WIN32_LIBS;HOST_TEST_LIBS" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(portable "")
  set(win32 "")
  set(tests "")
  set(win32_tests "")
  set(host_tests "")
  foreach(f IN LISTS all_sources)
    get_filename_component(base ${f} NAME_WE)
    if(base MATCHES "_win32_test$")
      list(APPEND win32_tests ${f})
    elseif(base MATCHES "_host_test$")
      list(APPEND host_tests ${f})
    elseif(base MATCHES "_test$")
      list(APPEND tests ${f})
    elseif(base MATCHES "_(fuzz|bench|main)$")
    elseif(base MATCHES "_win32$")
      list(APPEND win32 ${f})
    else()
      list(APPEND portable ${f})
    endif()
  endforeach()

  set(lib kestrova_${name})
  set(lib_sources ${portable})
  set(lib_deps ${ARG_DEPS})
  if(WIN32)
    list(APPEND lib_sources ${win32})
    list(APPEND lib_deps ${ARG_WIN32_LIBS})
  endif()
  if(lib_sources)
    add_library(${lib} STATIC ${lib_sources})
    target_link_libraries(${lib} PUBLIC ${lib_deps})
    target_include_directories(${lib} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  else()
    # A folder whose sources are all of the other build (or not written yet) still gives its name to link.
    add_library(${lib} INTERFACE)
    target_link_libraries(${lib} INTERFACE ${lib_deps})
    target_include_directories(${lib} INTERFACE ${PROJECT_SOURCE_DIR}/src)
  endif()

  if(WIN32)
    set(test_sources ${tests} ${win32_tests})
  else()
    set(test_sources ${tests} ${host_tests})
  endif()
  if(test_sources)
    set(exe ${name}_tests)
    add_executable(${exe} ${test_sources})
    target_link_libraries(${exe} PRIVATE ${lib} kestrova_test_support ${KESTROVA_GTEST})
    if(NOT WIN32)
      target_link_libraries(${exe} PRIVATE ${ARG_HOST_TEST_LIBS})
    endif()
    kestrova_add_gtest(${exe})
  endif()
endfunction()

# Registers a GoogleTest executable with ctest; the Windows build runs it under Wine in the build's own prefix.
function(kestrova_add_gtest exe)
  if(WIN32)
    add_test(NAME ${exe} COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${exe}> --gtest_brief=1)
  else()
    add_test(NAME ${exe} COMMAND ${exe} --gtest_brief=1)
  endif()
  set_tests_properties(${exe} PROPERTIES ENVIRONMENT "KESTROVA_SOURCE_DIR=${PROJECT_SOURCE_DIR}" TIMEOUT 900)
endfunction()

# A libFuzzer program of the current folder's library, built only in the fuzz preset: kestrova_fuzzer(<name>)
# builds <name>.cpp.
function(kestrova_fuzzer name)
  if(KESTROVA_FUZZ)
    add_executable(${name} ${name}.cpp)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    target_link_libraries(${name} PRIVATE kestrova_${folder})
  endif()
endfunction()

# A delay-load import library made from a .def file of this folder: kestrova_delay_import_library(<target> <file.def>)
# gives an imported static library <target> to link instead of the toolchain's import library.
#
# Every DLL the product imports that is not a KnownDLL (msi, Cabinet, bcrypt, crypt32, newdev, rstrtmgr) is linked
# this way. The exe runs elevated and as SYSTEM (a scheduled task starts it from a folder beside a script), and
# Windows looks for a DLL that is not a KnownDLL in the exe's own folder first, so a static import would load
# whatever DLL of that name lies there before any code of ours runs. A delay-loaded DLL is loaded by the first call
# into it, after wmain has limited the search to System32 (SetDefaultDllDirectories). The linker's route
# (DependentLoadFlags in the load configuration) is out of reach: GNU ld 2.40 does not fill that directory, and
# Wine 8 ignores the flags even when it is there. A DLL or function missing at the first call raises an exception
# instead of stopping the start; every one of these DLLs ships with Windows 10. The unit-test programs link the same
# libraries and search for DLLs the usual way. A .def file also says whether a function is imported by name or by
# ordinal (msi's are by ordinal).
function(kestrova_delay_import_library target def)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/lib${target}.a)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_DLLTOOL} -m i386:x86-64 -d ${CMAKE_CURRENT_SOURCE_DIR}/${def} -y ${output}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${def} VERBATIM)
  add_custom_target(${target}_lib DEPENDS ${output})
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${output})
  add_dependencies(${target} ${target}_lib)
endfunction()
