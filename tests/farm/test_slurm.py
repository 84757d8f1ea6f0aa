"""A sequence rendered as the array job `quorlen farm slurm` prints, on a one-node Slurm cluster started
here (munged, slurmctld and slurmd on localhost, configured in a temporary directory and stopped by their
process ids), then a re-render of part of it whose tasks are cancelled mid-frame and resubmitted."""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from passes import write_smooth_passes  # noqa: E402

QUORLEN = os.environ.get("QUORLEN_TEST_BIN", "quorlen")
FRAMES = list(range(1, 25))
CHUNK = 4
TEMP_NAME = re.compile(r"^\.r\.(\d{4})\.quorlen-tmp-.*-(\d+)-\d+\.exr$")
DAEMONS = ("munged", "slurmctld", "slurmd")
CLIENTS = ("sbatch", "squeue", "scancel", "sinfo")


def missing_programs():
    return [p for p in DAEMONS + CLIENTS if shutil.which(p) is None and not os.path.exists(f"/usr/sbin/{p}")]


def program(name):
    return shutil.which(name) or f"/usr/sbin/{name}"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, check, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = check()
        if result:
            return result
        time.sleep(0.05)
    raise AssertionError(f"gave up after {timeout} s waiting for {what}")


class Cluster:
    """munged, slurmctld and slurmd in the foreground, as child processes of the test."""

    def __init__(self, root):
        self.root = root
        self.processes = []
        self.env = dict(os.environ, SLURM_CONF=str(root / "slurm.conf"))

    def start(self):
        root = self.root
        key = root / "munge.key"
        key.write_bytes(os.urandom(1024))
        key.chmod(0o400)
        socket_path = root / "munge.socket"
        host = socket.gethostname().split(".")[0]
        (root / "state").mkdir()
        (root / "spool").mkdir()
        (root / "slurm.conf").write_text(f"""\
ClusterName=quorlenfarmtest
SlurmctldHost={host}(127.0.0.1)
SlurmctldPort={free_port()}
SlurmdPort={free_port()}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket={socket_path}
StateSaveLocation={root}/state
SlurmdSpoolDir={root}/spool
SlurmctldPidFile={root}/slurmctld.pid
SlurmdPidFile={root}/slurmd.pid
SlurmctldLogFile={root}/slurmctld.log
SlurmdLogFile={root}/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
InactiveLimit=0
MinJobAge=600
KillWait=5
Waittime=0
NodeName={host} NodeAddr=127.0.0.1 CPUs={os.cpu_count()} State=UNKNOWN
PartitionName=farmtest Nodes={host} Default=YES MaxTime=INFINITE State=UP
""")
        self._spawn([program("munged"), "-F", "--force", f"--socket={socket_path}", f"--key-file={key}",
                     f"--pid-file={root}/munged.pid", f"--log-file={root}/munged.log",
                     f"--seed-file={root}/munged.seed"], "munged")
        wait_for("munged's socket", socket_path.exists, 15)
        self._spawn([program("slurmctld"), "-D", "-f", str(root / "slurm.conf")], "slurmctld")
        self._spawn([program("slurmd"), "-D", "-f", str(root / "slurm.conf")], "slurmd")
        wait_for("the node to be idle", lambda: "idle" in self.run("sinfo", "-h", "-o", "%T", check=False).stdout,
                 45)

    def _spawn(self, command, name):
        log = open(self.root / f"{name}.out", "wb")
        self.processes.append((name, subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT,
                                                      env=self.env)))
        log.close()

    def run(self, *args, check=True):
        result = subprocess.run([program(args[0]), *args[1:]], capture_output=True, text=True, env=self.env,
                                timeout=30)
        if check and result.returncode != 0:
            raise AssertionError(f"{' '.join(args)} failed: {result.stderr}")
        return result

    def submit(self, script):
        out = self.run("sbatch", "--parsable", str(script)).stdout.strip()
        return out.split(";")[0]

    def tasks(self, job):
        """The job's array tasks still queued or running, as {index: state}."""
        out = self.run("squeue", "-h", "-r", "-j", job, "-o", "%K %T", check=False).stdout
        return {int(i): s for i, s in (line.split() for line in out.splitlines() if line.strip())
                if i.isdigit()}

    def wait_done(self, job, timeout=100):
        wait_for(f"job {job} to finish", lambda: not self.tasks(job), timeout)

    def stop(self):
        self.run("scancel", "--full", "--signal=KILL", "-u", "root", check=False)
        # The node daemon first, so no step is started after the controller is gone.
        for name, process in reversed(self.processes):
            if process.poll() is None:
                os.kill(process.pid, signal.SIGTERM)
                try:
                    process.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    os.kill(process.pid, signal.SIGKILL)
                    process.wait(timeout=5)


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    missing = missing_programs()
    if missing:
        pytest.skip(f"Slurm or munge not installed ({', '.join(missing)} missing; "
                    "QUORLEN_SETUP_EXTRA=farm scripts/setup-debian.sh installs them)")
    if os.geteuid() != 0:
        pytest.skip("a one-node Slurm cluster needs root to run slurmd and its job steps")
    c = Cluster(tmp_path_factory.mktemp("slurm"))
    try:
        c.start()
    except BaseException:
        c.stop()
        for f in ("slurmctld.log", "slurmd.log", "munged.log", "slurmctld.out", "slurmd.out", "munged.out"):
            if (c.root / f).exists():
                print(f"--- {f}\n{(c.root / f).read_text(errors='replace')[-3000:]}")
        raise
    yield c
    c.stop()


def outputs(directory):
    return {int(p.name.split(".")[1]): p for p in directory.glob("r.*.exr")}


