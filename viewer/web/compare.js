// Compare: an input over the result, wiped from the left.
'use strict';

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
