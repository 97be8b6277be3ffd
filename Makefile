# Two commands matter: `make demo` and `make test`. Each installs what is
# missing, configures and builds first.
.PHONY: all deps configure build test repeat demo bench fuzz dist clean

BUILD   := build
JOBS    ?= $(shell nproc)

# The four trees and their configure options. Each tree's CMake and compiler
# output goes to build/logs/<tree>.log; a build says one line per tree, and
# a failing step shows the end of its log.
TREE         := JOBS=$(JOBS) tools/build-tree.sh
OPTS_win32   := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
OPTS_win64   := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
OPTS_native  := -DCMAKE_BUILD_TYPE=RelWithDebInfo
OPTS_fuzz    := -DCARDKEEP_FUZZ=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14

all: build

deps:
	@tools/setup.sh

configure: deps
	@$(TREE) --configure-only win32 $(OPTS_win32)
	@$(TREE) --configure-only win64 $(OPTS_win64)
	@$(TREE) --configure-only native $(OPTS_native)
	@$(TREE) --configure-only fuzz $(OPTS_fuzz)

build: deps
	@$(TREE) win32 $(OPTS_win32)
	@$(TREE) win64 $(OPTS_win64)
	@$(TREE) native $(OPTS_native)
	@$(TREE) fuzz $(OPTS_fuzz)

test: build
	@tools/run-tests.sh

# Chosen tests, each run up to N times and stopped at its first failure:
#   make repeat TESTS='dialogs|input' N=20
TESTS ?= .
N     ?= 20
repeat: build
	@tools/run-tests.sh -R '$(TESTS)' --repeat until-fail:$(N)

demo: build
	@tools/demo.sh

bench: build
	@tools/bench.sh

fuzz: build
	@tools/fuzz.sh

dist: build
	@tools/dist.sh

clean:
	rm -rf $(BUILD)
