# Each core subsystem (src/<name>/) is its own static library, so a test of one
# subsystem builds only what it depends on. morvane_core bundles them all.
set(MORVANE_WARNINGS -Wall -Wextra -Werror)

function(morvane_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp ${PROJECT_SOURCE_DIR}/src/${name}/*.c)
  if(NOT sources)
    set(sources ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(morvane_${name} STATIC ${sources})
  target_include_directories(morvane_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/generated)
  target_compile_options(morvane_${name} PRIVATE ${MORVANE_WARNINGS})
  foreach(dep IN LISTS ARG_DEPS)
    target_link_libraries(morvane_${name} PUBLIC morvane_${dep})
  endforeach()
  target_link_libraries(morvane_${name} PUBLIC ${ARG_LIBS} Threads::Threads)
endfunction()

# tests/<name>/*.cpp become one test program per subsystem, test_<name>.
function(morvane_subsystem_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${name}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources} ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp)
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(test_${name} PRIVATE ${MORVANE_WARNINGS})
  target_compile_definitions(test_${name} PRIVATE
      MORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}" MORVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # tests/cli has no library of its own (it drives morvane-cli and links the core).
  if(TARGET morvane_${name})
    target_link_libraries(test_${name} PRIVATE morvane_${name})
  endif()
  target_link_libraries(test_${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 600)
endfunction()