def temporaries(directory):
    return sorted(p.name for p in directory.iterdir() if "quorlen-tmp" in p.name)


def check_logs(logs):
    """Every line of a task's log is a percentage (rising, ending at 100 for a finished task) or one of the
    command's own warning and error lines."""
    assert logs, "no task logs"
    for log in logs:
        percents = []
        for line in log.read_text().splitlines():
            m = re.fullmatch(r"Progress: (\d+)%", line)
            if m:
                percents.append(int(m.group(1)))
            else:
                assert line.startswith(("quorlen: warning: ", "quorlen: error: ")), f"{log.name}: {line!r}"
        assert percents == sorted(percents) and percents[-1] == 100, f"{log.name}: {percents}"


def test_sequence_on_slurm_with_cancelled_tasks(cluster, tmp_path):
    started = time.monotonic()
    passes = tmp_path / "shot passes.exr"  # a space, so the script's quoting is exercised
    write_smooth_passes(str(passes), 720, 1280)
    settings = tmp_path / "light.json"
    settings.write_text(json.dumps({"lightType": "point", "pointLightRadius": 4,
                                    "_pointLightPos": {"keys": {"1": [-2, 1, 3], "24": [2, 1, 3]}}}))
    out, ref, logs = tmp_path / "out", tmp_path / "ref", tmp_path / "logs"
    for d in (out, ref, logs):
        d.mkdir()
    render_args = ["--passes", passes.name, "--settings", settings.name, "-o", "out/r.####.exr"]
    printed = subprocess.run([QUORLEN, "farm", "slurm", "--frames", "1-24", "--chunk-size", str(CHUNK),
                              "--cpus", "1", "--log-dir", str(logs), "--", *render_args],
                             capture_output=True, text=True, cwd=tmp_path)
    assert printed.returncode == 0, printed.stderr
    script = tmp_path / "relight.sbatch"
    script.write_text(printed.stdout)
    assert "#SBATCH --array=0-5\n" in printed.stdout
    local = subprocess.run([QUORLEN, "render", "--passes", str(passes), "--settings", str(settings),
                            "-o", str(ref / "r.####.exr"), "--frames", "1-24", "-q"], capture_output=True, text=True)
    assert local.returncode == 0, local.stderr

    # The whole sequence: every frame, each as a local render writes it, nothing left over, logs parseable.
    job = cluster.submit(script)
    cluster.wait_done(job)
    written = outputs(out)
    assert sorted(written) == FRAMES
    for frame, path in written.items():
        assert path.read_bytes() == (ref / path.name).read_bytes(), f"frame {frame} differs from the local render"
    assert temporaries(out) == []
    check_logs(sorted(logs.glob(f"*-{job}_*.log")))
    print(f"farm: first submission done at {time.monotonic() - started:.1f} s")

    # Part of the shot again (chunks 2 and 3, frames 9 to 16); one running task is cancelled (scancel: SIGTERM,
    # then SIGKILL if it does not stop), the other's process killed outright (SIGKILL, as the kernel's
    # out-of-memory killer or an impatient farm does), each in the middle of a frame that is not its last.
    for frame in range(9, 17):
        (out / f"r.{frame:04d}.exr").unlink()
    job = cluster.submit(script)

    def two_tasks_mid_frame():
        chunks = {}
        for name in temporaries(out):
            m = TEMP_NAME.match(name)
            if m and (int(m.group(1)) - 1) % CHUNK < CHUNK - 1:
                chunks[(int(m.group(1)) - 1) // CHUNK] = (int(m.group(1)), int(m.group(2)))
        return chunks if len(chunks) == 2 else None

    mid = wait_for("two tasks in the middle of a frame", two_tasks_mid_frame, 60)
    stopped, killed = sorted(mid)
    cluster.run("scancel", f"{job}_{stopped}")
    os.kill(mid[killed][1], signal.SIGKILL)
    cluster.wait_done(job)
    kept = {f: (p.stat().st_ino, p.stat().st_mtime_ns) for f, p in outputs(out).items()}
    missing = [f for f in FRAMES if f not in kept]
    assert {(f - 1) // CHUNK for f in missing} == {stopped, killed}, missing
    left = [TEMP_NAME.match(n) for n in temporaries(out)]
    # The stopped task removed its unfinished file; the killed one could not.
    assert [int(m.group(1)) for m in left if m] and all((int(m.group(1)) - 1) // CHUNK == killed for m in left if m)

    # A killed task's file is not a finished frame: its frame still counts as missing for --skip-existing.
    dry = subprocess.run([QUORLEN, "render", *render_args, "--frames", "1-24", "--skip-existing", "--dry-run"],
                         capture_output=True, text=True, cwd=tmp_path)
    assert dry.returncode == 0, dry.stderr
    assert f"{len(missing)} to render" in dry.stdout

    # The same script again renders exactly the missing frames and removes what the killed task left.
    job = cluster.submit(script)
    cluster.wait_done(job)
    written = outputs(out)
    assert sorted(written) == FRAMES
    for frame, (inode, mtime) in kept.items():
        st = written[frame].stat()
        assert (st.st_ino, st.st_mtime_ns) == (inode, mtime), f"frame {frame} was rendered again"
    for frame in missing:
        assert written[frame].read_bytes() == (ref / written[frame].name).read_bytes(), f"frame {frame}"
    assert temporaries(out) == []
    check_logs(sorted(logs.glob(f"*-{job}_*.log")))
    warned = "".join(p.read_text() for p in logs.glob(f"*-{job}_{killed}.log"))
    assert "removed 1 unfinished temporary file" in warned
    print(f"farm: whole test {time.monotonic() - started:.1f} s")
