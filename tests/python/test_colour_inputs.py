"""Colour spaces of arrays rendered from Python, the colour's alpha carried, and arrays written as the
command writes its outputs."""

import os

import numpy as np
import pytest

import quorlen
from conftest import random_passes, same_bits, write_exr

# Saturated colours, which a change of primaries moves (a grey it would not).
SATURATED = np.array([[[0.9, 0.1, 0.05], [0.05, 0.7, 0.2], [0.1, 0.2, 0.8], [0.5, 0.5, 0.5]]], np.float32)


def normals(h, w):
    n = np.zeros((h, w, 3), np.float32)
    n[..., 2] = -1.0
    return n


@pytest.fixture
def lit():
    """The default parallel light, which lights normals facing -z."""
    node = quorlen.Node()
    node["lightBrightness"] = 1.5
    return node


def test_colour_space_of_an_array_is_the_files_tag(tmp_path, lit):
    """An array in ACEScg renders as an EXR tagged ACEScg does through the command: the same bits."""
    h, w = SATURATED.shape[:2]
    tagged = tmp_path / "acescg.exr"
    quorlen.write(tagged, SATURATED, colorspace="ACEScg")  # working-space light written in ACEScg
    acescg = quorlen.read(tagged)
    assert not np.allclose(acescg, SATURATED, atol=1e-3), "the write did not convert"
    normal = tmp_path / "n.exr"
    write_exr(normal, {"": normals(h, w)})
    out = tmp_path / "relit.exr"
    quorlen.render_files(out, color=tagged, normal=normal, settings={"lightBrightness": 1.5})
    from_file = quorlen.read(out)
    relit = lit.render(normals(h, w), acescg, colorspaces={"color": "ACEScg"})
    assert relit[..., :3].min() > 0, "lit"
    assert same_bits(relit[..., :3], from_file)
    # Back in the working space: the light of the original colours, up to the round trip's rounding.
    np.testing.assert_allclose(relit[..., :3], lit.render(normals(h, w), SATURATED)[..., :3], atol=2e-6)
    # Named as the working space (or raw data), the array is read as it is; so is the file when the name
    # overrides its tag.
    as_stored = lit.render(normals(h, w), acescg, colorspaces={"color": "lin_rec709"})
    assert same_bits(as_stored, lit.render(normals(h, w), acescg))
    quorlen.render_files(out, color=tagged, normal=normal, settings={"lightBrightness": 1.5},
                         colorspaces={"color": "lin_rec709"})
    assert same_bits(as_stored[..., :3], quorlen.read(out))
    with pytest.raises(quorlen.UsageError, match='did you mean "ACEScg"'):
        quorlen.render_files(tmp_path / "never.exr", color=tagged, normal=normal, colorspaces={"color": "ACEScgg"})
    assert not (tmp_path / "never.exr").exists()
    assert same_bits(lit.render(normals(h, w), acescg, colorspaces={"color": "raw"}),
                     lit.render(normals(h, w), acescg))


def test_integer_colour_arrays_are_textures_as_an_8_bit_png_is(tmp_path, lit):
    codes = np.array([[[255, 0, 0], [128, 64, 32], [10, 200, 90]]], np.uint8)
    h, w = codes.shape[:2]
    texture = lit.render(normals(h, w), codes)
    # Codes over 255 (times 1/255 as the image library scales a file's), then the sRGB curve: what naming
    # srgb_texture gives a float array.
    scaled = codes.astype(np.float32) * (np.float32(1) / np.float32(255))
    assert same_bits(texture, lit.render(normals(h, w), scaled, colorspaces={"color": "srgb_texture"}))
    assert not np.allclose(texture, lit.render(normals(h, w), scaled))
    # The same codes in a PNG through the command.
    png, normal, out = tmp_path / "albedo.png", tmp_path / "n.exr", tmp_path / "relit.exr"
    quorlen.write(png, codes)
    write_exr(normal, {"": normals(h, w)})
    quorlen.render_files(out, color=png, normal=normal, settings={"lightBrightness": 1.5})
    assert same_bits(texture[..., :3], quorlen.read(out))
    # uint16 codes over 65535 the same way; raw keeps the codes as linear values.
    wide = codes.astype(np.uint16) * np.uint16(257)
    np.testing.assert_allclose(lit.render(normals(h, w), wide), texture, rtol=1e-5, atol=1e-7)
    assert same_bits(lit.render(normals(h, w), codes, colorspaces={"color": "raw"}),
                     lit.render(normals(h, w), scaled))


def test_colour_spaces_are_refused_as_the_command_refuses_them(lit):
    n = normals(1, 4)
    with pytest.raises(quorlen.UsageError, match=r'colorspaces color: "ACEScx" is not a colour space .*'
                                                 r'did you mean "ACEScg"\?'):
        lit.render(n, SATURATED, colorspaces={"color": "ACEScx"})
    with pytest.raises(quorlen.UsageError, match=r'"colour" is not an input .*did you mean "color"\?'):
        lit.render(n, SATURATED, colorspaces={"colour": "ACEScg"})
    # Data inputs take no colour space at all, as --colorspace normal=... is refused.
    for label in ("normal", "P", "noiseP"):
        with pytest.raises(quorlen.UsageError, match=f"colorspaces {label}: the {label} input is data"):
            lit.render(n, SATURATED, colorspaces={label: "raw"})
    with pytest.raises(TypeError, match="colorspaces"):
        lit.render(n, SATURATED, colorspaces="ACEScg")
    with pytest.raises(TypeError, match="strings"):
        lit.render(n, SATURATED, colorspaces={"color": 3})


