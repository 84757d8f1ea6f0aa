"""Float EXR passes written directly (no quorlen module needed), for the farm tests' sequences."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from float_exr import write_exr  # noqa: E402


def write_passes(path, h, w, seed):
    """A pass file of random surface colour, unit normals and positions, as --passes maps them."""
    rng = np.random.default_rng(seed)
    n = rng.normal(size=(h, w, 3)).astype(np.float32)
    n /= np.linalg.norm(n, axis=2, keepdims=True)
    write_exr(path, {"": rng.random((h, w, 3), dtype=np.float32), "N": n,
                     "P": rng.random((h, w, 3), dtype=np.float32) * 4 - 2})


def write_smooth_passes(path, h, w):
    """A sphere's passes (colour, unit normals, positions), smooth so that outputs compress well."""
    y, x = np.mgrid[0:h, 0:w].astype(np.float32)
    u = (x + 0.5) / w * 2 - 1
    v = 1 - (y + 0.5) / h * 2
    r2 = np.minimum(u * u + v * v, 1.0)
    n = np.stack([u, v, np.sqrt(1.0 - r2)], axis=2)
    n /= np.linalg.norm(n, axis=2, keepdims=True)
    colour = np.stack([0.5 + 0.4 * u, 0.5 + 0.4 * v, np.full_like(u, 0.6)], axis=2)
    write_exr(path, {"": colour, "N": n, "P": n * 2.0})
