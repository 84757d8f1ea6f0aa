// The pixel under the pointer: its surface shown on hover, a click placing the selected light there.
'use strict';

// The click distance: a tenth of the scene's size, until it is edited.
function showDistance(info) {
  if (state.distanceEdited) return;
  $('distance').value = info.distance;
  $('distance').parentElement.title =
    `How far from the clicked surface the point light is placed, in P's units (default ${info.distance}: ` +
    'a tenth of the diagonal of the box holding the middle 90% of the surface positions)';
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
