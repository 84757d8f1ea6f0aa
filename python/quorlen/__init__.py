"""Quorlen, the relighting node, on numpy arrays and image files.

    import quorlen
    node = quorlen.Node()
    node["lightType"] = "point"
    relit = node.render(normal, color=color, P=P)     # float32 (H, W, 4)

Knob values, errors and pixels are those of the ``quorlen`` command: a render of arrays equals bit for
bit ``quorlen render`` of the same pixels written as float EXR files.
"""

import html
import json
import math
import numbers
import os
import warnings

import numpy as np

from . import _quorlen
from ._quorlen import Error, InputError, Interrupted, ModuleError, OutputError, UsageError

__all__ = [
    "Error",
    "UsageError",
    "InputError",
    "ModuleError",
    "OutputError",
    "Interrupted",
    "Node",
    "Rig",
    "read",
    "write",
    "layers",
    "render_files",
    "preview",
    "colour_config",
]

def _json_value(value):
    """A Python value in the JSON forms a settings file holds (NaN and infinities as their text forms)."""
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    if isinstance(value, str):
        return value
    if isinstance(value, numbers.Integral):
        return int(value)
    if isinstance(value, numbers.Real):
        f = float(value)
        if math.isnan(f):
            return "nan"
        if math.isinf(f):
            return "inf" if f > 0 else "-inf"
        return f
    if isinstance(value, (list, tuple, np.ndarray)):
        return [_json_value(v) for v in value]
    if value is None:
        raise _NoValue()
    # Anything else is shown to the knob as text, which it refuses with its accepted forms.
    return repr(value)


class _NoValue(Exception):
    """None given where a knob value belongs; said in the knob's own terms by the caller."""


def _json_values(node, values):
    """The JSON forms of knob values, refusing None with what the knob takes."""
    out = {}
    for name, value in values.items():
        try:
            out[name] = _json_value(value)
        except _NoValue:
            raise ValueError(f'knob "{name}": None is not a value; it takes {node.accepts(name)}') from None
    return out


def _python_value(value):
    """A knob's value from the panel's JSON: tuples of floats, ints, bools, non-finite floats restored."""
    if isinstance(value, list):
        return tuple(_python_value(v) for v in value)
    if isinstance(value, str):
        return float(value)
    return value


def _knob_text(value):
    """A Python value in the text form ``--set`` takes."""
    if isinstance(value, (bool, np.bool_)):
        return "on" if value else "off"
    if isinstance(value, str):
        return value
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        return repr(float(value))
    if isinstance(value, (list, tuple, np.ndarray)):
        return ",".join(_knob_text(v) for v in value)
    return repr(value)


