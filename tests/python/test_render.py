"""node.render on arrays: the command's pixels bit for bit, the arrays it takes and refuses, threads."""

import threading
import time
import tracemalloc

import numpy as np
import pytest

import quorlen
from conftest import random_passes, run_quorlen, same_bits, write_exr


def command(tmp_path, passes, *args):
    """`quorlen render` of the passes (colour, normal, P, noiseP; None left out) written as float EXR."""
    cli = ["render", "-o", tmp_path / "out.exr", "--no-progress", *args]
    for label, array in zip(["color", "normal", "P", "noiseP"], passes):
        if array is not None:
            write_exr(tmp_path / f"{label}.exr", {"": array})
            cli += [f"--{label}", tmp_path / f"{label}.exr"]
    run_quorlen(*cli)
    return quorlen.read(tmp_path / "out.exr")


@pytest.mark.parametrize("settings", [
    {},
    {"lightType": "point", "_pointLightPos": (1, -2, 3), "pointLightFalloff": 1.5, "_surfaceSpecular": 0.5,
     "surfaceNoise": True, "surfaceNoiseType": "turbulence2", "noiseFrequency": 2.0},
    {"surfaceNoise": True, "stripesNoiseDir": "x|z", "outputType": "light"},
])
def test_render_equals_the_command_bit_for_bit(tmp_path, settings):
    passes = random_passes(13, 37, seed=len(settings))
    sets = [a for k, v in settings.items() for a in ("--set", f"{k}={quorlen._knob_text(v)}")]
    node = quorlen.Node()
    node.update(settings)
    relit = node.render(passes[1], color=passes[0], P=passes[2], noiseP=passes[3])
    assert relit.dtype == np.float32 and relit.shape == (13, 37, 4) and not relit[:, :, 3].any()
    assert same_bits(relit[:, :, :3], command(tmp_path, passes, *sets))
    # The NaN, infinities and -0 reached the node: a NaN colour stays NaN in the texture.
    assert np.isnan(relit).any() or settings.get("outputType") == "light"


def test_left_out_inputs_light_space_and_encoding_are_the_commands(tmp_path):
    color, normal, P, _ = random_passes(9, 11, seed=4, specials=False)
    encoded = normal * np.float32(0.5) + np.float32(0.5)
    kept = encoded.copy()
    node = quorlen.Node()
    node.update({"lightType": "point", "_pointLightPos": (0, 0, 3)})
    for space in ("node", "World"):  # any case, as the command takes it
        relit = node.render(encoded, P=P, light_space=space, normal_encoding="unsigned")
        assert same_bits(relit[:, :, :3], command(tmp_path, [None, encoded, P, None], "--light-space", space,
                                                  "--normal-encoding", "unsigned", "--set", "lightType=point",
                                                  "--set", "_pointLightPos=0,0,3"))
    assert same_bits(encoded, kept)  # converted in a copy
    with pytest.raises(quorlen.UsageError, match='light_space: "up" is not node or world'):
        node.render(encoded, light_space="up")
    with pytest.raises(ValueError, match=r'light_space: "wrld" is not node or world \(did you mean "world"\?\)'):
        node.render(encoded, light_space="wrld")
    with pytest.raises(ValueError, match='normal_encoding: "0..1" is not signed or unsigned'):
        node.render(encoded, normal_encoding="0..1")


def test_other_layouts_and_types_give_the_same_pixels():
    color, normal, P, noiseP = random_passes(6, 10, seed=5, specials=False)
    node = quorlen.Node()
    node["surfaceNoise"] = True
    expected = node.render(normal, color, P, noiseP)
    four = np.concatenate([normal, np.full((6, 10, 1), 7.0, np.float32)], axis=2)
    wide = np.zeros((6, 20, 3), np.float32)
    wide[:, ::2] = color
    frozen = P.copy()
    frozen.flags.writeable = False
    assert same_bits(node.render(four, wide[:, ::2], frozen, noiseP.astype(np.float64), threads=1), expected)
    assert same_bits(node.render(np.asfortranarray(normal), color.tolist(), P, noiseP, threads=3), expected)
    # Each result is a new array of its own.
    a, b = node.render(normal), node.render(normal)
    a[:] = 1
    assert not np.shares_memory(a, b) and b[0, 0, 0] != 1 and a.flags.c_contiguous


def test_float32_c_arrays_are_read_in_place_and_others_converted_once():
    normal = np.random.default_rng(1).random((256, 256, 3), dtype=np.float32)
    node = quorlen.Node()
    node.render(normal)
    tracemalloc.start()
    try:
        for array, copies in [(normal, 0), (np.concatenate([normal, normal[:, :, :1]], axis=2), 0),
                              (normal.astype(np.float64), 1), (np.asfortranarray(normal), 1)]:
            tracemalloc.reset_peak()
            before = tracemalloc.get_traced_memory()[0]
            node.render(array, color=array, P=array)
            # numpy's allocations are traced, the session's own buffers not: three inputs, three copies.
            grew = tracemalloc.get_traced_memory()[1] - before
            assert copies * 3 * normal.nbytes <= grew < (copies * 3 + 0.25) * normal.nbytes, (array.dtype, grew)
    finally:
        tracemalloc.stop()


