// The image's size on the page: fitted to the window, or a whole zoom.
'use strict';

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
