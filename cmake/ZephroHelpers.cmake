# zephro_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [QT | GUI])
# One GoogleTest executable; every test case in it becomes one ctest test.
# QT tests get a QCoreApplication-based main, GUI tests (fonts, pictures) a
# QGuiApplication-based one; both run on the offscreen platform.
function(zephro_add_test)
  cmake_parse_arguments(ARG "QT;GUI" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} zephro_test_support GTest::gmock)
  if(ARG_GUI)
    target_link_libraries(${ARG_NAME} PRIVATE zephro_qt_gui_test_main)
  elseif(ARG_QT)
    target_link_libraries(${ARG_NAME} PRIVATE zephro_qt_test_main)
  else()
    target_link_libraries(${ARG_NAME} PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${ARG_NAME}
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZEPHRO_SOURCE_DIR=${PROJECT_SOURCE_DIR};ZEPHRO_BINARY_DIR=${PROJECT_BINARY_DIR};XDG_DATA_HOME=${PROJECT_BINARY_DIR}/test-data;ZEPHRO_TELEMETRY_URL=http://127.0.0.1:9"
               TIMEOUT 300)
endfunction()

# zephro_add_fuzzer(NAME <name> SOURCES <files...> LIBS <targets...>)
# With ZEPHRO_FUZZ (clang) the target is a libFuzzer program; otherwise it is linked
# with a small driver that replays fuzz/corpus/<name>/ and registered with ctest, so
# every ordinary test run re-checks the corpus under the sanitizers.
function(zephro_add_fuzzer)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS})
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${ARG_NAME})
  if(ZEPHRO_FUZZ)
    target_compile_options(${ARG_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${ARG_NAME} PRIVATE -fsanitize=fuzzer)
  else()
    target_link_libraries(${ARG_NAME} PRIVATE zephro_fuzz_replay)
    add_test(NAME fuzz_replay.${ARG_NAME} COMMAND ${ARG_NAME} ${corpus})
  endif()
endfunction()
