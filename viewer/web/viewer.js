// The viewer's page: the panel built from the node's own description, a live preview that always shows the
// latest change, and lights placed by clicking. Everything goes through the documented HTTP interface.
'use strict';

const $ = (id) => document.getElementById(id);
const state = {
  info: null,
  panel: null,
  view: 'result',       // or an input's name
  pending: {},          // knob values not sent yet; a later change of a knob replaces an earlier one
  sending: false,
  previewBusy: false,
  previewAgain: false,
  dragging: false,
  settleTimer: 0,
  previewCount: 0,
  hoverBusy: false,
  hoverNext: null,
  lights: null,         // GET /api/lights: the list, the selected light, the soloed ones
  rig: null,            // GET /api/rig: the settings in the file's form
  beside: false,        // the selected light alone beside the beauty
  zoom: 'fit',          // or whole screen pixels an image pixel
  undo: [],             // snapshots ({rig, solo} as JSON) to go back to, the latest last
  redo: [],
  gesture: null,        // the control being dragged: its changes are one step
};

const selected = () => (state.lights ? state.lights.selected : '');
const lightQuery = () => `light=${encodeURIComponent(selected())}`;

function message(text, kind) {
  const m = $('message');
  m.textContent = text || '';
  m.className = kind || '';
}

async function api(path, options) {
  const response = await fetch(path, Object.assign({ credentials: 'same-origin' }, options || {}));
  const type = response.headers.get('Content-Type') || '';
  const body = type.startsWith('application/json') ? await response.json() : null;
  if (!response.ok) throw new Error((body && body.error) || `${response.status} ${response.statusText}`);
  return body;
}

const post = (path, body) =>
  api(path, { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body || {}) });

// ---- the panel -------------------------------------------------------------------------------------------

function numberText(v) {
  if (typeof v !== 'number' || !isFinite(v)) return String(v);
  return String(Math.round(v * 1e5) / 1e5);
}

function linearToSrgbByte(v) {
  v = Math.min(1, Math.max(0, v || 0));
  const s = v <= 0.0031308 ? 12.92 * v : 1.055 * Math.pow(v, 1 / 2.4) - 0.055;
  return Math.round(s * 255);
}
function srgbByteToLinear(b) {
  const s = b / 255;
  return s <= 0.04045 ? s / 12.92 : Math.pow((s + 0.055) / 1.055, 2.4);
}

function change(name, value, dragging) {
  // A drag of one control is one step of the history; any other change is a step of its own.
  const gesture = dragging ? `${selected()}/${name}` : null;
  if (!gesture || gesture !== state.gesture) remember();
  state.gesture = gesture;
  state.pending[name] = value;
  state.dragging = !!dragging;
  sendKnobs();
}

async function sendKnobs() {
  if (state.sending || Object.keys(state.pending).length === 0) return;
  const body = state.pending;
  state.pending = {};
  state.sending = true;
  try {
    const panel = await post(`/api/knobs?${lightQuery()}`, body);
    const keyed = Object.keys(body).filter((k) => animatedHere()[k]);
    if (keyed.length) {
      showLights(await api('/api/lights'));
      message(`key set at frame ${state.frame.frame}: ${keyed.join(', ')}`, 'ok');
    } else {
      message('');
    }
    updatePanel(panel);
  } catch (e) {
    message(e.message, 'error');
    refreshPanel();
  } finally {
    state.sending = false;
  }
  if (Object.keys(state.pending).length) sendKnobs();
  else {
    schedulePreview();
    await refreshCurrent();
  }
}

function makeNumber(value, range, onChange) {
  const field = document.createElement('input');
  field.type = 'number';
  field.step = 'any';
  field.value = numberText(value);
  field.addEventListener('change', () => {
    const v = Number(field.value);
    if (field.value.trim() !== '' && isFinite(v)) onChange(v, false);
  });
  return field;
}

function floatControl(knob, box) {
  const row = document.createElement('div');
  row.className = 'row';
  const [lo, hi] = knob.range || [0, 1];
  const slider = document.createElement('input');
  slider.type = 'range';
  slider.min = lo;
  slider.max = hi;
  slider.step = (hi - lo) / 1000 || 'any';
  slider.value = knob.value;
  const field = makeNumber(knob.value, knob.range, (v) => {
    slider.value = v;
    change(knob.name, v, false);
  });
  slider.addEventListener('input', () => {
    field.value = numberText(Number(slider.value));
    change(knob.name, Number(slider.value), true);
  });
  slider.addEventListener('change', () => endGesture());
  row.append(slider, field);
  box.append(row);
  return (k) => {
    if (document.activeElement !== slider) slider.value = k.value;
    if (document.activeElement !== field) field.value = numberText(k.value);
  };
}

function tripleControl(knob, box, colour) {
  const row = document.createElement('div');
  row.className = 'row triple';
  const fields = [0, 1, 2].map((i) =>
    makeNumber(knob.value[i], null, (v) => {
      const value = fields.map((f) => Number(f.value));
      value[i] = v;
      change(knob.name, value, false);
    }));
  row.append(...fields);
  let swatch = null;
  if (colour) {
    swatch = document.createElement('input');
    swatch.type = 'color';
    swatch.title = 'pick a colour (shown clamped to 0..1, in sRGB)';
    swatch.addEventListener('input', () => {
      const hex = swatch.value;
      const value = [1, 3, 5].map((p) => srgbByteToLinear(parseInt(hex.substr(p, 2), 16)));
      fields.forEach((f, i) => (f.value = numberText(value[i])));
      change(knob.name, value, true);
    });
    swatch.addEventListener('change', () => endGesture());
    row.append(swatch);
  }
  box.append(row);
  return (k) => {
    fields.forEach((f, i) => {
      if (document.activeElement !== f) f.value = numberText(k.value[i]);
    });
    if (swatch && document.activeElement !== swatch)
      swatch.value = '#' + k.value.map((v) => linearToSrgbByte(v).toString(16).padStart(2, '0')).join('');
  };
}

