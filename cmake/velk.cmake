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
# velk_add_gtest(NAME exe [TEST test] SOURCES ... [LIBS ...] [ENV VAR=value ...] [ARGS ...] [LOCKS ...])
# LOCKS names what the test shares with others and must have to itself: "display" for tests that
# drive windows (focus and the clipboard are one per screen), "vizoziv" for tests that touch the
# prefix's Temp\Vizoziv folder the reporter collects from.
# Call again with the same NAME and another TEST to run the program once more, say under another TZ.
function(velk_add_gtest)
  cmake_parse_arguments(T "" "NAME;TEST" "SOURCES;LIBS;ENV;ARGS;LOCKS" ${ARGN})
  if(NOT T_TEST)
    set(T_TEST ${T_NAME})
  endif()
  if(NOT TARGET ${T_NAME})
    add_executable(${T_NAME} ${T_SOURCES})
    velk_target_defaults(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  endif()
  add_test(NAME ${T_TEST} COMMAND ${T_NAME} ${T_ARGS})
  velk_test_properties(${T_TEST} "${T_ENV}")
  if(T_LOCKS)
    set_tests_properties(${T_TEST} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()

# Properties every test of a build shares; ENV is a list of VAR=value.
function(velk_test_properties test env)
  set_tests_properties(${test} PROPERTIES TIMEOUT 300)
  if(WIN32)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine_session)
  endif()
  if(env)
    set_tests_properties(${test} PROPERTIES ENVIRONMENT "${env}")
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
