"""Colour management from Python: the config described and chosen, previews through its views, refusals."""

import os

import numpy as np
import pytest

import quorlen

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
STUDIO = os.path.join(SOURCE, "tests", "hosting", "colour", "data", "studio.ocio")
SHIPPED = os.path.join(SOURCE, "hosting", "colour", "quorlen.ocio")


@pytest.fixture
def studio():
    """The test studio config for one test; the shipped one chosen again after it."""
    yield quorlen.colour_config(STUDIO)
    quorlen.colour_config(SHIPPED)


def test_default_config_describes_its_displays_views_and_spaces():
    if os.environ.get("OCIO"):
        pytest.skip("$OCIO names another config")
    config = quorlen.colour_config()
    assert config["source"] in ("default", "chosen")
    assert config["working_space"] == "lin_rec709"
    assert config["displays"] == {"sRGB": ["sRGB", "ACES 1.0 - SDR Video", "Raw"]}
    assert (config["display"], config["view"]) == ("sRGB", "sRGB")
    assert config["data_spaces"] == ["raw"]
    assert "ACEScg" in config["colour_spaces"]


def test_chosen_config_replaces_the_default(studio):
    assert studio["source"] == "chosen" and studio["path"] == STUDIO
    assert studio["working_space"] == "ACEScg"
    assert studio["displays"]["sRGB Monitor"] == ["ACES SDR"]
    assert studio["looks"] == ["Warm"]


def test_preview_through_views_and_controls():
    light = np.array([[[0.25, 0.5, 2.0], [0.0, 0.1, -1.0]]], np.float32)
    raw = quorlen.preview(light, view="Raw", exposure=1)
    assert raw.tolist() == [[[128, 255, 255], [0, 51, 0]]]
    assert quorlen.preview(light, view="Raw", gamma=2).tolist()[0][0] == [128, 180, 255]
    # The ACES view tone-maps: 2.0 is below white, and the default view is the plain curve.
    aces = quorlen.preview(light, view="ACES 1.0 - SDR Video")
    assert 0 < aces[0, 0, 2] < 255
    assert quorlen.preview(light)[0, 0, 2] == 255


def test_unknown_names_are_usage_errors_with_the_near_miss():
    light = np.zeros((1, 1, 3), np.float32)
    with pytest.raises(quorlen.UsageError, match=r'"Rwa" is not a view .*did you mean "Raw"\?'):
        quorlen.preview(light, view="Rwa")
    with pytest.raises(quorlen.UsageError, match=r'display: "sRBG" .*did you mean "sRGB"\?'):
        quorlen.preview(light, display="sRBG")
    with pytest.raises(quorlen.UsageError, match="exposure"):
        quorlen.preview(light, exposure=float("nan"))
    with pytest.raises(quorlen.InputError, match="does not exist"):
        quorlen.colour_config("/nowhere/config.ocio")
    quorlen.colour_config(SHIPPED)


def test_integer_arrays_are_codes_and_other_kinds_are_type_errors():
    light = np.array([[[0, 128, 255], [255, 64, 0]]], np.uint8)
    shown = quorlen.preview(light, view="Raw")
    assert np.array_equal(shown, light), "uint8 codes over 255, shown raw, are the same codes"
    wide = quorlen.preview((light.astype(np.uint16) * 257), view="Raw")
    assert np.array_equal(wide, light), "uint16 codes over 65535"
    for bad in (np.zeros((1, 2, 3), bool), np.zeros((1, 2, 3), complex), np.full((1, 2, 3), 0.5, object)):
        with pytest.raises(TypeError, match="holds no pixel values"):
            quorlen.preview(bad)
