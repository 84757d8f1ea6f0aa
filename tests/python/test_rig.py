"""Rigs from Python: the beauty and every layer equal the command's render of the same rig file bit for bit,
masks given as arrays stand for the file's, and lights are nodes with the knob calls of Node."""

import json

import numpy as np
import pytest

import quorlen
from conftest import random_passes, run_quorlen, same_bits, write_exr

RIG = {
    "_surfaceSpecular": [0.3, 0.3, 0.3],
    "lights": [
        {"name": "key", "knobs": {"lightType": "point", "_pointLightPos": [1, 2, -3], "lightBrightness": 2}},
        {"name": "fill", "knobs": {"_parallelLightDir": [-1, 0.5, -1], "lightBrightness": 0.3}},
        {"name": "rim", "knobs": {"_parallelLightDir": [0, 1, 1]}, "mask": "MATTE:hero.R", "maskInvert": True},
        {"name": "off", "mute": True},
    ],
}


@pytest.fixture
def shot(tmp_path):
    color, normal, P, _ = random_passes(13, 21, seed=11)
    matte = np.random.default_rng(5).uniform(-0.25, 1.25, size=(13, 21, 3)).astype(np.float32)
    write_exr(tmp_path / "passes.exr", {"": color, "N": normal, "P": P})
    write_exr(tmp_path / "matte.exr", {"hero": matte})
    rig = json.loads(json.dumps(RIG).replace("MATTE", str(tmp_path / "matte.exr")))
    (tmp_path / "rig.json").write_text(json.dumps(rig))
    return tmp_path, rig, (color, normal, P), matte


def test_beauty_and_layers_equal_the_commands(shot):
    folder, rig, (color, normal, P), _ = shot
    run_quorlen("render", "--passes", folder / "passes.exr", "--settings", folder / "rig.json",
                "-o", folder / "out.exr", "--no-progress")
    for settings in (folder / "rig.json", rig):
        out = quorlen.Rig(settings).render(normal, color=color, P=P, layers=True)
        assert sorted(out) == ["beauty", "fill", "key", "rim"]  # a muted light has no layer
        assert same_bits(out["beauty"][:, :, :3], quorlen.read(folder / "out.exr"))
        for light in ("key", "fill", "rim"):
            assert same_bits(out[light][:, :, :3], quorlen.read(folder / "out.exr", light)), light
    beauty = quorlen.Rig(rig).render(normal, color=color, P=P)
    assert beauty.shape == (13, 21, 4) and beauty.dtype == np.float32


def test_masks_as_arrays_stand_for_the_files(shot):
    folder, rig, (color, normal, P), matte = shot
    r = quorlen.Rig(rig)
    from_file = r.render(normal, color=color, P=P, layers=True)["rim"]
    given = r.render(normal, color=color, P=P, layers=True, masks={"rim": matte[:, :, 0]})["rim"]
    assert same_bits(given, from_file)
    # A mask for a light the file gives none: the light is multiplied by it.
    alone = r["fill"].render(normal, color=color, P=P)
    halved = r.render(normal, color=color, P=P, layers=True, masks={"fill": np.full((13, 21), 0.5, np.float32)})
    assert same_bits(halved["fill"][:, :, :3], alone[:, :, :3] * np.float32(0.5))
    with pytest.raises(ValueError, match=r'masks\["rim"\]: expected shape \(13, 21\)'):
        r.render(normal, color=color, P=P, masks={"rim": np.zeros((4, 4), np.float32)})
    with pytest.raises(TypeError, match="real numbers"):
        r.render(normal, color=color, P=P, masks={"rim": np.zeros((13, 21), bool)})
    with pytest.raises(quorlen.UsageError, match='no light named "rimm".*did you mean "rim"'):
        r.render(normal, color=color, P=P, masks={"rimm": matte[:, :, 0]})


def test_lights_are_nodes_and_bad_rigs_are_refused(shot):
    folder, rig, (color, normal, P), _ = shot
    r = quorlen.Rig(rig)
    assert r.lights() == ["key", "fill", "rim", "off"]
    assert r["key"]["lightType"] == 1 and r["fill"].text("lightBrightness") == "0.3"
    r["fill"]["lightBrightness"] = 0.6
    assert r["fill"].settings()["lightBrightness"] == 0.6 and r["key"]["lightBrightness"] == 2.0
    with pytest.raises(KeyError, match="lightType"):
        r["key"]["lightTyp"] = 1
    with pytest.raises(KeyError, match='no light named "kye"'):
        r["kye"]
    bad = dict(rig, lights=[{"name": "G"}])
    with pytest.raises(quorlen.UsageError, match='light name "G"'):
        quorlen.Rig(bad)
    with pytest.raises(quorlen.UsageError, match='"lights" is empty'):
        quorlen.Rig(dict(rig, lights=[]))
    with pytest.raises(ValueError, match='knob "lightBrightness": None'):
        quorlen.Rig({"lightBrightness": None, "lights": [{"name": "a"}]})
    # The command's job takes the rig as a dict too.
    quorlen.render_files(folder / "files.exr", passes=folder / "passes.exr", settings=rig)
    assert same_bits(quorlen.read(folder / "files.exr", "key"),
                     quorlen.Rig(rig).render(normal, color=color, P=P, layers=True)["key"][:, :, :3])
