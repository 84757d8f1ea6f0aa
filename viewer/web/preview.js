// The preview, one request at a time and always of the state as it is now, and the views of the inputs.
'use strict';

function exposure() {
  const v = Number($('exposure-value').value);
  return isFinite(v) ? v : 0;
}

function previewScale() {
  if (!state.dragging || !state.info) return 1;
  // While dragging, about 480 pixels across keep the preview moving.
  return Math.min(1, Math.max(0.1, 480 / state.info.width));
}

// A drag ends when the control is let go (not when it pauses): its changes were one step of the history.
function endGesture() {
  state.gesture = null;
  settle();
}

function settle() {
  state.dragging = false;
  schedulePreview();
}

// The selected light alone is rendered when it is shown: as the view, or beside the beauty.
function aloneShown() {
  return state.view === 'alone' || (state.view === 'result' && state.beside);
}

function loadImage(img, url) {
  return new Promise((resolve) => {
    img.onload = () => resolve(true);
    img.onerror = () => resolve(false);
    img.src = url;
  });
}

async function schedulePreview() {
  clearTimeout(state.settleTimer);
  if (state.dragging) state.settleTimer = setTimeout(settle, 250);
  if (state.previewBusy) {
    state.previewAgain = true;
    return;
  }
  state.previewBusy = true;
  state.previewAgain = false;
  const common = `scale=${previewScale()}&exposure=${exposure()}`;
  const started = performance.now();
  let ok = true;
  let timed = false;
  if (state.view !== 'alone') {
    const url = `/api/preview.png?${common}&n=${++state.previewCount}`;
    ok = await loadImage($('preview'), url);
    if (ok) {
      showTiming(url, performance.now() - started);
      timed = true;
      const thumbnail = $('result-thumbnail');
      if (thumbnail) thumbnail.getContext('2d').drawImage($('preview'), 0, 0, thumbnail.width, thumbnail.height);
    }
  }
  if (ok && !aloneShown() && state.lights && state.lights.rig && !state.dragging) {
    // The thumbnail of the selected light alone: its layer of the beauty just rendered, not rendered again.
    const thumbnail = document.querySelector('.alone-thumbnail');
    const layer = new Image();
    layer.onload = () => thumbnail && thumbnail.getContext('2d').drawImage(layer, 0, 0, thumbnail.width, thumbnail.height);
    // Shrunk by the server: the layer is encoded at the thumbnail's size.
    if (thumbnail) layer.src = `/api/preview.png?${common}&${lightQuery()}&width=${thumbnail.width}&n=${++state.previewCount}`;
  }
  if (ok && aloneShown()) {
    const url = `/api/preview.png?${common}&${lightQuery()}&n=${++state.previewCount}`;
    ok = await loadImage($('alone'), url);
    if (ok && !timed) showTiming(url, performance.now() - started);
    const thumbnail = document.querySelector('.alone-thumbnail');
    if (ok && thumbnail) thumbnail.getContext('2d').drawImage($('alone'), 0, 0, thumbnail.width, thumbnail.height);
  }
  state.previewBusy = false;
  showCompare();
  if (!ok) message('the preview could not be rendered', 'error');
  if (state.view === 'color') showView('color');
  if (state.previewAgain) schedulePreview();
}

function showTiming(url, total) {
  let render = null;
  const entries = performance.getEntriesByName(new URL(url, location.href).href);
  const last = entries[entries.length - 1];
  if (last && last.serverTiming)
    for (const t of last.serverTiming) if (t.name === 'render') render = t.duration;
  // A preview of a state rendered before (only the exposure changed) took no render: keep the last time.
  if (render) state.renderMs = render;
  const scale = previewScale();
  $('timing').textContent =
    (state.renderMs !== undefined ? `render ${state.renderMs.toFixed(1)} ms · ` : '') +
    `shown in ${total.toFixed(0)} ms` + (scale < 1 ? ` · ${Math.round(scale * 100)}%` : '');
}

// ---- views of the inputs beside the result ---------------------------------------------------------------

function showView(name) {
  const changed = state.view !== name;
  state.view = name;
  const input = $('input-view');
  const isInput = name !== 'result' && name !== 'alone';
  $('beauty-figure').hidden = name !== 'result';
  $('alone-figure').hidden = !aloneShown();
  $('frame').classList.toggle('split', name === 'result' && state.beside);
  input.hidden = !isInput;
  if (isInput) {
    // The colour choice's count in the address, so a new view is fetched rather than taken from the cache.
    input.src = `/api/input.png?name=${name}&exposure=${name === 'color' ? exposure() : 0}&c=${state.colourCount || 0}`;
  }
  for (const b of $('views').querySelectorAll('button')) b.classList.toggle('active', b.dataset.view === name);
  fitImages();
  if ($('compare-with')) showCompare();
  if (changed && !isInput) schedulePreview();
}

function buildViews(info) {
  const nav = $('views');
  const names = ['result', 'alone'].concat(info.inputs);
  for (const name of names) {
    const b = document.createElement('button');
    b.type = 'button';
    b.dataset.view = name;
    // The result's thumbnail is drawn from the preview whenever a full one arrives.
    const img = document.createElement(name === 'result' || name === 'alone' ? 'canvas' : 'img');
    if (name === 'alone') {
      img.height = 54;
      img.width = Math.max(1, Math.round((54 * info.width) / info.height));
      img.className = 'alone-thumbnail';
    } else if (name === 'result') {
      img.id = 'result-thumbnail';
      img.height = 54;
      img.width = Math.max(1, Math.round((54 * info.width) / info.height));
    } else {
      img.alt = name;
      img.src = `/api/input.png?name=${name}&scale=0.125`;
    }
    const caption = document.createElement('span');
    caption.textContent = name === 'alone' ? 'light alone' : name;
    if (name === 'alone') caption.id = 'alone-view-caption';
    b.append(img, caption);
    b.addEventListener('click', () => showView(name));
    nav.append(b);
  }
  const beside = document.createElement('label');
  beside.className = 'inline beside';
  beside.title = 'Show the selected light alone beside the beauty';
  const check = document.createElement('input');
  check.type = 'checkbox';
  check.id = 'beside';
  check.addEventListener('change', () => {
    state.beside = check.checked;
    showView(state.view === 'alone' ? 'result' : state.view);
    schedulePreview();
  });
  beside.append(check, 'light beside beauty');
  nav.append(beside);
  showView('result');
}
