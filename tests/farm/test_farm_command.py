"""`quorlen farm` and the render options a farm task uses, without a scheduler: the printed submissions run
through the programs that will read them (bash, a YAML parser, Python's), chunks by index, the progress
formats a log parser reads, and the dry run's summary."""

import ast
import json
import os
import re
import stat
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from passes import write_passes  # noqa: E402

QUORLEN = os.environ.get("QUORLEN_TEST_BIN", "quorlen")
# A directory name a shell, YAML and Python each treat specially somewhere.
AWKWARD = "it's a \"shot\" $HOME `x` & (1); \\ ü"


def quorlen(*args, cwd=None):
    return subprocess.run([QUORLEN, *map(str, args)], capture_output=True, text=True, cwd=cwd)


@pytest.fixture()
def shot(tmp_path):
    """Seven frames of passes in a directory with an awkward name, and an output directory beside them."""
    root = tmp_path / AWKWARD
    (root / "out").mkdir(parents=True)
    for f in range(1, 10):
        write_passes(str(root / f"p.{f}.exr"), 6, 10, seed=f)
    return root


def args_seen(fake, script_text, env):
    """Runs the printed script with bash, its quorlen replaced by `fake`, which records its arguments."""
    result = subprocess.run(["bash", "-c", script_text], capture_output=True, text=True,
                            env=dict(os.environ, **env))
    assert result.returncode == 0, result.stderr
    return json.loads(fake.with_suffix(".json").read_text())


def make_fake_quorlen(tmp_path):
    fake = tmp_path / "fake quorlen"
    fake.write_text(f"#!/usr/bin/python3\nimport json, sys\n"
                    f"open({str(fake.with_suffix('.json'))!r}, 'w').write(json.dumps(sys.argv[1:]))\n")
    fake.chmod(fake.stat().st_mode | stat.S_IXUSR)
    return fake


def test_slurm_script_runs_each_chunk_with_every_argument_intact(shot, tmp_path):
    fake = make_fake_quorlen(tmp_path)
    printed = quorlen("farm", "slurm", "--frames", "1,3,5-9x2", "--chunk-size", "2", "--quorlen", fake,
                      "--log-dir", tmp_path, "--", "--passes", "p.#.exr", "-o", "out/r.####.exr",
                      "--set", "lightType=point", "_pointLightPos=1,2,3", cwd=shot)
    assert printed.returncode == 0, printed.stderr
    script = printed.stdout
    assert "#SBATCH --array=0-2\n" in script  # 5 frames in chunks of 2
    assert f"#SBATCH --output={tmp_path}/quorlen-r-%A_%a.log\n" in script
    assert subprocess.run(["bash", "-n"], input=script, text=True).returncode == 0

    seen = args_seen(fake, script, {"SLURM_ARRAY_TASK_ID": "2", "SLURM_CPUS_PER_TASK": "3"})
    assert seen == ["render", "--passes", f"{shot}/p.#.exr", "-o", f"{shot}/out/r.####.exr",
                    "--set", "lightType=point", "_pointLightPos=1,2,3",
                    "--frames", "1,3,5-9x2", "--chunk-size", "2", "--chunk-index", "2", "--skip-existing",
                    "--progress-format", "percent", "--threads", "3"]
    # Without --cpus-per-task Slurm sets no count; 0 takes the cores the task may use.
    assert args_seen(fake, script, {"SLURM_ARRAY_TASK_ID": "0"})[-1] == "0"


def test_slurm_script_names_this_quorlen_and_keeps_the_users_thread_count(shot, tmp_path):
    printed = quorlen("farm", "slurm", "--frames", "1-7", "--chunk-size", "7", "--log-dir", tmp_path, "--",
                      "--passes=p.#.exr",
                      "-oout/r.#.exr", "--threads", "1", "--skip-existing", cwd=shot)
    assert printed.returncode == 0, printed.stderr
    exec_line = printed.stdout.splitlines()[-1]
    assert exec_line.startswith(f"exec {os.path.realpath(QUORLEN)} render ")
    assert "SLURM_CPUS_PER_TASK" not in exec_line and exec_line.count("--skip-existing") == 1


