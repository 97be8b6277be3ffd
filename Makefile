# Two commands matter: `make demo` and `make test`. Each installs what is
# missing, configures and builds first.
.PHONY: all deps configure build test repeat demo bench fuzz dist clean

BUILD   := build
JOBS    ?= $(shell nproc)
CMAKE   := cmake
NATIVE  := $(BUILD)/native
FUZZ    := $(BUILD)/fuzz
WIN32   := $(BUILD)/win32
WIN64   := $(BUILD)/win64

all: build

deps:
	@tools/setup.sh

$(NATIVE)/CMakeCache.txt: | deps
	$(CMAKE) -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(FUZZ)/CMakeCache.txt: | deps
	$(CMAKE) -S . -B $(FUZZ) -DCARDKEEP_FUZZ=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14

$(WIN32)/CMakeCache.txt: | deps
	$(CMAKE) -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release

$(WIN64)/CMakeCache.txt: | deps
	$(CMAKE) -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

configure: $(NATIVE)/CMakeCache.txt $(FUZZ)/CMakeCache.txt $(WIN32)/CMakeCache.txt $(WIN64)/CMakeCache.txt

build: deps configure
	$(CMAKE) --build $(WIN32) -j $(JOBS)
	$(CMAKE) --build $(WIN64) -j $(JOBS)
	$(CMAKE) --build $(NATIVE) -j $(JOBS)
	$(CMAKE) --build $(FUZZ) -j $(JOBS)

test: build
	tools/run-tests.sh

# Chosen tests, each run up to N times and stopped at its first failure:
#   make repeat TESTS='dialogs|input' N=20
TESTS ?= .
N     ?= 20
repeat: build
	tools/run-tests.sh -R '$(TESTS)' --repeat until-fail:$(N)

demo: build
	tools/demo.sh

bench: build
	tools/bench.sh

fuzz: build
	tools/fuzz.sh

dist: build
	tools/dist.sh

clean:
	rm -rf $(BUILD)
