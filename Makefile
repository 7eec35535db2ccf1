# Thin front over CMake presets. `make run` and `make test` do all the set-up
# on a fresh Debian 12 machine (they install missing packages first).
JOBS ?= $(shell nproc)
CTEST_ARGS ?=

.PHONY: deps build run test test-sanitize test-sanitize-widgets test-e2e-asan test-tsan test-warnings check-format bench stress install deb smoke-deb clean

deps:
	bash scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

run: build
	bash scripts/install-desktop-entry.sh build/default/bin/kelso
	build/default/bin/kelso

test: build
	cd build/default && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The core's unit tests (ctest label "unit") under ASan + UBSan; what CI runs.
# One build of everything under ASan + UBSan (build/sanitize) serves the unit tests, the widget
# tests (offscreen) and the end-to-end run below. Any report fails the test: none is suppressed.
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1
test-sanitize: deps
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	cd build/sanitize && $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS) -L 'unit|widget' $(CTEST_ARGS)

# The widget tests alone (ctest label "widget"), in the same build.
test-sanitize-widgets: deps
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	cd build/sanitize && $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS) -L widget $(CTEST_ARGS)

# The end-to-end scenarios (label "e2e") against the kelso of build/sanitize. Every report of kelso
# and its helper processes is written to build/sanitize/asan-logs/ and sorted by
# tests/e2e/sanitizer_reports.py: the run fails when a scenario fails or a report is not the
# expected end of a decoder worker on a hostile file. Kelso runs a few times slower under ASan:
# KELSO_E2E_TIME_FACTOR stretches the scenarios' waits (ctest's limits are stretched by the same
# factor in sanitizer builds, see tests/e2e/CMakeLists.txt). Far too slow for every CI run.
E2E_ASAN_LOGS = $(CURDIR)/build/sanitize/asan-logs
E2E_TIME_FACTOR ?= 3
test-e2e-asan: deps
	cmake --preset sanitize -DKELSO_E2E_TIME_FACTOR=$(E2E_TIME_FACTOR)
	cmake --build --preset sanitize -j $(JOBS) --target kelso
	rm -rf $(E2E_ASAN_LOGS) && mkdir -p $(E2E_ASAN_LOGS)
	cd build/sanitize && KELSO_E2E_TIME_FACTOR=$(E2E_TIME_FACTOR) \
		ASAN_OPTIONS=detect_leaks=0:print_cmdline=1:log_path=$(E2E_ASAN_LOGS)/asan \
		UBSAN_OPTIONS=print_stacktrace=1:log_path=$(E2E_ASAN_LOGS)/ubsan \
		ctest --output-on-failure -L e2e $(CTEST_ARGS); status=$$?; \
		python3 $(CURDIR)/tests/e2e/sanitizer_reports.py $(E2E_ASAN_LOGS) $(CURDIR) || status=1; \
		exit $$status

# The engine's threaded tests (ctest label "engine") under ThreadSanitizer; any report fails them.
# A test is run a second time when the first run fails: GCC 12's TSan runtime now and then stops
# on an internal CHECK while it writes up a (suppressed) report in a Qt thread's exit handlers.
test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS) --target engine_tests
	cd build/tsan && TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp second_deadlock_stack=1 die_after_fork=0" \
		ctest --output-on-failure -j $(JOBS) -L engine --repeat until-pass:2 $(CTEST_ARGS)

# Everything (kelso, tests, bench) with the strict warning set; any warning fails the build.
test-warnings: deps
	cmake --preset warnings
	cmake --build --preset warnings -j $(JOBS)

check-format: deps
	bash scripts/check-format.sh $(FORMAT_BASE)

bench: build
	bash bench/run-all.sh build/default

# The program alone (no tests), installed under PREFIX (default /usr/local); DESTDIR stages it.
PREFIX ?= /usr/local
install: deps
	cmake --preset package
	cmake --build --preset package -j $(JOBS)
	DESTDIR=$(DESTDIR) cmake --install build/package --prefix $(PREFIX)

# The Debian package, build/package/kelso_VERSION_ARCH.deb.
deb: deps
	cmake --preset package
	cmake --build --preset package -j $(JOBS)
	cd build/package && cpack -G DEB

# Installs the package on this machine, starts and quits it under Xvfb, removes it again.
smoke-deb: deb
	bash scripts/smoke-test-deb.sh

# Kills Kelso STRESS_TRIALS times at random moments while it writes its stores, and checks that
# each next start reads them all (tests/stress/crash_stress.py). STRESS_ARGS: e.g. --seed N.
STRESS_TRIALS ?= 200
STRESS_ARGS ?=
stress: build
	python3 tests/stress/crash_stress.py --kelso build/default/bin/kelso --out build/default/stress \
		--trials $(STRESS_TRIALS) $(STRESS_ARGS)

clean:
	rm -rf build
