// The shot: the frame shown, its keys.
'use strict';

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
