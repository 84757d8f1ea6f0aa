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
    frames = {}
    for frame in (1, 2, 3):
        color, normal, P, noiseP = random_passes(6, 8, seed=frame)
        write_exr(tmp_path / f"shot.{frame:04d}.exr", {"": color, "N": normal, "P": P, "Pref": noiseP})
        frames[frame] = (color, normal, P, noiseP)
    return tmp_path, frames


def test_read_and_layers(shot):
    folder, frames = shot
    path = folder / "shot.0002.exr"
    assert quorlen.layers(path) == ["", "N", "P", "Pref"]
    color, normal, _, noiseP = frames[2]
    assert same_bits(quorlen.read(path), color)
    assert same_bits(quorlen.read(str(path), "N"), normal)
    assert same_bits(quorlen.read(path, layer="Pref"), noiseP)
    with pytest.raises(quorlen.Error, match='no layer "Q"') as missing:
        quorlen.read(path, "Q")
    assert missing.value.exit_code == 1
    with pytest.raises(quorlen.Error, match="nowhere.exr"):
        quorlen.layers(folder / "nowhere.exr")
    (folder / "cut.exr").write_bytes(path.read_bytes()[:300])
    with pytest.raises(quorlen.Error):
        quorlen.read(folder / "cut.exr", "N")


def test_render_files_renders_a_sequence_as_the_command_does(shot, tmp_path):
    folder, frames = shot
    seen = []
    # The passes' NaN and infinities come out as the command says they do.
    with pytest.warns(RuntimeWarning, match="output pixels are not finite"):
        quorlen.render_files(tmp_path / "py.####.exr", passes=folder / "shot.####.exr", frames="1-3",
                             settings={"lightType": "point", "_pointLightPos": (1, 2, 3)},
                             progress=lambda *a: seen.append(a))
    assert seen == [(1, 1, 3), (2, 2, 3), (3, 3, 3)]
    run_quorlen("render", "--passes", folder / "shot.####.exr", "--frames", "1-3", "-o",
                tmp_path / "cli.####.exr", "--set", "lightType=point", "--set", "_pointLightPos=1,2,3",
                "--no-progress")
    node = quorlen.Node()
    node.update({"lightType": "point", "_pointLightPos": (1, 2, 3)})
    for frame in (1, 2, 3):
        mine = quorlen.read(tmp_path / f"py.{frame:04d}.exr")
        assert same_bits(mine, quorlen.read(tmp_path / f"cli.{frame:04d}.exr"))
        color, normal, P, noiseP = frames[frame]
        assert same_bits(mine, node.render(normal, color, P, noiseP)[:, :, :3])


def test_render_files_takes_explicit_inputs_a_settings_file_and_frame_lists(shot, tmp_path):
    folder, frames = shot
    settings = tmp_path / "look.json"
    settings.write_text('{"outputType": "light", "lightBrightness": 2}')
    quorlen.render_files(tmp_path / "out.%02d.exr", normal=f"{folder}/shot.####.exr:N",
                         P=f"{folder}/shot.####.exr:P", settings=settings, frames=[3, 1])
    assert sorted(p.name for p in tmp_path.glob("out.*")) == ["out.01.exr", "out.03.exr"]
    node = quorlen.Node()
    node.update({"outputType": "light", "lightBrightness": 2})
    _, normal, P, _ = frames[3]
    assert same_bits(quorlen.read(tmp_path / "out.03.exr"), node.render(normal, P=P)[:, :, :3])


def test_render_files_failures_are_the_commands(shot, tmp_path):
    folder, _ = shot
    one = folder / "shot.0001.exr"
    cases = [
        (dict(output=tmp_path / "a.exr", normal=tmp_path / "missing.exr"), 1, "missing.exr"),
        (dict(output=tmp_path / "a.exr", passes=one, settings={"lightTyp": "point"}), 1, "did you mean"),
        (dict(output=tmp_path / "a.exr", passes=one, settings=tmp_path / "none.json"), 1, "settings file"),
        (dict(output=tmp_path / "a.####.exr", passes=one, frames="3-1x"), 1, "3-1x"),
        (dict(output=tmp_path / "a.exr", passes=one, frames="1-2"), 1, "pattern"),
        (dict(output=tmp_path / "no" / "dir" / "a.exr", passes=one), 3, "no"),
        (dict(output=tmp_path / "a.exr", passes=one, plugin_path=tmp_path / "nowhere"), 2, "nowhere"),
    ]
    for args, code, words in cases:
        with pytest.raises(quorlen.Error) as failed:
            quorlen.render_files(**args)
        assert failed.value.exit_code == code, (args, str(failed.value))
        assert words in str(failed.value) and "\n" not in str(failed.value)
        cli = ["render", "-o", args["output"], "--no-progress"]
        for key in ("passes", "normal", "frames", "plugin_path"):
            if key in args:
                cli += [{"plugin_path": "--plugin-path"}.get(key, f"--{key}"), args[key]]
        if isinstance(args.get("settings"), dict):
            cli += ["--set", "lightTyp=point"]
        elif "settings" in args:
            cli += ["--settings", args["settings"]]
        result = run_quorlen(*cli, check=False)
        assert result.returncode == code
        assert result.stderr.strip() == f"quorlen: error: {failed.value}"
    assert not list(tmp_path.glob("a*"))


