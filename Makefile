# Entry points: `make play`, `make test`, `make deb`, `make bench` and
# `make windows`. Each installs what is missing first.
BUILD      := build
ASAN_BUILD := build-asan
PLAY       := $(BUILD)/play
JOBS       ?= 2
XVFB       := xvfb-run -a -s "-screen 0 1024x1024x24"

# CMake's own make runs beneath this one: keep it from announcing every folder.
MAKEFLAGS  += --no-print-directory

.PHONY: deps configure build play test test-asan bench screenshots deb clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The game plays in a folder of its own under build/, on copies of the shipped
# levels made once, so that the scores it appends to them never touch levels/.
play: configure
	@cmake --build $(BUILD) -j $(JOBS) --target kestrivane
	@mkdir -p $(PLAY)
	@for level in levels/level*.png; do [ -e $(PLAY)/$${level#levels/} ] || cp $$level $(PLAY)/; done
	@if [ -z "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then \
	  echo "make play: there is no display to open the game's window on."; \
	  echo "  To see the game on a machine without one, run"; \
	  echo "    make screenshots"; \
	  echo "  which plays it on a virtual display and takes pictures of it into docs/."; \
	  exit 1; \
	fi
	@cd $(PLAY) && ../kestrivane

# The plain build runs every test, those that open windows on a display of
# their own under Xvfb, so that no window pops up and no key press lands on a
# desktop; the sanitizer build runs the headless ones again, so that a read
# one byte out of bounds fails instead of passing by luck.
test: build
	@cd $(BUILD) && $(XVFB) ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-asan

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIVANE_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L headless

# Our decoders beside zlib, libdeflate, libpng, spng and stb_image on the same
# inputs, in process and as whole processes (with huge pages on and off, one and
# several files a process, with peak memory), then what drawing a frame costs
# under Xvfb. The peers, ImageMagick and GNU time are installed for this target
# only, before configuring, so that CMake finds them; the inputs are written once.
bench:
	@scripts/install-deps bench
	@$(MAKE) --no-print-directory configure
	@cmake --build $(BUILD) -j $(JOBS) --target decode_bench
	@scripts/make-bench-inputs $(BUILD)/bench-inputs
	@$(BUILD)/decode_bench $(BUILD)/bench-inputs --benchmark_out=$(BUILD)/decode-bench.json --benchmark_out_format=json
	@cmake --build $(BUILD) -j $(JOBS) --target pngdecode peer_decode
	@scripts/race-processes $(BUILD)/pngdecode $(BUILD)/peer_decode $(BUILD)/bench-inputs --in-process $(BUILD)/decode-bench.json
	@cmake --build $(BUILD) -j $(JOBS) --target frame_bench
	@xvfb-run -a -s "-screen 0 3840x2160x24" $(BUILD)/frame_bench  # room for a 2160 x 2160 window

# The Debian package for players, build/kestrivane_VERSION_ARCH.deb, made
# from the plain build with Debian's own tools (scripts/make-deb, which also
# validates the desktop entry and the metainfo), then held to lintian.
deb: configure
	@scripts/install-deps package
	@cmake --build $(BUILD) -j $(JOBS) --target kestrivane levelcheck package_files
	@deb=$$(scripts/make-deb $(BUILD) $(BUILD)) && echo "make deb: $$deb" && lintian --fail-on error "$$deb"

# The README's pictures of the game, taken under Xvfb into docs/.
screenshots: build
	@scripts/install-deps screenshots
	@scripts/take-screenshots $(BUILD)/kestrivane docs

# Fuzzing, with clang and libFuzzer: the decoders' fast path against their
# exact path on inputs the fuzzer makes up, both targets at once for
# FUZZ_SECONDS each (`make fuzz FUZZ_SECONDS=1800`). build-fuzz/ has a build of
# its own; `make test` never needs clang. The corpora grow in build-fuzz/corpus/
# from tests/pngsuite/, zlib_seeds.py's streams and tests/regressions/; the logs are
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
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_png fuzz_zlib
	@mkdir -p $(FUZZ_BUILD)/corpus/png $(FUZZ_BUILD)/corpus/zlib $(FUZZ_BUILD)/findings
	@cp tests/pngsuite/*.png $(FUZZ_BUILD)/corpus/png/
	@for f in tests/regressions/*.png; do [ ! -e "$$f" ] || cp "$$f" $(FUZZ_BUILD)/corpus/png/; done
	@for f in tests/regressions/*.zlib; do [ ! -e "$$f" ] || cp "$$f" $(FUZZ_BUILD)/corpus/zlib/; done
	@python3 tests/fuzz/zlib_seeds.py $(FUZZ_BUILD)/corpus/zlib
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

# A zip for Windows players, cross-compiled with mingw-w64: the game, levelcheck
# and pngdecode, SDL2.dll, the shipped levels and a readme. SDL2 is built once
# from Debian's source package into build-windows/sdl2/ (a few minutes); the
# programs link the C++ and thread runtimes in, so SDL2.dll is the one DLL they
# need beside Windows' own. `make clean` leaves build-windows/ alone, to spare
# that SDL2 build: remove it by hand.
WIN_BUILD     := build-windows
WIN_TOOLCHAIN := $(CURDIR)/cmake/mingw-w64-x86_64.cmake
WIN_SDL2      := $(CURDIR)/$(WIN_BUILD)/sdl2

.PHONY: windows test-windows
windows:
	@scripts/install-deps windows
	@JOBS=$(JOBS) scripts/build-sdl2-windows $(WIN_BUILD)
	@cmake -S . -B $(WIN_BUILD)/game -DCMAKE_TOOLCHAIN_FILE=$(WIN_TOOLCHAIN) -DCMAKE_PREFIX_PATH=$(WIN_SDL2) \
		-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
	@cmake --build $(WIN_BUILD)/game -j $(JOBS) --target kestrivane levelcheck pngdecode
	@scripts/make-windows-zip $(WIN_BUILD)/kestrivane-windows.zip $(WIN_BUILD)/game $(WIN_SDL2)/bin/SDL2.dll

# The zip's programs under Wine on Xvfb, held to the Linux build: the same
# lines and bytes from the tools, the same game on the same folder. Wine gets
# a prefix of its own in build-windows/, made on the first run.
# The platform files' own tests run there too, and the events' with SDL's
# virtual pads, through the zip's SDL2.dll.
test-windows: windows build
	@cmake --build $(WIN_BUILD)/game -j $(JOBS) --target platform_tests shell_tests
	@WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/wine WINEDEBUG=-all $(XVFB) python3 tests/windows/windows_test.py \
		$(BUILD) $(WIN_BUILD)/kestrivane-windows.zip $(WIN_BUILD)/game/platform_tests.exe \
		$(WIN_BUILD)/game/shell_tests.exe

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
