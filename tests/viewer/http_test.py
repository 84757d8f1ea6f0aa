"""The viewer's HTTP interface, driven as a script would drive it: refusals, knobs, previews, picking,
saving and rendering, against the built `quorlen`."""
import json
import math
import os
import shlex
import signal
import socket
import unittest

from viewer_support import PASSES, Viewer, ViewerTestCase, make_shot, png_pixels, png_size, run_quorlen

CENTRE = {"x": 240, "y": 135}  # on the demo scene's sphere
EMPTY = {"x": 0, "y": 0}  # background: P and N are zero


def raw_request(port, data):
    """Sends bytes as they are and returns the whole answer."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(data)
        chunks = []
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
    return b"".join(chunks)


class Refusals(ViewerTestCase):
    def assert_refused(self, status, headers, data, code=403):
        self.assertEqual(status, code, data)
        self.assertEqual(headers["Content-Security-Policy"], "default-src 'self'")
        self.assertIn("error", json.loads(data))
        self.assertEqual(data.count(b"\n"), 1, "the error is one line")

    def test_token_is_long_and_random(self):
        self.assertGreaterEqual(len(self.viewer.token) * 4, 128)
        other = Viewer()
        try:
            self.assertNotEqual(other.token, self.viewer.token)
            self.assertNotEqual(other.port, self.viewer.port)
        finally:
            self.assertEqual(other.stop(), 0)

    def test_every_path_needs_the_token(self):
        for method, path in [("GET", "/"), ("GET", "/viewer.js"), ("GET", "/api/panel"),
                             ("GET", "/api/preview.png?scale=1"), ("POST", "/api/knobs"), ("POST", "/api/save"),
                             ("POST", "/api/render"), ("GET", "/nothing")]:
            with self.subTest(path=path):
                self.assert_refused(*self.viewer.request(method, path, body="{}", auth=False))
        wrong = "0" * len(self.viewer.token)
        for headers in [{"Authorization": f"Bearer {wrong}"}, {"Authorization": self.viewer.token},
                        {"Cookie": f"quorlen_view_{self.viewer.port}={wrong}"},
                        {"Cookie": f"quorlen_view_1={self.viewer.token}"}]:
            with self.subTest(headers=headers):
                self.assert_refused(*self.viewer.request("GET", "/api/panel", headers=headers, auth=False))
        # The token in the address is only exchanged for the cookie on the page itself.
        self.assert_refused(*self.viewer.request("GET", f"/api/panel?token={self.viewer.token}", auth=False))
        self.assert_refused(*self.viewer.request("GET", f"/?token={wrong}", auth=False))

    def test_token_becomes_a_strict_cookie(self):
        status, headers, _ = self.viewer.request("GET", f"/?token={self.viewer.token}", auth=False)
        self.assertEqual(status, 303)
        self.assertEqual(headers["Location"], "/")
        cookie = headers["Set-Cookie"]
        for part in ["HttpOnly", "SameSite=Strict", f"quorlen_view_{self.viewer.port}={self.viewer.token}"]:
            self.assertIn(part, cookie)
        pair = cookie.split(";")[0]
        status, headers, data = self.viewer.request("GET", "/", headers={"Cookie": f"other=1; {pair}"}, auth=False)
        self.assertEqual(status, 200)
        self.assertIn(b'id="preview"', data)
        self.assertEqual(headers["Content-Security-Policy"], "default-src 'self'")

    def test_foreign_host_and_origin(self):
        port = self.viewer.port
        for host in [f"evil.example:{port}", f"localhost.evil:{port}", "evil.example", f"127.0.0.2:{port}",
                     f"127.0.0.1:{port}x", f"127.0.0.1:", f"[::1]x:{port}", f"[::2]:{port}", "", f"0x7f000001:{port}"]:
            with self.subTest(host=host):
                self.assert_refused(*self.viewer.request("GET", "/api/panel", headers={"Host": host}))
        for origin in ["http://evil.example", f"http://evil.example:{port}", f"https://127.0.0.1:{port}", "null",
                       f"http://127.0.0.1:{port + 1}", f"http://localhost:{port}"]:
            with self.subTest(origin=origin):
                self.assert_refused(*self.viewer.request("POST", "/api/knobs", body={"lightBrightness": 2},
                                                         headers={"Origin": origin}))
        self.assertEqual(self.viewer.knob("lightBrightness")["value"], 1.0, "refused requests change nothing")
        # The page's own origin, under either loopback name.
        status, _, _ = self.viewer.request("GET", "/api/panel", headers={"Origin": f"http://127.0.0.1:{port}"})
        self.assertEqual(status, 200)
        status, _, _ = self.viewer.request("GET", "/api/panel", headers={"Host": f"localhost:{port}",
                                                                        "Origin": f"http://localhost:{port}"})
        self.assertEqual(status, 200)
        # HTTP/1.0 without any Host header.
        answer = raw_request(port, f"GET /api/panel HTTP/1.0\r\nAuthorization: Bearer {self.viewer.token}\r\n\r\n".encode())
        self.assertTrue(answer.startswith(b"HTTP/1.0 403"), answer[:40])

    def test_loopback_names_with_any_port(self):
        # Through a tunnel (ssh -L 9000:127.0.0.1:PORT host) the browser names the port it reached.
        for host in ["127.0.0.1:9000", "localhost:8080", "LOCALHOST:1", "[::1]:9000", "[::1]", "127.0.0.1",
                     "localhost"]:
            with self.subTest(host=host):
                status, _, data = self.viewer.request("GET", "/api/panel", headers={"Host": host})
                self.assertEqual(status, 200, data)
                # The page's own origin is the one the browser reached.
                status, _, data = self.viewer.request("GET", "/api/panel",
                                                      headers={"Host": host, "Origin": f"http://{host}"})
                self.assertEqual(status, 200, data)
        # The token still counts, whatever the port.
        self.assert_refused(*self.viewer.request("GET", "/api/panel", headers={"Host": "127.0.0.1:9000"}, auth=False))
        status, headers, _ = self.viewer.request("GET", f"/?token={self.viewer.token}",
                                                 headers={"Host": "127.0.0.1:9000"}, auth=False)
        self.assertEqual(status, 303)
        self.assertIn(f"quorlen_view_{self.viewer.port}=", headers["Set-Cookie"])

    def test_a_browser_without_the_token_gets_a_page(self):
        accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"
        for path in ["/", "/api/panel", f"/?token={'0' * 32}"]:
            with self.subTest(path=path):
                status, headers, data = self.viewer.request("GET", path, headers={"Accept": accept}, auth=False)
                self.assertEqual(status, 403)
                self.assertTrue(headers["Content-Type"].startswith("text/html"), headers["Content-Type"])
                page = data.decode()
                self.assertIn("quorlen: viewing at http://127.0.0.1:PORT/?token=", page)
                self.assertNotIn(self.viewer.token, page)
                self.assertNotIn("<script", page)
                self.assertIn("default-src 'none'", headers["Content-Security-Policy"])
        # Scripts still get JSON.
        self.assert_refused(*self.viewer.request("GET", "/api/panel", headers={"Accept": "application/json"},
                                                 auth=False))
        # A foreign Host is refused as before, page or not.
        status, headers, _ = self.viewer.request("GET", "/", headers={"Accept": accept, "Host": "evil.example"},
                                                 auth=False)
        self.assertEqual((status, headers["Content-Type"]), (403, "application/json"))

    def test_large_bodies_are_413_and_the_server_goes_on(self):
        status, headers, data = self.viewer.request("POST", "/api/knobs", body=" " * (1025 * 1024))
        self.assert_refused(status, headers, data, 413)
        # Without the token a large body is still just forbidden.
        self.assert_refused(*self.viewer.request("POST", "/api/knobs", body=" " * (1025 * 1024), auth=False))
        # Chunked bodies are counted too.
        chunk = b"x" * (1024 * 1024 + 100)
        answer = raw_request(self.viewer.port, (
            f"POST /api/knobs HTTP/1.1\r\nHost: {self.viewer.host}\r\nAuthorization: Bearer {self.viewer.token}\r\n"
            f"Transfer-Encoding: chunked\r\n\r\n{len(chunk):x}\r\n").encode() + chunk + b"\r\n0\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 413"), answer[:40])
        self.viewer.json("GET", "/api/panel")

    def test_malformed_requests_are_400_and_the_server_goes_on(self):
        for data in [b"GARBAGE\r\n\r\n", b"GET / HTTP/9.9\r\n\r\n", b"GET /api/panel HTTP/1.1\r\nHost: x\r\nBad header\r\n\r\n"]:
            with self.subTest(data=data):
                self.assertTrue(raw_request(self.viewer.port, data).startswith(b"HTTP/1.1 400"))
        self.viewer.json("GET", "/api/panel")


class Values(ViewerTestCase):
    def assert_400(self, method, path, body=None, mentions=""):
        before = self.viewer.json("GET", "/api/panel")
        status, headers, data = self.viewer.request(method, path, body)
        self.assertEqual(status, 400, data)
        self.assertEqual(headers["Content-Type"], "application/json")
        error = json.loads(data)["error"]
        self.assertIn(mentions, error)
        self.assertEqual(self.viewer.json("GET", "/api/panel"), before, "nothing changed")

    def test_bad_knob_bodies_change_nothing(self):
        self.assert_400("POST", "/api/knobs", "{not json", "JSON")
        self.assert_400("POST", "/api/knobs", "[1, 2]", "object")
        self.assert_400("POST", "/api/knobs", {"noSuchKnob": 1}, "noSuchKnob")
        self.assert_400("POST", "/api/knobs", {"lightType": "sideways"}, "lightType")
        self.assert_400("POST", "/api/knobs", {"_lightColor": [1, 2]}, "_lightColor")
        # All or nothing: the good member before the bad one is not applied either.
        self.assert_400("POST", "/api/knobs", {"lightBrightness": 3, "lightType": "point", "pointLightRadius": "x"},
                        "pointLightRadius")

    def test_bad_query_values(self):
        for scale in ["0", "-1", "1.5", "abc", "nan", ""]:
            with self.subTest(scale=scale):
                self.assert_400("GET", f"/api/preview.png?scale={scale}", mentions="scale")
        self.assert_400("GET", "/api/preview.png?exposure=1e9", mentions="exposure")
        self.assert_400("GET", "/api/input.png?name=../../etc/passwd", mentions="name")
        self.assert_400("GET", "/api/input.png?name=noiseP", mentions="noiseP")
        self.assert_400("GET", "/api/pixel?x=1.5&y=2", mentions="whole")
        self.assert_400("GET", "/api/pixel?x=480&y=0", mentions="outside")

    def test_bad_picks(self):
        self.assert_400("POST", "/api/pick", "{", "JSON")
        self.assert_400("POST", "/api/pick", {"x": "1", "y": 2}, "x")
        self.assert_400("POST", "/api/pick", {"x": 1.5, "y": 2}, "x")
        self.assert_400("POST", "/api/pick", {"x": 10, "y": -1}, "outside")
        self.assert_400("POST", "/api/pick", {"x": 10, "y": 10**12}, "range")
        self.assert_400("POST", "/api/pick", dict(CENTRE, distance="far"), "distance")
        self.assert_400("POST", "/api/pick", dict(EMPTY, distance=1), "no surface")

    def test_knobs_apply_together_and_availability_follows(self):
        panel = self.viewer.json("POST", "/api/knobs", {"lightType": "point", "pointLightRadius": 50,
                                                        "_lightColor": [1, 0.5, 0.25]})
        self.assertEqual(self.viewer.knob("lightType", panel)["value"], 1)
        self.assertEqual(self.viewer.knob("pointLightRadius", panel)["value"], 50)
        self.assertTrue(self.viewer.knob("_pointLightPos", panel)["available"])
        self.assertFalse(self.viewer.knob("_parallelLightDir", panel)["available"])
        self.assertEqual(panel, self.viewer.json("GET", "/api/panel"))
        panel = self.viewer.json("POST", "/api/knobs", {"lightType": "parallel"})
        self.assertFalse(self.viewer.knob("_pointLightPos", panel)["available"])


class Previews(ViewerTestCase):
    viewer_output = "out.png"

    def test_full_preview_equals_the_render_command(self):
        settings = {"lightType": "point", "_pointLightPos": [0.5, 2, 3], "pointLightFalloff": 1.5,
                    "surfaceNoise": True, "surfaceNoiseType": "turbulence1", "noiseMultiply": 0.7,
                    "_surfaceSpecular": [0.3, 0.3, 0.3]}
        self.viewer.json("POST", "/api/knobs", settings)
        status, headers, preview = self.viewer.request("GET", "/api/preview.png?scale=1")
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"], "image/png")
        self.assertIn("render;dur=", headers["Server-Timing"])
        # The command the page offers reproduces the preview pixel for pixel (the preview's PNG is stored
        # with less compression, so its bytes differ).
        command = shlex.split(self.viewer.json("GET", "/api/command")["command"])
        self.assertEqual(command[:2], ["quorlen", "render"])
        out = os.path.join(self.viewer.dir.name, "command.png")
        args = command[2:command.index("-o")] + ["-o", out]
        result = run_quorlen("render", *args)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, "rb") as f:
            rendered = f.read()
        self.assertEqual(png_pixels(preview), png_pixels(rendered))
        self.assertGreater(len(set(png_pixels(preview)[2])), 100, "a picture, not a flat field")
        # "Render" writes the same file as the command.
        reply = self.viewer.json("POST", "/api/render")
        self.assertEqual(reply["path"], self.viewer.output)
        with open(self.viewer.output, "rb") as f:
            self.assertEqual(f.read(), rendered)

    def test_scale_and_exposure(self):
        _, _, full = self.viewer.request("GET", "/api/preview.png")
        self.assertEqual(png_size(full), (480, 270))
        _, _, half = self.viewer.request("GET", "/api/preview.png?scale=0.5")
        self.assertEqual(png_size(half), (240, 135))
        _, _, tiny = self.viewer.request("GET", "/api/preview.png?scale=0.001")
        self.assertEqual(png_size(tiny), (1, 1))
        _, _, brighter = self.viewer.request("GET", "/api/preview.png?exposure=1")
        self.assertEqual(png_size(brighter), (480, 270))
        self.assertNotEqual(brighter, full)
        _, _, again = self.viewer.request("GET", "/api/preview.png?exposure=0")
        self.assertEqual(again, full, "the exposure is a view gain only")
        for name in ["color", "normal", "P"]:
            with self.subTest(name=name):
                status, _, data = self.viewer.request("GET", f"/api/input.png?name={name}&scale=0.25")
                self.assertEqual(status, 200)
                self.assertEqual(png_size(data), (120, 68))

    def test_the_last_of_many_changes_wins(self):
        connection_count = 1000
        import http.client
        connection = http.client.HTTPConnection("127.0.0.1", self.viewer.port, timeout=30)
        headers = {"Host": self.viewer.host, "Authorization": f"Bearer {self.viewer.token}"}
        for i in range(connection_count):
            connection.request("POST", "/api/knobs", body=json.dumps({"lightBrightness": i / 250}), headers=headers)
            response = connection.getresponse()
            response.read()
            self.assertEqual(response.status, 200)
        connection.close()
        self.assertEqual(self.viewer.knob("lightBrightness")["value"], 999 / 250)
        _, _, preview = self.viewer.request("GET", "/api/preview.png")
        self.viewer.json("POST", "/api/knobs", {"lightBrightness": 0.5})
        _, _, changed = self.viewer.request("GET", "/api/preview.png")
        self.assertNotEqual(preview, changed, "a preview asked for after a change shows the change")


class Colour(ViewerTestCase):
    def test_menus_come_from_the_config_and_choices_are_all_or_nothing(self):
        colour = self.viewer.json("GET", "/api/colour")
        self.assertTrue(colour["config"].endswith("quorlen.ocio"), colour["config"])
        self.assertEqual(colour["displays"], {"sRGB": ["sRGB", "ACES 1.0 - SDR Video", "Raw"]})
        self.assertEqual((colour["display"], colour["view"], colour["look"]), ("sRGB", "sRGB", ""))
        self.assertEqual(colour["looks"], ["ACES 1.3 Reference Gamut Compression"])
        _, _, plain = self.viewer.request("GET", "/api/preview.png")
        _, _, texture = self.viewer.request("GET", "/api/input.png?name=color")
        _, _, normals = self.viewer.request("GET", "/api/input.png?name=normal")
        for body, mentions in [({"view": "Rwa"}, 'did you mean "Raw"'), ({"display": "P3"}, "display"),
                               ({"view": "Raw", "look": "nope"}, "look"), ({"gamma": 0}, "gamma"),
                               ({"gamma": "2"}, "gamma"), ({"exposure": 1}, "exposure"), ([1], "object")]:
            with self.subTest(body=body):
                status, _, data = self.viewer.request("POST", "/api/colour", body)
                self.assertEqual(status, 400, data)
                self.assertIn(mentions, json.loads(data)["error"])
                self.assertEqual(self.viewer.json("GET", "/api/colour"), colour, "nothing changed")
        chosen = self.viewer.json("POST", "/api/colour", {"view": "ACES 1.0 - SDR Video", "gamma": 1.2})
        self.assertEqual((chosen["view"], chosen["gamma"]), ("ACES 1.0 - SDR Video", 1.2))
        _, _, aces = self.viewer.request("GET", "/api/preview.png")
        self.assertNotEqual(png_pixels(aces), png_pixels(plain))
        _, _, aces_texture = self.viewer.request("GET", "/api/input.png?name=color")
        self.assertNotEqual(png_pixels(aces_texture), png_pixels(texture))
        # Data is shown as it is whatever the view.
        _, _, same_normals = self.viewer.request("GET", "/api/input.png?name=normal")
        self.assertEqual(png_pixels(same_normals), png_pixels(normals))
        # Back to the default view: the codes are those of the plain view again.
        self.viewer.json("POST", "/api/colour", {"view": "sRGB", "gamma": 1})
        _, _, back = self.viewer.request("GET", "/api/preview.png")
        self.assertEqual(png_pixels(back), png_pixels(plain))


def expected_light(p, n, distance, node_space):
    """Where a click should put the light: along the normal, mirrored in z in the node's convention."""
    d = [n[0], n[1], -n[2] if node_space else n[2]]
    length = math.sqrt(sum(c * c for c in d))
    d = [c / length for c in d]
    return [p[i] + distance * d[i] for i in range(3)], d


