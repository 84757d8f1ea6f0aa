"""quorlen.render_files on a Dask cluster of two worker processes: the same files as a local render, bit for
bit, the same progress calls and the same errors, naming the frame that failed."""

import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from passes import write_passes  # noqa: E402

sys.path.insert(0, os.environ.get("QUORLEN_TEST_PYTHONPATH", ""))
quorlen = pytest.importorskip("quorlen", reason="the Python module is not built")
distributed = pytest.importorskip(
    "distributed", reason="Dask's distributed is not installed (python3-distributed; QUORLEN_SETUP_EXTRA=farm)")


@pytest.fixture(scope="module")
def client():
    # The workers import the package from the same place as this process.
    os.environ["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                       silence_logs=40)
    c = distributed.Client(cluster, timeout=60)
    yield c
    c.close()
    cluster.close()


@pytest.fixture()
def shot(tmp_path):
    for f in range(1, 12):
        write_passes(str(tmp_path / f"p.{f}.exr"), 9, 14, seed=f)
    (tmp_path / "local").mkdir()
    (tmp_path / "cluster").mkdir()
    return tmp_path


def test_chunks_on_two_workers_equal_a_local_render(client, shot):
    settings = {"lightType": "point", "_pointLightPos": (0.5, 1, 2), "pointLightRadius": 3}
    frames = "1,3,4-11x2,2"
    local_calls, cluster_calls = [], []
    quorlen.render_files(shot / "local/r.#.exr", passes=shot / "p.#.exr", frames=frames, settings=settings,
                         progress=lambda *a: local_calls.append(a))
    quorlen.render_files(shot / "cluster/r.#.exr", passes=shot / "p.#.exr", frames=frames, settings=settings,
                         progress=lambda *a: cluster_calls.append(a), client=client, chunk_size=2, threads=1)
    names = sorted(p.name for p in (shot / "local").iterdir())
    assert names == sorted(p.name for p in (shot / "cluster").iterdir()) and len(names) == 7
    for name in names:
        assert (shot / "local" / name).read_bytes() == (shot / "cluster" / name).read_bytes(), name
    # Every frame reported once, the count rising to the total; chunks may finish in any order.
    assert sorted(f for f, _, _ in cluster_calls) == sorted(f for f, _, _ in local_calls)
    assert [d for _, d, _ in cluster_calls] == list(range(1, 8)) and {t for _, _, t in cluster_calls} == {7}


def test_errors_are_the_local_classes_naming_the_frame(client, shot):
    (shot / "p.6.exr").unlink()
    with pytest.raises(quorlen.InputError) as local:
        quorlen.render_files(shot / "local/r.#.exr", passes=shot / "p.#.exr", frames="5-7")
    with pytest.raises(quorlen.InputError) as remote:
        quorlen.render_files(shot / "cluster/r.#.exr", passes=shot / "p.#.exr", frames="1-8", client=client,
                             chunk_size=3)
    assert str(remote.value) == f"frame 6: {local.value}"
    # The chunk before the failing frame still finished its frames.
    assert (shot / "cluster/r.5.exr").exists()
    with pytest.raises(quorlen.UsageError, match="--chunk-size 0"):
        quorlen.render_files(shot / "cluster/r.#.exr", passes=shot / "p.#.exr", frames="1-3", client=client,
                             chunk_size=0)
    with pytest.raises(quorlen.UsageError, match="together"):
        quorlen.render_files(shot / "cluster/r.#.exr", passes=shot / "p.#.exr", frames="1-3", chunk_size=2)
