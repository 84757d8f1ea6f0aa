#!/usr/bin/python3
"""node.render from numpy at 1920 x 1080, in the cases and with the inputs of engine_bench, so the two
rates compare: what the Python module adds over rendering in-process in C++.

    PYTHONPATH=build/lib/python3/dist-packages /usr/bin/python3 bench/python_render_bench.py [--repeat N]

Prints the median time of N renders and the rate in megapixels per second, per case and thread count
(0 = all cores), in the form of engine_bench's table. A benchmark, not a test: run it on a quiet machine.
"""

import argparse
import statistics
import time

import numpy as np

import quorlen

CASES = {
    "parallel": {"_surfaceSpecular": 0.5},
    "point": {"lightType": "point", "_pointLightPos": (0, 0, 20), "pointLightFalloff": 1,
              "_surfaceSpecular": 0.5},
    "turbulence1": {"surfaceNoise": True, "surfaceNoiseType": "turbulence1"},
}


def passes(w, h):
    """engine_bench's inputs: random colour, a sphere-like field of normals and positions."""
    rng = np.random.default_rng(0)
    color = rng.random((h, w, 3), dtype=np.float32)
    x = np.arange(w, dtype=np.float32)
    y = np.arange(h, dtype=np.float32)
    sx = np.broadcast_to(np.float32(2) * x / np.float32(w) - np.float32(1), (h, w))
    sy = np.broadcast_to((np.float32(2) * y / np.float32(h) - np.float32(1))[:, None], (h, w))
    normal = np.stack([sx, sy, np.full((h, w), -0.5, np.float32)], axis=2)
    position = np.stack([sx * 10, sy * 10, np.float32(5) - sx], axis=2).astype(np.float32)
    return color, normal, position


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=15)
    parser.add_argument("--width", type=int, default=1920)
    args = parser.parse_args()
    w, h = args.width, args.width * 9 // 16
    color, normal, position = passes(w, h)
    print(f"quorlen {quorlen.Node().plugin}, {w} x {h}, median of {args.repeat}")
    print(f"{'case':<14}{'threads':>8}{'ms':>10}{'MPix/s':>10}")
    for name, settings in CASES.items():
        node = quorlen.Node()
        node.update(settings)
        for threads in (1, 0):
            node.render(normal, color, position, position, threads=threads)  # warm-up
            times = []
            for _ in range(args.repeat):
                start = time.perf_counter()
                node.render(normal, color, position, position, threads=threads)
                times.append(time.perf_counter() - start)
            t = statistics.median(times)
            print(f"{name:<14}{threads:>8}{t * 1e3:>10.1f}{w * h / t / 1e6:>10.2f}")


if __name__ == "__main__":
    main()