class Picking(ViewerTestCase):
    def test_hover_shows_the_passes(self):
        s = self.viewer.json("GET", f"/api/pixel?x={CENTRE['x']}&y={CENTRE['y']}")
        self.assertTrue(s["surface"])
        self.assertAlmostEqual(math.sqrt(sum(c * c for c in s["N"])), 1.0, places=3)
        self.assertFalse(self.viewer.json("GET", "/api/pixel?x=0&y=0")["surface"])

    def test_point_and_parallel_lights_face_the_clicked_surface(self):
        self.viewer.json("POST", "/api/knobs", {"lightType": "point"})
        r = self.viewer.json("POST", "/api/pick", dict(CENTRE, distance=2.5))
        position, _ = expected_light(r["P"], r["N"], 2.5, node_space=True)
        got = self.viewer.knob("_pointLightPos", r["panel"])["value"]
        for a, b in zip(got, position):
            self.assertAlmostEqual(a, b, places=5)
        self.assertEqual(r["panel"], self.viewer.json("GET", "/api/panel"))
        self.viewer.json("POST", "/api/knobs", {"lightType": "parallel"})
        r = self.viewer.json("POST", "/api/pick", {"x": 200, "y": 100, "distance": 1})
        _, direction = expected_light(r["P"], r["N"], 1, node_space=True)
        got = self.viewer.knob("_parallelLightDir", r["panel"])["value"]
        for a, b in zip(got, direction):
            self.assertAlmostEqual(a, b, places=5)
        # Lit head-on, the surface's diffuse term is its largest: the preview is brightest there.


