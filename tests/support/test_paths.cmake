# The files and programs the tests and benchmarks use, passed at run time instead of compile time.
#
# A compile definition whose value is a path of the source or build folder (QUARN_CLI="/home/.../bin/
# quarn-cli") makes the compile command of every file of its target differ from one checkout to the
# next, and the compiler cache rewrites paths on the command line but not inside a definition's
# value: each fresh clone compiled those files again. Instead CMake writes quarn-test-paths beside
# the test programs, one "NAME=path" a line, and quarn::test::path("NAME") (test_paths.h) reads it
# from the running program's folder. Included by tests/ and bench/, whichever comes first.
include_guard(GLOBAL)

add_library(quarn_test_paths STATIC EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/test_paths.cpp)
target_include_directories(quarn_test_paths PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# quarn_test_path(NAME value): one entry of the file; the value may hold generator expressions
# ($<TARGET_FILE:...>), evaluated when the file is written.
function(quarn_test_path name value)
  set_property(TARGET quarn_test_paths APPEND PROPERTY QUARN_TEST_PATH_ENTRIES "${name}=${value}")
endfunction()

# Entries are read when the build system is generated, so those registered after this line (by the
# suites, the benchmarks) are in the file too.
file(GENERATE OUTPUT ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/quarn-test-paths
     CONTENT "$<JOIN:$<TARGET_GENEX_EVAL:quarn_test_paths,$<TARGET_PROPERTY:quarn_test_paths,QUARN_TEST_PATH_ENTRIES>>,\n>\n")

# What every suite may use. The products are defined before tests/ and bench/.
quarn_test_path(QUARN_EXAMPLES_DIR ${CMAKE_SOURCE_DIR}/examples)
quarn_test_path(QUARN_CATALOGUE_DIR ${CMAKE_SOURCE_DIR}/lab/catalogs)
quarn_test_path(XLSXTEST_TEMPLATE "${CMAKE_SOURCE_DIR}/template_xml/Протокол поверки.xlsx")
quarn_test_path(XLSXTEST_DUMP_SCRIPT ${CMAKE_SOURCE_DIR}/tests/xlsxgen/dump_workbook.py)
quarn_test_path(QUARN_HISTORY_SCHEMA1_FIXTURE ${CMAKE_SOURCE_DIR}/tests/lab/history/fixtures/schema1_history.db)
quarn_test_path(QUARN_PG_CLUSTER_SCRIPT ${CMAKE_SOURCE_DIR}/scripts/pg-test-cluster.sh)
quarn_test_path(QUARN_TEST_PG_STATE_FILE ${CMAKE_BINARY_DIR}/history_server_cluster.state)
if(TARGET quarn)
  if(WIN32)
    # LoadLibrary finds quarn.dll by its name beside the test program (under Wine too).
    quarn_test_path(QUARN_LIBRARY $<TARGET_FILE_NAME:quarn>)
  else()
    quarn_test_path(QUARN_LIBRARY $<TARGET_FILE:quarn>)
  endif()
endif()
if(TARGET quarn-sim)
  quarn_test_path(QUARN_SIM_PROGRAM $<TARGET_FILE:quarn-sim>)
endif()
if(TARGET quarn-cli)
  quarn_test_path(QUARN_CLI $<TARGET_FILE:quarn-cli>)
endif()
if(TARGET ARM_Quarn)
  quarn_test_path(ARM_QUARN_PROGRAM $<TARGET_FILE:ARM_Quarn>)
endif()
