# Entry points for newcomers and CI. Build trees under build/ are reused
# between runs; `make clean` removes them.
#   make run    install what is missing, build, show how to use the tools
#   make test   every test: g++ build (unit and lab tests), ThreadSanitizer
#               for the threaded code, then ASan+UBSan with the fuzz smoke runs
#   make fuzz   every fuzz target for 60 s
#   make bench  discovery under a burst of simulated devices (network lab)
.PHONY: run test fuzz bench clean deps

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
	@echo "Built in build/normal:"
	@echo "  build/normal/cli/oxlo       find and address devices:  oxlo discover --help"
	@echo "  build/normal/sim/oxlo-sim   a simulated device:        oxlo-sim --help"
	@echo "Try both without touching your network, inside the lab (root):"
	@echo "  OXLO_SIM=build/normal/sim/oxlo-sim scripts/lab --sim '--devices 3' -- build/normal/cli/oxlo discover"
	@echo "The desktop window is still to come. Run the tests with: make test"

test: deps
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS)
	ctest --test-dir build/normal $(CTEST_FLAGS)
	@scripts/configure tsan
	cmake --build build/tsan -j $(JOBS) --target transport_tests sim_tests sim_process_tests
	ctest --test-dir build/tsan $(CTEST_FLAGS) -R '^(Endpoint|ExecutorDelivery|ReplySender|SimProcess)'
	@scripts/configure asan
	cmake --build build/asan -j $(JOBS)
	ctest --test-dir build/asan $(CTEST_FLAGS) -LE lab

fuzz: deps
	scripts/fuzz 60

bench: deps
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS)
	scripts/bench build/normal

clean:
	rm -rf build