class WorldSpacePicking(ViewerTestCase):
    viewer_args = ("--light-space", "world", "--set", "lightType=point")

    def test_the_normal_view_shows_the_normals_as_the_file_holds_them(self):
        # A node-space view gives the node the file's normals unchanged; a world-space one negates their z
        # for the node, and still shows them as the file holds them.
        node = Viewer(paths=False)
        try:
            _, _, as_file = node.request("GET", "/api/input.png?name=normal")
        finally:
            node.stop()
        _, _, shown = self.viewer.request("GET", "/api/input.png?name=normal")
        self.assertEqual(png_pixels(shown), png_pixels(as_file))
        _, _, small = self.viewer.request("GET", "/api/input.png?name=normal&scale=0.25")
        self.assertEqual(png_size(small), (120, 68))

    def test_the_click_distance_defaults_to_a_tenth_of_the_scene(self):
        info = self.viewer.json("GET", "/api/info")
        # The demo scene: the middle 90% of its surface positions span a box 24 units across.
        self.assertEqual(info["distance"], 2.4)
        r = self.viewer.json("POST", "/api/pick", CENTRE)
        position, _ = expected_light(r["P"], r["N"], info["distance"], node_space=False)
        for a, b in zip(self.viewer.knob("_pointLightPos", r["panel"])["value"], position):
            self.assertAlmostEqual(a, b, places=5)

    def test_world_space_places_the_light_along_the_normal_itself(self):
        r = self.viewer.json("POST", "/api/pick", dict(CENTRE, distance=3))
        position, _ = expected_light(r["P"], r["N"], 3, node_space=False)
        got = self.viewer.knob("_pointLightPos", r["panel"])["value"]
        for a, b in zip(got, position):
            self.assertAlmostEqual(a, b, places=5)
        self.assertIn("--light-space world", self.viewer.json("GET", "/api/command")["command"])


