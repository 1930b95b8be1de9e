include(GoogleTest)

# One test program per folder, from its test_*.cpp files and the shared main()
# (support/test_main.cpp). Widget tests run on Qt's offscreen platform so no display is
# needed. A test that hangs fails after five minutes instead of holding up the whole run.
#
#   newsbar_tests(<folder> <libraries...> [THREADED <suite>...] [SLOW <suite>...])
#
# The tests named after THREADED carry the label `threaded` (two threads meet in them:
# scripts/test --sanitize=thread runs these), those after SLOW the label `slow` (they wait
# out a shipped time limit). A name is a suite ("WindowCalls") or a suite and a test
# ("ScriptControl.RunawayStatement..."), without a parameterised instance's prefix and
# parameter.
function(newsbar_tests folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "THREADED;SLOW")
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  set(target newsbar_tests_${folder})
  add_executable(${target} ${sources})
  set_target_properties(${target} PROPERTIES AUTOMOC ON AUTORCC ON)
  target_link_libraries(${target} PRIVATE ${arg_UNPARSED_ARGUMENTS} newsbar_test_support
                                          newsbar_test_main newsbar_warnings)
  newsbar_discover_tests(${target} THREADED ${arg_THREADED} SLOW ${arg_SLOW})
endfunction()

# gtest_discover_tests with the labels above (also for the benchmark's test program).
function(newsbar_discover_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "THREADED;SLOW")
  gtest_discover_tests(${target}
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8" TIMEOUT 300
    DISCOVERY_TIMEOUT 60 TEST_LIST ${target}_tests)
  # The discovered names exist only when ctest reads the test list, so the labels are
  # given there, by a script that runs after the list is read.
  set(rules "")
  foreach(label threaded slow)
    string(TOUPPER ${label} option)
    if(arg_${option})
      string(JOIN "|" suites ${arg_${option}})
      string(APPEND rules "  if(suite MATCHES \"^(${suites})$\" OR name MATCHES \"^(${suites})$\")\n"
                          "    list(APPEND labels ${label})\n  endif()\n")
    endif()
  endforeach()
  if(NOT rules)
    return()
  endif()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake)
  file(WRITE ${script} "foreach(test IN LISTS ${target}_tests)
  string(REGEX REPLACE \"^[^./]*/\" \"\" name \"\${test}\")
  string(REGEX REPLACE \"/.*\" \"\" name \"\${name}\")
  string(REGEX REPLACE \"[.].*\" \"\" suite \"\${name}\")
  set(labels \"\")
${rules}  if(labels)
    set_tests_properties(\"\${test}\" PROPERTIES LABELS \"\${labels}\")
  endif()
endforeach()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
