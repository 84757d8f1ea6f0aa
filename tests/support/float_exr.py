"""Float EXR files written directly, byte by byte, so that tests need neither the quorlen module nor an
image library to make their inputs."""

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