class SavingAndStopping(unittest.TestCase):
    def test_save_writes_what_knobs_reads(self):
        viewer = Viewer("--set", "stripesNoiseDir=x|z")
        try:
            viewer.json("POST", "/api/knobs", {"lightType": "point", "surfaceNoiseType": "snoise",
                                               "_lightColor": [0.25, 0.5, 1.5], "surfaceNoise": True})
            self.assertEqual(viewer.json("POST", "/api/save")["path"], viewer.save)
            result = run_quorlen("knobs", "--json", "--settings", viewer.save)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(json.loads(result.stdout), viewer.json("GET", "/api/panel"))
        finally:
            self.assertEqual(viewer.stop(), 0)

    def test_buttons_without_paths_are_refused(self):
        viewer = Viewer(paths=False)
        try:
            info = viewer.json("GET", "/api/info")
            self.assertIsNone(info["output"])
            self.assertIsNone(info["save"])
            self.assertIn("--save", viewer.json("POST", "/api/save", expect=400)["error"])
            self.assertIn("-o", viewer.json("POST", "/api/render", expect=400)["error"])
            self.assertFalse(os.listdir(viewer.dir.name))
        finally:
            self.assertEqual(viewer.stop(), 0)

    def test_outputs_over_inputs_are_refused_before_serving(self):
        for option in ["-o", "--save"]:
            with self.subTest(option=option):
                result = run_quorlen("view", "--passes", PASSES, "--no-browser", option, PASSES)
                self.assertEqual(result.returncode, 1)
                self.assertRegex(result.stderr, r"^quorlen: error: [^\n]*--passes[^\n]*\n$")
                self.assertEqual(result.stdout, "")

    def test_interrupts_end_the_server_with_0(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=sig):
                viewer = Viewer()
                viewer.json("GET", "/api/panel")
                self.assertEqual(viewer.stop(sig), 0)

    def test_a_taken_port_is_refused(self):
        viewer = Viewer()
        try:
            result = run_quorlen("view", "--passes", PASSES, "--no-browser", "--port", str(viewer.port))
            self.assertEqual(result.returncode, 1)
            self.assertIn(f"127.0.0.1:{viewer.port}", result.stderr)
            self.assertEqual(result.stdout, "")
        finally:
            viewer.stop()


def rig_file(directory, rig):
    path = os.path.join(directory, "rig.json")
    with open(path, "w") as f:
        json.dump(rig, f)
    return path


THREE_LIGHTS = {
    "_surfaceSpecular": [0.2, 0.2, 0.2],
    "lights": [
        {"name": "key", "knobs": {"lightType": "point", "_pointLightPos": [0.5, 2, 3], "lightBrightness": 1.5}},
        {"name": "fill", "knobs": {"_parallelLightDir": [-1, 0.5, -1], "lightBrightness": 0.3}},
        {"name": "rim", "knobs": {"_parallelLightDir": [0, 1, 1], "_lightColor": [0.4, 0.6, 1]},
         "mask": PASSES + ":G", "maskInvert": True},
    ],
}


