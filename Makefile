# Entry points for newcomers and CI. Build trees under build/ are reused
# between runs; `make clean` removes them.
#   make run    install what is missing, build, start the desktop program
#   make demo   the desktop program searching three simulated devices (network lab)
#   make test   every test: the layout check, g++ build (unit and lab tests),
#               ThreadSanitizer for the threaded code, then ASan+UBSan with the
#               fuzz smoke runs
#   make test-loaded  the window tests three times in a row under two CPU hogs
#   make fuzz   every fuzz target for 60 s
#   make bench  search bursts, fleet runs and a firmware upgrade against the simulator (network lab)
#   make soak   firmware upgrades and settings writes, 50 runs each, over a lossy link (network lab)
#   make package  the Debian package build/package/oxloconfig_*.deb
.PHONY: run demo test test-loaded fuzz bench soak package clean deps

JOBS ?= 2
CTEST_FLAGS := --output-on-failure --no-label-summary -j $(JOBS)

# A sanitizer finding stops the program and fails its test.
export ASAN_OPTIONS := halt_on_error=1:print_stacktrace=1:detect_leaks=1
export UBSAN_OPTIONS := halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS := halt_on_error=1:second_deadlock_stack=1

deps:
	@scripts/install-deps

run: deps
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS)
	@echo
	@echo "Also built: build/normal/cli/oxlo (oxlo discover --help), build/normal/sim/oxlo-sim (--help)."
	@echo "In the network lab (root): make demo, or for the CLI"
	@echo "  OXLO_SIM=build/normal/sim/oxlo-sim scripts/lab --sim '--devices 3' -- build/normal/cli/oxlo discover"
	@if [ -z "$$DISPLAY" ]; then \
	  echo "run: no DISPLAY: start it from a graphical session (headless, scripts/screenshots shows it under Xvfb)" >&2; \
	  exit 1; \
	fi
	build/normal/app/oxloconfig

demo: deps
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS) --target oxloconfig oxlo-sim
	scripts/demo build/normal

test: deps
	@scripts/check-format
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS)
	ctest --test-dir build/normal $(CTEST_FLAGS)
	@scripts/configure tsan
	cmake --build build/tsan -j $(JOBS) --target transport_tests sim_tests sim_process_tests cli_tests
	ctest --test-dir build/tsan $(CTEST_FLAGS) -R '^(Endpoint|FirmwareDriver|FirmwareFleet|FirmwareLoopback|ReplySender|SimProcess|DeviceLine|DeviceSession|ReadDeviceSettings|ChangeDeviceSettings)'
	@scripts/configure asan
	cmake --build build/asan -j $(JOBS)
	ctest --test-dir build/asan $(CTEST_FLAGS) -LE lab

test-loaded: deps
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS) --target ui_tests
	@scripts/configure asan
	cmake --build build/asan -j $(JOBS) --target ui_tests
	scripts/test-loaded

fuzz: deps
	scripts/fuzz 60

bench: deps
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS)
	scripts/bench build/normal

soak: deps
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS)
	tests/soak/run-all build/normal

package: deps
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS)
	cd build/normal && cpack -G DEB -B ../package
	@ls build/package/oxloconfig_*.deb

clean:
	rm -rf build
