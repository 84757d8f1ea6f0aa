// The reproducing command, shown whole in a box and copied to the clipboard.
'use strict';

// The command in a box that shows it whole, wrapped, whatever the clipboard allows.
async function copyCommand() {
  try {
    const { command, note } = await api('/api/command');
    const field = $('command');
    field.value = command;
    $('command-box').hidden = false;
    field.style.height = 'auto';
    field.style.height = `${Math.min(field.scrollHeight + 4, window.innerHeight * 0.3)}px`;
    let copied = false;
    try {
      await navigator.clipboard.writeText(command);
      copied = true;
    } catch (e) {
      field.focus();
      field.select();
    }
    const said = copied ? 'command copied' : 'the clipboard is not available here: the command is selected below';
    $('command-note').textContent = note || '';
    message(said, 'ok');
  } catch (e) {
    message(e.message, 'error');
  }
}