def test_alpha_of_the_colour_array_is_carried_on_request(lit):
    color = np.concatenate([SATURATED, np.array([[[0.0], [0.25], [1.0], [-2.0]]], np.float32)], axis=2)
    n = normals(1, 4)
    plain = lit.render(n, color)
    assert not plain[..., 3].any(), "the node's own alpha is 0"
    carried = lit.render(n, color, alpha=True)
    assert same_bits(carried[..., :3], plain[..., :3])
    assert carried[..., 3].tolist() == [[0.0, 0.25, 1.0, -2.0]]
    # Alpha is not colour: a converted colour keeps it as it is.
    assert lit.render(n, color, colorspaces={"color": "ACEScg"}, alpha=True)[..., 3].tolist() == \
        [[0.0, 0.25, 1.0, -2.0]]
    with pytest.raises(quorlen.UsageError, match="no fourth channel"):
        lit.render(n, SATURATED, alpha=True)
    with pytest.raises(quorlen.UsageError, match="no color array"):
        lit.render(n, alpha=True)


def test_rig_takes_the_colour_space_and_alpha_as_a_node_does():
    rig = quorlen.Rig({"lights": [{"name": "key", "knobs": {"lightBrightness": 1.5}},
                                  {"name": "fill", "knobs": {"lightBrightness": 0.25}}]})
    color = np.concatenate([SATURATED, np.full((1, 4, 1), 0.5, np.float32)], axis=2)
    n = normals(1, 4)
    converted = rig.render(n, color[..., :3], colorspaces={"color": "ACEScg"})
    key = quorlen.Node()
    key["lightBrightness"] = 1.5
    assert same_bits(rig["key"].render(n, color[..., :3]), key.render(n, color[..., :3]))
    assert not np.allclose(converted, rig.render(n, color[..., :3]))
    out = rig.render(n, color, layers=True, colorspaces={"color": "ACEScg"}, alpha=True)
    assert same_bits(out["beauty"][..., :3], converted[..., :3])
    for name in ("beauty", "key", "fill"):
        assert (out[name][..., 3] == 0.5).all(), name


def test_write_round_trips_and_honours_type_view_and_colour_space(tmp_path):
    color, _, _, _ = random_passes(5, 7, seed=11, specials=False)
    rgba = np.concatenate([color, np.full((5, 7, 1), 0.75, np.float32)], axis=2)
    exr = tmp_path / "out.exr"
    quorlen.write(exr, rgba)
    assert same_bits(quorlen.read(exr), color), "float EXR in the working space: the same bits"
    quorlen.write(tmp_path / "half.exr", color, dtype=np.float16, compression="piz")
    np.testing.assert_allclose(quorlen.read(tmp_path / "half.exr"), color.astype(np.float16), rtol=0, atol=0)
    # 8-bit outputs through the default view give back the codes an 8-bit array was read from.
    codes = (np.arange(5 * 7 * 3).reshape(5, 7, 3) * 2 % 256).astype(np.uint8)
    png = tmp_path / "codes.png"
    quorlen.write(png, codes)
    assert np.array_equal(np.rint(quorlen.read(png) * 255), codes.astype(np.float32))
    # Another view changes the codes; 16-bit PNG through the same view.
    quorlen.write(tmp_path / "aces.png", color, view="ACES 1.0 - SDR Video")
    assert not np.array_equal(quorlen.read(tmp_path / "aces.png"), quorlen.preview(color) / np.float32(255))
    quorlen.write(tmp_path / "wide.png", color, dtype="uint16")
    np.testing.assert_allclose(quorlen.read(tmp_path / "wide.png"), quorlen.preview(color) / np.float32(255),
                               atol=0.5 / 255)


def test_write_refuses_bad_arrays_and_names_and_leaves_the_target_alone(tmp_path):
    target = tmp_path / "keep.exr"
    target.write_bytes(b"earlier")
    good = np.zeros((2, 2, 3), np.float32)
    with pytest.raises(quorlen.UsageError, match=r'"Rwa" is not a view .*did you mean "Raw"\?'):
        quorlen.write(tmp_path / "x.png", good, view="Rwa")
    with pytest.raises(quorlen.UsageError, match="ACEScx"):
        quorlen.write(target, good, colorspace="ACEScx")
    with pytest.raises(quorlen.UsageError, match='dtype: "double" is not a sample type'):
        quorlen.write(target, good, dtype="double")
    with pytest.raises(quorlen.UsageError, match="int32 is not a sample type"):
        quorlen.write(target, good, dtype=np.int32)
    with pytest.raises(ValueError, match=r"expected an array of shape \(H, W, 3\) or \(H, W, 4\)"):
        quorlen.write(target, np.zeros((2, 2), np.float32))
    with pytest.raises(TypeError, match="holds no pixel values"):
        quorlen.write(target, np.zeros((1, 2, 3), bool))
    with pytest.raises(TypeError, match="view"):
        quorlen.write(tmp_path / "x.png", good, view=3)
    with pytest.raises(quorlen.OutputError):
        quorlen.write(tmp_path / "missing" / "dir" / "x.exr", good)
    assert target.read_bytes() == b"earlier"
    assert sorted(os.listdir(tmp_path)) == ["keep.exr"], "nothing left behind"
