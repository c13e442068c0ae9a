// A small modal question in the page (the browser's own prompt and confirm block the page and
// cannot say why a name was refused): a title, a text, optionally a field, and buttons.

/**
 * Shows the dialog and resolves with {button, value} (the chosen button's value and the field's
 * text), or null when it was dismissed (Escape or a button without a value).
 * `buttons`: [{label, value, primary}]; `check(value)`: a promise of an error text or null;
 * with a text the dialog stays open and shows it under the field.
 */
export function ask({ title, text, input = null, buttons, check = null }) {
  const dialog = document.getElementById('dialog');
  dialog.replaceChildren();
  const form = document.createElement('form');
  form.method = 'dialog';
  const h = document.createElement('h3');
  h.textContent = title;
  const p = document.createElement('p');
  p.textContent = text;
  form.append(h, p);
  let field = null;
  if (input !== null) {
    field = document.createElement('input');
    field.type = 'text';
    field.value = input;
    field.spellcheck = false;
    field.setAttribute('aria-label', title);
    form.append(field);
  }
  const problem = document.createElement('div');
  problem.className = 'field-error';
  problem.hidden = true;
  const row = document.createElement('div');
  row.className = 'dialog-buttons';
  form.append(problem, row);
  dialog.append(form);
  return new Promise((resolve) => {
    let done = false;
    const finish = (result) => {
      if (done) return;
      done = true;
      if (dialog.open) dialog.close();
      resolve(result);
    };
    for (const b of buttons) {
      const button = document.createElement('button');
      button.type = b.primary ? 'submit' : 'button';
      button.textContent = b.label;
      button.dataset.value = b.value === null || b.value === undefined ? '' : b.value;
      if (b.primary) button.classList.add('primary');
      button.addEventListener('click', async (e) => {
        e.preventDefault();
        if (b.value === null || b.value === undefined) { finish(null); return; }
        const value = field ? field.value : null;
        if (check) {
          const error = await check(value);
          if (error) { problem.textContent = error; problem.hidden = false; if (field) field.focus(); return; }
        }
        finish({ button: b.value, value });
      });
      row.append(button);
    }
    form.addEventListener('submit', (e) => { e.preventDefault(); row.querySelector('.primary')?.click(); });
    dialog.addEventListener('close', () => finish(null), { once: true });
    dialog.showModal();
    if (field) { field.focus(); field.select(); } else row.querySelector('.primary')?.focus();
  });
}
