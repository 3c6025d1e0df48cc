# Fails listing every CTest test of BUILD_DIR that carries no label (the tests that ctest -LE .,
# which leaves out every test with a label, still lists).
# Usage: cmake -DCTEST=ctest -DBUILD_DIR=DIR -P CheckTestLabels.cmake
function(list_tests out)
  execute_process(COMMAND ${CTEST} --test-dir ${BUILD_DIR} -N ${ARGN}
    OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "ctest -N ${ARGN} failed: ${errors}")
  endif()
  string(REGEX MATCHALL "Test +#[0-9]+: [^\n]+" tests "${text}")
  set(${out} "${tests}" PARENT_SCOPE)
endfunction()

list_tests(all)
list(LENGTH all count)
if(count EQUAL 0)
  message(FATAL_ERROR "no tests registered in ${BUILD_DIR}")
endif()
list_tests(unlabelled -LE .)
if(unlabelled)
  list(JOIN unlabelled "\n  " lines)
  message(FATAL_ERROR "tests without a label (see cmake/MarketTests.cmake):\n  ${lines}")
endif()
message(STATUS "${count} tests, each with a label")
