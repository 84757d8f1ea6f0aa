"""From a knob change on the viewer's page to the new preview painted, in headless Chromium.

Starts `quorlen view` on the demo passes resampled to 960 x 540, opens its page, and times changes of
light brightness made through the page's own change handler: from the call to the first animation frame
after the new full-resolution preview has loaded. Then a thousand changes sent as fast as possible, and the
time until the page shows the last one. Not a test; run by hand:

  /usr/bin/python3 bench/viewer_paint_bench.py [build/bin/quorlen]
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

QUORLEN = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/bin/quorlen")
RUNS = 30

# Resolves with the milliseconds from the change to the paint after the preview it caused has loaded.
TIMED_CHANGE = """
const [name, value, done] = arguments;
const img = document.getElementById('preview');
const before = state.previewCount;
const started = performance.now();
const loaded = () => {
  if (state.previewCount <= before || state.previewAgain || state.sending || state.previewBusy) return;
  img.removeEventListener('load', loaded);
  requestAnimationFrame(() => done(performance.now() - started));
};
img.addEventListener('load', loaded);
change(name, value, false);
"""

# A thousand changes in one go; resolves when the page has painted the preview of the last value.
FLOOD = """
const [count, done] = arguments;
const img = document.getElementById('preview');
const started = performance.now();
const last = 1 + (count - 1) / count;
const loaded = () => {
  if (state.previewAgain || state.sending || state.previewBusy || Object.keys(state.pending).length) return;
  img.removeEventListener('load', loaded);
  requestAnimationFrame(async () => {
    const panel = await (await fetch('/api/panel')).json();
    const knob = (panel.knobs || panel).find((k) => k.name === 'lightBrightness');
    done([performance.now() - started, knob ? knob.value : null, last]);
  });
};
img.addEventListener('load', loaded);
for (let i = 0; i < count; ++i) change('lightBrightness', 1 + i / count, false);
"""


def main():
    with tempfile.TemporaryDirectory(prefix="viewer-bench-") as scratch:
        subprocess.run([QUORLEN, "demo", "-o", scratch], check=True, capture_output=True)
        passes = os.path.join(scratch, "passes_960.exr")
        # Nearest samples keep normals of unit length.
        subprocess.run(["oiiotool", os.path.join(scratch, "demo_passes.exr"), "--resample", "960x540",
                        "-o", passes], check=True)
        view = subprocess.Popen([QUORLEN, "view", "--passes", passes, "--no-browser"], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
        url = re.search(r"(http://\S+)", view.stdout.readline()).group(1)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for arg in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1600,900"]:
            options.add_argument(arg)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        try:
            driver.set_script_timeout(60)
            driver.get(url)
            WebDriverWait(driver, 30).until(
                lambda d: d.execute_script("return state.previewCount > 0 && !state.previewBusy"))
            for label, setup in [("no noise", {}),
                                 ("turbulence1", {"surfaceNoise": True, "surfaceNoiseType": "turbulence1"})]:
                for name, value in setup.items():
                    driver.execute_async_script(TIMED_CHANGE, name, value)
                times = [driver.execute_async_script(TIMED_CHANGE, "lightBrightness", 1 + (i % 2) * 0.5)
                         for i in range(RUNS)]
                print(f"{label:12s} knob change to painted preview, 960x540: median {statistics.median(times):.1f} ms,"
                      f" 90th percentile {sorted(times)[int(RUNS * 0.9) - 1]:.1f} ms, {RUNS} changes")
            took, shown, last = driver.execute_async_script(FLOOD, 1000)
            print(f"1000 changes at once (turbulence1): last one painted after {took:.0f} ms"
                  f" (brightness shown {shown}, last sent {last})")
        finally:
            driver.quit()
            view.terminate()
            view.wait()


if __name__ == "__main__":
    main()
