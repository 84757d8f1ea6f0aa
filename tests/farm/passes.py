"""Float EXR passes written directly (no quorlen module needed), for the farm tests' sequences."""

import struct

import numpy as np


def _attribute(name, kind, value):
    return name.encode() + b"\0" + kind.encode() + b"\0" + struct.pack("<i", len(value)) + value


def write_exr(path, layers):
    """Writes an uncompressed scanline float EXR. `layers` maps a layer name ("" for the plain channels) to
    an (H, W, 3) or (H, W, 4) array, stored as R, G, B(, A) with the layer name as prefix."""
    channels = {}
    for layer, array in layers.items():
        array = np.asarray(array, dtype=np.float32)
        prefix = f"{layer}." if layer else ""
        for i, c in enumerate("RGBA"[: array.shape[2]]):
            channels[prefix + c] = array[:, :, i]
    names = sorted(channels)
    h, w = next(iter(channels.values())).shape
    chlist = b"".join(n.encode() + b"\0" + struct.pack("<iB3xii", 2, 0, 1, 1) for n in names) + b"\0"
    window = struct.pack("<iiii", 0, 0, w - 1, h - 1)
    header = b"".join([
        _attribute("channels", "chlist", chlist),
        _attribute("compression", "compression", b"\0"),
        _attribute("dataWindow", "box2i", window),
        _attribute("displayWindow", "box2i", window),
        _attribute("lineOrder", "lineOrder", b"\0"),
        _attribute("pixelAspectRatio", "float", struct.pack("<f", 1.0)),
        _attribute("screenWindowCenter", "v2f", struct.pack("<ff", 0.0, 0.0)),
        _attribute("screenWindowWidth", "float", struct.pack("<f", 1.0)),
    ]) + b"\0"
    start = 8 + len(header) + 8 * h
    line_bytes = 4 * w * len(names)
    offsets = struct.pack(f"<{h}Q", *(start + y * (8 + line_bytes) for y in range(h)))
    lines = []
    for y in range(h):
        samples = b"".join(np.ascontiguousarray(channels[n][y], dtype="<f4").tobytes() for n in names)
        lines.append(struct.pack("<ii", y, line_bytes) + samples)
    with open(path, "wb") as f:
        f.write(b"\x76\x2f\x31\x01" + struct.pack("<i", 2) + header + offsets + b"".join(lines))


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
