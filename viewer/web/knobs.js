// The panel of knobs: built from the node's own description, each change sent as it is made.
'use strict';

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
