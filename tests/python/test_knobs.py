"""Knobs from Python: values of every kind, refusals that change nothing, the panel as the command has it."""

import json
import math

import numpy as np
import pytest

import quorlen
from conftest import run_quorlen


def test_defaults_come_back_as_python_values(node):
    assert node["lightType"] == 0 and isinstance(node["lightType"], int)
    assert node["stripesNoiseDir"] == 0
    assert node["surfaceNoise"] is False
    assert node["pointLightRadius"] == 100.0 and isinstance(node["pointLightRadius"], float)
    assert node["_parallelLightDir"] == (1.0, 1.0, 1.0)
    assert node["noiseOffset"] == (0.0, 0.0, 0.0)
    assert all(isinstance(v, float) for v in node["_lightColor"])
    assert node.knobs()[0] == "lightType" and "outputType" in node.knobs() and len(node.knobs()) == 18


@pytest.mark.parametrize("name, value, expected", [
    ("lightType", "point", 1), ("lightType", 1, 1), ("lightType", "0", 0), ("lightType", np.int64(1), 1),
    ("surfaceNoiseType", "snoise", 3), ("outputType", "light", 1),
    ("stripesNoiseDir", "x|z", 5), ("stripesNoiseDir", "x+y+z", 7), ("stripesNoiseDir", 2, 2),
    ("surfaceNoise", True, True), ("surfaceNoise", "on", True), ("surfaceNoise", 1, True),
    ("surfaceNoise", np.bool_(True), True), ("surfaceNoise", "FALSE", False),
    ("pointLightRadius", 2.5, 2.5), ("pointLightRadius", "1e3", 1000.0), ("pointLightRadius", 7, 7.0),
    ("pointLightRadius", np.float32(0.1), 0.1), ("lightBrightness", -0.0, -0.0),
    ("pointLightFalloff", math.inf, math.inf), ("pointLightFalloff", "-inf", -math.inf),
    ("_pointLightPos", (1, 2.5, -3), (1.0, 2.5, -3.0)), ("_pointLightPos", [0.5, 0, 0], (0.5, 0.0, 0.0)),
    ("_pointLightPos", "1,0.5,0.25", (1.0, 0.5, 0.25)), ("_lightColor", 0.5, (0.5, 0.5, 0.5)),
    ("_lightScatter", np.array([0.1, 0.2, 0.3]), (0.1, 0.2, 0.3)),
    ("noiseOffset", (1e30, -2, 3), (1e30, -2.0, 3.0)), ("noiseOffset", 1 / 3, (0.33333334,) * 3),
])
def test_values_of_every_kind(node, name, value, expected):
    # Floats read back as the shortest decimal of the knob's 32-bit value, as the panel shows them.
    node[name] = value
    assert node[name] == expected
    assert type(node[name]) is type(expected)
    if name == "lightBrightness":
        assert math.copysign(1.0, node[name]) == -1.0


def test_nan_is_a_value_too(node):
    node["noiseFrequency"] = math.nan
    assert math.isnan(node["noiseFrequency"])
    node["_surfaceDiffuse"] = (math.nan, 1, math.inf)
    d = node["_surfaceDiffuse"]
    assert math.isnan(d[0]) and d[1:] == (1.0, math.inf)
    assert node.text("_surfaceDiffuse") == "nan,1,inf"


def test_unknown_knobs_are_key_errors_with_a_suggestion(node):
    with pytest.raises(KeyError, match=r'no knob named "lightTyp" \(did you mean "lightType"\?\)'):
        node["lightTyp"] = "point"
    with pytest.raises(KeyError, match="lightTyp"):
        node["lightTyp"]
    with pytest.raises(KeyError, match="pointLightRadiu"):
        node.available("pointLightRadiu")
    with pytest.raises(KeyError, match="did you mean"):
        node.update({"pointLightRadius": 3, "lightBrightnes": 2})
    # A word of a knob's name points to that knob.
    with pytest.raises(KeyError, match=r'no knob named "brightness" \(did you mean "lightBrightness"\?\)'):
        node["brightness"]
    assert node["pointLightRadius"] == 100.0


