// Undo and redo: every change of the rig, its knobs and the solo, kept until the page closes.
'use strict';

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
