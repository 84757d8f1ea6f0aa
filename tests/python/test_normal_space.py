"""Camera-space and flipped normals on arrays: Node.render and Rig.render read them as the command reads
the same passes from files (the same bits), a rig's normalSpace and normalFlip are honoured unless a
keyword overrides them, and bad words, missing P and a P no camera fits are refused."""

import json

import numpy as np
import pytest

import quorlen
from conftest import run_quorlen, same_bits, write_exr
from test_shadows import sphere_on_ground

LOOK = {"outputType": "light", "_parallelLightDir": [-0.5, 1.0, -0.7]}


def camera_normals(N):
    """sphere_on_ground's camera looks along +z with y up; written y down and z towards the viewer."""
    return np.ascontiguousarray(N * np.array([1, -1, -1], np.float32))


@pytest.fixture(scope="module")
def scene(tmp_path_factory):
    P, N = sphere_on_ground()
    dir = tmp_path_factory.mktemp("normal_space")
    write_exr(dir / "camera.exr", {"N": camera_normals(N), "P": P})
    return P, N, dir


def command_render(dir, settings, *args, name="out.exr"):
    (dir / "look.json").write_text(json.dumps(settings))
    run_quorlen("render", "--passes", dir / "camera.exr", "--settings", dir / "look.json", "-o", dir / name,
                "--no-progress", *args)
    return dir / name


def test_node_reads_camera_space_as_the_command_does(scene):
    P, N, dir = scene
    Nc = camera_normals(N)
    held = Nc.copy()
    node = quorlen.Node()
    node.update(LOOK)
    out = node.render(Nc, P=P, light_space="world", normal_space="camera", normal_flip="y,z")
    # The same words, in a sequence and another case.
    assert same_bits(out, node.render(Nc, P=P, light_space="world", normal_space="Camera",
                                      normal_flip=("Z", "y")))
    assert same_bits(Nc, held)  # the caller's normals are read, never written

    path = command_render(dir, LOOK, "--light-space", "world", "--normal-space", "camera",
                          "--normal-flip", "y,z")
    assert same_bits(quorlen.read(path), out[..., :3])

    # Turned with the fitted camera, they light as the world-space normals do.
    world = node.render(N, P=P, light_space="world")
    assert np.abs(world - out).max() < 1e-4
    assert (world[..., 1] > 0).mean() > 0.5

    # A flip alone needs no camera: y negated twice.
    down = np.ascontiguousarray(N * np.array([1, -1, 1], np.float32))
    assert same_bits(node.render(down, light_space="world", normal_flip=["y"]), node.render(N, light_space="world"))


def test_rig_honours_the_files_choices_unless_given(scene):
    P, N, dir = scene
    Nc = camera_normals(N)
    rig_dict = {"lightSpace": "world", "normalSpace": "camera", "normalFlip": "y,z", "outputType": "light",
                "lights": [{"name": "key", "knobs": {"_parallelLightDir": [-0.5, 1, -0.7]}},
                           {"name": "rim", "knobs": {"_parallelLightDir": [0.3, 0.2, 1]}}]}
    rig = quorlen.Rig(rig_dict)
    out = rig.render(Nc, P=P, layers=True)
    path = command_render(dir, rig_dict)
    assert same_bits(quorlen.read(path), out["beauty"][..., :3])
    for name in ("key", "rim"):
        assert same_bits(quorlen.read(path, name), out[name][..., :3]), name
    # render_files takes the reading from its settings, a dict here, as the command takes it from the file.
    quorlen.render_files(dir / "files.exr", passes=dir / "camera.exr", settings=rig_dict)
    assert same_bits(quorlen.read(dir / "files.exr"), out["beauty"][..., :3])
    # A light's own render, without keywords, reads the passes as the file says too.
    assert same_bits(rig["key"].render(Nc, P=P), out["key"])

    # Keywords override the file, as the command line does.
    plain = rig.render(Nc, P=P, layers=True, normal_flip="none")
    assert not same_bits(plain["beauty"], out["beauty"])
    path = command_render(dir, rig_dict, "--normal-flip", "none", name="none.exr")
    assert same_bits(quorlen.read(path), plain["beauty"][..., :3])
    as_world = rig.render(N, P=P, normal_space="world", normal_flip=[])
    assert np.abs(as_world - out["beauty"]).max() < 1e-4


def test_refusals(scene):
    P, N, _ = scene
    node = quorlen.Node()
    with pytest.raises(quorlen.UsageError, match=r'normal_space: "camra" is not world or camera '
                                                  r'\(did you mean "camera"\?\)'):
        node.render(N, P=P, normal_space="camra")
    with pytest.raises(quorlen.UsageError, match=r'normal_flip: "yy" is not x or y or z \(did you mean "y"\?\)'):
        node.render(N, P=P, normal_flip="x,yy")
    with pytest.raises(quorlen.UsageError, match=r'normal_flip: "w" is not x or y or z'):
        quorlen.Rig({"lights": [{"name": "key"}]}).render(N, P=P, normal_flip=["x", "w"])
    with pytest.raises(TypeError, match="normal_flip"):
        node.render(N, P=P, normal_flip=[1])
    with pytest.raises(quorlen.UsageError, match="--normal-space camera: no P input"):
        node.render(N, normal_space="camera")
    with pytest.raises(quorlen.UsageError, match="--normal-space camera: no P input"):
        quorlen.Rig({"normalSpace": "camera"}).render(N)
    flat = np.zeros((8, 8, 3), np.float32)
    flat[..., 0] = np.arange(8)[None, :]
    flat[..., 1] = np.arange(8)[:, None]
    with pytest.raises(quorlen.InputError, match="--normal-space camera: no camera fits P"):
        node.render(np.ones((8, 8, 3), np.float32), P=flat, normal_space="camera")
    # The node renders again after a refusal.
    assert node.render(N).shape == N.shape[:2] + (4,)
