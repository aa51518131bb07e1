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

# Our decoders beside zlib, libdeflate, libpng, spng and stb_image on the same
# inputs. The peers and ImageMagick are installed for this target only, before
# configuring, so that CMake finds them; the inputs are written once.
bench:
	@scripts/install-deps bench
	@$(MAKE) --no-print-directory configure
	@cmake --build $(BUILD) -j $(JOBS) --target decode_bench
	@scripts/make-bench-inputs $(BUILD)/bench-inputs
	@$(BUILD)/decode_bench $(BUILD)/bench-inputs

# Fuzzing, with clang and libFuzzer: the fast decoders against the reference in
# tests/reference on inputs the fuzzer makes up, both targets at once for
# FUZZ_SECONDS each (`make fuzz FUZZ_SECONDS=1800`). build-fuzz/ has a build of
# its own; `make test` never needs clang. The corpora grow in build-fuzz/corpus/
# from the PNG suite, zlib_seeds' streams and tests/regressions/; the logs are
# build-fuzz/fuzz_*.log. An input that made the decoders differ or crash lands
# in build-fuzz/findings/: minimise it (build-fuzz/fuzz_png -minimize_crash=1
# -runs=100000 FILE, likewise fuzz_zlib), name it after what it caught and copy
# it into tests/regressions/ (.png or .zlib), where every `make test` replays it.
FUZZ_BUILD   := build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_FLAGS   := -max_total_time=$(FUZZ_SECONDS) -timeout=30 -print_final_stats=1 -artifact_prefix=findings/

.PHONY: fuzz
fuzz:
	@scripts/install-deps fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
		-DKESTRIVANE_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_png fuzz_zlib zlib_seeds
	@mkdir -p $(FUZZ_BUILD)/corpus/png $(FUZZ_BUILD)/corpus/zlib $(FUZZ_BUILD)/findings
	@cp ../shared/pngsuite/*.png $(FUZZ_BUILD)/corpus/png/
	@for f in tests/regressions/*.png; do [ ! -e "$$f" ] || cp "$$f" $(FUZZ_BUILD)/corpus/png/; done
	@for f in tests/regressions/*.zlib; do [ ! -e "$$f" ] || cp "$$f" $(FUZZ_BUILD)/corpus/zlib/; done
	@$(FUZZ_BUILD)/zlib_seeds $(FUZZ_BUILD)/corpus/zlib
	@echo "fuzz: fuzz_png and fuzz_zlib for $(FUZZ_SECONDS) s each, side by side"
	@cd $(FUZZ_BUILD) || exit 1; \
	  ./fuzz_png $(FUZZ_FLAGS) -dict=$(CURDIR)/tests/fuzz/png.dict corpus/png >fuzz_png.log 2>&1 & png=$$!; \
	  ./fuzz_zlib $(FUZZ_FLAGS) corpus/zlib >fuzz_zlib.log 2>&1; zlib=$$?; \
	  wait $$png; png=$$?; \
	  for t in png zlib; do \
	    echo "fuzz_$$t:"; grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec))' fuzz_$$t.log | sed 's/^/  /'; \
	  done; \
	  if [ $$png -ne 0 ] || [ $$zlib -ne 0 ]; then \
	    tail -n 30 fuzz_png.log fuzz_zlib.log; ls -l findings; exit 1; \
	  fi

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
