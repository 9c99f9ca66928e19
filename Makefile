# Entry points named in the README. `make test` is what CI runs.
BUILD      ?= build/release
ASAN_BUILD ?= build/asan
FUZZ_BUILD ?= build/fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 20

.PHONY: all deps configure build test demo asan fuzz clean format

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	./scripts/demo.sh $(BUILD)

# The test suites under AddressSanitizer + UndefinedBehaviorSanitizer (no GUI, no benchmarks).
asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARN_SANITIZE=ON -DQUARN_GUI=OFF -DQUARN_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# Every libFuzzer target for a bounded time, built with clang under ASan/UBSan.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARN_FUZZ=ON \
	  -DQUARN_SANITIZE=ON -DQUARN_GUI=OFF -DQUARN_BENCH=OFF -DQUARN_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_all
	./scripts/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
