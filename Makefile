# Set-up, build and test entry points. `make run` and `make test` work on a fresh
# Debian 12 machine: they install what is missing first (apt-get, as root or via sudo).

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
# Seconds each fuzz target runs under `make fuzz`; CI passes a shorter time.
FUZZ_TIME  ?= 300
FUZZ_TARGETS = session_receive_fuzz settings_fuzz user_database_fuzz
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build run test test-only sanitize fuzz fuzz-build bench package package-check format clean screenshots

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/orvane

test: build
	$(MAKE) --no-print-directory test-only

test-only:
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The whole suite again under AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer;
# any report fails its test. Leaks inside third-party libraries are listed in tests/lsan.supp.
sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent \
	  ORVANE_STRESS_SECONDS=20 \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# libFuzzer targets, built with clang in their own directory, each run for FUZZ_TIME seconds.
fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DORVANE_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)

fuzz: fuzz-build
	bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_TIME) $(FUZZ_TARGETS)

bench: build
	@bash scripts/install-deps.sh bench
	bash bench/compare-peers.sh $(BUILD)
	bash bench/compare-tls.sh $(BUILD)

# The Debian package $(BUILD)/orvane_<version>_<arch>.deb, checked with lintian.
package: build
	@bash scripts/install-deps.sh package
	rm -f $(BUILD)/orvane_*.deb
	cd $(BUILD) && cpack -G DEB
	lintian --allow-root --fail-on error $(BUILD)/orvane_*.deb

# Builds the package, installs it, serves a login as an unprivileged user, removes it (root).
package-check:
	bash scripts/package-check.sh $(BUILD)

format:
	find src tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
