"""node.render on arrays: the command's pixels bit for bit, the arrays it takes and refuses, threads."""

import threading
import time
import tracemalloc

import numpy as np
import pytest

import quorlen
from conftest import random_passes, run_quorlen, same_bits, write_exr

POINT_NOISE = {"lightType": "point", "_pointLightPos": (1.0, -2.0, 3.0), "pointLightRadius": 4.0,
               "pointLightFalloff": 1.5, "_surfaceSpecular": (0.5, 0.25, 1.0), "surfaceNoise": True,
               "surfaceNoiseType": "turbulence2", "noiseMultiply": 0.5, "noiseFrequency": 2.0}


@pytest.mark.parametrize("settings", [{}, POINT_NOISE, {"surfaceNoise": True, "stripesNoiseDir": "x|z",
                                                         "outputType": "light"}])
def test_render_equals_the_command_bit_for_bit(tmp_path, settings):
    color, normal, P, noiseP = random_passes(13, 37, seed=len(settings))
    files = {}
    for label, array in zip(["color", "normal", "P", "noiseP"], [color, normal, P, noiseP]):
        files[label] = tmp_path / f"{label}.exr"
        write_exr(files[label], {"": array})
    out = tmp_path / "out.exr"
    sets = []
    for name, value in settings.items():
        sets += ["--set", f"{name}={quorlen._knob_text(value)}"]
    run_quorlen("render", "--color", files["color"], "--normal", files["normal"], "--P", files["P"],
                "--noiseP", files["noiseP"], "-o", out, "--no-progress", *sets)
    node = quorlen.Node()
    node.update(settings)
    relit = node.render(normal, color=color, P=P, noiseP=noiseP)
    assert relit.dtype == np.float32 and relit.shape == (13, 37, 4)
    assert same_bits(relit[:, :, :3], quorlen.read(out))
    assert same_bits(relit[:, :, 3], np.zeros((13, 37), np.float32))
    # The specials reached the node: a NaN colour stays NaN in the texture.
    if settings.get("outputType") != "light":
        assert np.isnan(relit[:, :, :3]).any()


def test_light_space_and_normal_encoding_are_the_commands(tmp_path):
    color, normal, P, _ = random_passes(9, 11, seed=4, specials=False)
    encoded = normal * np.float32(0.5) + np.float32(0.5)
    write_exr(tmp_path / "c.exr", {"": color})
    write_exr(tmp_path / "n.exr", {"": encoded})
    write_exr(tmp_path / "p.exr", {"": P})
    node = quorlen.Node()
    node.update({"lightType": "point", "_pointLightPos": (0, 0, 3)})
    kept = encoded.copy()
    for space in ("node", "world"):
        out = tmp_path / f"{space}.exr"
        run_quorlen("render", "--color", tmp_path / "c.exr", "--normal", tmp_path / "n.exr", "--P",
                    tmp_path / "p.exr", "-o", out, "--light-space", space, "--normal-encoding", "unsigned",
                    "--set", "lightType=point", "--set", "_pointLightPos=0,0,3", "--no-progress")
        relit = node.render(encoded, color, P, light_space=space, normal_encoding="unsigned")
        assert same_bits(relit[:, :, :3], quorlen.read(out))
    # The caller's normals are converted in a copy.
    assert same_bits(encoded, kept)
    assert not same_bits(node.render(encoded, color, P, light_space="world"), node.render(encoded, color, P))
    with pytest.raises(ValueError, match='light_space: "up" is not node or world'):
        node.render(encoded, light_space="up")
    with pytest.raises(ValueError, match='normal_encoding: "0..1" is not signed or unsigned'):
        node.render(encoded, normal_encoding="0..1")


def test_inputs_may_be_left_out_and_the_threads_chosen():
    color, normal, P, _ = random_passes(8, 9, seed=3, specials=False)
    node = quorlen.Node()
    black = node.render(normal, color=np.zeros_like(color), P=P, noiseP=np.zeros_like(P))
    assert same_bits(node.render(normal, P=P), black)
    assert same_bits(node.render(normal, color, P, threads=1), node.render(normal, color, P, threads=3))


def test_other_layouts_and_types_give_the_same_pixels():
    color, normal, P, noiseP = random_passes(6, 10, seed=5, specials=False)
    node = quorlen.Node()
    node["surfaceNoise"] = True
    expected = node.render(normal, color, P, noiseP)
    alpha = np.full((6, 10, 1), 7.0, np.float32)
    four = [np.concatenate([a, alpha], axis=2) for a in (color, normal, P, noiseP)]
    assert same_bits(node.render(*[four[1], four[0], four[2], four[3]]), expected)
    # Transposed twice: the same values in Fortran order; a strided view; float64; read-only.
    fortran = np.asfortranarray(normal)
    assert not fortran.flags.c_contiguous
    assert same_bits(node.render(fortran, color, P, noiseP), expected)
    wide = np.zeros((6, 20, 3), np.float32)
    wide[:, ::2] = color
    assert same_bits(node.render(normal, wide[:, ::2], P, noiseP), expected)
    assert same_bits(node.render(normal, color.astype(np.float64), P, noiseP), expected)
    frozen = P.copy()
    frozen.flags.writeable = False
    assert same_bits(node.render(normal, color, frozen, noiseP), expected)
    # A list of lists is converted as any array.
    assert same_bits(node.render(normal.tolist(), color, P, noiseP), expected)
    # Inputs are not written to.
    assert same_bits(four[1][:, :, :3], normal)


def test_output_is_a_new_array_each_time():
    _, normal, _, _ = random_passes(4, 4, seed=6, specials=False)
    node = quorlen.Node()
    a = node.render(normal)
    b = node.render(normal)
    a[:] = 1.0
    assert not np.shares_memory(a, b) and not np.shares_memory(a, normal)
    assert a.flags.c_contiguous and a.flags.writeable