@pytest.mark.parametrize("name, value, forms", [
    ("lightType", "spot", "parallel"), ("lightType", 7, "parallel"), ("lightType", 1.5, "parallel"),
    ("stripesNoiseDir", "w", "x"), ("surfaceNoise", "maybe", "on"), ("surfaceNoise", 2.0, "on"),
    ("pointLightRadius", "far", "number"), ("pointLightRadius", 1e39, "32-bit float"),
    ("pointLightRadius", (1, 2, 3), "number"), ("_pointLightPos", (1, 2), "three"),
    ("_pointLightPos", (1, 2, "x"), "three"), ("noiseOffset", None, "None is not a value; it takes 3 numbers"),
    ("_lightColor", {"r": 1}, "three"), ("lightType", object(), "parallel"),
])
def test_bad_values_are_value_errors_naming_the_knob_and_forms(node, name, value, forms):
    before = node.settings()
    with pytest.raises(ValueError) as refused:
        node[name] = value
    assert name in str(refused.value) and forms in str(refused.value)
    assert node.settings() == before


def test_settings_are_the_files_form_with_choices_by_label(node, tmp_path):
    node.update({"lightType": "point", "pointLightRadius": 5.0, "lightBrightness": float("inf")})
    saved = node.settings()
    assert saved["lightType"] == "point" and saved["pointLightRadius"] == 5.0
    assert saved["lightBrightness"] == float("inf")
    other = quorlen.Node()
    other.update(saved)
    assert other.settings() == saved
    (tmp_path / "look.json").write_text(json.dumps({k: quorlen._json_value(v) for k, v in saved.items()}))
    shown = run_quorlen("knobs", "--settings", tmp_path / "look.json", "--json").stdout
    assert {k["name"]: k["value"] for k in json.loads(shown)["knobs"] if k["name"]}["lightType"] == 1


def test_update_is_all_or_nothing(node):
    with pytest.raises(ValueError, match="pointLightFalloff"):
        node.update({"lightType": "point", "pointLightRadius": 5, "pointLightFalloff": "steep"})
    assert node["lightType"] == 0 and node["pointLightRadius"] == 100.0
    node.update({"lightType": "point", "_pointLightPos": [1, 2, 3]}, pointLightRadius=5)
    assert (node["lightType"], node["_pointLightPos"], node["pointLightRadius"]) == (1, (1.0, 2.0, 3.0), 5.0)
    with pytest.raises(TypeError):
        node.update({1: 2})


def test_availability_follows_the_settings(node):
    assert node.available("_parallelLightDir") and not node.available("pointLightRadius")
    assert not node.available("noiseFrequency")
    node.update({"lightType": "point", "surfaceNoise": True})
    assert node.available("pointLightRadius") and not node.available("_parallelLightDir")
    assert node.available("noiseFrequency")


def test_panel_is_what_knobs_json_prints(node):
    node.update({"lightType": "point", "_lightColor": [0.5, 0.25, 1], "noiseMultiply": math.nan})
    printed = json.loads(run_quorlen("knobs", "--json", "--set", "lightType=point", "--set",
                                     "_lightColor=0.5,0.25,1", "--set", "noiseMultiply=nan").stdout)
    assert node.panel() == printed
    assert node.panel()["inputs"] == ["color", "normal", "P", "noiseP"]


def test_html_panel_lists_every_knob_escaped(node, monkeypatch):
    node["lightType"] = "point"
    shown = node._repr_html_()
    assert shown.startswith("<table") and shown.count("<tr") == 19
    assert "<td>lightType</td><td>light type</td><td>point</td>" in shown
    assert "<td>_pointLightPos</td><td>pointLight position</td><td>0.0, 0.0, 0.0</td>" in shown
    panel = node.panel()
    next(k for k in panel["knobs"] if k["name"] == "lightType")["label"] = "<b>&\"light\""
    monkeypatch.setattr(node, "panel", lambda: panel)
    assert "&lt;b&gt;&amp;&quot;light&quot;" in node._repr_html_()


def test_plugin_path_chooses_the_module(tmp_path):
    with pytest.raises(quorlen.Error, match="does not exist") as missing:
        quorlen.Node(plugin_path=tmp_path / "nowhere")
    assert isinstance(missing.value, quorlen.ModuleError) and isinstance(missing.value, RuntimeError)
    (tmp_path / "Quorlen.so").write_bytes(b"\x7fELF truncated")
    with pytest.raises(quorlen.Error, match="cannot load plug-in"):
        quorlen.Node(plugin_path=tmp_path)