@pytest.mark.parametrize("bad, message", [
    (np.zeros((4, 5), np.float32), r"normal: expected an array of shape \(H, W, 3\) or \(H, W, 4\), got shape \(4, 5\)"),
    (np.zeros((4, 5, 5), np.float32), r"normal: .*got shape \(4, 5, 5\)"),
    (np.zeros((4, 5, 3, 1)), r"normal: .*got shape \(4, 5, 3, 1\)"),
    (np.zeros(7), r"normal: .*got shape \(7,\)"),
    (np.zeros((0, 5, 3), np.float32), r"normal: the array is empty \(shape \(0, 5, 3\)\)"),
    (np.zeros((4, 0, 4)), r"normal: the array is empty \(shape \(4, 0, 4\)\)"),
    (np.full((1, 2, 3), "a"), r"normal: cannot convert an array of <U1 to float32"),
    (None, "normal: an array is required"),
])
def test_bad_normal_arrays_are_refused(bad, message):
    with pytest.raises(ValueError, match=message):
        quorlen.Node().render(bad)


@pytest.mark.parametrize("bad", [object(), np.zeros((4, 5, 3), bool), np.zeros((4, 5, 3), np.complex64)])
def test_arrays_that_hold_no_pixel_values_are_type_errors(bad):
    with pytest.raises(TypeError, match="normal: an array of .* holds no pixel values"):
        quorlen.Node().render(bad)


def test_bad_other_inputs_name_themselves():
    node = quorlen.Node()
    normal = np.zeros((4, 5, 3), np.float32)
    with pytest.raises(ValueError, match=r"P: shape \(4, 6, 3\) does not match the normal input's \(4, 5, 3\)"):
        node.render(normal, P=np.zeros((4, 6, 3), np.float32))
    with pytest.raises(ValueError, match=r"color: shape \(5, 5, 4\) does not match"):
        node.render(normal, color=np.zeros((5, 5, 4)))
    with pytest.raises(ValueError, match=r"noiseP: expected .*got shape \(4, 5, 2\)"):
        node.render(normal, noiseP=np.zeros((4, 5, 2), np.float32))
    with pytest.raises(ValueError, match="threads: -1 is negative"):
        node.render(normal, threads=-1)
    assert node.render(normal).shape == (4, 5, 4)  # still renders after every refusal


def test_threads_share_a_node_and_use_their_own():
    passes = [random_passes(24, 31, seed=s, specials=False) for s in range(4)]
    shared = quorlen.Node()
    shared["lightType"] = "point"
    expected = [shared.render(n, c, p, q) for c, n, p, q in passes]
    results = []

    def work(index, node=None):
        if node is None:
            node = quorlen.Node()
            node["lightType"] = 1
        c, n, p, q = passes[index % 4]
        results.extend((index, node.render(n, c, p, q, threads=2)) for _ in range(3))

    threads = [threading.Thread(target=work, args=(i, shared if i < 4 else None)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 24 and all(same_bits(out, expected[i % 4]) for i, out in results)


def test_knob_changes_while_another_thread_renders_take_turns():
    c, n, p, q = random_passes(32, 32, seed=9, specials=False)
    node = quorlen.Node()
    parallel = node.render(n, c, p, q)
    node["lightType"] = "point"
    point = node.render(n, c, p, q)
    seen, stop = [], threading.Event()

    def render():
        while not stop.is_set():
            seen.append(node.render(n, c, p, q))

    worker = threading.Thread(target=render)
    worker.start()
    for i in range(40):
        node["lightType"] = i % 2
    stop.set()
    worker.join()
    # Every render saw one setting whole, never a half-changed node.
    assert seen and all(same_bits(s, parallel) or same_bits(s, point) for s in seen)


def test_other_python_threads_run_while_a_node_renders():
    _, normal, P, _ = random_passes(480, 480, seed=11, specials=False)
    node = quorlen.Node()
    node.update({"surfaceNoise": True, "surfaceNoiseType": "turbulence1"})
    took = []

    def render():
        start = time.perf_counter()
        node.render(normal, P=P, noiseP=P, threads=1)
        took.append(time.perf_counter() - start)

    worker = threading.Thread(target=render)
    last, longest = time.perf_counter(), 0.0
    worker.start()
    while worker.is_alive():
        now = time.perf_counter()
        longest, last = max(longest, now - last), now
    worker.join()
    # Holding the interpreter would stop this loop for the whole render.
    assert took and longest < took[0] / 2, (longest, took)