class Rigs(unittest.TestCase):
    """A rig opened from its file: the lights, their knobs, the beauty and each light alone."""

    @classmethod
    def setUpClass(cls):
        import tempfile
        cls.files = tempfile.TemporaryDirectory(prefix="viewer-rig-")
        cls.path = rig_file(cls.files.name, THREE_LIGHTS)
        cls.viewer = Viewer("--settings", cls.path, output="out.png")

    @classmethod
    def tearDownClass(cls):
        cls.viewer.stop()
        cls.files.cleanup()

    def setUp(self):
        # Every test starts from the file's rig, nothing soloed.
        self.viewer.json("POST", "/api/rig", THREE_LIGHTS)
        self.viewer.json("POST", "/api/lights", {"selected": "key", "solo": []})

    def assert_400(self, method, path, body, *mentions):
        rig = self.viewer.json("GET", "/api/rig")
        lights = self.viewer.json("GET", "/api/lights")
        status, headers, data = self.viewer.request(method, path, body)
        self.assertEqual(status, 400, data)
        self.assertEqual(headers["Content-Type"], "application/json")
        error = json.loads(data)["error"]
        for m in mentions:
            self.assertIn(m, error)
        self.assertEqual(self.viewer.json("GET", "/api/rig"), rig, "nothing changed")
        self.assertEqual(self.viewer.json("GET", "/api/lights"), lights, "nothing changed")
        return error

    def render(self, *args):
        out = os.path.join(self.viewer.dir.name, "command.png")
        result = run_quorlen("render", "--passes", PASSES, *args, "-o", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, "rb") as f:
            return png_pixels(f.read())

    def test_the_rig_in_the_files_form(self):
        rig = self.viewer.json("GET", "/api/rig")
        self.assertEqual(rig, dict(THREE_LIGHTS, lightSpace="node", normalEncoding="signed"))
        self.assertEqual(self.viewer.json("GET", "/api/settings"), rig, "what Save writes")
        lights = self.viewer.json("GET", "/api/lights")
        self.assertTrue(lights["rig"])
        self.assertEqual([l["name"] for l in lights["lights"]], ["key", "fill", "rim"])
        self.assertEqual(lights["lights"][2]["mask"], PASSES + ":G")
        self.assertTrue(lights["lights"][2]["maskInvert"])
        self.assertEqual(lights["selected"], "key")
        info = self.viewer.json("GET", "/api/info")
        self.assertTrue(info["rig"])
        self.assertEqual(info["settings"], self.path)

    def test_each_light_has_its_own_knobs(self):
        key = self.viewer.json("GET", "/api/panel?light=key")
        fill = self.viewer.json("GET", "/api/panel?light=fill")
        self.assertEqual(self.viewer.knob("lightType", key)["value"], 1)
        self.assertEqual(self.viewer.knob("lightType", fill)["value"], 0)
        self.assertEqual(self.viewer.knob("_surfaceSpecular", fill)["value"], [0.2, 0.2, 0.2], "shared values")
        self.assertEqual(self.viewer.json("GET", "/api/panel"), key, "the selected light")
        panel = self.viewer.json("POST", "/api/knobs?light=fill", {"lightBrightness": 0.75})
        self.assertEqual(self.viewer.knob("lightBrightness", panel)["value"], 0.75)
        rig = self.viewer.json("GET", "/api/rig")
        self.assertEqual(rig["lights"][1]["knobs"]["lightBrightness"], 0.75)
        self.assertEqual(rig["lights"][0], THREE_LIGHTS["lights"][0], "the other lights keep theirs")
        # Without a light: the selected one.
        self.viewer.json("POST", "/api/lights", {"selected": "rim"})
        self.viewer.json("POST", "/api/knobs", {"lightBrightness": 2})
        self.assertEqual(self.viewer.json("GET", "/api/rig")["lights"][2]["knobs"]["lightBrightness"], 2)

    def test_unknown_lights_are_refused_naming_the_lights(self):
        for method, path, body in [("POST", "/api/knobs?light=kye", {"lightBrightness": 2}),
                                   ("GET", "/api/panel?light=kye", None),
                                   ("GET", "/api/preview.png?light=kye", None),
                                   ("POST", "/api/pick", dict(CENTRE, light="kye")),
                                   ("POST", "/api/lights", {"selected": "kye"}),
                                   ("POST", "/api/lights", {"solo": ["key", "kye"]})]:
            with self.subTest(path=path, body=body):
                self.assert_400(method, path, body, '"kye"', "key, fill, rim", 'did you mean "key"')
        self.assert_400("POST", "/api/pick", dict(CENTRE, light=3), "light")
        self.assert_400("POST", "/api/lights", {"chosen": "key"}, "chosen")

    def test_a_click_places_the_named_or_selected_light(self):
        self.viewer.json("POST", "/api/knobs?light=fill", {"lightType": "point"})
        r = self.viewer.json("POST", "/api/pick", dict(CENTRE, distance=2, light="fill"))
        self.assertEqual(r["light"], "fill")
        position, _ = expected_light(r["P"], r["N"], 2, node_space=True)
        rig = self.viewer.json("GET", "/api/rig")
        for a, b in zip(rig["lights"][1]["knobs"]["_pointLightPos"], position):
            self.assertAlmostEqual(a, b, places=5)
        self.assertEqual(rig["lights"][0], THREE_LIGHTS["lights"][0])
        r = self.viewer.json("POST", "/api/pick", dict(CENTRE, distance=1))
        self.assertEqual(r["light"], "key")
        self.assertNotEqual(self.viewer.json("GET", "/api/rig")["lights"][0]["knobs"]["_pointLightPos"], [0.5, 2, 3])

    def test_replacing_the_rig_is_all_or_nothing(self):
        def changed(**light_changes):
            rig = json.loads(json.dumps(THREE_LIGHTS))
            rig["lights"][1].update(light_changes)
            return rig
        cases = [
            (changed(name="2nd"), ["2nd", "must start with a letter"]),
            (changed(name="R"), ["R"]),
            (changed(name="key"), ['two lights are named "key"']),
            (changed(knobs={"lightBrigthness": 2}), ["lightBrigthness", "lightBrightness"]),
            (changed(mute="yes"), ["mute"]),
            (changed(mask="no colon"), ["mask"]),
            (changed(maskInvert=True), ["maskInvert"]),
            (changed(mute=False, colour=1), ["colour"]),
            (dict(THREE_LIGHTS, lights=[]), ["empty"]),
            (dict(THREE_LIGHTS, lights={}), ["array"]),
            (dict(THREE_LIGHTS, noSuchKnob=1), ["noSuchKnob"]),
            (dict(THREE_LIGHTS, lightSpace="world"), ["lightSpace", "--light-space world"]),
            (dict(THREE_LIGHTS, normalEncoding="unsigned"), ["normalEncoding"]),
            (changed(mask="/no/such/matte.exr:hero.R"), ["matte.exr"]),
            ([1], ["object"]),
        ]
        _, _, before = self.viewer.request("GET", "/api/preview.png")
        for body, mentions in cases:
            with self.subTest(body=body):
                self.assert_400("POST", "/api/rig", body, *mentions)
        _, _, after = self.viewer.request("GET", "/api/preview.png")
        self.assertEqual(after, before)
        self.assert_400("POST", "/api/rig", "{not json", "JSON")

    def test_edits_of_the_lights(self):
        rig = json.loads(json.dumps(THREE_LIGHTS))
        rig["lights"] = [rig["lights"][2], dict(rig["lights"][0], name="main", mute=True),
                         dict(rig["lights"][0], name="main2")]
        self.viewer.json("POST", "/api/lights", {"selected": "fill", "solo": ["fill", "rim"]})
        reply = self.viewer.json("POST", "/api/rig", rig)
        self.assertEqual(reply["lights"], rig["lights"])
        lights = self.viewer.json("GET", "/api/lights")
        self.assertEqual([l["name"] for l in lights["lights"]], ["rim", "main", "main2"])
        self.assertEqual([l["mute"] for l in lights["lights"]], [False, True, False])
        # A light that went away is no longer selected or soloed.
        self.assertEqual(lights["selected"], "rim")
        self.assertEqual(lights["solo"], ["rim"])

    def test_the_beauty_equals_the_render_command(self):
        # Edited over HTTP: a knob of one light, a light muted, then saved and rendered by the command.
        self.viewer.json("POST", "/api/knobs?light=fill", {"lightBrightness": 0.6, "lightType": "point",
                                                           "_pointLightPos": [-2, 1, 3]})
        rig = self.viewer.json("GET", "/api/rig")
        rig["lights"][0]["mute"] = True
        self.viewer.json("POST", "/api/rig", rig)
        reply = self.viewer.json("GET", "/api/command")
        self.assertFalse(reply["saved"])
        self.assertIn("Save", reply["note"])
        self.assertEqual(self.viewer.json("POST", "/api/save")["path"], self.viewer.save)
        reply = self.viewer.json("GET", "/api/command")
        self.assertTrue(reply["saved"])
        self.assertEqual(reply["note"], "")
        command = shlex.split(reply["command"])
        self.assertIn("--settings", command)
        self.assertEqual(command[command.index("--settings") + 1], self.viewer.save)
        _, _, preview = self.viewer.request("GET", "/api/preview.png?scale=1")
        args = command[2:command.index("-o")]
        self.assertEqual(png_pixels(preview), self.render(*args[2:]))
        self.assertGreater(len(set(png_pixels(preview)[2])), 100, "a picture, not a flat field")
        # Soloed: the command solos the same lights.
        self.viewer.json("POST", "/api/lights", {"solo": ["rim", "key"]})
        command = shlex.split(self.viewer.json("GET", "/api/command")["command"])
        self.assertEqual([command[i + 1] for i, w in enumerate(command) if w == "--solo"], ["rim", "key"])
        _, _, soloed = self.viewer.request("GET", "/api/preview.png")
        self.assertEqual(png_pixels(soloed), self.render("--settings", self.viewer.save, "--solo", "rim"),
                         "the muted key stays out")
        # "Render" renders the rig as the command does.
        self.viewer.json("POST", "/api/render")
        with open(self.viewer.output, "rb") as f:
            self.assertEqual(png_pixels(f.read()), png_pixels(soloed))

    def test_shadows_and_spots_equal_the_render_command(self):
        rig = {"lights": [
            {"name": "key", "knobs": {"lightType": "point", "_pointLightPos": [-2.5, 3, 3.5]}, "shadow": {"size": 0.2}},
            {"name": "spot", "knobs": {"lightType": "point", "_pointLightPos": [2, 3, 4]},
             "spot": {"direction": [-0.3, -0.6, 0.5], "angle": 25, "penumbra": 5}}]}
        self.viewer.json("POST", "/api/rig", rig)
        self.assertEqual(self.viewer.json("GET", "/api/lights")["lights"][0]["options"], ["shadow"])
        _, _, unshadowed = self.viewer.request("GET", "/api/preview.png?light=key")
        # Edited as the page edits them: options added to the rig and sent whole, then saved by Save.
        rig = self.viewer.json("GET", "/api/rig")
        rig["lights"][0]["shadow"] = {"size": 0.2, "samples": 24, "bias": 0.01, "maxDistance": 8}
        rig["lights"].append({"name": "sun", "knobs": {"_parallelLightDir": [-0.6, 1, -0.4]},
                              "shadow": {"angle": 2, "thickness": 0.5}})
        self.viewer.json("POST", "/api/rig", rig)
        _, _, preview = self.viewer.request("GET", "/api/preview.png")
        _, _, shadowed = self.viewer.request("GET", "/api/preview.png?light=key")
        self.assertNotEqual(png_pixels(shadowed), png_pixels(unshadowed), "the options change the light")
        self.assertEqual(self.viewer.json("POST", "/api/save")["path"], self.viewer.save)
        with open(self.viewer.save) as f:
            saved = json.load(f)
        self.assertEqual(saved["lights"][2]["shadow"], {"angle": 2, "thickness": 0.5})
        self.assertEqual(png_pixels(preview), self.render("--settings", self.viewer.save))

    def test_bad_shadows_and_spots_are_refused(self):
        def with_light(**entry):
            rig = self.viewer.json("GET", "/api/rig")
            rig["lights"][0].update(entry)
            return rig
        # A spot needs a point light (the fill is parallel), as the command says when it renders.
        rig = self.viewer.json("GET", "/api/rig")
        rig["lights"][1]["spot"] = {"direction": [0, -1, 0], "angle": 30}
        self.assert_400("POST", "/api/rig", rig, 'light "fill"', "spot", "needs a point light")
        self.assert_400("POST", "/api/rig", with_light(shadow={"sise": 1}), 'light "key"', 'did you mean "size"')
        self.assert_400("POST", "/api/rig", with_light(shadow={"samples": 0}), "samples")
        self.assert_400("POST", "/api/rig", with_light(shadow={"size": "big"}), "size")
        self.assert_400("POST", "/api/rig", with_light(spot={"direction": [0, 0, 0], "angle": 30}), "direction")
        self.assert_400("POST", "/api/rig", with_light(spot={"direction": [0, -1, 0], "angle": 30, "penumbra": 40}),
                        "penumbra")
        # A knob change that leaves a spot on a parallel light is refused the same way.
        self.viewer.json("POST", "/api/rig", with_light(spot={"direction": [0, -1, 0], "angle": 30}))
        panel = self.viewer.json("GET", "/api/panel?light=key")
        self.assert_400("POST", "/api/knobs?light=key", {"lightType": "parallel", "lightBrightness": 0.5},
                        "needs a point light")
        self.assertEqual(self.viewer.json("GET", "/api/panel?light=key"), panel)
        # Still serving, and the rig takes good values after the refusals.
        self.viewer.json("POST", "/api/rig", with_light(shadow=True, spot={"direction": [0, -1, 0], "angle": 30}))
        status, _, _ = self.viewer.request("GET", "/api/preview.png?scale=0.25")
        self.assertEqual(status, 200)

    def test_the_camera_is_the_one_the_command_finds(self):
        camera = self.viewer.json("GET", "/api/info")["camera"]
        self.assertTrue(camera["found"])
        self.assertEqual(camera["projection"], "pinhole")
        self.assertEqual(camera["origin"], "fitted to P")
        self.assertLess(camera["residual"], 0.5)
        dry = run_quorlen("render", "--passes", PASSES, "--settings", self.path, "-o",
                          os.path.join(self.viewer.dir.name, "dry.exr"), "--dry-run")
        self.assertEqual(dry.returncode, 0, dry.stderr)
        self.assertIn(f"camera  {camera['line']}\n", dry.stdout)
        # The rows put a surface's P at its pixel's centre: what the page's light marker relies on.
        for x, y in ((240, 135), (100, 200), (400, 60)):
            pixel = self.viewer.json("GET", f"/api/pixel?x={x}&y={y}")
            if not pixel["surface"]:
                continue
            p = pixel["P"] + [1]
            r = camera["rows"]
            depth = sum(a * b for a, b in zip(r[2], p))
            self.assertGreater(depth, 0)
            u = sum(a * b for a, b in zip(r[0], p)) / depth - camera["origin_x"]
            v = sum(a * b for a, b in zip(r[1], p)) / depth - camera["origin_y"]
            self.assertAlmostEqual(u, x + 0.5, delta=0.05, msg=(x, y))
            self.assertAlmostEqual(v, y + 0.5, delta=0.05, msg=(x, y))

    def test_one_light_alone(self):
        with open(self.viewer.save, "w") as f:
            json.dump(self.viewer.json("GET", "/api/rig"), f)
        for name in ["key", "rim"]:
            with self.subTest(light=name):
                _, _, alone = self.viewer.request("GET", f"/api/preview.png?light={name}")
                self.assertEqual(png_pixels(alone), self.render("--settings", self.viewer.save, "--solo", name))
        # A muted light is shown alone all the same; the beauty leaves it out.
        rig = self.viewer.json("GET", "/api/rig")
        rig["lights"][2]["mute"] = True
        self.viewer.json("POST", "/api/rig", rig)
        _, _, muted = self.viewer.request("GET", "/api/preview.png?light=rim")
        self.assertEqual(muted, alone)
        _, _, half = self.viewer.request("GET", "/api/preview.png?light=rim&scale=0.5")
        self.assertEqual(png_size(half), (240, 135))
        # A thumbnail of it: the same render shrunk to a width before it is encoded.
        _, headers, thumb = self.viewer.request("GET", "/api/preview.png?light=rim&scale=0.5&width=96")
        self.assertEqual(png_size(thumb), (96, 54))
        self.assertEqual(headers["Server-Timing"], "render;dur=0.00", "the render of the same state reused")
        status, _, data = self.viewer.request("GET", "/api/preview.png?width=1.5")
        self.assertEqual(status, 400, data)

    def test_a_rig_with_the_keys_of_a_long_shot(self):
        rig = json.loads(json.dumps(THREE_LIGHTS))
        for i, light in enumerate(rig["lights"]):
            light["knobs"]["lightBrightness"] = {"keys": {str(1001 + f): 0.5 + (f % 7) * 0.125 + i
                                                          for f in range(0, 2400)}}
        body = json.dumps(rig)
        self.assertGreater(len(body), 64 * 1024)
        self.viewer.json("POST", "/api/rig", rig)
        self.assertEqual(self.viewer.json("GET", "/api/rig")["lights"], rig["lights"])

    def test_every_light_muted_is_black(self):
        rig = self.viewer.json("GET", "/api/rig")
        for light in rig["lights"]:
            light["mute"] = True
        self.viewer.json("POST", "/api/rig", rig)
        _, _, black = self.viewer.request("GET", "/api/preview.png")
        self.assertEqual(set(png_pixels(black)[2]), {0})


