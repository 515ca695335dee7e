# A small plug-in module of our own that drives the host through its suites.
add_library(tintbridge_fake_plugin MODULE ${area_dir}/fake/FakePlugin.cpp)
target_include_directories(tintbridge_fake_plugin PRIVATE ${CMAKE_SOURCE_DIR})
set_target_properties(tintbridge_fake_plugin PROPERTIES PREFIX "" SUFFIX ".ofx" OUTPUT_NAME "FakeEffect")
add_dependencies(test_${area} tintbridge_fake_plugin)
target_compile_definitions(test_${area} PRIVATE FAKE_PLUGIN_BINARY="$<TARGET_FILE:tintbridge_fake_plugin>")
