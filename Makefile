# Entry points for newcomers and CI. Build trees under build/ are reused
# between runs; `make clean` removes them.
#   make run    install what is missing, build build/normal
#   make test   unit tests (g++), then unit tests under ASan+UBSan and the
#               fuzz smoke runs (clang)
#   make fuzz   every fuzz target for 60 s
.PHONY: run test fuzz clean deps

JOBS ?= 2
CTEST_FLAGS := --output-on-failure --no-label-summary -j $(JOBS)

# A sanitizer finding stops the program and fails its test.
export ASAN_OPTIONS := halt_on_error=1:print_stacktrace=1:detect_leaks=1
export UBSAN_OPTIONS := halt_on_error=1:print_stacktrace=1

deps:
	@scripts/install-deps

run: deps
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS)
	@echo
	@echo "Built in build/normal (g++, RelWithDebInfo):"
	@find build/normal -path '*/CMakeFiles' -prune -o -type f \( -perm -u+x -o -name '*.a' \) \
	  -print | sort | sed 's/^/  /'
	@echo "There is no desktop window yet; try the command-line tool: build/normal/cli/oxlo --help"
	@echo "Run every test with:   make test"
	@echo "or only the g++ build: ctest --test-dir build/normal --output-on-failure"

test: deps
	@scripts/configure normal
	cmake --build build/normal -j $(JOBS)
	ctest --test-dir build/normal $(CTEST_FLAGS)
	@scripts/configure asan
	cmake --build build/asan -j $(JOBS)
	ctest --test-dir build/asan $(CTEST_FLAGS)

fuzz: deps
	scripts/fuzz 60

clean:
	rm -rf build
