"""Shared helpers of the Python module's tests: the built command and float EXR files written directly."""

import os
import subprocess
import sys

import numpy as np
import pytest

import quorlen

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from float_exr import write_exr  # noqa: E402,F401

QUORLEN = os.environ.get("QUORLEN_TEST_BIN", "quorlen")


def run_quorlen(*args, check=True):
    result = subprocess.run([QUORLEN, *map(str, args)], capture_output=True, text=True)
    if check and result.returncode != 0:
        raise AssertionError(f"quorlen {' '.join(map(str, args))} failed: {result.stderr}")
    return result


def random_passes(h, w, seed, specials=True):
    """Colour, normal, P and noiseP of random values; with `specials`, some samples NaN, ±inf and −0."""
    rng = np.random.default_rng(seed)
    passes = []
    for scale in (1.0, 1.0, 10.0, 5.0):
        a = (rng.standard_normal((h, w, 3)) * scale).astype(np.float32)
        if specials:
            flat = a.reshape(-1)
            picks = rng.choice(flat.size, size=4 * max(1, flat.size // 50), replace=False)
            for i, v in zip(picks, [np.nan, np.inf, -np.inf, -0.0] * flat.size):
                flat[i] = v
        passes.append(a)
    return passes


def same_bits(a, b):
    a = np.ascontiguousarray(a, dtype=np.float32)
    b = np.ascontiguousarray(b, dtype=np.float32)
    return a.shape == b.shape and np.array_equal(a.view(np.uint32), b.view(np.uint32))


@pytest.fixture
def node():
    return quorlen.Node()
