// What the page tells the user: a short note under the header (what an action did, or why the
// server refused it), and the errors that keep something from loading, in a box that stays.

import { $ } from './dom.js';

export function showError(error) {
  const box = $('error');
  const line = document.createElement('div');
  line.textContent = error && error.message ? error.message : String(error);
  box.append(line);
  box.hidden = false;
  console.error(error);
}

let noticeTimer = 0;

/** A short note under the header: what an action did, or why the server refused it. */
export function notify(text, kind = 'info') {
  const box = $('notice');
  box.textContent = text;
  box.className = `notice ${kind}`;
  box.hidden = false;
  clearTimeout(noticeTimer);
  noticeTimer = setTimeout(() => { box.hidden = true; }, kind === 'error' ? 8000 : 3000);
}
