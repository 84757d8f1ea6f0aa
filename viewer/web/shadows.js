// A light's shadow and spot: kept in the rig's file form and sent whole, like every rig edit.
'use strict';

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
