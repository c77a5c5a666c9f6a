# ZelvikCfg widget tests (QTest, offscreen) over real SQLite and PostgreSQL stores.
find_package(Qt6 REQUIRED COMPONENTS Test)
set(CMAKE_AUTOMOC ON)
add_executable(zelvikcfg_ui_test
  channel_dialog_ui_test.cpp
  channel_page_ui_test.cpp
  pages_ui_test.cpp
  settings_dialog_ui_test.cpp
  ui_test_main.cpp
)
target_link_libraries(zelvikcfg_ui_test PRIVATE zelvikcfg_ui zelvik_test_support zelvik_test_smtp
                      Qt6::Test)
# The alerts page's "Тест" runs the real zelvik.
target_compile_definitions(zelvikcfg_ui_test PRIVATE ZELVIK_BINARY="$<TARGET_FILE:zelvik>")
add_dependencies(zelvikcfg_ui_test zelvik)
add_test(NAME zelvikcfg_ui_test COMMAND zelvikcfg_ui_test)
set_tests_properties(zelvikcfg_ui_test PROPERTIES TIMEOUT 300 ${ZELVIK_PG_TEST_PROPERTIES})
