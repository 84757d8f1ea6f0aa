// Where the selected point light is, projected through the camera found for P; the camera's line.
'use strict';

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
