# Set-up, build and the two commands of the README. Every target installs what it needs first,
# so `make test` and `make demo` work on a fresh Debian 12 machine and rerun incrementally.
SHELL := /bin/bash
.DEFAULT_GOAL := build

export PATH := $(HOME)/.cargo/bin:$(PATH)

PYENV_ROOT ?= $(shell pyenv root 2>/dev/null || echo $(HOME)/.pyenv)
PYTHON312 ?= $(shell ls -d $(PYENV_ROOT)/versions/3.12.* 2>/dev/null | sort -V | tail -n 1)/bin/python3.12
VENV := .venv
VPY := $(VENV)/bin/python
BUILD := build
STAMPS := .stamps
BUILD_TYPE ?= Release

APT_PACKAGES := cmake ninja-build g++ pkg-config libeigen3-dev libboost-dev libspdlog-dev \
  libfmt-dev libtinyxml2-dev libyaml-cpp-dev zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev \
  openssl

# libFuzzer targets (tests/fuzz): clang, in a build of their own that shares the main build's
# cargo output so that zenoh is built once.
FUZZ_BUILD := build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_CARGO_DIR ?= $(CURDIR)/$(BUILD)/cargo
CLANG_PACKAGES := clang libclang-rt-14-dev

.PHONY: setup build test test-cpp test-python demo bench soak sanitize tsan format clean fuzz fuzz-build \
  fuzz-corpus docs test-wheel

$(STAMPS)/apt: Makefile
	@mkdir -p $(STAMPS)
	@if ! dpkg -s $(APT_PACKAGES) >/dev/null 2>&1; then \
	  SUDO=; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  echo "Installing Debian packages: $(APT_PACKAGES)"; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $(APT_PACKAGES); \
	fi
	@command -v cargo >/dev/null || { echo "cargo not found: install Rust with rustup" >&2; exit 1; }
	@touch $@