class Node:
    """One Quorlen node: knobs by name, rendered on arrays.

    ``plugin_path`` is a directory holding Quorlen.so (or the file itself), searched first, as the
    command's ``--plugin-path``; then QUORLEN_PLUGIN_PATH, the installation's and the build tree's.
    A node may be shared between threads: calls on it take turns, and ``render`` lets other Python
    threads run while it works.
    """

    def __init__(self, plugin_path=None):
        self._node = _quorlen._Node(None if plugin_path is None else os.fspath(plugin_path))

    @property
    def plugin(self):
        """The operator's module file this node was made from."""
        return self._node.module_path

    def __getitem__(self, name):
        return _python_value(json.loads(self._node.value_json(name)))

    def __setitem__(self, name, value):
        self._node.set_json(name, json.dumps(_json_values(self._node, {name: value})[name], allow_nan=False))

    def __contains__(self, name):
        return name in self.knobs()

    def __iter__(self):
        return iter(self.knobs())

    def update(self, settings=(), **knobs):
        """Sets every knob of a mapping (the settings file's forms), all or nothing."""
        values = dict(settings)
        values.update(knobs)
        for name in values:
            if not isinstance(name, str):
                raise TypeError(f"knob names are strings, not {type(name).__name__}")
        self._node.apply_json(json.dumps(_json_values(self._node, values), allow_nan=False))

    def knobs(self):
        """Names of the knobs that hold a value, in panel order."""
        return self._node.knob_names()

    def available(self, name):
        """Whether the knob applies to the current settings (the panel's own rules)."""
        return self._node.available(name)

    def text(self, name):
        """The knob's value in the text form ``--set`` takes."""
        return self._node.value_text(name)

    def panel(self):
        """The panel as ``quorlen knobs --json`` prints it: class, inputs and every declaration."""
        return json.loads(self._node.panel_json())

    def settings(self):
        """Every knob's value in a settings file's form (choices by their labels), as ``update`` and
        ``quorlen render --settings`` take them."""
        def restored(value):
            # Labels stay text; the non-finite numbers a file writes as text become floats again.
            if isinstance(value, str) and value in ("nan", "inf", "-inf"):
                return float(value)
            return _python_value(value) if not isinstance(value, str) else value
        return {name: restored(value) for name, value in json.loads(self._node.settings_json()).items()}

    def render(self, normal, color=None, P=None, noiseP=None, threads=0, *, light_space=None,
               normal_encoding=None, colorspaces=None, alpha=False, normal_space=None, normal_flip=None):
        """Relights arrays of shape (H, W, 3) or (H, W, 4) (the first three channels are read) and
        returns a new float32 array (H, W, 4) whose alpha is 0. C-contiguous float32 arrays are read
        in place; others are converted once. ``threads`` 0 uses every core. ``light_space``,
        ``normal_encoding``, ``normal_space`` and ``normal_flip`` are the command's ``--light-space``,
        ``--normal-encoding``, ``--normal-space`` and ``--normal-flip`` ("x,y,z" or a sequence of axis
        letters); unset, node, signed, world and none (a rig's light: its file's). Camera-space normals are
        turned with the camera fitted to ``P``.

        ``colorspaces`` is the command's ``--colorspace``: ``{"color": NAME}`` names the colour array's
        space in the colour config, converted to the working space (in a copy) before the render. Without
        it a float colour array is working-space light and a uint8 or uint16 one holds codes read as an
        image file of them is (an 8-bit PNG's: ``srgb_texture`` in Quorlen's own config). The other
        inputs are data and take no colour space. With ``alpha=True`` the colour array's fourth channel
        becomes the output's alpha, as the command carries the colour input's alpha."""
        return self._node.render(normal, color, P, noiseP, threads, light_space, normal_encoding,
                                 _colour_spaces(colorspaces), bool(alpha), normal_space,
                                 _flip_words(normal_flip))

    def _repr_html_(self):
        rows = []
        for k in self.panel()["knobs"]:
            if not k["name"]:
                continue
            value = k["value"]
            if k["entries"] and k["kind"] == "enumeration" and isinstance(value, int) \
                    and 0 <= value < len(k["entries"]):
                value = k["entries"][value]
            elif k["kind"] in ("bitmask", "checkbox", "enumeration"):
                value = self._node.value_text(k["name"])
            elif isinstance(value, list):
                value = ", ".join(str(v) for v in value)
            style = "" if k["available"] else ' style="opacity:0.5"'
            rows.append(f"<tr{style}><td>{html.escape(str(k['name']))}</td>"
                        f"<td>{html.escape(str(k['label'] or ''))}</td>"
                        f"<td>{html.escape(str(value))}</td></tr>")
        return ('<table class="quorlen-panel"><thead><tr><th>knob</th><th>label</th><th>value</th></tr>'
                "</thead><tbody>" + "".join(rows) + "</tbody></table>")

    def __repr__(self):
        return f"<quorlen.Node lightType={self.text('lightType')}>"


class _LightHandle:
    """One light of a rig, answering the knob calls a Node makes of its extension object."""

    def __init__(self, rig, name):
        self._rig, self._name = rig, name

    module_path = property(lambda self: None)

    def __getattr__(self, call):
        if call in ("knob_names", "set_json", "apply_json", "value_json", "value_text", "available", "accepts",
                    "settings_json", "panel_json"):
            method = getattr(self._rig, call)
            return lambda *args: method(self._name, *args)
        raise AttributeError(call)

    def render(self, normal, color, P, noiseP, threads, light_space, normal_encoding, colorspaces=None,
               alpha=False, normal_space=None, normal_flip=None):
        return self._rig.render(normal, color, P, noiseP, threads, light_space, normal_encoding, {}, False,
                                [self._name], colorspaces, alpha, normal_space, normal_flip)


