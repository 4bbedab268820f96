# Set-up and entry points: `make demo` and `make test` install what is missing,
# build, and run.
PYTHON ?= /usr/bin/python3
BUILD  ?= build
JOBS   ?= $(shell nproc)

APT_PACKAGES := cmake g++ make pkg-config python3-dev python3-torch libtorch-dev \
	python3-numpy python3-scipy python3-soundfile python3-pandas python3-resampy \
	python3-pytest pybind11-dev libsndfile1-dev libfftw3-dev googletest libgtest-dev \
	libfst-dev libfst-tools strace

export PYTHONPATH := $(CURDIR)$(if $(PYTHONPATH),:$(PYTHONPATH))

.PHONY: deps build test demo bench clean

deps:
	@missing=""; for p in $(APT_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=$(PYTHON)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(PYTHON) -m pytest -q tests

demo: build
	$(PYTHON) tools/demo.py

bench: build
	@for b in bench/bench_*.py; do echo "== $$b"; $(PYTHON) $$b || exit 1; done

clean:
	rm -rf $(BUILD)
	find . -name '*.so' -path './*/_*' -delete
