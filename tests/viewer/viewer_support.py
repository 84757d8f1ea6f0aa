"""Starting `quorlen view` on the demo passes and talking to it, for the viewer's tests."""
import http.client
import json
import os
import re
import signal
import subprocess
import struct
import tempfile
import unittest
import zlib

QUORLEN = os.environ["QUORLEN_BIN"]
PASSES_DIR = os.environ["QUORLEN_VIEWER_PASSES"]
PASSES = os.path.join(PASSES_DIR, "demo_passes.exr")
URL_LINE = re.compile(r"^quorlen: viewing at http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]+)\n$")


class Viewer:
    """A running `quorlen view --no-browser`; stop() ends it and returns its exit code."""

    # An EXR output keeps the image library module from loading at start-up (it takes most of a second);
    # tests that compare PNG renders ask for one.
    def __init__(self, *args, inputs=("--passes", PASSES), paths=True, output="out.exr"):
        self.dir = tempfile.TemporaryDirectory(prefix="viewer-test-")
        self.output = os.path.join(self.dir.name, output)
        self.save = os.path.join(self.dir.name, "saved.json")
        command = [QUORLEN, "view", *inputs, "--no-browser", *args]
        if paths:
            command += ["-o", self.output, "--save", self.save]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.first_line = self.process.stdout.readline()
        match = URL_LINE.match(self.first_line)
        if not match:
            self.process.kill()
            raise AssertionError(f"unexpected first line {self.first_line!r}; stderr: {self.process.stderr.read()}")
        self.port = int(match.group(1))
        self.token = match.group(2)
        self.url = f"http://127.0.0.1:{self.port}/?token={self.token}"
        self.host = f"127.0.0.1:{self.port}"

    def request(self, method, path, body=None, headers=None, auth=True):
        """Sends one request on a new connection; returns (status, headers, body bytes)."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        sent = {"Host": self.host}
        if auth:
            sent["Authorization"] = f"Bearer {self.token}"
        sent.update(headers or {})
        if isinstance(body, (dict, list)):
            body = json.dumps(body)
        connection.request(method, path, body=body, headers=sent)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response.status, response.headers, data

    def json(self, method, path, body=None, expect=200):
        status, _, data = self.request(method, path, body)
        if status != expect:
            raise AssertionError(f"{method} {path}: {status} {data!r}, expected {expect}")
        return json.loads(data)

    def knob(self, name, panel=None):
        panel = panel or self.json("GET", "/api/panel")
        return next(k for k in panel["knobs"] if k["name"] == name)

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            code = self.process.wait(timeout=20)
        finally:
            self.process.stdout.close()
            self.process.stderr.close()
            self.dir.cleanup()
        return code


def run_quorlen(*args):
    return subprocess.run([QUORLEN, *args], capture_output=True, text=True, timeout=60)


def png_size(data):
    """Width and height from a PNG's header."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


def png_pixels(data):
    """(width, height, bytes of the 8-bit RGB samples) of a non-interlaced 8-bit RGB PNG."""
    width, height = png_size(data)
    assert data[24:27] == bytes([8, 2, 0]) and data[28] == 0, "not 8-bit RGB, non-interlaced"
    compressed, at = b"", 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IDAT":
            compressed += data[at + 8:at + 8 + length]
        at += 12 + length
    raw = zlib.decompress(compressed)
    stride = width * 3
    out = bytearray()
    previous = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 3] if i >= 3 else 0
            b = previous[i]
            c = previous[i - 3] if i >= 3 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out += line
        previous = line
    return width, height, bytes(out)


class ViewerTestCase(unittest.TestCase):
    """One viewer for the test class."""

    viewer_args = ()
    viewer_output = "out.exr"

    @classmethod
    def setUpClass(cls):
        cls.viewer = Viewer(*cls.viewer_args, output=cls.viewer_output)

    @classmethod
    def tearDownClass(cls):
        cls.viewer.stop()


def make_shot(directory):
    """passes.1001-1003.exr: the demo's passes, the colour halved at 1002; None without oiiotool."""
    import shutil
    import subprocess
    if not shutil.which("oiiotool"):
        return None
    for frame in (1001, 1003):
        shutil.copy(PASSES, os.path.join(directory, f"passes.{frame}.exr"))
    subprocess.run(["oiiotool", PASSES, "--mulc", "0.5,0.5,0.5,1,1,1,1,1,1", "-o",
                    os.path.join(directory, "passes.1002.exr")], check=True)
    return os.path.join(directory, "passes.####.exr")
