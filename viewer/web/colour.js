// The colour config's display, view and look.
'use strict';

function fillSelect(select, names, chosen, label) {
  select.replaceChildren(...names.map((name) => {
    const option = document.createElement('option');
    option.value = name;
    option.textContent = label ? label(name) : name;
    option.selected = name === chosen;
    return option;
  }));
}

function showColour(colour) {
  state.colour = colour;
  state.colourCount = (state.colourCount || 0) + 1;
  fillSelect($('display'), Object.keys(colour.displays), colour.display);
  fillSelect($('view'), colour.displays[colour.display], colour.view);
  fillSelect($('look'), [''].concat(colour.looks), colour.look, (name) => name || '(none)');
  $('gamma').value = colour.gamma;
  for (const id of ['display', 'view', 'look'])
    $(id).parentElement.title = `colour config: ${colour.config} (working space ${colour.working_space})`;
}

async function chooseColour(choice) {
  try {
    showColour(await post('/api/colour', choice));
    schedulePreview();
  } catch (e) {
    message(e.message, 'error');
    showColour(state.colour);
  }
}
