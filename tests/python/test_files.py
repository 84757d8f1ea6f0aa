"""Files from Python: reading layers, the command's render job on a sequence and its failures, previews."""

import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import quorlen
from conftest import random_passes, run_quorlen, same_bits, write_exr


@pytest.fixture
def shot(tmp_path):
    """Three frames of passes in one file each, layers named as a renderer names them."""
    frames = {f: random_passes(6, 8, seed=f) for f in (1, 2, 3)}
    for f, (color, normal, P, noiseP) in frames.items():
        write_exr(tmp_path / f"shot.{f:04d}.exr", {"": color, "N": normal, "P": P, "Pref": noiseP})
    return tmp_path, frames


def test_read_and_layers(shot):
    folder, frames = shot
    path = folder / "shot.0002.exr"
    assert quorlen.layers(path) == ["", "N", "P", "Pref"]
    assert same_bits(quorlen.read(path), frames[2][0])
    assert same_bits(quorlen.read(str(path), "N"), frames[2][1])
    assert same_bits(quorlen.read(path, layer="Pref"), frames[2][3])
    with pytest.raises(quorlen.Error, match='no layer "Q"') as missing:
        quorlen.read(path, "Q")
    assert isinstance(missing.value, quorlen.InputError) and isinstance(missing.value, RuntimeError)
    with pytest.raises(quorlen.Error, match="nowhere.exr"):
        quorlen.layers(folder / "nowhere.exr")
    (folder / "cut.exr").write_bytes(path.read_bytes()[:300])
    with pytest.raises(quorlen.Error):
        quorlen.read(folder / "cut.exr", "N")


def test_render_files_renders_sequences_as_the_command_does(shot, tmp_path):
    folder, frames = shot
    seen = []
    with pytest.warns(RuntimeWarning, match="output pixels are not finite"):  # the passes' NaN
        quorlen.render_files(tmp_path / "py.####.exr", passes=folder / "shot.####.exr", frames="1-3",
                             settings={"lightType": "point", "_pointLightPos": (1, 2, 3)},
                             progress=lambda *a: seen.append(a))
    assert seen == [(1, 1, 3), (2, 2, 3), (3, 3, 3)]
    run_quorlen("render", "--passes", folder / "shot.####.exr", "--frames", "1-3", "-o",
                tmp_path / "cli.####.exr", "--set", "lightType=point", "--set", "_pointLightPos=1,2,3")
    for f in (1, 2, 3):
        assert same_bits(quorlen.read(tmp_path / f"py.{f:04d}.exr"), quorlen.read(tmp_path / f"cli.{f:04d}.exr"))
    # Inputs by layer, a settings file and a list of frames.
    (tmp_path / "look.json").write_text('{"outputType": "light", "lightBrightness": 2}')
    quorlen.render_files(tmp_path / "out.%02d.exr", normal=f"{folder}/shot.####.exr:N",
                         P=f"{folder}/shot.####.exr:P", settings=tmp_path / "look.json", frames=[3, 1])
    assert sorted(p.name for p in tmp_path.glob("out.*")) == ["out.01.exr", "out.03.exr"]
    node = quorlen.Node()
    node.update({"outputType": "light", "lightBrightness": 2})
    _, normal, P, _ = frames[3]
    assert same_bits(quorlen.read(tmp_path / "out.03.exr"), node.render(normal, P=P)[:, :, :3])


