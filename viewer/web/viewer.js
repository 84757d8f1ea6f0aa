// The page's start-up: its parts (the scripts loaded before this one) built and wired to the controls.
//
// The viewer's page: the panel built from the node's own description, a live preview that always shows the
// latest change, and lights placed by clicking. Everything goes through the documented HTTP interface.
'use strict';

function button(id, path, done) {
  $(id).addEventListener('click', async () => {
    $(id).disabled = true;
    try {
      done(await post(path, {}));
    } catch (e) {
      message(e.message, 'error');
    } finally {
      $(id).disabled = false;
    }
  });
}

async function start() {
  try {
    state.info = await api('/api/info');
    showCamera(state.info);
    await refreshLights();
    const panel = await api(`/api/panel?${lightQuery()}`);
    state.panel = panel;
    buildPanel(panel);
    buildViews(state.info);
    setUpLights();
    setUpShot();
    setUpHistory();
    setUpCompare(state.info);
    showFrame(await api('/api/frame'));
    showLights(state.lights);
  } catch (e) {
    message(e.message, 'error');
    return;
  }
  const info = state.info;
  showDistance(info);
  $('distance').addEventListener('change', () => (state.distanceEdited = true));
  $('size').textContent = `${info.width}×${info.height} · ${info.light_space} space`;
  $('save').disabled = !info.save;
  $('save').title = info.save ? `write the settings to ${info.save}` : 'start quorlen view with --save FILE.json';
  $('render').disabled = !info.output;
  $('render').title = info.output ? `render the full frame to ${info.output}` : 'start quorlen view with -o OUT';
  button('save', '/api/save', (r) => message(`saved ${r.path}`, 'ok'));
  $('save').title = info.save ? `write the settings (the whole rig) to ${info.save}` : $('save').title;
  button('render', '/api/render', (r) => message(`rendered ${r.path} in ${r.render_ms.toFixed(0)} ms`, 'ok'));
  $('copy').addEventListener('click', copyCommand);
  $('command-close').addEventListener('click', () => ($('command-box').hidden = true));
  $('zoom-fit').addEventListener('click', () => setZoom('fit'));
  $('zoom-1').addEventListener('click', () => setZoom(1));
  $('zoom-in').addEventListener('click', () => stepZoom(1));
  $('zoom-out').addEventListener('click', () => stepZoom(-1));

  const exposureChanged = (fromSlider) => {
    if (fromSlider) $('exposure-value').value = $('exposure').value;
    else $('exposure').value = $('exposure-value').value;
    schedulePreview();
  };
  $('exposure').addEventListener('input', () => exposureChanged(true));
  $('exposure-value').addEventListener('change', () => exposureChanged(false));
  try {
    showColour(await api('/api/colour'));
  } catch (e) {
    message(e.message, 'error');
  }
  $('display').addEventListener('change', () => chooseColour({ display: $('display').value }));
  $('view').addEventListener('change', () => chooseColour({ view: $('view').value }));
  $('look').addEventListener('change', () => chooseColour({ look: $('look').value }));
  $('gamma').addEventListener('change', () => chooseColour({ gamma: Number($('gamma').value) }));

  for (const img of [$('preview'), $('alone'), $('input-view')]) {
    img.addEventListener('mousemove', (e) => {
      const p = pixelAt(e);
      if (p) hover(p);
    });
    img.addEventListener('click', (e) => {
      const p = pixelAt(e);
      if (p) pick(p);
    });
  }
  window.addEventListener('resize', fitImages);
  new ResizeObserver(fitImages).observe($('frame'));
  fitImages();
  schedulePreview();
}

document.addEventListener('DOMContentLoaded', start);