function choiceControl(knob, box) {
  const select = document.createElement('select');
  knob.entries.forEach((entry, i) => {
    const option = document.createElement('option');
    option.value = String(i);
    option.textContent = entry;
    select.append(option);
  });
  select.value = String(knob.value);
  select.addEventListener('change', () => change(knob.name, knob.entries[Number(select.value)], false));
  box.append(select);
  return (k) => (select.value = String(k.value));
}

function bitsControl(knob, box) {
  const bits = document.createElement('div');
  bits.className = 'bits';
  const boxes = knob.entries.map((entry, i) => {
    const label = document.createElement('label');
    const check = document.createElement('input');
    check.type = 'checkbox';
    check.dataset.bit = String(i);
    check.addEventListener('change', () => {
      let mask = 0;
      boxes.forEach((b, j) => { if (b.checked) mask |= 1 << j; });
      change(knob.name, mask, false);
    });
    label.append(check, entry);
    bits.append(label);
    return check;
  });
  box.append(bits);
  const update = (k) => boxes.forEach((b, j) => (b.checked = !!(k.value & (1 << j))));
  update(knob);
  return update;
}

function boolControl(knob, box) {
  const check = document.createElement('input');
  check.type = 'checkbox';
  check.checked = !!knob.value;
  check.addEventListener('change', () => change(knob.name, check.checked, false));
  box.append(check);
  return (k) => (check.checked = !!k.value);
}

// Panel texts carry <b> and <i>; those two are shown as such and every other character as text.
function richText(element, text) {
  let target = element;
  for (const part of text.split(/(<\/?[bi]>)/)) {
    if (/^<[bi]>$/.test(part)) {
      const inner = document.createElement(part[1]);
      element.append(inner);
      target = inner;
    } else if (/^<\/[bi]>$/.test(part)) {
      target = element;
    } else if (part) {
      target.append(part);
    }
  }
}

const updaters = new Map();

function buildPanel(panel) {
  const root = $('knobs');
  root.textContent = '';
  updaters.clear();
  for (const knob of panel.knobs) {
    if (knob.kind === 'divider') {
      const hr = document.createElement('hr');
      hr.className = 'divider';
      root.append(hr);
      continue;
    }
    if (knob.kind === 'text') {
      const p = document.createElement('p');
      p.className = 'note';
      richText(p, knob.text || knob.label || '');
      root.append(p);
      continue;
    }
    if (!knob.name || knob.value === null) continue;
    const box = document.createElement('fieldset');
    box.className = 'knob';
    box.dataset.knob = knob.name;
    box.title = knob.name;
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = knob.label || knob.name;
    const mark = document.createElement('button');
    mark.type = 'button';
    mark.className = 'keymark';
    mark.hidden = true;
    mark.addEventListener('click', () => deleteKey(knob.name));
    name.append(mark);
    box.append(name);
    let update;
    if (knob.kind === 'enumeration') update = choiceControl(knob, box);
    else if (knob.kind === 'bitmask') update = bitsControl(knob, box);
    else if (knob.kind === 'checkbox') update = boolControl(knob, box);
    else if (knob.kind === 'color') update = tripleControl(knob, box, true);
    else if (Array.isArray(knob.value)) update = tripleControl(knob, box, false);
    else update = floatControl(knob, box);
    update(knob);
    box.disabled = !knob.available;
    root.append(box);
    updaters.set(knob.name, (k) => {
      update(k);
      box.disabled = !k.available;
    });
  }
}

function updatePanel(panel) {
  state.panel = panel;
  for (const knob of panel.knobs) {
    const update = knob.name && updaters.get(knob.name);
    if (update) update(knob);
  }
  markKeys();
  showOptions();
  showMarker();
}

async function refreshPanel() {
  try {
    updatePanel(await api(`/api/panel?${lightQuery()}`));
  } catch (e) {
    message(e.message, 'error');
  }
}

// ---- the preview: one request at a time, and always of the state as it is now --------------------------

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

// ---- the colour config's display, view and look ---------------------------------------------------------

function fillSelect(select, names, chosen, label) {
  select.replaceChildren(...names.map((name) => {
    const option = document.createElement('option');
    option.value = name;
    option.textContent = label ? label(name) : name;
    option.selected = name === chosen;
    return option;
  }));
}

function showColour(colour) {
  state.colour = colour;
  state.colourCount = (state.colourCount || 0) + 1;
  fillSelect($('display'), Object.keys(colour.displays), colour.display);
  fillSelect($('view'), colour.displays[colour.display], colour.view);
  fillSelect($('look'), [''].concat(colour.looks), colour.look, (name) => name || '(none)');
  $('gamma').value = colour.gamma;
  for (const id of ['display', 'view', 'look'])
    $(id).parentElement.title = `colour config: ${colour.config} (working space ${colour.working_space})`;
}