def test_render_files_failures_are_the_commands(shot, tmp_path):
    one, out, nowhere = shot[0] / "shot.0001.exr", tmp_path / "a.exr", tmp_path / "no" / "a.exr"
    # The command's exit code for each class of failure.
    exit_codes = {quorlen.UsageError: 1, quorlen.InputError: 1, quorlen.ModuleError: 2, quorlen.OutputError: 3}
    cases = [  # keywords, the command's arguments, the class raised
        (dict(normal=tmp_path / "missing.exr"), ["--normal", tmp_path / "missing.exr"], quorlen.UsageError),
        (dict(passes=one, settings=tmp_path / "none.json"), ["--passes", one, "--settings", tmp_path / "none.json"],
         quorlen.UsageError),
        (dict(passes=one, frames="3-1x"), ["--passes", one, "--frames", "3-1x"], quorlen.UsageError),
        (dict(passes=one, frames="1-2"), ["--passes", one, "--frames", "1-2"], quorlen.UsageError),
        (dict(passes=one, plugin_path=tmp_path / "no"), ["--passes", one, "--plugin-path", tmp_path / "no"],
         quorlen.ModuleError),
        (dict(passes=one, output=nowhere), ["--passes", one, "-o", nowhere], quorlen.OutputError),
    ]
    for keywords, cli, cls in cases:
        with pytest.raises(quorlen.Error) as failed:
            quorlen.render_files(**{"output": out, **keywords})
        result = run_quorlen("render", *(cli if "-o" in cli else cli + ["-o", out]), check=False)
        assert type(failed.value) is cls, (keywords, str(failed.value))
        assert exit_codes[cls] == result.returncode, (keywords, result.stderr)
        assert result.stderr.strip() == f"quorlen: error: {failed.value}"
    # A dict of settings is refused in Python's terms, not as the command line it is not.
    (tmp_path / "typo.json").write_text('{"lightTyp": "point"}')
    with pytest.raises(quorlen.UsageError) as failed:
        quorlen.render_files(output=out, passes=one, settings={"lightTyp": "point"})
    result = run_quorlen("render", "--passes", one, "--settings", tmp_path / "typo.json", "-o", out, check=False)
    assert result.returncode == 1
    assert str(failed.value) == 'settings: no knob named "lightTyp" (did you mean "lightType"?)'
    assert result.stderr.strip().endswith(str(failed.value).removeprefix("settings: "))
    assert "--set" not in str(failed.value)
    assert not list(tmp_path.glob("a*")) and not nowhere.parent.exists()


def test_a_raising_progress_callback_or_ctrl_c_stops_the_job_keeping_finished_frames(shot, tmp_path):
    folder, _ = shot

    def progress(frame, done, total):
        if done == 2:
            raise KeyError("enough")

    with pytest.raises(KeyError, match="enough"):
        quorlen.render_files(tmp_path / "o.####.exr", passes=folder / "shot.####.exr", frames="1-3",
                             progress=progress)
    assert sorted(p.name for p in tmp_path.glob("o.*")) == ["o.0001.exr", "o.0002.exr"]

    field = np.meshgrid(np.linspace(-1, 1, 512), np.linspace(-1, 1, 512))
    write_exr(tmp_path / "n.exr", {"": np.stack(field + [np.full((512, 512), -0.5)], axis=2)})
    script = ("import quorlen\nquorlen.render_files('c.####.exr', normal='n.exr', frames='1-60', settings="
              "{'outputType': 'light', 'surfaceNoise': True, 'surfaceNoiseType': 'turbulence1'})\n")
    child = subprocess.Popen([sys.executable, "-W", "ignore", "-c", script], cwd=tmp_path,
                             stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 60
    while not (tmp_path / "c.0001.exr").exists() and child.poll() is None and time.monotonic() < deadline:
        time.sleep(0.005)
    child.send_signal(signal.SIGINT)
    _, err = child.communicate(timeout=60)
    assert child.returncode != 0 and "KeyboardInterrupt" in err
    # It stops at the end of the frame under way (a loaded machine may finish a few more, not sixty);
    # what was written is whole, and no temporary file is left.
    written = sorted(p.name for p in tmp_path.iterdir() if p.name.startswith((".", "c.")))
    assert 1 <= len(written) < 30 and all(p.startswith("c.") for p in written)
    assert all(quorlen.read(tmp_path / p).shape == (512, 512, 3) for p in written)


def test_warnings_are_python_warnings(shot, tmp_path):
    small = tmp_path / "small.exr"
    write_exr(small, {"": np.ones((3, 8, 3), np.float32)})
    with pytest.warns(RuntimeWarning, match="overlap"):
        quorlen.render_files(tmp_path / "w.exr", normal=f"{shot[0]}/shot.0001.exr:N", P=small)
    assert (tmp_path / "w.exr").exists()


def test_preview_is_the_commands_png(shot, tmp_path):
    for name in ("p.png", "p.exr"):
        run_quorlen("render", "--passes", shot[0] / "shot.0001.exr", "-o", tmp_path / name)
    relit = quorlen.read(tmp_path / "p.exr")
    shown = quorlen.preview(relit)
    assert shown.dtype == np.uint8 and shown.shape == (6, 8, 3)
    assert np.array_equal(shown, np.rint(quorlen.read(tmp_path / "p.png") * 255))
    four = np.concatenate([relit, np.full((6, 8, 1), 9, np.float32)], axis=2)
    assert np.array_equal(quorlen.preview(four), shown)
    assert np.array_equal(quorlen.preview(relit, exposure=1), quorlen.preview(relit * 2))
    assert quorlen.preview(np.array([[[np.nan, -1, 2]]])).tolist() == [[[0, 0, 255]]]
    with pytest.raises(ValueError, match=r"array: .*got shape \(6, 8\)"):
        quorlen.preview(relit[:, :, 0])
