"""An installed copy imports with Debian's python3 and finds its own modules, not the build tree's."""

import os
import subprocess
import sys

import pytest

BUILD = os.environ.get("QUORLEN_TEST_BUILD_DIR")
CMAKE = os.environ.get("QUORLEN_TEST_CMAKE", "cmake")


@pytest.mark.skipif(not BUILD, reason="run by ctest, which names the build directory")
def test_installed_package_finds_the_installed_modules(tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run([CMAKE, "--install", BUILD, "--prefix", str(prefix)], check=True, capture_output=True)
    script = (
        "import numpy as np, quorlen\n"
        "node = quorlen.Node()\n"
        "print(quorlen.__file__)\n"
        "print(node.plugin)\n"
        "quorlen.render_files('out.png', normal='n.exr')\n"
        "print(quorlen.read('out.png').shape)\n"
    )
    sys.path.insert(0, os.path.dirname(__file__))
    from conftest import write_exr
    import numpy as np
    write_exr(tmp_path / "n.exr", {"": np.ones((4, 6, 3), np.float32)})
    env = {k: v for k, v in os.environ.items() if k not in ("QUORLEN_PLUGIN_PATH", "QUORLEN_IMAGE_MODULE")}
    env["PYTHONPATH"] = str(prefix / "lib" / "python3" / "dist-packages")
    shown = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, env=env, capture_output=True,
                           text=True)
    assert shown.returncode == 0, shown.stderr
    package, plugin, shape = shown.stdout.splitlines()
    assert package.startswith(str(prefix)) and plugin.startswith(str(prefix))
    assert plugin.endswith("/plugins/Quorlen.so") and shape == "(4, 6, 3)"
