# The two entry points of the README: `make run` (the main job) and `make test`.
# Both install missing system packages, configure and build by themselves.
# CI (.ci/run) adds `make sanitize` and `make fuzz`, each in a build folder of its own.

BUILD_DIR  ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
OUT_DIR    ?= out
DEMO_PRESET ?= resources/presets/Side-chain Keyed.ovb

RENDER = $(BUILD_DIR)/tools/sorvanta-render

ASAN_BUILD_DIR ?= build-asan
TSAN_BUILD_DIR ?= build-tsan
FUZZ_BUILD_DIR ?= build-fuzz
# Seconds of fuzzing per target.
FUZZ_TIME      ?= 60

# Sanitizer builds compile only what they run: the unit tests and the corpus replay.
SANITIZER_CMAKE_ARGS = -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DSORVANTA_BUILD_BENCH=OFF
SANITIZER_TARGETS    = sorvanta_tests sorvanta_fuzz_replay

.PHONY: run test deps configure renderer plugins describe-plugins bench sanitize sanitize-address sanitize-host sanitize-thread fuzz

deps:
	@tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS) >/dev/null

renderer: configure
	cmake --build $(BUILD_DIR) --target sorvanta_render

# The main job: a drummer's offline render. Writes a demo drum track and a side-chain track,
# gates the drums keyed from the side-chain with a factory preset, and prints the summary.
run: renderer
	@$(RENDER) --make-demo $(OUT_DIR)
	@$(RENDER) --preset "$(DEMO_PRESET)" --sidechain $(OUT_DIR)/demo-sidechain.wav \
		--plot $(OUT_DIR)/demo-drums-gated.png -o $(OUT_DIR)/demo-drums-gated.wav $(OUT_DIR)/demo-drums.wav

plugins: configure
	cmake --build $(BUILD_DIR) --target sorvanta_VST3 sorvanta_LV2 sorvanta_Standalone

describe-plugins: plugins
	@tools/describe-plugins.sh $(BUILD_DIR)/sorvanta_artefacts/$(BUILD_TYPE)

# Not part of `make test`: the module benchmarks (Google Benchmark), then the plug-ins loaded through
# JUCE's LV2 and VST3 hosting, side by side. Options go through BENCH_ARGS and HOST_BENCH_ARGS.
BENCH_ARGS ?=
HOST_BENCH_ARGS ?=

bench: configure
	cmake --build $(BUILD_DIR) --target sorvanta_bench sorvanta_host_bench
	$(BUILD_DIR)/bench/sorvanta_bench $(BENCH_ARGS)
	$(BUILD_DIR)/bench/host/sorvanta_host_bench $(HOST_BENCH_ARGS)

test: configure
	cmake --build $(BUILD_DIR)
	xvfb-run -a ctest --test-dir $(BUILD_DIR) --output-on-failure --timeout 900

# AddressSanitizer + UndefinedBehaviorSanitizer over the unit tests and the fuzz corpus, then
# ThreadSanitizer over the cross-thread tests, then ASan + UBSan over the host tests. Any report
# fails the run.
sanitize: sanitize-address sanitize-thread sanitize-host

CONFIGURE_ASAN = cmake -S . -B $(ASAN_BUILD_DIR) $(SANITIZER_CMAKE_ARGS) -DSORVANTA_SANITIZE=ON >/dev/null

sanitize-address: deps
	@$(CONFIGURE_ASAN)
	cmake --build $(ASAN_BUILD_DIR) --target $(SANITIZER_TARGETS)
	tools/run-sanitized.sh address $(ASAN_BUILD_DIR)

# The built VST3 and LV2 bundles, instrumented, loaded through JUCE's hosting by the host tests.
sanitize-host: deps
	@$(CONFIGURE_ASAN)
	cmake --build $(ASAN_BUILD_DIR) --target sorvanta_host_tests
	tools/run-sanitized.sh host $(ASAN_BUILD_DIR)

sanitize-thread: deps
	@cmake -S . -B $(TSAN_BUILD_DIR) $(SANITIZER_CMAKE_ARGS) -DSORVANTA_TSAN=ON >/dev/null
	cmake --build $(TSAN_BUILD_DIR) --target sorvanta_tests
	tools/run-sanitized.sh thread $(TSAN_BUILD_DIR)

# libFuzzer (clang) on the saved-state and preset readers, FUZZ_TIME seconds each.
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD_DIR) $(SANITIZER_CMAKE_ARGS) -DSORVANTA_FUZZ=ON \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	cmake --build $(FUZZ_BUILD_DIR) --target sorvanta_fuzz_state sorvanta_fuzz_preset
	tools/run-fuzzers.sh $(FUZZ_BUILD_DIR) $(FUZZ_TIME)