class Rig:
    """A rig of lights, as a settings file with a ``lights`` array describes it: one node a light over the
    same arrays, each light's layer its output times its mask, the beauty the layers added in order.

    ``settings`` is the file's path or a dict in the file's form. ``rig["key"]`` is that light's node
    (knobs get and set as on ``Node``; its ``render`` renders that light alone, masked).
    """

    def __init__(self, settings, plugin_path=None):
        plugin = None if plugin_path is None else os.fspath(plugin_path)
        if isinstance(settings, dict):
            self._rig = _quorlen._Rig(json.dumps(_json_settings(settings), allow_nan=False), None, plugin)
        else:
            self._rig = _quorlen._Rig("", os.fspath(settings), plugin)

    def lights(self):
        """The lights' names, in the file's order."""
        return self._rig.lights()

    def __getitem__(self, name):
        if name not in self._rig.lights():
            raise KeyError(f'no light named "{name}" (lights: {", ".join(self._rig.lights())})')
        node = Node.__new__(Node)
        node._node = _LightHandle(self._rig, name)
        return node

    def __iter__(self):
        return iter(self.lights())

    def __len__(self):
        return len(self.lights())

    def render(self, normal, color=None, P=None, noiseP=None, layers=False, *, masks=None, solo=(), threads=0,
               light_space=None, normal_encoding=None, colorspaces=None, alpha=False, normal_space=None,
               normal_flip=None):
        """Renders the rig on arrays as ``Node.render`` does: the beauty (H, W, 4) float32, or with
        ``layers=True`` a dict of ``"beauty"`` and each rendered light's name to its (H, W, 4) layer.
        ``masks`` maps light names to arrays (H, W) or (H, W, C) whose first channel replaces the file's
        mask; masks named in the file and not given are read from it. ``light_space``,
        ``normal_encoding``, ``normal_space`` and ``normal_flip`` default to the file's (``lightSpace``,
        ``normalEncoding``, ``normalSpace``, ``normalFlip``), else node, signed, world and none.
        ``colorspaces`` and ``alpha`` are ``Node.render``'s (the alpha goes to the beauty and to every
        layer)."""
        return self._rig.render(normal, color, P, noiseP, int(threads), light_space, normal_encoding,
                                dict(masks or {}), bool(layers), list(solo), _colour_spaces(colorspaces),
                                bool(alpha), normal_space, _flip_words(normal_flip))


def _flip_words(flip):
    """normal_flip as the command's --normal-flip takes it: "x,z" as it is, a sequence of axis letters
    joined (empty: none)."""
    if flip is None or isinstance(flip, str):
        return flip
    try:
        axes = list(flip)
    except TypeError:
        raise TypeError(f"normal_flip: {type(flip).__name__} is not \"x,y,z\" or a sequence of axis letters") \
            from None
    for axis in axes:
        if not isinstance(axis, str):
            raise TypeError(f"normal_flip: {axis!r} is not an axis letter (x, y or z)")
    return ",".join(axes) if axes else "none"


def _json_settings(settings):
    """A settings dict in the file's form with its knob values as JSON, None refused naming the knob."""
    out = {}
    for name, value in settings.items():
        if not isinstance(name, str):
            raise TypeError(f"knob names are strings, not {type(name).__name__}")
        if name == "lights" and isinstance(value, (list, tuple)):
            lights = []
            for light in value:
                light = dict(light)
                if isinstance(light.get("knobs"), dict):
                    light["knobs"] = _json_settings(light["knobs"])
                lights.append(light)
            out[name] = lights
            continue
        try:
            out[name] = _json_value(value)
        except _NoValue:
            raise ValueError(f'knob "{name}": None is not a value') from None
    return out


def read(path, layer=None):
    """A layer's three components (the plain R, G, B without ``layer``) as float32 (H, W, 3), read as
    ``--normal FILE:LAYER`` reads them."""
    return _quorlen.read(os.fspath(path), layer)


_SAMPLE_TYPES = {np.dtype(np.float16): "half", np.dtype(np.float32): "float", np.dtype(np.uint8): "uint8",
                 np.dtype(np.uint16): "uint16"}


def _colour_spaces(colorspaces):
    """``colorspaces`` as the extension takes it: a dict, or None."""
    if colorspaces is None or isinstance(colorspaces, dict):
        return colorspaces
    try:
        return dict(colorspaces)
    except (TypeError, ValueError):
        raise TypeError("colorspaces: expected a dict of input names to colour space names, such as "
                        '{"color": "ACEScg"}') from None


def write(path, array, *, dtype=None, compression=None, display=None, view=None, look=None, colorspace=None):
    """Writes an (H, W, 3) or (H, W, 4) array as ``quorlen render`` writes a frame: the format by the
    extension, whole or not at all (nothing is left at ``path`` when writing fails), row 0 first.

    The array is working-space light (float), or uint8/uint16 codes read as an image file of them is
    (an 8-bit PNG's colour space). Without a fourth channel the alpha written is 1.
    ``dtype`` is ``-d``: "half", "float", "uint8" or "uint16" (or the numpy types float16, float32,
    uint8, uint16); ``compression`` is ``--compression`` (EXR). Float outputs (EXR, TIFF, HDR) are written
    in ``colorspace`` (``--output-colorspace``, default the working space); 8-bit and 16-bit ones through
    ``display``, ``view`` and ``look`` as ``--display``, ``--view`` and ``--look``."""
    if dtype is not None and not isinstance(dtype, str):
        try:
            key = np.dtype(dtype)
        except TypeError:
            raise TypeError(f"dtype: {dtype!r} is not a sample type (choices: half, float, uint8, uint16)") \
                from None
        if key not in _SAMPLE_TYPES:
            raise UsageError(f"dtype: {key} is not a sample type (choices: half, float, uint8, uint16)")
        dtype = _SAMPLE_TYPES[key]

    def text(name, value):
        if value is not None and not isinstance(value, str):
            raise TypeError(f"{name}: expected a string, not {type(value).__name__}")
        return value

    _quorlen.write(os.fspath(path), array, dtype, text("compression", compression), text("display", display),
                   text("view", view), text("look", look), text("colorspace", colorspace))


