# Entry points: `make test` and `make bench`. Each installs what is missing first.
BUILD      := build
ASAN_BUILD := build-asan
JOBS       ?= 2

.PHONY: deps configure build test test-asan bench clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The plain build runs every test; the sanitizer build runs the headless ones
# again, so that a read one byte out of bounds fails instead of passing by luck.
test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-asan

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIVANE_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L headless

# Our decoders beside zlib and libpng on the same inputs.
bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target decode_bench
	@$(BUILD)/decode_bench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
