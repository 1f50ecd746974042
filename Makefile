# The two entry points of the README: `make run` (the main job) and `make test`.
# Both install missing system packages, configure and build by themselves.

BUILD_DIR  ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
OUT_DIR    ?= out
DEMO_PRESET ?= resources/presets/Side-chain Keyed.ovb

RENDER = $(BUILD_DIR)/tools/sorvanta-render

.PHONY: run test deps configure renderer plugins describe-plugins bench

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
