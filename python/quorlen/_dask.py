"""render_files on a Dask cluster: the frame list cut into chunks as `quorlen render --chunk-index` cuts it,
one task a chunk, each rendered on a worker by the same render job as in this process."""

from . import _quorlen


def _render_chunk(keywords, frames):
    """Runs on a worker: one chunk rendered as render_files renders it there. The worker imports quorlen and
    loads the operator's module once; later chunks reuse them. A failure comes back as the same class, its
    message naming the frame that failed."""
    from . import render_files  # the worker's own import of the package

    done = []

    def note(frame, _done, _total):
        done.append(frame)

    try:
        render_files(**keywords, frames=",".join(map(str, frames)), progress=note)
    except _quorlen.Error as e:
        failed = next((f for f in frames if f not in done), frames[-1])
        raise type(e)(f"frame {failed}: {e}") from None
    return frames


def render_on_cluster(client, chunk_size, frames, progress, keywords):
    """Submits one task a chunk of `frames` to `client` and waits for them. `progress(frame, done, total)` is
    called here, in the list's order within each chunk, as chunks finish. The first failure cancels the
    chunks not yet started and is raised; frames finished before it stay."""
    import distributed

    if frames is None:
        raise _quorlen.UsageError("a render on a cluster needs frames")
    chunks = _quorlen.frame_chunks(frames, int(chunk_size))
    total = sum(len(c) for c in chunks)
    futures = [client.submit(_render_chunk, keywords, chunk, pure=False) for chunk in chunks]
    done = 0
    try:
        for future in distributed.as_completed(futures):
            for frame in future.result():
                done += 1
                if progress is not None:
                    progress(frame, done, total)
    finally:
        client.cancel([f for f in futures if not f.done()])
