# The two commands a newcomer needs: `make demo` and `make test`. Each installs and builds
# what it needs first.
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
FUZZ_RUNS ?= 20000
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CTEST_ARGS ?=


.PHONY: all deps configure build test asan-build test-asan fuzz bench demo demo-net package format clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD_DIR)/build.ninja: | deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# A watched test that hung leaves its threads' stacks in tests/hangs (scripts/hang-watch.sh):
# they are printed after the run, whatever its outcome.
test: build
	@rm -rf $(BUILD_DIR)/tests/hangs
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) $(CTEST_ARGS); \
	  status=$$?; cat $(BUILD_DIR)/tests/hangs/*.txt 2>/dev/null; exit $$status

$(ASAN_DIR)/build.ninja: | deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSETTINGMODEL_SANITIZE=ON

asan-build: deps $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR) -j $(JOBS)

# Leak reports stop the run; scripts/lsan.supp holds the (commented) exceptions. Full stacks
# (no fast unwinding) so that an exception matches only the code it names.
test-asan: asan-build
	@rm -rf $(ASAN_DIR)/tests/hangs
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS) $(CTEST_ARGS); \
	  status=$$?; cat $(ASAN_DIR)/tests/hangs/*.txt 2>/dev/null; exit $$status

# libFuzzer targets (clang, ASan, UBSan) over answers, pushes, preference values and stored values, each run
# FUZZ_RUNS times from the seeds the build makes out of real traffic.
$(FUZZ_DIR)/build.ninja: | deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DSETTINGMODEL_FUZZ=ON

fuzz: deps $(FUZZ_DIR)/build.ninja
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_answers fuzz_pushes fuzz_values fuzz_stored
	bash scripts/run-fuzz.sh $(FUZZ_DIR) $(FUZZ_RUNS)

bench: build
	$(BUILD_DIR)/bench/bench_sharedpreferences
	$(BUILD_DIR)/bench/bench_files
	$(BUILD_DIR)/bench/bench_notifications
	$(BUILD_DIR)/bench/bench_wallpapers
	$(BUILD_DIR)/bench/bench_heavyaccount
	$(BUILD_DIR)/bench/bench_netserver

# Opens the window with a display; without one it runs the scenario and writes screenshots.
# Screenshots go to the build folder whatever DEMO_ARGS says, unless it names another folder.
DEMO_ARGS ?=
demo: build
	$(BUILD_DIR)/demo/settingmodel-demo --screenshots $(CURDIR)/$(BUILD_DIR)/demo-screenshots $(DEMO_ARGS)

# The server process and two device processes, each in a window of its own.
demo-net: build
	BUILD_DIR=$(BUILD_DIR) bash scripts/demo-net.sh

# Debian packages of the module (runtime and development) in $(BUILD_DIR)/packages.
package: build
	cd $(BUILD_DIR) && cpack -G DEB -B $(CURDIR)/$(BUILD_DIR)/packages

format: deps
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
