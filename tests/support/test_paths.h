// Files and programs of the build that the tests and benchmarks use (quarn-cli, the simulator, the
// example projects, the catalogues, the report template...), looked up by name at run time.
//
// CMake writes their paths into quarn-test-paths, one "NAME=path" a line, beside the test programs
// (tests/support/test_paths.cmake). Keeping the paths out of the compile commands keeps a test's
// object the same in every checkout, so a fresh clone finds it in the compiler cache. The variable
// QUARN_TEST_PATHS names another such file, e.g. for a test program run from a copy.
#pragma once

#include <string>

namespace quarn::test {

// The path registered under `name`. A missing file, a name it does not list or an empty path throws
// std::runtime_error naming them: inside a test that is a failure with the name, never a test that
// goes on with an empty path.
std::string path(const std::string& name);

// Whether `name` is registered (a part the build left out has no entry).
bool hasPath(const std::string& name);

// The file path() reads: QUARN_TEST_PATHS, or quarn-test-paths in the running program's folder.
std::string pathsFile();

}  // namespace quarn::test