def test_a_failing_progress_callback_stops_the_job_and_keeps_earlier_frames(shot, tmp_path):
    folder, _ = shot

    def progress(frame, done, total):
        if done == 2:
            raise KeyboardInterrupt("enough")

    with pytest.raises(KeyboardInterrupt, match="enough"):
        quorlen.render_files(tmp_path / "o.####.exr", passes=folder / "shot.####.exr", frames="1-3",
                             progress=progress)
    # The second frame was written before its callback ran; the third was never started.
    assert sorted(p.name for p in tmp_path.glob("o.*")) == ["o.0001.exr", "o.0002.exr"]


def test_warnings_are_python_warnings(shot, tmp_path):
    folder, _ = shot
    small = tmp_path / "small.exr"
    write_exr(small, {"": np.ones((3, 8, 3), np.float32)})
    with pytest.warns(RuntimeWarning, match="overlap"):
        quorlen.render_files(tmp_path / "w.exr", normal=f"{folder}/shot.0001.exr:N", P=small)
    assert (tmp_path / "w.exr").exists()


def test_preview_is_the_commands_png(shot, tmp_path):
    folder, frames = shot
    run_quorlen("render", "--passes", folder / "shot.0001.exr", "-o", tmp_path / "p.png", "--no-progress")
    run_quorlen("render", "--passes", folder / "shot.0001.exr", "-o", tmp_path / "p.exr", "--no-progress")
    relit = quorlen.read(tmp_path / "p.exr")
    png = quorlen.read(tmp_path / "p.png")
    shown = quorlen.preview(relit)
    assert shown.dtype == np.uint8 and shown.shape == (6, 8, 3)
    assert np.array_equal(shown, np.rint(png * 255).astype(np.uint8))
    four = np.concatenate([relit, np.full((6, 8, 1), 9, np.float32)], axis=2)
    assert np.array_equal(quorlen.preview(four), shown)
    # One stop brighter is the image doubled.
    assert np.array_equal(quorlen.preview(relit, exposure=1), quorlen.preview(relit * 2))
    assert quorlen.preview(np.array([[[np.nan, -1, 2]]]), exposure=0).tolist() == [[[0, 0, 255]]]
    with pytest.raises(ValueError, match=r"array: .*got shape \(6, 8\)"):
        quorlen.preview(relit[:, :, 0])


def test_ctrl_c_stops_a_sequence_between_frames(tmp_path):
    write_exr(tmp_path / "n.exr", {"": np.stack(np.meshgrid(np.linspace(-1, 1, 512), np.linspace(-1, 1, 512))
                                                + [np.full((512, 512), -0.5)], axis=2)})
    script = ("import quorlen\n"
              "quorlen.render_files('o.####.exr', normal='n.exr', frames='1-60',\n"
              "    settings={'outputType': 'light', 'surfaceNoise': True, 'surfaceNoiseType': 'turbulence1'})\n")
    child = subprocess.Popen([sys.executable, "-W", "ignore", "-c", script], cwd=tmp_path,
                             stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 60
    while not (tmp_path / "o.0001.exr").exists() and child.poll() is None and time.monotonic() < deadline:
        time.sleep(0.005)
    child.send_signal(signal.SIGINT)
    _, err = child.communicate(timeout=60)
    assert child.returncode != 0 and "KeyboardInterrupt" in err
    written = sorted(p.name for p in tmp_path.iterdir() if p.name != "n.exr")
    # The frames finished stay, whole; the job stopped at the end of the frame under way (a loaded machine
    # may let the child finish a few frames before the signal arrives, not the sixty).
    assert 1 <= len(written) < 30 and written[0] == "o.0001.exr"
    assert all(name.startswith("o.") and name.endswith(".exr") for name in written)
    for name in written:
        assert quorlen.read(tmp_path / name).shape == (512, 512, 3)