@pytest.mark.parametrize("bad, message", [
    (np.zeros((4, 5), np.float32), r"normal: expected an array of shape \(H, W, 3\) or \(H, W, 4\), got shape \(4, 5\)"),
    (np.zeros((4, 5, 5), np.float32), r"normal: .*got shape \(4, 5, 5\)"),
    (np.zeros((4, 5, 3, 1), np.float32), r"normal: .*got shape \(4, 5, 3, 1\)"),
    (np.zeros((0, 5, 3), np.float32), r"normal: the array is empty \(shape \(0, 5, 3\)\)"),
    (np.zeros((4, 0, 4), np.float32), r"normal: the array is empty \(shape \(4, 0, 4\)\)"),
    (np.zeros(7, np.float32), r"normal: .*got shape \(7,\)"),
    (np.array([["a", "b", "c"]] * 2).reshape(1, 2, 3), r"normal: cannot convert an array of <U1 to float32"),
])
def test_bad_normal_arrays_are_refused(bad, message):
    with pytest.raises(ValueError, match=message):
        quorlen.Node().render(bad)


def test_bad_other_inputs_name_themselves():
    node = quorlen.Node()
    normal = np.zeros((4, 5, 3), np.float32)
    with pytest.raises(ValueError, match=r"P: shape \(4, 6, 3\) does not match the normal input's \(4, 5, 3\)"):
        node.render(normal, P=np.zeros((4, 6, 3), np.float32))
    with pytest.raises(ValueError, match=r"color: shape \(5, 5, 4\) does not match"):
        node.render(normal, color=np.zeros((5, 5, 4), np.float32))
    with pytest.raises(ValueError, match=r"noiseP: expected .*got shape \(4, 5, 2\)"):
        node.render(normal, noiseP=np.zeros((4, 5, 2), np.float32))
    with pytest.raises(ValueError, match="normal: an array is required"):
        node.render(None, color=normal)
    with pytest.raises(ValueError, match="threads: -1 is negative"):
        node.render(normal, threads=-1)
    with pytest.raises(ValueError, match="normal: not an array of numbers"):
        node.render(object())
    # The node still renders after every refusal.
    assert node.render(normal).shape == (4, 5, 4)


def test_threads_share_a_node_and_use_their_own():
    passes = [random_passes(24, 31, seed=s, specials=False) for s in range(4)]
    shared = quorlen.Node()
    shared["lightType"] = "point"
    expected = [shared.render(n, c, p, q) for c, n, p, q in passes]
    results = {}
    errors = []

    def work(index, node):
        try:
            c, n, p, q = passes[index % 4]
            for _ in range(3):
                results.setdefault(index, []).append(node.render(n, c, p, q, threads=2))
        except Exception as e:  # noqa: BLE001 - reported by the assertion below
            errors.append(e)

    def own(index):
        node = quorlen.Node()
        node["lightType"] = 1
        work(index, node)

    threads = [threading.Thread(target=work, args=(i, shared)) for i in range(4)]
    threads += [threading.Thread(target=own, args=(i,)) for i in range(4, 8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for index, outputs in results.items():
        assert len(outputs) == 3
        for out in outputs:
            assert same_bits(out, expected[index % 4])


def test_knob_changes_while_another_thread_renders_take_turns():
    c, n, p, q = random_passes(32, 32, seed=9, specials=False)
    node = quorlen.Node()
    parallel = node.render(n, c, p, q)
    node["lightType"] = "point"
    point = node.render(n, c, p, q)
    seen = []
    stop = threading.Event()

    def render():
        while not stop.is_set():
            seen.append(node.render(n, c, p, q))

    worker = threading.Thread(target=render)
    worker.start()
    for i in range(40):
        node["lightType"] = i % 2
    stop.set()
    worker.join()
    assert seen
    # Every render saw one setting whole, never a half-changed node.
    assert all(same_bits(s, parallel) or same_bits(s, point) for s in seen)


def test_other_python_threads_run_while_a_node_renders():
    _, normal, P, _ = random_passes(320, 320, seed=11, specials=False)
    node = quorlen.Node()
    node.update({"surfaceNoise": True, "surfaceNoiseType": "turbulence1"})
    took = []

    def render():
        start = time.perf_counter()
        node.render(normal, P=P, noiseP=P, threads=1)
        took.append(time.perf_counter() - start)

    worker = threading.Thread(target=render)
    last = time.perf_counter()
    longest = 0.0
    worker.start()
    while worker.is_alive():
        now = time.perf_counter()
        longest = max(longest, now - last)
        last = now
    worker.join()
    # Holding the interpreter would stop this loop for the whole render.
    assert took and longest < took[0] / 2, (longest, took)


def test_float32_c_arrays_are_read_in_place_and_others_converted_once():
    normal = np.random.default_rng(1).random((256, 256, 3), dtype=np.float32)
    node = quorlen.Node()
    node.render(normal)
    one_copy = normal.nbytes
    tracemalloc.start()
    try:
        for array, copies in [(normal, 0), (np.concatenate([normal, normal[:, :, :1]], axis=2), 0),
                              (normal.astype(np.float64), 1), (np.asfortranarray(normal), 1)]:
            tracemalloc.reset_peak()
            before = tracemalloc.get_traced_memory()[0]
            node.render(array, color=array, P=array)
            # numpy's allocations are traced; the session's own buffers are not.
            grew = tracemalloc.get_traced_memory()[1] - before
            assert copies * 3 * one_copy <= grew < copies * 3 * one_copy + one_copy // 4, (array.dtype, grew)
    finally:
        tracemalloc.stop()
