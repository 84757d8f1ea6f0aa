// The lights: a list to select, mute, solo and reorder; add, duplicate, rename, delete; rig edits sent whole.
'use strict';

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