def test_openjd_template_parses_with_the_chunk_index_as_task_parameter(shot):
    yaml = pytest.importorskip("yaml", reason="python3-yaml (QUORLEN_SETUP_EXTRA=farm) checks the template")
    printed = quorlen("farm", "openjd", "--frames", "1001-1100", "--chunk-size", "10", "--name", "shot010",
                      "--", "--passes", "p.####.exr", "-o", "out/r.####.exr", cwd=shot)
    assert printed.returncode == 0, printed.stderr
    job = yaml.safe_load(printed.stdout)
    assert job["specificationVersion"] == "jobtemplate-2023-09" and job["name"] == "shot010"
    (step,) = job["steps"]
    assert step["parameterSpace"]["taskParameterDefinitions"] == [
        {"name": "ChunkIndex", "type": "INT", "range": "0-9"}]
    run = step["script"]["actions"]["onRun"]
    assert run["command"] == os.path.realpath(QUORLEN)
    assert run["args"] == ["render", "--passes", f"{shot}/p.####.exr", "-o", f"{shot}/out/r.####.exr",
                           "--frames", "1001-1100", "--chunk-size", "10", "--chunk-index",
                           "{{Task.Param.ChunkIndex}}", "--skip-existing", "--progress-format", "openjd"]


def test_opencue_script_is_python_with_one_frame_a_chunk(shot):
    printed = quorlen("farm", "opencue", "--frames", "1-7", "--chunk-size", "3", "--quorlen", "/opt/q/bin/quorlen",
                      "--", "--passes", "p.#.exr", "-o", "out/r.#.exr", cwd=shot)
    assert printed.returncode == 0, printed.stderr
    tree = ast.parse(printed.stdout)
    (shell,) = [n for n in ast.walk(tree) if isinstance(n, ast.Call) and getattr(n.func, "id", "") == "Shell"]
    keywords = {k.arg: ast.literal_eval(k.value) for k in shell.keywords}
    assert keywords["range"] == "0-2" and keywords["chunk"] == 1
    assert keywords["command"] == ["/opt/q/bin/quorlen", "render", "--passes", f"{shot}/p.#.exr", "-o",
                                   f"{shot}/out/r.#.exr", "--frames", "1-7", "--chunk-size", "3",
                                   "--chunk-index", "#IFRAME#", "--skip-existing", "--progress-format", "percent"]


@pytest.mark.parametrize("args, message", [
    (["slurm", "--frames", "1-7", "--chunk-size", "2", "--", "--passes", "p.#.exr", "-o", "out/r.#.exr",
      "--bogus"], 'unknown option "--bogus"'),
    (["slurm", "--frames", "1-7", "--chunk-size", "2", "--", "--passes", "p.#.exr", "-o", "out/r.exr"],
     "has no frame pattern"),
    (["slurm", "--frames", "1-7", "--chunk-size", "2", "--", "--passes", "p.#.exr", "-o", "out/r.#.exr",
      "--frames", "1-3"], "--frames goes before"),
    (["slurm", "--frames", "1-7", "--chunk-size", "0", "--", "--passes", "p.#.exr", "-o", "out/r.#.exr"],
     "--chunk-size"),
    (["slurm", "--frames", "7-1", "--chunk-size", "2", "--", "--passes", "p.#.exr", "-o", "out/r.#.exr"],
     "--frames"),
    (["slurm", "--frames", "1-7", "--chunk-size", "2", "--", "--passes", "p.#.exr", "-o", "nowhere/r.#.exr"],
     "does not exist"),
    (["openjd", "--frames", "1-7", "--chunk-size", "2", "--", "--passes", "p.#.exr", "-o", "out/r.#.exr",
      "--set", "a={{b}}"], "format string"),
    (["slurm", "--frames", "1-7", "--chunk-size", "2", "--quorlen", "bin/quorlen", "--", "--passes", "p.#.exr",
      "-o", "out/r.#.exr"], "absolute path"),
])
def test_farm_refuses_what_render_or_the_scheduler_would_refuse(shot, args, message):
    result = quorlen("farm", *args, cwd=shot)
    assert result.returncode != 0 and result.stdout == ""
    (line,) = result.stderr.splitlines()
    assert line.startswith("quorlen: error: ") and message in line, line