def write_png(path, width, height, pixel):
    """An 8-bit RGB PNG of pixel(x, y) -> (r, g, b)."""
    import struct
    import zlib
    rows = b"".join(b"\0" + bytes(c for x in range(width) for c in pixel(x, y)) for y in range(height))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


class NoCamera(unittest.TestCase):
    """P of random values: no camera fits it, so shadows are refused with the command's words."""

    @classmethod
    def setUpClass(cls):
        import random
        import tempfile
        cls.files = tempfile.TemporaryDirectory(prefix="viewer-nocamera-")
        noise = random.Random(26)
        p = os.path.join(cls.files.name, "p.png")
        n = os.path.join(cls.files.name, "n.png")
        write_png(p, 64, 48, lambda x, y: [noise.randrange(1, 256) for _ in range(3)])
        write_png(n, 64, 48, lambda x, y: (128, 128, 255))
        cls.inputs = ("--normal", n, "--P", p)
        cls.viewer = Viewer(inputs=cls.inputs)

    @classmethod
    def tearDownClass(cls):
        cls.viewer.stop()
        cls.files.cleanup()

    def test_the_camera_is_missing_and_shadows_are_refused(self):
        camera = self.viewer.json("GET", "/api/info")["camera"]
        self.assertFalse(camera["found"])
        self.assertIsNone(camera["rows"])
        self.assertTrue(camera["line"].startswith("none: no camera fits P"), camera["line"])
        before = self.viewer.json("GET", "/api/rig")
        rig = {"lights": [{"name": "key", "knobs": {"lightType": "point", "_pointLightPos": [0, 0, 2]},
                           "shadow": True}]}
        status, _, data = self.viewer.request("POST", "/api/rig", rig)
        self.assertEqual(status, 400, data)
        error = json.loads(data)["error"]
        self.assertIn('light "key": shadow: no camera fits P', error)
        self.assertNotIn("\n", error)
        self.assertEqual(self.viewer.json("GET", "/api/rig"), before, "nothing changed")
        # The command refuses the same rig with the same line.
        settings = os.path.join(self.files.name, "rig.json")
        with open(settings, "w") as f:
            json.dump(rig, f)
        result = run_quorlen("render", *self.inputs, "--settings", settings, "-o",
                             os.path.join(self.files.name, "out.exr"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(error, result.stderr)
        # A spot needs no camera, and the server goes on serving.
        rig["lights"][0].pop("shadow")
        rig["lights"][0]["spot"] = {"direction": [0, 0, -1], "angle": 40}
        self.viewer.json("POST", "/api/rig", rig)
        status, _, _ = self.viewer.request("GET", "/api/preview.png")
        self.assertEqual(status, 200)


class OneLightBecomesARig(ViewerTestCase):
    def test_a_rig_posted_to_one_light(self):
        self.assertFalse(self.viewer.json("GET", "/api/lights")["rig"])
        self.assertEqual(self.viewer.json("GET", "/api/lights")["lights"][0]["name"], "")
        self.viewer.json("POST", "/api/knobs", {"lightBrightness": 0.5})
        rig = self.viewer.json("GET", "/api/rig")
        self.assertEqual(rig, {"lightBrightness": 0.5, "lightSpace": "node", "normalEncoding": "signed"})
        self.assertIn("light", self.viewer.json("GET", "/api/panel?light=key", expect=400)["error"])
        rig["lights"] = [{"name": "a"}, {"name": "b", "knobs": {"lightType": "point"}}]
        self.viewer.json("POST", "/api/rig", rig)
        lights = self.viewer.json("GET", "/api/lights")
        self.assertTrue(lights["rig"])
        self.assertEqual(lights["selected"], "a")
        self.assertEqual(self.viewer.knob("lightBrightness", self.viewer.json("GET", "/api/panel?light=b"))["value"], 0.5)
        del rig["lights"]
        self.viewer.json("POST", "/api/rig", rig)
        self.assertFalse(self.viewer.json("GET", "/api/lights")["rig"])
        self.assertEqual(self.viewer.json("GET", "/api/lights")["selected"], "")


KEYED = {
    "_surfaceSpecular": {"keys": {"1001": 0.1, "1003": 0.5}},
    "lights": [
        {"name": "key", "knobs": {"lightType": "point", "_pointLightPos": [0.5, 2, 3],
                                  "lightBrightness": {"keys": {"1001": 1, "1003": 3}, "interpolation": "linear"}}},
        {"name": "fill", "knobs": {"_parallelLightDir": [-1, 0.5, -1], "lightBrightness": 0.3}},
    ],
}


class Shots(unittest.TestCase):
    """A shot: frame patterns and --frames, the frame shown, keyframes evaluated there and keys set there."""

    @classmethod
    def setUpClass(cls):
        import tempfile
        cls.files = tempfile.TemporaryDirectory(prefix="viewer-shot-")
        cls.pattern = make_shot(cls.files.name)
        if not cls.pattern:
            raise unittest.SkipTest("oiiotool is not installed")
        cls.path = rig_file(cls.files.name, KEYED)
        cls.viewer = Viewer("--settings", cls.path, "--frames", "1001-1003", "--frame", "1002",
                            inputs=("--passes", cls.pattern), output="out.####.png")

    @classmethod
    def tearDownClass(cls):
        cls.viewer.stop()
        cls.files.cleanup()

    def setUp(self):
        self.viewer.json("POST", "/api/rig", KEYED)
        self.viewer.json("POST", "/api/frame", {"frame": 1002})

    def render(self, frame, *args):
        out = os.path.join(self.viewer.dir.name, "command.png")
        result = run_quorlen("render", "--passes", self.pattern, "--frames", str(frame), *args, "-o", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out, "rb") as f:
            return png_pixels(f.read())

    def test_the_frame_shown_and_the_shot(self):
        self.assertEqual(self.viewer.json("GET", "/api/frame"),
                         {"frame": 1002, "frames": [1001, 1002, 1003], "first": 1001, "last": 1003})
        for body, mentions in [({"frame": 1004}, "outside the shot"), ({"frame": 1000}, "1001-1003"),
                               ({"frame": "1002"}, "whole number"), ({"frame": 1002.5}, "whole number"), ({}, "frame")]:
            with self.subTest(body=body):
                status, _, data = self.viewer.request("POST", "/api/frame", body)
                self.assertEqual(status, 400, data)
                self.assertIn(mentions, json.loads(data)["error"])
                self.assertEqual(self.viewer.json("GET", "/api/frame")["frame"], 1002, "nothing changed")

    def test_keyframes_are_evaluated_at_the_frame(self):
        key = self.viewer.json("GET", "/api/panel?light=key")
        self.assertAlmostEqual(self.viewer.knob("lightBrightness", key)["value"], 2.0, places=5)
        self.assertAlmostEqual(self.viewer.knob("_surfaceSpecular", key)["value"][0], 0.3, places=5)
        self.viewer.json("POST", "/api/frame", {"frame": 1003})
        key = self.viewer.json("GET", "/api/panel?light=key")
        self.assertEqual(self.viewer.knob("lightBrightness", key)["value"], 3)
        lights = self.viewer.json("GET", "/api/lights")
        self.assertEqual(lights["lights"][0]["animated"], {"lightBrightness": [1001, 1003], "_surfaceSpecular": [1001, 1003]})
        self.assertEqual(lights["lights"][1]["animated"], {"_surfaceSpecular": [1001, 1003]})

    def test_each_frame_reads_its_inputs_and_equals_the_command(self):
        saved = self.viewer.save
        with open(saved, "w") as f:
            json.dump(self.viewer.json("GET", "/api/rig"), f)
        previews = {}
        for frame in (1001, 1002, 1003):
            with self.subTest(frame=frame):
                self.viewer.json("POST", "/api/frame", {"frame": frame})
                _, _, preview = self.viewer.request("GET", "/api/preview.png")
                previews[frame] = png_pixels(preview)
                self.assertEqual(previews[frame], self.render(frame, "--settings", saved))
                status, _, colour = self.viewer.request("GET", "/api/input.png?name=color")
                self.assertEqual(status, 200)
        self.assertNotEqual(previews[1001], previews[1002])
        # The command the page gives renders the frame shown.
        command = shlex.split(self.viewer.json("GET", "/api/command")["command"])
        self.assertEqual(command[command.index("--frames") + 1], "1003")
        # "Render" writes the frame shown through the output's pattern.
        self.viewer.json("POST", "/api/render")
        with open(os.path.join(self.viewer.dir.name, "out.1003.png"), "rb") as f:
            self.assertEqual(png_pixels(f.read()), previews[1003])

    def test_a_change_of_an_animated_knob_sets_a_key(self):
        self.viewer.json("POST", "/api/knobs?light=key", {"lightBrightness": 5, "pointLightRadius": 40})
        self.viewer.json("POST", "/api/knobs?light=fill", {"_surfaceSpecular": [0.9, 0.9, 0.9]})
        rig = self.viewer.json("GET", "/api/rig")
        self.assertEqual(rig["lights"][0]["knobs"]["lightBrightness"],
                         {"keys": {"1001": 1, "1002": 5, "1003": 3}, "interpolation": "linear"})
        self.assertEqual(rig["lights"][0]["knobs"]["pointLightRadius"], 40, "a knob without keys stays constant")
        # A shared animation changed for one light becomes that light's own, with the new key.
        self.assertEqual(rig["lights"][1]["knobs"]["_surfaceSpecular"],
                         {"keys": {"1001": 0.1, "1002": [0.9, 0.9, 0.9], "1003": 0.5}})
        self.assertEqual(rig["_surfaceSpecular"], KEYED["_surfaceSpecular"], "the shared one is unchanged")
        # Elsewhere in the shot the keys interpolate.
        self.viewer.json("POST", "/api/frame", {"frame": 1001})
        self.assertEqual(self.viewer.knob("lightBrightness", self.viewer.json("GET", "/api/panel?light=key"))["value"], 1)


class SavesKeepEverything(unittest.TestCase):
    """Saving over the file that was opened keeps what the page did not change: keyframes, host options,
    masks, and keys the page does not know (a light's shadow and spot options)."""

    def test_save_over_the_opened_file(self):
        import tempfile
        with tempfile.TemporaryDirectory(prefix="viewer-save-") as d:
            original = json.loads(json.dumps(KEYED))
            original["lightSpace"] = "node"
            original["lights"][0]["shadow"] = {"size": 0.1, "samples": 8}
            original["lights"][1]["spot"] = {"direction": [0, -1, 0], "angle": 30, "penumbra": 5}
            original["lights"][1]["mask"] = PASSES + ":G"
            original["lights"][1]["maskInvert"] = True
            original["lights"].append({"name": "rim", "mute": True, "knobs": {"_parallelLightDir": [0, 1, 1]}})
            path = rig_file(d, original)
            viewer = Viewer("--settings", path, "--frame", "1002", "--save", path, paths=False,
                            inputs=("--passes", PASSES))
            try:
                reply = viewer.json("GET", "/api/command")
                self.assertTrue(reply["saved"], "the file opened holds the rig shown")
                self.assertEqual(viewer.json("GET", "/api/frame")["frame"], 1002)
                # One light changed at one frame: an animated knob and a constant one.
                viewer.json("POST", "/api/knobs?light=key", {"lightBrightness": 7, "_lightColor": [1, 0.5, 0.25]})
                self.assertFalse(viewer.json("GET", "/api/command")["saved"])
                self.assertEqual(viewer.json("POST", "/api/save")["path"], path)
                self.assertTrue(viewer.json("GET", "/api/command")["saved"])
                with open(path) as f:
                    saved = json.load(f)
                expected = json.loads(json.dumps(original))
                expected["normalEncoding"] = "signed"
                expected["lights"][0]["knobs"]["lightBrightness"]["keys"]["1002"] = 7
                expected["lights"][0]["knobs"]["_lightColor"] = [1, 0.5, 0.25]
                self.assertEqual(saved, expected)
                # And the command reads it back as the page shows it.
                result = run_quorlen("knobs", "--json", "--settings", path)
                self.assertEqual(result.returncode, 0, result.stderr)
            finally:
                viewer.stop()


if __name__ == "__main__":
    unittest.main()
