# Helpers shared by every folder: warnings and Windows defines for our own targets, and test registration.

# Our own targets only: GoogleTest and JsonCpp keep their own flags.
function(velk_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${VELK_WERROR}>:-Werror>)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  if(WIN32)
    # Windows 7 is the oldest system we support; wide Win32 entry points everywhere;
    # NOMINMAX keeps <windows.h> from breaking std::min and std::max.
    target_compile_definitions(${target} PUBLIC _WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE NOMINMAX)
  endif()
endfunction()

# A GoogleTest program, one ctest test. Under Windows it runs through scripts/wine-run
# after the wine_session fixture has made the prefix and started Xvfb.
# velk_add_gtest(NAME exe [TEST test] SOURCES ... [LIBS ...] [ENV VAR=value ...] [ARGS ...] [LOCKS ...]
#                [TIMEOUT s] [FIXTURES_REQUIRED name ...])
# LOCKS names what the test shares with others and must have to itself: "display" for tests that
# drive windows (focus and the clipboard are one per screen), "vizoziv" for tests that touch the
# prefix's Temp\Vizoziv folder the reporter collects from.
# Call again with the same NAME and another TEST to run the program once more, say under another TZ.
function(velk_add_gtest)
  cmake_parse_arguments(T "" "NAME;TEST;TIMEOUT" "SOURCES;LIBS;ENV;ARGS;LOCKS;FIXTURES_REQUIRED" ${ARGN})
  if(NOT T_TEST)
    set(T_TEST ${T_NAME})
  endif()
  if(NOT TARGET ${T_NAME})
    add_executable(${T_NAME} ${T_SOURCES})
    velk_target_defaults(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  endif()
  velk_add_test(NAME ${T_TEST} COMMAND ${T_NAME} ${T_ARGS} ENV ${T_ENV} LOCKS ${T_LOCKS} TIMEOUT ${T_TIMEOUT}
                FIXTURES_REQUIRED ${T_FIXTURES_REQUIRED})
endfunction()

# Every test of a build, whatever runs it (a GoogleTest program, a Python harness, a whole-program
# run), is registered here, so that all of them share the same properties: 300 s unless TIMEOUT
# says otherwise, and under Windows the wine_session fixture.
# velk_add_test(NAME test COMMAND command args... [ENV VAR=value ...] [LOCKS ...] [TIMEOUT s]
#               [FIXTURES_SETUP name] [FIXTURES_REQUIRED name ...] [SKIP_RETURN_CODE code])
# An argument of COMMAND must not hold a ';': CMake would split it into two.
function(velk_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;FIXTURES_SETUP;SKIP_RETURN_CODE" "COMMAND;ENV;LOCKS;FIXTURES_REQUIRED"
                        ${ARGN})
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  set(fixtures ${T_FIXTURES_REQUIRED})
  if(WIN32)
    list(APPEND fixtures wine_session)
  endif()
  if(fixtures)
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED "${fixtures}")
  endif()
  if(T_FIXTURES_SETUP)
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_SETUP ${T_FIXTURES_SETUP})
  endif()
  if(T_ENV)
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
  if(T_LOCKS)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if(T_SKIP_RETURN_CODE)
    set_tests_properties(${T_NAME} PROPERTIES SKIP_RETURN_CODE ${T_SKIP_RETURN_CODE})
  endif()
endfunction()

if(WIN32)
  # PE32 programs need the emulated 32-bit half that scripts/bootstrap sets up; scripts/wine-run and
  # scripts/wine-session read the build's launcher from the file, so direct calls pick it too.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(velk_wine_default ${CMAKE_SOURCE_DIR}/scripts/wine32)
  else()
    set(velk_wine_default /usr/lib/wine/wine64)
  endif()
  set(VELK_WINE ${velk_wine_default} CACHE FILEPATH "Wine launcher that runs this build's programs")
  file(WRITE ${CMAKE_BINARY_DIR}/wine-launcher "${VELK_WINE}\n")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run ${CMAKE_BINARY_DIR})
endif()
