# Entry points named in the README. CI runs .ci/run, which calls these with STRICT=1.
BUILD      ?= build/release
ASAN_BUILD ?= build/asan
FUZZ_BUILD ?= build/fuzz
WIN_BUILD  ?= build/windows
WIN32_BUILD ?= build/windows-i686
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 20
# Extra cmake arguments, e.g. CMAKE_ARGS=-DQUARN_GUI=OFF
CMAKE_ARGS ?=

# Every build tree compiles through ccache where it is installed (CMakeLists.txt). Paths under this
# folder are hashed relative to it and the build folder's own path is left out of the hash, so the
# trees of one clone and clones in other folders (CI's fresh clone) share their hits.
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= true

# STRICT=1 (CI): a part or a suite that cannot be built fails the configure step (QUARN_REQUIRE_ALL),
# warnings are errors (QUARN_WERROR), and a skipped test fails the run unless
# scripts/allowed-skips.txt names it. Without it the same builds only list what they dropped or skipped.
STRICT ?= 0
ifeq ($(STRICT),1)
STRICT_FLAGS := -DQUARN_REQUIRE_ALL=ON -DQUARN_WERROR=ON
SKIP_CHECK   := --strict
else
STRICT_FLAGS := -DQUARN_REQUIRE_ALL=OFF -DQUARN_WERROR=OFF
SKIP_CHECK   :=
endif

# A GoogleTest program that runs whole (under Wine; on Linux ctest gives each case a process of its
# own) runs its cases in a random order, so a case that passes only after another one fails. The seed
# is printed; GTEST_RANDOM_SEED=N runs that order again.
export GTEST_SHUFFLE ?= 1
export GTEST_RANDOM_SEED ?= $(shell shuf -i 1-99999 -n 1)
ifneq ($(filter test asan windows,$(MAKECMDGOALS)),)
$(info tests in random order: GTEST_RANDOM_SEED=$(GTEST_RANDOM_SEED))
endif

# Sanitizer settings of the test runs: leaks are reported, and the first report stops the program.
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# ctest over a build folder ($(1)) with extra environment ($(2)) and the skip check with extra
# arguments ($(3)) (scripts/run-tests.sh: the tests labelled "realtime" run beside the others with
# REALTIME_JOBS).
REALTIME_JOBS ?= 6
define run_tests
	JOBS=$(JOBS) REALTIME_JOBS=$(REALTIME_JOBS) ./scripts/run-tests.sh $(1) $(SKIP_CHECK) $(3) $(2)
endef

.PHONY: all deps configure build test demo asan fuzz windows clean format

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(STRICT_FLAGS) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Every suite, and every benchmark once (one short repetition, label "bench").
test: build
	$(call run_tests,$(BUILD),)

demo: build
	./scripts/demo.sh $(BUILD)

# The suites, the workstation included, under AddressSanitizer + UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARN_SANITIZE=ON -DQUARN_BENCH=OFF \
	  $(STRICT_FLAGS) $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	$(call run_tests,$(ASAN_BUILD),$(SANITIZER_ENV))

# Every libFuzzer target for a bounded time from its seed corpus (fuzz/corpus/<target>), built with
# clang under ASan/UBSan.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARN_FUZZ=ON \
	  -DQUARN_SANITIZE=ON -DQUARN_GUI=OFF -DQUARN_BENCH=OFF -DQUARN_TESTS=OFF $(STRICT_FLAGS) $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_all
	./scripts/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# quarn.dll for 64-bit and 32-bit Windows, cross-built with MinGW-w64; the library's suites and the
# Windows checks under Wine (docs/windows.md), where no test may skip; the 32-bit tree has only
# checks that need no program run (Wine here runs 64-bit programs). The Linux tree ($(BUILD)) provides libquarn.so, whose
# exports the DLL's are compared with, and quarn-sim and quarn-cli for the end-to-end tests.
WIN_CMAKE = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARN_LINUX_BUILD=$(abspath $(BUILD)) $(STRICT_FLAGS) $(CMAKE_ARGS)
windows: configure
	cmake --build $(BUILD) -j $(JOBS) --target quarn quarn-sim quarn-cli windows_com_tests
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(WIN_CMAKE)
	cmake --build $(WIN_BUILD) -j $(JOBS)
	cmake -S . -B $(WIN32_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake $(WIN_CMAKE)
	cmake --build $(WIN32_BUILD) -j $(JOBS)
	cd $(WIN32_BUILD) && ctest --output-on-failure
	$(call run_tests,$(WIN_BUILD),,--allow /dev/null)
	WINEPREFIX=$(abspath $(WIN_BUILD))/wineprefix wineserver -k 2>/dev/null || true

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