$(STAMPS)/venv: requirements.txt requirements-headers.txt | $(STAMPS)/apt
	@test -x "$(PYTHON312)" || { echo "CPython 3.12 not found under $(PYENV_ROOT)/versions" >&2; exit 1; }
	@test -x $(VPY) || $(PYTHON312) -m venv $(VENV)
	$(VPY) -m pip install -q -r requirements.txt
	$(VPY) -m pip install -q --no-deps -r requirements-headers.txt
	@# The modules built in $(BUILD)/python import from the virtual environment.
	@echo "$(CURDIR)/$(BUILD)/python" > $$($(VPY) -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')/korvo-build.pth
	@touch $@

setup: $(STAMPS)/venv

$(STAMPS)/clang: Makefile | $(STAMPS)/apt
	@if ! dpkg -s $(CLANG_PACKAGES) >/dev/null 2>&1; then \
	  SUDO=; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  echo "Installing Debian packages: $(CLANG_PACKAGES)"; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $(CLANG_PACKAGES); \
	fi
	@touch $@

$(BUILD)/build.ninja: | $(STAMPS)/venv
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DPython_EXECUTABLE=$(CURDIR)/$(VPY)

build: $(BUILD)/build.ninja
	cmake --build $(BUILD)
	@# korvo-sim goes into the virtual environment, next to the Python it serves.
	@install -m 755 $(BUILD)/sim/korvo-sim $(VENV)/bin/korvo-sim

test-cpp: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

test-python: build
	$(VPY) -m pytest -q tests/python

test: test-cpp test-python

# `pip install .` into a fresh virtual environment, then the installed module, stubs and
# korvo-sim at work. It compiles the library once more (in $(BUILD)/wheel, reusing the zenoh
# crates of $(BUILD)/cargo), so it is a target of its own; .ci/run runs it after `make test`.
test-wheel: build
	PYTHON312=$(PYTHON312) $(VPY) -m pytest -q tests/wheel

demo: build
	examples/run_demo.sh

# The user guide as a website, in $(BUILD)/site (`.venv/bin/mkdocs serve` while editing it).
docs: $(STAMPS)/venv
	$(VPY) -m mkdocs build --strict -d $(BUILD)/site

bench: build
	@for b in $(BUILD)/bench/*_bench; do \
	  case $$b in *soak_bench) continue;; esac; echo "== $$b"; "$$b"; done
	@$(VPY) -m pip install -q -r bench/requirements.txt  # upstream zenoh, a reference
	@for b in bench/*_bench.py; do echo "== $$b"; $(VPY) "$$b"; done

# One client streaming at 1 kHz to korvo-sim for SOAK_SECONDS (10 minutes): memory, late commands.
SOAK_SECONDS ?= 600
soak: build
	$(BUILD)/bench/soak_bench $(SOAK_SECONDS)

# Sanitizer builds of the C++ tests and korvo-sim, each in a folder of its own. They link the
# zenoh bridge that `make build` left in $(BUILD)/cargo instead of building it again. The Rust
# code is not instrumented: tests/sanitizers holds the suppressions for its frames, none of ours.
SAN_DIR := $(CURDIR)/tests/sanitizers
SAN_CMAKE := cmake -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DKORVO_BUILD_PYTHON=OFF -DKORVO_BUILD_BENCH=OFF -DPython_EXECUTABLE=$(CURDIR)/$(VPY) \
  -DKORVO_CARGO_TARGET_DIR=$(CURDIR)/$(BUILD)/cargo
# Exported for the build as well: gtest_discover_tests runs the test programs to list them.
ASAN_ENV := ASAN_OPTIONS=detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1 \
  LSAN_OPTIONS=suppressions=$(SAN_DIR)/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
TSAN_ENV := TSAN_OPTIONS=suppressions=$(SAN_DIR)/tsan.supp:second_deadlock_stack=1
# The test programs that run zenoh sessions: the middleware, the client and its interfaces against
# korvo-sim, and korvo-sim's servers. ThreadSanitizer builds and runs only these.
TSAN_TESTS := middleware_test zenoh_face_test kro_state_test operations_rpc_test qel_data_rpc_test \
  sim_client_test sim_robot_api_test sim_robot_commands_test sim_robot_plans_test \
  sim_robot_settings_test sim_device_api_test sim_gripper_api_test sim_tool_api_test \
  sim_file_io_api_test sim_safety_api_test sim_maintenance_api_test sim_model_api_test \
  sim_model_services_test sim_protocol_test sim_operations_test
empty :=
space := $(empty) $(empty)

sanitize: build
	$(SAN_CMAKE) -S . -B build-sanitize -DKORVO_SANITIZE=address
	$(ASAN_ENV) cmake --build build-sanitize -j2
	$(ASAN_ENV) ctest --test-dir build-sanitize --output-on-failure -j2

tsan: build
	$(SAN_CMAKE) -S . -B build-tsan -DKORVO_SANITIZE=thread
	$(TSAN_ENV) cmake --build build-tsan -j2 --target $(TSAN_TESTS)
	$(TSAN_ENV) ctest --test-dir build-tsan --output-on-failure -j2 \
	  -L '^($(subst $(space),|,$(TSAN_TESTS)))$$'

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp' '*.h')

$(FUZZ_BUILD)/build.ninja: | $(STAMPS)/venv $(STAMPS)/clang
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Fuzz \
	  -DCMAKE_C_COMPILER=/usr/bin/clang -DCMAKE_CXX_COMPILER=/usr/bin/clang++ \
	  "-DCMAKE_C_FLAGS_FUZZ=-O1 -gline-tables-only" "-DCMAKE_CXX_FLAGS_FUZZ=-O1 -gline-tables-only" \
	  -DKORVO_FUZZ=ON -DKORVO_BUILD_TESTS=OFF -DKORVO_BUILD_PYTHON=OFF -DKORVO_BUILD_BENCH=OFF \
	  -DKORVO_CARGO_TARGET_DIR=$(FUZZ_CARGO_DIR) -DPython_EXECUTABLE=$(CURDIR)/$(VPY)

fuzz-build: $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j2

# Each target for FUZZ_SECONDS on a scratch copy of its corpus; reproducers of findings go to
# tests/fuzz/regressions/<target>/.
fuzz: fuzz-build
	tests/fuzz/run_fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Rewrites the committed seed corpus from our own encoders.
fuzz-corpus: fuzz-build
	$(FUZZ_BUILD)/tests/fuzz/fuzz_make_corpus tests/fuzz/corpus

clean:
	rm -rf $(BUILD) build-sanitize build-tsan
