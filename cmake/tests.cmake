# GoogleTest is built from Debian's sources for each target.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

if(WIN32)
  set(VANTOR_PRESET_NAME win64)
else()
  set(VANTOR_PRESET_NAME native)
endif()

# Every tests/<module>/<name>_test.cpp is one test program.
file(GLOB_RECURSE _unit_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
if(WIN32)
  # The room service is a Linux program; its unit tests build natively only.
  list(FILTER _unit_tests EXCLUDE REGEX "/tests/service/")
endif()
file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
if(WIN32)
  list(FILTER _support EXCLUDE REGEX "_posix\\.cpp$")
else()
  list(FILTER _support EXCLUDE REGEX "_win32\\.cpp$")
endif()
add_library(vantor_test_support STATIC ${_support} ${CMAKE_SOURCE_DIR}/tests/support/test_support.h)
set_target_properties(vantor_test_support PROPERTIES LINKER_LANGUAGE CXX)
target_link_libraries(vantor_test_support PUBLIC vantor_lib GTest::gtest)
target_compile_definitions(vantor_test_support PUBLIC
  VANTOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VANTOR_BUILD_DIR="${CMAKE_BINARY_DIR}")

foreach(_test IN LISTS _unit_tests)
  get_filename_component(_name ${_test} NAME_WE)
  add_executable(${_name} ${_test})
  target_link_libraries(${_name} PRIVATE vantor_test_support GTest::gtest_main)
  if(_test MATCHES "/tests/service/")
    target_link_libraries(${_name} PRIVATE vantor_service_lib)
  endif()
  add_test(NAME ${_name} COMMAND ${_name})
  set_tests_properties(${_name} PROPERTIES TIMEOUT 300
    ENVIRONMENT "VANTOR_PRESET=${VANTOR_PRESET_NAME}")
  if(WIN32)
    # The unit tests share the build's Wine prefix, and with it the registry
    # values (the Steam client's path above all) that some of them set.
    set_tests_properties(${_name} PROPERTIES RESOURCE_LOCK wine_registry)
  endif()
endforeach()

# Every tests/<module>/<name>_test.py runs the built programs end to end.
file(GLOB_RECURSE _e2e_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.py)
# Browser tests drive Chromium through Debian's python3-selenium, which only
# Debian's own Python sees.
find_program(VANTOR_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
foreach(_test IN LISTS _e2e_tests)
  get_filename_component(_name ${_test} NAME_WE)
  # The room service is a Linux program: a Windows build runs only its agents
  # against it (the native build's vantor-rooms).
  if(WIN32 AND _test MATCHES "/tests/service/" AND NOT _name STREQUAL "agents_rooms_test")
    continue()
  endif()
  set(_python ${Python3_EXECUTABLE})
  if(_name MATCHES "_browser_test$")
    set(_python ${VANTOR_DEBIAN_PYTHON})
  endif()
  add_test(NAME ${_name}_py COMMAND ${_python} ${_test})
  set(_env
    "VANTOR_AGENT=$<TARGET_FILE:vantor-agent>"
    "VANTOR_ROOMS=$<$<NOT:$<BOOL:${WIN32}>>:${CMAKE_BINARY_DIR}/vantor-rooms>"
    "VANTOR_PRESET=${VANTOR_PRESET_NAME}"
    "VANTOR_BUILD_DIR=${CMAKE_BINARY_DIR}"
    "VANTOR_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "PYTHONDONTWRITEBYTECODE=1"
    "PYTHONPATH=${CMAKE_SOURCE_DIR}/tests/support")
  if(WIN32)
    list(APPEND _env "WINEPREFIX=${VANTOR_WINEPREFIX}" "WINEDEBUG=-all")
  endif()
  set_tests_properties(${_name}_py PROPERTIES TIMEOUT 600 ENVIRONMENT "${_env}"
    RESOURCE_LOCK agent_e2e)
endforeach()
