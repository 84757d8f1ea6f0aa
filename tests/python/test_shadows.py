"""Shadows and spots from Python: a rig given as a dict carries them, Rig.render casts them on arrays as
the command does on files (the same bits), and bad options are refused naming the light and the key."""

import numpy as np
import pytest

import quorlen
from conftest import run_quorlen, same_bits, write_exr


CENTRE = np.array([0.0, 1.0, 6.0])
LIGHT = [2.5, 5.0, 4.0]


def sphere_on_ground(h=90, w=160):
    """P and N of a unit sphere at CENTRE on the ground y = 0, seen from (0, 3, 0) looking down at it."""
    ys, xs = np.mgrid[0:h, 0:w].astype(np.float64)
    half = np.tan(0.45)
    d = np.stack([(2 * (xs + 0.5) / w - 1) * half, (1 - 2 * (ys + 0.5) / h) * half * h / w - 0.35,
                  np.ones_like(xs)], -1)
    d /= np.linalg.norm(d, axis=-1, keepdims=True)
    eye = np.array([0.0, 3.0, 0.0])
    oc = eye - CENTRE
    b = d @ oc
    disc = b * b - (oc @ oc - 1.0)
    t_sphere = np.where(disc > 0, -b - np.sqrt(np.maximum(disc, 0)), np.inf)
    t_ground = np.where(d[..., 1] < 0, -eye[1] / np.where(d[..., 1] < 0, d[..., 1], -1), np.inf)
    t = np.minimum(np.minimum(t_sphere, t_ground), 40)
    hit = t < 40
    P = eye + d * t[..., None]
    N = np.where((t_sphere <= t_ground)[..., None], P - CENTRE, np.array([0.0, 1.0, 0.0]))
    P = np.where(hit[..., None], P, 0).astype(np.float32)
    N = np.where(hit[..., None], N, 0).astype(np.float32)
    return P, N


RIG = {
    "lightSpace": "world",
    "outputType": "light",
    "lights": [
        {"name": "key", "knobs": {"lightType": "point", "_pointLightPos": LIGHT}, "shadow": True},
        {"name": "plain", "knobs": {"lightType": "point", "_pointLightPos": LIGHT}},
        {"name": "spot", "knobs": {"lightType": "point", "_pointLightPos": LIGHT},
         "spot": {"direction": [-2.5, -4, 2], "angle": 15, "penumbra": 3}},
    ],
}


def test_rig_dicts_cast_shadows_as_the_command_does(tmp_path):
    P, N = sphere_on_ground()
    out = quorlen.Rig(RIG).render(N, P=P, layers=True, light_space="world")
    key, plain, spot = out["key"][..., 1], out["plain"][..., 1], out["spot"][..., 1]
    # Ray-traced: the lit ground whose way to the light crosses the sphere.
    ground = (N[..., 1] == 1) & (plain > 0)
    to = np.array(LIGHT) - P.astype(np.float64)
    length = np.linalg.norm(to, axis=-1)
    d = to / length[..., None]
    oc = P - CENTRE
    b = np.einsum("ijk,ijk->ij", oc, d)
    disc = b * b - (np.einsum("ijk,ijk->ij", oc, oc) - 1)
    blocked = (disc > 0) & (-b - np.sqrt(np.maximum(disc, 0)) > 0)
    assert (ground & blocked).sum() > 100
    assert np.mean(key[ground & blocked] == 0) >= 0.95
    assert np.mean(key[ground & ~blocked] == plain[ground & ~blocked]) >= 0.98
    # The cone: the ground straight below its axis lit, the ground far off it dark.
    angle = np.degrees(np.arccos(np.clip(-(d @ np.array([-2.5, -4, 2])) / np.linalg.norm([-2.5, -4, 2]), -1, 1)))
    assert np.all(spot[ground & (angle < 11.9)] == plain[ground & (angle < 11.9)])
    assert np.all(spot[ground & (angle > 15.1)] == 0)
    assert (ground & (angle < 11.9)).sum() > 20

    write_exr(tmp_path / "passes.exr", {"N": N, "P": P})
    (tmp_path / "rig.json").write_text(__import__("json").dumps(RIG))
    run_quorlen("render", "--passes", tmp_path / "passes.exr", "--settings", tmp_path / "rig.json",
                "-o", tmp_path / "out.exr", "--no-progress")
    for name in ("key", "spot"):
        layer = quorlen.read(tmp_path / "out.exr", name)
        assert same_bits(layer, out[name][..., :3]), name


def test_bad_options_name_the_light_and_the_key():
    bad = dict(RIG, lights=[dict(RIG["lights"][0], shadow={"sise": 1})])
    with pytest.raises(quorlen.UsageError, match=r'light "key": shadow: unknown key "sise" \(did you mean "size"\?\)'):
        quorlen.Rig(bad)
    bad = dict(RIG, lights=[dict(RIG["lights"][2], spot={"direction": [0, -1, 0]})])
    with pytest.raises(quorlen.UsageError, match=r'light "spot": spot: "angle" is missing'):
        quorlen.Rig(bad)
    flat = {"lights": [{"name": "key", "knobs": {"lightType": "point"}, "shadow": True}]}
    P = np.zeros((8, 8, 3), np.float32)
    P[..., 0] = np.arange(8)[None, :]
    P[..., 1] = np.arange(8)[:, None]
    with pytest.raises(quorlen.InputError, match="no camera fits P"):
        quorlen.Rig(flat).render(np.ones((8, 8, 3), np.float32), P=P)