def test_chunks_by_index_over_a_list(shot):
    rendered = []
    for index in range(3):
        r = quorlen("render", "--passes", "p.#.exr", "-o", "out/r.#.exr", "--frames", "1,3,5-9x2",
                    "--chunk-size", "2", "--chunk-index", index, "--progress-format", "lines", cwd=shot)
        assert r.returncode == 0, r.stderr
        rendered.append(re.findall(r"frame (\d+) done", r.stderr))
    assert rendered == [["1", "3"], ["5", "7"], ["9"]]
    past = quorlen("render", "--passes", "p.#.exr", "-o", "out/r.#.exr", "--frames", "1,3,5-9x2",
                   "--chunk-size", "2", "--chunk-index", "3", cwd=shot)
    assert past.returncode == 1
    assert past.stderr == "quorlen: error: --chunk-index 3: the 5 frames in chunks of 2 make 3 chunks (0 to 2)\n"
    # With --skip-existing a chunk whose frames exist renders nothing again.
    before = (shot / "out/r.5.exr").stat().st_mtime_ns
    again = quorlen("render", "--passes", "p.#.exr", "-o", "out/r.#.exr", "--frames", "1,3,5-9x2",
                    "--chunk-size", "2", "--chunk-index", "1", "--skip-existing", "--progress-format", "lines",
                    cwd=shot)
    assert re.findall(r"frame (\d+) skipped", again.stderr) == ["5", "7"]
    assert (shot / "out/r.5.exr").stat().st_mtime_ns == before
    alone = quorlen("render", "--passes", "p.1.exr", "-o", "out/one.exr", "--chunk-size", "2", "--chunk-index",
                    "0", cwd=shot)
    assert alone.returncode == 1 and "give --frames" in alone.stderr


def test_progress_formats_for_log_parsers(shot):
    percent = quorlen("render", "--passes", "p.#.exr", "-o", "out/r.#.exr", "--frames", "1-4",
                      "--progress-format", "percent", cwd=shot)
    assert percent.returncode == 0, percent.stderr
    values = [int(v) for v in re.findall(r"^Progress: (\d+)%$", percent.stdout, re.M)]
    assert len(values) == len(percent.stdout.splitlines()) and values == sorted(set(values))
    assert values[0] == 0 and values[-1] == 100 and {25, 50, 75} <= set(values)

    openjd = quorlen("render", "--passes", "p.#.exr", "-o", "out/r.#.exr", "--frames", "1-2", "--skip-existing",
                     "--progress-format", "OpenJD", cwd=shot)
    assert openjd.returncode == 0, openjd.stderr
    lines = openjd.stdout.splitlines()
    assert all(re.fullmatch(r"openjd_progress: \d+|openjd_status: .+", line) for line in lines), lines
    assert "openjd_status: frame 1 skipped, output exists (1/2)" in lines and lines[-1] == "openjd_progress: 100"
    bad = quorlen("render", "--passes", "p.1.exr", "-o", "out/x.exr", "--progress-format", "percentage", cwd=shot)
    assert bad.returncode == 1 and "--progress-format" in bad.stderr


def test_dry_run_over_a_list_reports_once_and_sums_up(shot):
    (shot / "out/r.2.exr").write_bytes(b"")
    dry = quorlen("render", "--passes", "p.#.exr", "-o", "out/r.#.exr", "--frames", "1-7", "--skip-existing",
                  "--dry-run", cwd=shot)
    assert dry.returncode == 0, dry.stderr
    assert dry.stdout.count("\noutput  ") == 1 and dry.stdout.startswith("frame 1\n")
    assert dry.stdout.splitlines()[-1] == (
        "frames  1-7 (7 frames, 6 to render, 1 skipped as their output exists: 2)")
    # Every frame is still checked: a later frame's missing passes fail the dry run.
    (shot / "p.6.exr").unlink()
    assert quorlen("render", "--passes", "p.#.exr", "-o", "out/r.#.exr", "--frames", "1-7", "--dry-run",
                   cwd=shot).returncode == 1
