"""Knob change to preview over HTTP, as the page sees it: POST /api/knobs, then GET /api/preview.png of the
new state, on one kept-alive connection; the median and quartiles of the pair's wall-clock time.

    QUORLEN_BIN=build/bin/quorlen python3 tests/viewer/latency.py PASSES.exr [--lights N] [--scale S]
        [--noise] [--shadow] [--count N]

With --lights N > 1 the viewer opens a rig of N lights (point, parallel, parallel with a mask) and every
change is a knob of the second light, so the whole beauty is rendered again each time. With --shadow it
opens one point light casting hard shadows (the passes' own space) and every change moves the light, so
the shadow is marched again each time. Not a test: the
figures go to docs/performance.md."""
import argparse
import http.client
import json
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
os.environ.setdefault("QUORLEN_VIEWER_PASSES", os.path.dirname(os.path.abspath(__file__)))

from viewer_support import Viewer  # noqa: E402


def rig(count, passes):
    lights = [{"name": "key", "knobs": {"lightType": "point", "_pointLightPos": [0.5, 2, 3]}},
              {"name": "fill", "knobs": {"_parallelLightDir": [-1, 0.5, -1], "lightBrightness": 0.3}},
              {"name": "rim", "knobs": {"_parallelLightDir": [0, 1, 1]}, "mask": passes + ":G"}]
    while len(lights) < count:
        lights.append({"name": f"extra{len(lights)}", "knobs": {"_parallelLightDir": [1, 0, -1]}})
    return {"lights": lights[:count]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("passes")
    parser.add_argument("--lights", type=int, default=1)
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--noise", action="store_true")
    parser.add_argument("--shadow", action="store_true")
    parser.add_argument("--count", type=int, default=40)
    a = parser.parse_args()
    with tempfile.TemporaryDirectory() as d:
        args = []
        light = ""
        if a.lights > 1:
            path = os.path.join(d, "rig.json")
            with open(path, "w") as f:
                json.dump(rig(a.lights, a.passes), f)
            args = ["--settings", path]
            light = "?light=fill"
        elif a.shadow:
            path = os.path.join(d, "rig.json")
            with open(path, "w") as f:
                json.dump({"lightSpace": "world", "lights": [{"name": "key", "shadow": True, "knobs": {
                    "lightType": "point", "_pointLightPos": [2.5, 4.5, 4], "pointLightRadius": 20}}]}, f)
            args = ["--settings", path, "--light-space", "world"]
        viewer = Viewer(*args, inputs=("--passes", a.passes), paths=False)
        try:
            c = http.client.HTTPConnection("127.0.0.1", viewer.port, timeout=60)
            headers = {"Host": viewer.host, "Authorization": f"Bearer {viewer.token}"}

            def send(method, path, body=None):
                c.request(method, path, body=json.dumps(body) if body is not None else None, headers=headers)
                r = c.getresponse()
                data = r.read()
                assert r.status == 200, (r.status, data)
                return r, data

            send("POST", "/api/knobs" + light, {"surfaceNoise": a.noise, "surfaceNoiseType": "turbulence1"})
            send("GET", f"/api/preview.png?scale={a.scale}")  # warms the image module and the reduced copy
            times, renders = [], []
            for i in range(a.count):
                start = time.perf_counter()
                change = ({"_pointLightPos": [2.5 + 0.01 * (i % 50), 4.5, 4]} if a.shadow
                          else {"lightBrightness": 0.5 + 0.01 * (i % 50)})
                send("POST", "/api/knobs" + light, change)
                r, _ = send("GET", f"/api/preview.png?scale={a.scale}")
                times.append((time.perf_counter() - start) * 1000)
                renders.append(float(r.headers["Server-Timing"].split("dur=")[1]))
            q = statistics.quantiles(times, n=4)
            print(f"lights {a.lights} scale {a.scale} noise {int(a.noise)} shadow {int(a.shadow)}: knob to preview median "
                  f"{statistics.median(times):.1f} ms (quartiles {q[0]:.1f}-{q[2]:.1f}), render median "
                  f"{statistics.median(renders):.1f} ms, {a.count} changes")
        finally:
            viewer.stop()


if __name__ == "__main__":
    main()
