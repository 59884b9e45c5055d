# Movra's front door. `make test` installs what is missing (Debian, as root), builds the native,
# sanitizer and Windows trees, and runs every test. `make demo` runs Movra against TiSim.
SHELL := /bin/bash
BUILD ?= build
JOBS ?= $(shell nproc)
NATIVE := $(BUILD)/native
TSAN := $(BUILD)/tsan
ASAN := $(BUILD)/asan
WIN := $(BUILD)/win
FUZZ := $(BUILD)/fuzz
CMAKE_FLAGS ?=

PACKAGES := cmake g++ make libgtest-dev googletest libbenchmark-dev \
	g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb xauth x11-utils imagemagick \
	clang libclang-rt-14-dev nsis nlohmann-json3-dev python3-cbor2

.PHONY: all deps native win dist tsan asan test test-native test-win test-tsan test-asan fuzz bench demo soak format clean

all: native win

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "== installing:$$missing"; \
	  if [ "$$(id -u)" != 0 ]; then echo "need root to install:$$missing" >&2; exit 1; fi; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  apt-get update -q && apt-get install -y -q --no-install-recommends $$missing; \
	fi

$(NATIVE)/CMakeCache.txt:
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
$(TSAN)/CMakeCache.txt:
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOVRA_SANITIZE=thread $(CMAKE_FLAGS)
$(ASAN)/CMakeCache.txt:
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOVRA_SANITIZE=address $(CMAKE_FLAGS)
$(WIN)/CMakeCache.txt:
	cmake -S . -B $(WIN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake $(CMAKE_FLAGS)

native: $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)
tsan: $(TSAN)/CMakeCache.txt
	cmake --build $(TSAN) -j $(JOBS)
asan: $(ASAN)/CMakeCache.txt
	cmake --build $(ASAN) -j $(JOBS)
win: $(WIN)/CMakeCache.txt
	cmake --build $(WIN) -j $(JOBS)

# The setup program, the portable zip and their SHA256SUMS, from the (release) Windows tree.
DIST := $(BUILD)/dist
dist: deps
	@[ -f $(WIN)/CMakeCache.txt ] && grep -q "^MOVRA_MAKENSIS:FILEPATH=.*makensis$$" $(WIN)/CMakeCache.txt \
	  || cmake -S . -B $(WIN) -DCMAKE_BUILD_TYPE=Release \
	       -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake $(CMAKE_FLAGS)
	cmake --build $(WIN) -j $(JOBS) --target dist
	mkdir -p $(DIST)
	v=$$(head -n1 VERSION); cp $(WIN)/dist/out/Movra-$$v-setup.exe $(WIN)/dist/out/Movra-$$v-portable.zip \
	  $(WIN)/dist/out/SHA256SUMS $(DIST)/
	cd $(DIST) && sha256sum -c SHA256SUMS

test: deps
	@tools/run-tests "$(BUILD)" "$(JOBS)"

test-native: native
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)
test-tsan: tsan
	cd $(TSAN) && ctest --output-on-failure -j $(JOBS) -L sanitize
test-asan: asan
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS) -L sanitize
test-win: win
	cd $(WIN) && ctest --output-on-failure

bench: deps
	cmake -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD)/release -j $(JOBS)
	@for b in $(BUILD)/release/bench/*_bench; do [ -x "$$b" ] && "$$b"; done; true

# Bounded fuzzing (clang + libFuzzer) of the Movra.cfg reader and of the decoder of the service's
# frames, FUZZ_SECONDS each. New inputs go to the build tree; the seeds in fuzz/corpus/config and
# fuzz/corpus/remote are replayed by the normal tests.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DMOVRA_FUZZ=ON -DMOVRA_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ) -j $(JOBS) --target config_fuzz remote_fuzz
	mkdir -p $(FUZZ)/corpus-config $(FUZZ)/corpus-remote
	$(FUZZ)/fuzz/config_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -timeout=10 \
	  $(FUZZ)/corpus-config fuzz/corpus/config
	$(FUZZ)/fuzz/remote_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -timeout=10 \
	  $(FUZZ)/corpus-remote fuzz/corpus/remote

demo: deps
	@JOBS=$(JOBS) tools/demo "$(BUILD)"

# Not part of `make test`: Movra under Wine against TiSim for SOAK_SECONDS (600) with faults
# coming and going; prints memory, threads and descriptors over the run and fails on their growth.
soak: deps
	@JOBS=$(JOBS) tools/soak "$(BUILD)"

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
