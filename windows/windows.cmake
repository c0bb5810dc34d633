# The 32-bit Windows products: included by the top-level CMakeLists.txt in
# the cross build, after the library's objects and the tool are defined.
enable_language(RC)

# Only Windows system DLLs may be needed at run time: the C++ runtime, the
# thread library and Xerces-C are linked in.
# Both DLLs sit beside the programs, where Windows looks for them; the
# shipped DLLs carry a version resource and no symbol table (-s).
function(korvo_windows_dll target description)
  set(KORVO_RC_NAME ${target})
  set(KORVO_RC_DESCRIPTION ${description})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version.rc.in ${CMAKE_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/${target}.rc)
  set_target_properties(${target} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  target_link_options(${target} PRIVATE -static -s)
endfunction()
korvo_windows_dll(Korvo "Korvo firmware download manager")
korvo_windows_dll(BrekLoad "Korvo boot-loader library")
# A 32-bit JVM looks natives up by their plain names; __stdcall would add @n.
target_link_options(Korvo PRIVATE -Wl,--kill-at)
target_link_options(korvo PRIVATE -static)

# The unit tests, less what is POSIX by nature: file permissions switched
# per user, and the tool run through a POSIX shell. The pseudo-terminal
# helper is replaced by one that plays the device on a wine COM port.
file(GLOB_RECURSE KORVO_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*.cpp)
# POSIX by nature: the JVM tests, and the tests that run the tool as a
# process or signal it (tools, hardening).
list(FILTER KORVO_TEST_SOURCES EXCLUDE REGEX "/tests/(jvm|tools|hardening)/")
# The compiler that derives the boot-loader library's names runs on Linux.
list(FILTER KORVO_TEST_SOURCES EXCLUDE REGEX "/boot_loader_names_test\\.cpp$")
add_executable(korvo_tests ${KORVO_TEST_SOURCES})
target_include_directories(korvo_tests BEFORE PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tests)
target_include_directories(korvo_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(korvo_tests PRIVATE korvo_static GTest::gtest GTest::gmock)
target_link_options(korvo_tests PRIVATE -static)
target_compile_definitions(korvo_tests PRIVATE KORVO_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
add_subdirectory(${CMAKE_SOURCE_DIR}/sim ${CMAKE_BINARY_DIR}/sim)
if(TARGET korvo-sim)
  target_link_options(korvo-sim PRIVATE -static)
endif()

# The DLL loaded as a front end loads it.
add_executable(korvo_dll_test ${CMAKE_CURRENT_LIST_DIR}/tests/dll_test.cpp)
target_link_libraries(korvo_dll_test PRIVATE GTest::gtest_main)
target_link_options(korvo_dll_test PRIVATE -static)
target_compile_definitions(korvo_dll_test PRIVATE KORVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  KORVO_DLL_DIR="$<TARGET_FILE_DIR:Korvo>")
add_dependencies(korvo_dll_test Korvo)

# The natives in a Windows process: a host that plays the JVM for Korvo.dll
# (windows/host). Its table of JNI function names comes from the JDK's jni.h,
# one name per slot in order, so that a slot it does not implement is named.
file(READ ${JAVA_HOME}/include/jni.h KORVO_JNI_H)
set(KORVO_SLOT_NAMES "// Generated from jni.h: the names of each JNI function table's slots, in order.\n#pragma once\n")
foreach(table Native Invoke)
  string(REGEX MATCH "struct JNI${table}Interface_ {[^}]*}" body "${KORVO_JNI_H}")
  string(REGEX MATCHALL "JNICALL \\*[A-Za-z0-9_]+\\)|void \\*reserved[0-9]+" slots "${body}")
  string(APPEND KORVO_SLOT_NAMES "static const char* const k${table}SlotNames[] = {\n")
  foreach(slot ${slots})
    string(REGEX REPLACE "^(JNICALL|void) \\*([A-Za-z0-9_]+)\\)?$" "\\2" name "${slot}")
    string(APPEND KORVO_SLOT_NAMES "    \"${name}\",\n")
  endforeach()
  string(APPEND KORVO_SLOT_NAMES "};\n")
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/host/jni_slot_names.h CONTENT "${KORVO_SLOT_NAMES}" @ONLY)

add_executable(korvo_jni_host ${CMAKE_CURRENT_LIST_DIR}/host/korvo_host.cpp
  ${CMAKE_CURRENT_LIST_DIR}/host/jni_host.cpp)
target_include_directories(korvo_jni_host PRIVATE ${CMAKE_BINARY_DIR}/host ${JNI_INCLUDE_DIRS}
  ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(korvo_jni_host PRIVATE korvo_sim_device)
target_link_options(korvo_jni_host PRIVATE -static)
target_compile_definitions(korvo_jni_host PRIVATE KORVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(korvo_jni_host Korvo BrekLoad)
