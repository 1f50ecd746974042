# The two entry points of the README: `make run` (the main job) and `make test`.
# Both install missing system packages, configure and build by themselves.

BUILD_DIR  ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=

.PHONY: run test deps configure plugins bench

deps:
	@tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS) >/dev/null

plugins: configure
	cmake --build $(BUILD_DIR) --target sorvanta_VST3 sorvanta_LV2 sorvanta_Standalone

run: plugins
	@tools/describe-plugins.sh $(BUILD_DIR)/sorvanta_artefacts/$(BUILD_TYPE)

test: configure
	cmake --build $(BUILD_DIR)
	xvfb-run -a ctest --test-dir $(BUILD_DIR) --output-on-failure --timeout 900