async function chooseColour(choice) {
  try {
    showColour(await post('/api/colour', choice));
    schedulePreview();
  } catch (e) {
    message(e.message, 'error');
    showColour(state.colour);
  }
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

// ---- the image's size on the page, and pixels under the pointer ------------------------------------------

// The zoom: 'fit' (the window; a whole zoom when the image is smaller than it, so that its pixels stay
// squares of equal size) or a whole number of screen pixels a pixel (1 is 1:1). Sizes are in CSS pixels,
// so on a high-density screen 1:1 is one image pixel to one device pixel.
function zoomFactor(frame) {
  const w = state.info.width, h = state.info.height;
  const dpr = window.devicePixelRatio || 1;
  if (state.zoom !== 'fit') return state.zoom / dpr;
  // Fractional sizes, as the layout has them (clientWidth rounds).
  const box = frame.getBoundingClientRect();
  const W = Math.min(box.width, frame.clientWidth), H = Math.min(box.height, frame.clientHeight);
  let k = Math.min(W / w, H / h);
  if (frame.classList.contains('split')) {
    // Two images and their captions: side by side, or one above the other when that shows them larger.
    const caption = 18, gap = 8;
    const across = Math.min((W - gap) / 2 / w, (H - caption) / h);
    const stacked = Math.min(W / w, (H - gap - 2 * caption) / 2 / h);
    frame.classList.toggle('stacked', stacked > across);
    k = Math.max(across, stacked);
  }
  const devicePixels = k * dpr;
  return Math.max(0.01, devicePixels >= 1 ? Math.floor(devicePixels) / dpr : k);
}

function fitImages() {
  if (!state.info) return;
  const frame = $('frame');
  const w = state.info.width, h = state.info.height;
  if (state.zoom !== 'fit') frame.classList.toggle('stacked', false);
  const k = zoomFactor(frame);
  const devicePixels = k * (window.devicePixelRatio || 1);
  frame.classList.toggle('enlarged', devicePixels > 1.0001);
  for (const img of [$('preview'), $('alone'), $('input-view'), $('compare')]) {
    img.style.width = `${Math.max(1, Math.floor(w * k + 1e-6))}px`;
    img.style.height = `${Math.max(1, Math.floor(h * k + 1e-6))}px`;
  }
  $('zoom-level').textContent = `${Math.round(devicePixels * 100)}%${state.zoom === 'fit' ? ' (fit)' : ''}`;
}

// A new zoom keeps the point at the middle of the view where it was.
// The click distance: a tenth of the scene's size, until it is edited.
function showDistance(info) {
  if (state.distanceEdited) return;
  $('distance').value = info.distance;
  $('distance').parentElement.title =
    `How far from the clicked surface the point light is placed, in P's units (default ${info.distance}: ` +
    'a tenth of the diagonal of the box holding the middle 90% of the surface positions)';
}

function setZoom(zoom) {
  const frame = $('frame');
  const cx = (frame.scrollLeft + frame.clientWidth / 2) / Math.max(1, frame.scrollWidth);
  const cy = (frame.scrollTop + frame.clientHeight / 2) / Math.max(1, frame.scrollHeight);
  state.zoom = zoom;
  fitImages();
  frame.scrollLeft = cx * frame.scrollWidth - frame.clientWidth / 2;
  frame.scrollTop = cy * frame.scrollHeight - frame.clientHeight / 2;
}

function stepZoom(by) {
  const dpr = window.devicePixelRatio || 1;
  const now = state.zoom === 'fit' ? Math.max(1, Math.round(zoomFactor($('frame')) * dpr)) : state.zoom;
  setZoom(Math.min(32, Math.max(1, now + by)));
}

function pixelAt(event) {
  const img = event.currentTarget;
  const r = img.getBoundingClientRect();
  const x = Math.floor(((event.clientX - r.left) / r.width) * state.info.width);
  const y = Math.floor(((event.clientY - r.top) / r.height) * state.info.height);
  if (x < 0 || y < 0 || x >= state.info.width || y >= state.info.height) return null;
  return { x, y };
}

const triple = (v) => v.map((c) => numberText(c)).join(', ');

async function hover(p) {
  if (state.hoverBusy) {
    state.hoverNext = p;
    return;
  }
  state.hoverBusy = true;
  try {
    const s = await api(`/api/pixel?x=${p.x}&y=${p.y}`);
    $('hover').textContent = s.surface
      ? `${p.x}, ${p.y}   P ${triple(s.P)}   N ${triple(s.N)}`
      : `${p.x}, ${p.y}   no surface`;
  } catch (e) {
    $('hover').textContent = '';
  }
  state.hoverBusy = false;
  if (state.hoverNext) {
    const next = state.hoverNext;
    state.hoverNext = null;
    hover(next);
  }
}

async function pick(p) {
  const distance = Number($('distance').value);
  remember();
  try {
    const r = await post('/api/pick',
      { x: p.x, y: p.y, distance: isFinite(distance) ? distance : 1, light: selected() });
    if (Object.keys(r.set).some((k) => animatedHere()[k])) showLights(await api('/api/lights'));
    refreshCurrent();
    updatePanel(r.panel);
    const [name, value] = Object.entries(r.set)[0];
    message(`${state.lights && state.lights.rig ? selected() + ': ' : ''}${name} = ${triple(value)}`, 'ok');
    state.dragging = false;
    schedulePreview();
  } catch (e) {
    message(e.message, 'error');
  }
}

// ---- the lights: a list to select, mute, solo and reorder; add, duplicate, rename, delete ------------------

const NAME_RULE = /^[A-Za-z][A-Za-z0-9_]*$/;

function lightLabel(name) {
  return name || 'light';
}

function uniqueName(stem) {
  const taken = new Set(state.lights.lights.map((l) => l.name));
  const base = stem.replace(/\d+$/, '') || 'light';
  for (let i = 1; ; ++i) if (!taken.has(`${base}${i}`)) return `${base}${i}`;
}

function showLights(lights) {
  state.lights = lights;
  const list = $('light-list');
  list.textContent = '';
  const count = lights.lights.length;
  lights.lights.forEach((light, i) => {
    const li = document.createElement('li');
    li.className = 'light';
    li.dataset.light = light.name;
    li.classList.toggle('selected', light.name === lights.selected);
    li.classList.toggle('muted', light.mute);
    const solo = lights.solo.includes(light.name);
    li.classList.toggle('soloed', solo);
    li.classList.toggle('silent', lights.solo.length > 0 && !solo);

    const name = document.createElement('button');
    name.type = 'button';
    name.className = 'select';
    name.textContent = lightLabel(light.name);
    name.title = lights.rig ? `select ${light.name}: its knobs below, clicks on the image place it`
                            : 'one light: these settings have no lights list (Add or rename to make a rig)';
    name.addEventListener('click', () => selectLight(light.name));

    const mute = document.createElement('label');
    mute.className = 'flag';
    mute.title = 'mute: leave this light out of the beauty (saved in the file)';
    const muteBox = document.createElement('input');
    muteBox.type = 'checkbox';
    muteBox.className = 'mute';
    muteBox.checked = light.mute;
    muteBox.disabled = !lights.rig;
    muteBox.addEventListener('change', () => editRig((rig) => {
      const entry = rig.lights[i];
      if (muteBox.checked) entry.mute = true;
      else delete entry.mute;
    }, `${light.name} ${muteBox.checked ? 'muted' : 'unmuted'}`));
    mute.append(muteBox, 'mute');

    const soloButton = document.createElement('button');
    soloButton.type = 'button';
    soloButton.className = 'solo';
    soloButton.textContent = 'S';
    soloButton.title = 'solo: show only the soloed lights in the beauty (a view choice, as render --solo)';
    soloButton.setAttribute('aria-pressed', String(solo));
    soloButton.disabled = !lights.rig;
    soloButton.addEventListener('click', () => {
      const next = solo ? lights.solo.filter((n) => n !== light.name) : lights.solo.concat([light.name]);
      chooseLights({ solo: next });
    });

    const up = document.createElement('button');
    up.type = 'button';
    up.className = 'up';
    up.textContent = '↑';
    up.title = 'move up: lights are added into the beauty in this order';
    up.disabled = i === 0;
    up.addEventListener('click', () => moveLight(i, -1));
    const down = document.createElement('button');
    down.type = 'button';
    down.className = 'down';
    down.textContent = '↓';
    down.title = 'move down';
    down.disabled = i === count - 1;
    down.addEventListener('click', () => moveLight(i, 1));

    li.append(name, mute, soloButton, up, down);
    const options = light.options || [];
    const shown = [];
    if (options.includes('shadow')) shown.push('casts shadows');
    if (options.includes('spot')) shown.push('spot');
    const others = options.filter((o) => o !== 'shadow' && o !== 'spot');
    if (others.length) shown.push(`${others.join(', ')}: as the file gives them (no controls here)`);
    if (shown.length) {
      const kept = document.createElement('div');
      kept.className = 'mask dim';
      kept.textContent = shown.join(' · ');
      li.append(kept);
    }
    if (light.mask) {
      const mask = document.createElement('div');
      mask.className = 'mask dim mono';
      mask.textContent = `mask ${light.mask}${light.maskInvert ? ' (inverted)' : ''}`;
      li.append(mask);
    }
    list.append(li);
  });
  // One light alone is the beauty: the views of it are offered for a rig.
  const aloneButton = $('views').querySelector('button[data-view="alone"]');
  if (aloneButton) aloneButton.hidden = !lights.rig;
  const besideLabel = $('views').querySelector('.beside');
  if (besideLabel) besideLabel.hidden = !lights.rig;
  if (!lights.rig && (state.view === 'alone' || state.beside)) {
    state.beside = false;
    if ($('beside')) $('beside').checked = false;
    showView(state.view === 'alone' ? 'result' : state.view);
  }
  $('rig-kind').textContent = lights.rig ? `${count} in the rig` : 'one light (no lights list)';
  $('light-delete').disabled = !lights.rig || count < 2;
  const field = $('light-name');
  if (document.activeElement !== field) field.value = lights.selected;
  field.placeholder = lights.rig ? '' : 'to make a rig';
  $('knobs-title').textContent = lights.rig ? `Knobs of ${lights.selected}` : 'Knobs';
  markKeys();
  $('alone-caption').textContent = `${lightLabel(lights.selected)} alone`;
  const viewCaption = $('alone-view-caption');
  if (viewCaption) viewCaption.textContent = `${lightLabel(lights.selected)} alone`;
  showOptions();
}

// ---- a light's shadow and spot: kept in the rig's file form and sent whole, like every rig edit ---------

// The defaults a shadow option takes when unset, as the render documents them.
const SHADOW_OPTIONS = [
  { key: 'size', label: 'size', point: true, hint: '0 (hard)', min: 0 },
  { key: 'angle', label: 'angle °', parallel: true, hint: '0 (hard)', min: 0, max: 90 },
  { key: 'samples', label: 'samples', hint: '16', min: 1, max: 256, step: 1 },
  { key: 'thickness', label: 'thickness', hint: '10% of depth', min: 0 },
  { key: 'bias', label: 'bias', hint: '0.2% of depth', min: 0 },
  { key: 'maxDistance', label: 'max distance', hintPoint: 'to the light', hintParallel: "to the frame's edge", min: 0 },
];

function selectedEntry(rig) {
  if (!rig) return null;
  if (!Array.isArray(rig.lights)) return rig;
  return rig.lights.find((l) => l.name === selected()) || null;
}

function isParallel() {
  const knob = state.panel && state.panel.knobs.find((k) => k.name === 'lightType');
  if (!knob) return false;
  const word = Array.isArray(knob.entries) ? knob.entries[knob.value] : knob.value;
  return String(word) === 'parallel';
}

// Edits the selected light's entry (a view of one light becomes a rig of it, as a name does).
function editOptions(edit, done) {
  editRig((rig) => {
    const lights = asRig(rig, uniqueName('light'));
    const entry = lights[indexOfSelected(rig)];
    edit(entry);
    return entry.name;
  }, done);
}

function optionRow(label, control) {
  const row = document.createElement('label');
  row.className = 'option';
  const name = document.createElement('span');
  name.textContent = label;
  row.append(name, control);
  return row;
}

function showOptions() {
  const shadowBox = $('shadow-box');
  const spotBox = $('spot-box');
  if (!shadowBox) return;
  showMarker();
  shadowBox.textContent = '';
  spotBox.textContent = '';
  const entry = selectedEntry(state.rig) || {};
  const parallel = isParallel();
  const camera = state.info && state.info.camera;
  const noCamera = !camera || !camera.found;
  const shadow = entry.shadow;
  const on = shadow === true || (shadow && typeof shadow === 'object');
  const toggle = document.createElement('input');
  toggle.type = 'checkbox';
  toggle.id = 'shadow-on';
  toggle.checked = !!on;
  toggle.disabled = noCamera && !on;
  toggle.addEventListener('change', () =>
    editOptions((e) => {
      if (toggle.checked) e.shadow = true;
      else delete e.shadow;
    }, toggle.checked ? 'shadow on' : 'shadow off'));
  shadowBox.append(optionRow('cast shadows', toggle));
  if (noCamera) {
    const why = document.createElement('div');
    why.className = 'why';
    why.id = 'shadow-why';
    why.textContent = camera
      ? `shadows are unavailable: ${camera.line.replace(/^none: /, '')}`
      : 'shadows are unavailable: they need a P input to find the camera';
    shadowBox.append(why);
  }
  if (on) {
    const values = shadow === true ? {} : shadow;
    for (const o of SHADOW_OPTIONS) {
      if ((o.point && parallel) || (o.parallel && !parallel)) continue;
      const field = document.createElement('input');
      field.type = 'number';
      field.step = o.step || 'any';
      if (o.min !== undefined) field.min = o.min;
      if (o.max !== undefined) field.max = o.max;
      field.dataset.option = o.key;
      field.placeholder = o.hint || (parallel ? o.hintParallel : o.hintPoint);
      field.title = `${o.label}: empty for the default (${field.placeholder})`;
      if (values[o.key] !== undefined) field.value = values[o.key];
      field.addEventListener('change', () =>
        editOptions((e) => {
          const object = e.shadow === true || !e.shadow ? {} : e.shadow;
          if (field.value.trim() === '') delete object[o.key];
          else object[o.key] = Number(field.value);
          e.shadow = Object.keys(object).length ? object : true;
        }, `shadow ${o.key} set`));
      shadowBox.append(optionRow(o.label, field));
    }
  }
  const spot = entry.spot;
  const spotToggle = document.createElement('input');
  spotToggle.type = 'checkbox';
  spotToggle.id = 'spot-on';
  spotToggle.checked = !!spot;
  spotToggle.disabled = parallel && !spot;
  spotToggle.title = parallel ? 'a spot needs a point light' : 'narrow the point light to a cone';
  spotToggle.addEventListener('change', () =>
    editOptions((e) => {
      if (spotToggle.checked) e.spot = { direction: [0, -1, 0], angle: 30, penumbra: 0 };
      else delete e.spot;
    }, spotToggle.checked ? 'spot on' : 'spot off'));
  spotBox.append(optionRow('spot', spotToggle));
  if (parallel && !spot) {
    const why = document.createElement('div');
    why.className = 'why';
    why.textContent = 'a spot needs a point light';
    spotBox.append(why);
  }
  if (spot && typeof spot === 'object') {
    const direction = document.createElement('input');
    direction.type = 'text';
    direction.dataset.option = 'direction';
    direction.value = Array.isArray(spot.direction) ? spot.direction.join(', ') : '';
    direction.title = 'from the light towards what it lights, in P\'s space';
    direction.addEventListener('change', () =>
      editOptions((e) => {
        e.spot.direction = direction.value.split(',').map((t) => Number(t.trim()));
      }, 'spot direction set'));
    spotBox.append(optionRow('direction', direction));
    for (const [key, label, hint] of [['angle', 'angle °', ''], ['penumbra', 'penumbra °', '0']]) {
      const field = document.createElement('input');
      field.type = 'number';
      field.step = 'any';
      field.dataset.option = key;
      field.placeholder = hint;
      if (spot[key] !== undefined) field.value = spot[key];
      field.addEventListener('change', () =>
        editOptions((e) => {
          if (field.value.trim() === '') delete e.spot[key];
          else e.spot[key] = Number(field.value);
        }, `spot ${key} set`));
      spotBox.append(optionRow(label, field));
    }
  }
}

// ---- where the selected point light is: projected through the camera found for P -----------------------

function knobValue(name) {
  const knob = state.panel && state.panel.knobs.find((k) => k.name === name);
  if (!knob) return null;
  const v = Array.isArray(knob.value) ? knob.value : String(knob.value).split(/[ ,]+/);
  const out = v.map(Number);
  return out.length === 3 && out.every(Number.isFinite) ? out : null;
}

// Pixel position (from the image's top left) and whether the light is in front of the camera.
function projectLight(camera, p) {
  const r = camera.rows;
  const dot = (row) => row[0] * p[0] + row[1] * p[1] + row[2] * p[2] + row[3];
  const depth = dot(r[2]);
  if (camera.projection === 'orthographic') return { u: dot(r[0]), v: dot(r[1]), front: true };
  if (Math.abs(depth) < 1e-12) return null;
  return { u: dot(r[0]) / depth, v: dot(r[1]) / depth, front: depth > 0 };
}

function showMarker() {
  const marker = $('light-marker');
  if (!marker) return;
  const camera = state.info && state.info.camera;
  const position = !isParallel() && knobValue('_pointLightPos');
  const seen = camera && camera.found && position && projectLight(camera, position);
  marker.hidden = !seen;
  if (!seen) return;
  const w = state.info.width, h = state.info.height;
  const ox = camera.origin_x || 0, oy = camera.origin_y || 0;
  let u = seen.u - ox, v = seen.v - oy;
  const inside = seen.front && u >= 0 && v >= 0 && u <= w && v <= h;
  marker.classList.toggle('edge', !inside);
  marker.title = `${lightLabel(selected())} at ${triple(position)}${seen.front ? '' : ' (behind the camera)'}`;
  if (inside) {
    marker.style.left = `${(100 * u) / w}%`;
    marker.style.top = `${(100 * v) / h}%`;
    marker.style.transform = 'translate(-50%, -50%)';
    return;
  }
  // Off the picture: an arrow on its edge, on the way from the middle towards the light (a point behind a
  // pinhole camera projects mirrored through the middle, so the way is turned round).
  let dx = u - w / 2, dy = v - h / 2;
  if (!seen.front) [dx, dy] = [-dx, -dy];
  if (dx === 0 && dy === 0) dy = 1;
  const t = Math.min(Math.abs(dx) > 0 ? w / 2 / Math.abs(dx) : Infinity, Math.abs(dy) > 0 ? h / 2 / Math.abs(dy) : Infinity);
  // Just inside the edge, so that the whole arrowhead shows.
  u = w / 2 + dx * t * 0.97;
  v = h / 2 + dy * t * 0.97;
  marker.style.left = `${(100 * u) / w}%`;
  marker.style.top = `${(100 * v) / h}%`;
  marker.style.transform = `translate(-50%, -50%) rotate(${Math.atan2(dy, dx)}rad)`;
}

function showCamera(info) {
  const c = info.camera;
  const line = $('camera-line');
  if (!line) return;
  if (!c) line.textContent = 'no P: no camera';
  else if (!c.found) line.textContent = 'no camera fits P';
  else {
    const r = Number(c.residual);
    const residual = r < 0.001 ? r.toExponential(1) : r.toPrecision(2);
    line.textContent = `camera: ${c.projection}, ${c.origin.startsWith('fitted') ? 'fitted' : 'from header'}, ${residual} px`;
  }
  line.title = c ? `camera  ${c.line}` : '';
}

async function refreshLights() {
  const [lights, rig] = await Promise.all([api('/api/lights'), api('/api/rig')]);
  state.rig = rig;
  showLights(lights);
}

async function chooseLights(choice) {
  if (choice.solo) remember();
  try {
    showLights(await post('/api/lights', choice));
    schedulePreview();
  } catch (e) {
    message(e.message, 'error');
  }
}

async function selectLight(name) {
  if (name === selected()) return;
  try {
    showLights(await post('/api/lights', { selected: name }));
    updatePanel(await api(`/api/panel?${lightQuery()}`));
    if (aloneShown()) schedulePreview();
  } catch (e) {
    message(e.message, 'error');
  }
}

// Changes the rig in the file's form and sends it whole; the server takes it all or refuses it all.
// `edit` may return the light to select afterwards.
async function editRig(edit, done) {
  const steps = state.undo.length;
  const redo = state.redo;
  remember();
  try {
    const rig = JSON.parse(JSON.stringify(await api('/api/rig')));
    const select = edit(rig);
    state.rig = await post('/api/rig', rig);
    let lights = await api('/api/lights');
    if (select && select !== lights.selected) lights = await post('/api/lights', { selected: select });
    showLights(lights);
    updatePanel(await api(`/api/panel?${lightQuery()}`));
    message(done || '', 'ok');
    schedulePreview();
  } catch (e) {
    // A refused edit changed nothing, so it is no step of the history.
    state.undo.length = steps;
    state.redo = redo;
    showHistory();
    message(e.message, 'error');
    refreshLights().catch(() => {});
  }
}

// A view of one light becomes a rig of that light, its knobs staying at the top of the file as shared values.
function asRig(rig, firstName) {
  if (!Array.isArray(rig.lights)) rig.lights = [{ name: firstName }];
  return rig.lights;
}

function indexOfSelected(rig) {
  return Math.max(0, rig.lights.findIndex((l) => l.name === selected()));
}

function addLight() {
  let name;
  editRig((rig) => {
    const lights = asRig(rig, uniqueName('light'));
    const taken = new Set(lights.map((l) => l.name));
    for (let i = 1; ; ++i) if (!taken.has((name = `light${i}`))) break;
    lights.push({ name });
    return name;
  }, 'light added');
}

function duplicateLight() {
  editRig((rig) => {
    const lights = asRig(rig, uniqueName('light'));
    const source = lights[indexOfSelected(rig)];
    const copy = JSON.parse(JSON.stringify(source));
    const taken = new Set(lights.map((l) => l.name));
    const stem = source.name.replace(/_?\d+$/, '');
    let i = 2;
    while (taken.has(`${stem}${i}`)) ++i;
    copy.name = `${stem}${i}`;
    lights.splice(indexOfSelected(rig) + 1, 0, copy);
    return copy.name;
  }, 'light duplicated');
}

function deleteLight() {
  const name = selected();
  editRig((rig) => {
    const i = indexOfSelected(rig);
    rig.lights.splice(i, 1);
    return rig.lights[Math.min(i, rig.lights.length - 1)].name;
  }, `${name} deleted`);
}

function renameLight() {
  const field = $('light-name');
  const name = field.value.trim();
  const old = selected();
  if (name === old || name === '') return;  // emptied to be typed again: nothing to do yet
  if (!NAME_RULE.test(name) || ['R', 'G', 'B', 'A'].includes(name)) {
    message(`"${name}" cannot name a light: a letter, then letters, digits or _ (not R, G, B or A)`, 'error');
    field.value = old;
    return;
  }
  const solo = state.lights.solo.map((n) => (n === old ? name : n));
  editRig((rig) => {
    const lights = asRig(rig, name);
    lights[indexOfSelected(rig)].name = name;
    return name;
  }, `${lightLabel(old)} renamed ${name}`).then(() => {
    if (solo.length) chooseLights({ solo });
  });
}

function moveLight(i, by) {
  editRig((rig) => {
    const [light] = rig.lights.splice(i, 1);
    rig.lights.splice(i + by, 0, light);
    return light.name;
  }, 'light moved');
}

function setUpLights() {
  $('light-add').addEventListener('click', addLight);
  $('light-duplicate').addEventListener('click', duplicateLight);
  $('light-delete').addEventListener('click', deleteLight);
  $('light-name').addEventListener('change', renameLight);

  $('light-name').addEventListener('keydown', (e) => {
    if (e.key === 'Enter') $('light-name').blur();
    if (e.key === 'Escape') {
      $('light-name').value = selected();
      $('light-name').blur();
    }
  });
}

// ---- the shot: the frame shown, its keys ----------------------------------------------------------------

function animatedHere() {
  const lights = state.lights;
  if (!lights) return {};
  const light = lights.lights.find((l) => l.name === lights.selected);
  return (light && light.animated) || {};
}

// Marks the selected light's animated knobs: ◆ where the frame shown has a key (a click deletes it), ◇
// elsewhere (a change sets one).
function markKeys() {
  const animated = animatedHere();
  const frame = state.frame ? state.frame.frame : 0;
  for (const box of document.querySelectorAll('fieldset.knob')) {
    const keys = animated[box.dataset.knob];
    const mark = box.querySelector('.keymark');
    box.classList.toggle('animated', !!keys);
    if (!mark) continue;
    mark.hidden = !keys;
    if (!keys) continue;
    const atKey = keys.includes(frame);
    mark.textContent = atKey ? '◆' : '◇';
    mark.classList.toggle('at-key', atKey);
    mark.disabled = !atKey;
    mark.title = atKey ? `animated: a key at frame ${frame}; click to delete it`
                       : `animated (keys at ${keys.join(', ')}): a change sets a key at frame ${frame}`;
  }
  const count = Object.keys(animated).length;
  $('knob-note').textContent = count
    ? `◆ animated knobs: a change sets a key at frame ${frame}; knobs without keys stay constant`
    : '';
}

function keyEntry(object, frame) {
  return Object.keys(object.keys).find((k) => Number(k) === frame);
}

// Deletes the key at the frame shown: of the selected light's own animation, or of a copy of the shared
// one made the light's own; the last key left becomes a constant.
function deleteKey(knob) {
  const frame = state.frame.frame;
  editRig((rig) => {
    let target = rig;
    if (Array.isArray(rig.lights)) {
      const light = rig.lights.find((l) => l.name === selected());
      light.knobs = light.knobs || {};
      if (!light.knobs[knob] && rig[knob]) light.knobs[knob] = JSON.parse(JSON.stringify(rig[knob]));
      target = light.knobs;
    }
    const animated = target[knob];
    const key = keyEntry(animated, frame);
    if (key === undefined) return null;
    delete animated.keys[key];
    const left = Object.keys(animated.keys);
    if (left.length === 1) target[knob] = animated.keys[left[0]];
    return null;
  }, `key at frame ${frame} of ${knob} deleted`);
}

function showFrame(info) {
  state.frame = info;
  const shot = info.frames.length > 1;
  $('shot').hidden = !shot;
  const slider = $('frame-slider');
  slider.max = String(info.frames.length - 1);
  slider.value = String(Math.max(0, info.frames.indexOf(info.frame)));
  if (document.activeElement !== $('frame-number')) $('frame-number').value = info.frame;
  $('frame-range').textContent = `${info.first}–${info.last} (${info.frames.length} frames)`;
  markKeys();
}

async function goToFrame(frame) {
  if (!state.frame || frame === state.frame.frame) return;
  try {
    showFrame(await post('/api/frame', { frame }));
    // The inputs may have changed with the frame: their size, their thumbnails, the knobs' values.
    state.info = await api('/api/info');
    showDistance(state.info);
    showCamera(state.info);
    showMarker();
    fitImages();
    await refreshLights();
    updatePanel(await api(`/api/panel?${lightQuery()}`));
    markKeys();
    for (const img of $('views').querySelectorAll('img'))
      img.src = img.src.replace(/&f=[^&]*/, '') + `&f=${frame}`;
    if (state.view !== 'result' && state.view !== 'alone') showView(state.view);
    schedulePreview();
  } catch (e) {
    message(e.message, 'error');
    if (state.frame) showFrame(state.frame);
  }
}

function stepFrame(by) {
  if (!state.frame) return;
  const i = state.frame.frames.indexOf(state.frame.frame) + by;
  if (i >= 0 && i < state.frame.frames.length) goToFrame(state.frame.frames[i]);
}

function setUpShot() {
  $('frame-slider').addEventListener('input', () => goToFrame(state.frame.frames[Number($('frame-slider').value)]));
  $('frame-previous').addEventListener('click', () => stepFrame(-1));
  $('frame-next').addEventListener('click', () => stepFrame(1));
  $('frame-number').addEventListener('change', () => goToFrame(Number($('frame-number').value)));
  document.addEventListener('keydown', (e) => {
    const t = e.target;
    if (t && (t.tagName === 'INPUT' && t.type !== 'range' && t.type !== 'checkbox' || t.tagName === 'SELECT' ||
              t.tagName === 'TEXTAREA'))
      return;
    if (t && t.type === 'range' && t.id !== 'frame-slider') return;
    if (e.key === 'ArrowLeft' || e.key === 'ArrowRight') {
      e.preventDefault();
      stepFrame(e.key === 'ArrowLeft' ? -1 : 1);
    }
  });
}

// ---- undo and redo: every change of the rig, its knobs and the solo, kept until the page closes ----------

function snapshot() {
  return { rig: state.rig, solo: state.lights ? state.lights.solo.slice() : [] };
}

// The state before a change, remembered as one step (the rig as last fetched: refreshCurrent() keeps it).
function remember() {
  if (!state.rig) return;
  const now = JSON.stringify(snapshot());
  const top = state.undo[state.undo.length - 1];
  if (top !== now) state.undo.push(now);
  state.redo = [];
  showHistory();
}

async function refreshCurrent() {
  try {
    state.rig = await api('/api/rig');
  } catch (e) {
    // The next change says what is wrong.
  }
}

function showHistory() {
  $('undo').disabled = state.undo.length === 0;
  $('redo').disabled = state.redo.length === 0;
  $('undo').title = `undo (Ctrl+Z): ${state.undo.length} step${state.undo.length === 1 ? '' : 's'}`;
  $('redo').title = `redo (Ctrl+Shift+Z): ${state.redo.length} step${state.redo.length === 1 ? '' : 's'}`;
}

async function restore(from, to, what) {
  if (!from.length) {
    message(`nothing to ${what}`, 'ok');
    return;
  }
  await new Promise((resolve) => {
    // Changes still being sent are part of the state to leave.
    const wait = () => (state.sending || Object.keys(state.pending).length ? setTimeout(wait, 20) : resolve());
    wait();
  });
  await refreshCurrent();
  const target = JSON.parse(from.pop());
  to.push(JSON.stringify(snapshot()));
  try {
    state.rig = await post('/api/rig', target.rig);
    // A field left focused by the change undone shows the value restored.
    if (document.activeElement && $('panel').contains(document.activeElement)) document.activeElement.blur();
    showLights(await post('/api/lights', { solo: target.solo }));
    updatePanel(await api(`/api/panel?${lightQuery()}`));
    message(`${what} done`, 'ok');
    schedulePreview();
  } catch (e) {
    message(e.message, 'error');
  }
  showHistory();
}

const undo = () => restore(state.undo, state.redo, 'undo');
const redo = () => restore(state.redo, state.undo, 'redo');

function setUpHistory() {
  $('undo').addEventListener('click', undo);
  $('redo').addEventListener('click', redo);
  document.addEventListener('keydown', (e) => {
    if (!(e.ctrlKey || e.metaKey) || e.altKey) return;
    const t = e.target;
    // Text being typed keeps the browser's own undo.
    if (t && (t.tagName === 'TEXTAREA' || (t.tagName === 'INPUT' && t.type === 'text'))) return;
    const key = e.key.toLowerCase();
    if (key === 'z' && !e.shiftKey) {
      e.preventDefault();
      undo();
    } else if ((key === 'z' && e.shiftKey) || key === 'y') {
      e.preventDefault();
      redo();
    }
  });
  showHistory();
}

// ---- compare: an input over the result, wiped from the left ---------------------------------------------

function showCompare() {
  const name = $('compare-with').value;
  const img = $('compare');
  const amount = Number($('wipe').value);
  $('wipe').disabled = !name;
  $('compare-toggle').disabled = !name;
  img.hidden = !name || amount <= 0 || state.view !== 'result';
  $('wipe-line').hidden = img.hidden || amount >= 100;
  if (img.hidden) return;
  img.style.clipPath = `inset(0 ${100 - amount}% 0 0)`;
  $('wipe-line').style.left = `${amount}%`;
  const src = `/api/input.png?name=${name}&exposure=${name === 'color' ? exposure() : 0}` +
              `&c=${state.colourCount || 0}&f=${state.frame ? state.frame.frame : 0}`;
  if (img.getAttribute('src') !== src) img.src = src;
}

function setUpCompare(info) {
  const select = $('compare-with');
  fillSelect(select, [''].concat(info.inputs), info.inputs.includes('color') ? '' : '',
             (name) => name ? (name === 'color' ? 'color (the passes\u2019 beauty)' : name) : '(nothing)');
  select.addEventListener('change', () => {
    if (select.value && Number($('wipe').value) === 0) $('wipe').value = '50';
    showCompare();
  });
  $('wipe').addEventListener('input', showCompare);
  $('compare-toggle').addEventListener('click', () => {
    if (!select.value) return;
    $('wipe').value = Number($('wipe').value) >= 100 ? '0' : '100';
    showCompare();
  });
  showCompare();
}

// ---- buttons --------------------------------------------------------------------------------------------

// The command in a box that shows it whole, wrapped, whatever the clipboard allows.
async function copyCommand() {
  try {
    const { command, note } = await api('/api/command');
    const field = $('command');
    field.value = command;
    $('command-box').hidden = false;
    field.style.height = 'auto';
    field.style.height = `${Math.min(field.scrollHeight + 4, window.innerHeight * 0.3)}px`;
    let copied = false;
    try {
      await navigator.clipboard.writeText(command);
      copied = true;
    } catch (e) {
      field.focus();
      field.select();
    }
    const said = copied ? 'command copied' : 'the clipboard is not available here: the command is selected below';
    $('command-note').textContent = note || '';
    message(said, 'ok');
  } catch (e) {
    message(e.message, 'error');
  }
}

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