def layers(path):
    """Names of the file's layers, as ``FILE:LAYER`` and ``read`` take them ("" for the plain R, G, B)."""
    return _quorlen.layers(os.fspath(path))


def preview(array, display=None, view=None, look=None, exposure=0, gamma=1):
    """An 8-bit (H, W, 3) array of working-space light shown through a display and view of the colour
    config (``colour_config()``), as the command writes a PNG: by default the config's default display and
    view, whose default in Quorlen's own config is the sRGB curve. ``exposure`` in stops scales the image
    first; ``gamma`` is applied after the view."""
    return _quorlen.preview_through(array, display, view, look, float(exposure), float(gamma))


def colour_config(path=None):
    """The OpenColorIO config in use, as a dict: ``path``, ``source`` ("chosen", "$OCIO" or "default"),
    ``working_space``, ``colour_spaces``, ``data_spaces``, ``displays`` ({display: [views]}), ``looks``
    and the default ``display`` and ``view``. With ``path``, that config is chosen first for the rest of
    the process, as ``--ocio-config`` chooses it for a command."""
    return _quorlen.colour_config(None if path is None else os.fspath(path))


def _frames_text(frames):
    if frames is None or isinstance(frames, str):
        return frames
    if isinstance(frames, numbers.Integral):
        return str(int(frames))
    return ",".join(str(int(f)) for f in frames)


def render_files(output, passes=None, color=None, normal=None, P=None, noiseP=None, settings=None,
                 frames=None, progress=None, plugin_path=None, threads=0, *, colorspaces=None, client=None,
                 chunk_size=None):
    """Runs ``quorlen render`` in this process: the same inputs (``FILE`` or ``FILE:LAYER``, frame
    patterns with ``frames``), streaming and atomic writes, and the same failures, raised as
    ``quorlen.Error`` with the command's message.

    ``settings`` is a settings file's path or a dict of knob values (each applied as ``--set``).
    ``colorspaces`` is ``--colorspace``: ``{"color": NAME}`` overrides the colour file's own space and the
    config's file rules.
    ``frames`` is a frame list ("1-10", "1,3,5-9x2") or an iterable of frame numbers.
    ``progress(frame, done, total)`` is called after each frame; an exception it raises stops the job
    (the unfinished file is removed) and is raised again. Warnings are issued as RuntimeWarning.

    With ``client`` (a ``distributed.Client``) and ``chunk_size``, the frames are cut into chunks of that
    many, as ``quorlen render --chunk-index`` cuts them, each rendered on a worker of the cluster; the same
    errors are raised, naming the frame that failed, and ``progress`` is called here as chunks finish.
    """
    if client is not None or chunk_size is not None:
        if client is None or chunk_size is None:
            raise UsageError("client and chunk_size go together: a cluster renders the frames in chunks")
        from ._dask import render_on_cluster
        keywords = dict(output=output, passes=passes, color=color, normal=normal, P=P, noiseP=noiseP,
                        settings=settings, plugin_path=plugin_path, threads=threads,
                        colorspaces=_colour_spaces(colorspaces))
        return render_on_cluster(client, chunk_size, _frames_text(frames), progress, keywords)
    settings_file = None
    settings_values = None
    if isinstance(settings, dict):
        for name in settings:
            if not isinstance(name, str):
                raise TypeError(f"knob names are strings, not {type(name).__name__}")
        settings_values = json.dumps(_json_settings(settings), allow_nan=False)
    elif settings is not None:
        settings_file = os.fspath(settings)

    def path(p):
        return None if p is None else os.fspath(p)

    def warn(message):
        warnings.warn(message, RuntimeWarning, stacklevel=3)

    _quorlen.render_files(os.fspath(output), path(passes),
                          [path(color), path(normal), path(P), path(noiseP)],
                          settings_file, settings_values, _frames_text(frames), progress, warn,
                          path(plugin_path), int(threads), _colour_spaces(colorspaces))
