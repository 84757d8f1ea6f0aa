// The page's shared state and its calls to the HTTP interface.
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
