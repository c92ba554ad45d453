# The demo content (sound library, reel, project, recipes, chains) is made at build
# time by a small tool and lands in "DemoContent" beside the programs, where the
# program data folder search finds it.
add_executable(morvane-make-demo-content ${PROJECT_SOURCE_DIR}/src/demo/tool/make_demo_content.cpp)
target_compile_options(morvane-make-demo-content PRIVATE ${MORVANE_WARNINGS})
target_link_libraries(morvane-make-demo-content PRIVATE morvane_core)
set(MORVANE_DEMO_CONTENT ${CMAKE_CURRENT_BINARY_DIR}/DemoContent)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/DemoContent.stamp
  COMMAND morvane-make-demo-content ${MORVANE_DEMO_CONTENT}
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_CURRENT_BINARY_DIR}/DemoContent.stamp
  DEPENDS morvane-make-demo-content
  COMMENT "Making the demo content"
  VERBATIM)
add_custom_target(morvane_demo_content ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/DemoContent.stamp)
add_dependencies(morvane-cli morvane_demo_content)
