// The messages panel: everything the runtime reported while loading and drawing the scene,
// with where it came from, and the events of the flight shown (activations, deactivation and
// the messages the flight itself raised). Folded away by default with a count in its header;
// it opens by itself when the runtime had something to say.

import { formatTime } from './format.js';

/**
 * A side panel folded away by default: a head with `title` and a count that opens and closes
 * it, and a list (of class `listClass`) for its rows. Its methods go onto `view`: `setOpen`.
 */
export function foldedPanel(view, root, title, listClass) {
  view.root = root;
  root.innerHTML = `<button class="panel-head" aria-expanded="false"><span class="caret">▸</span> ${title}
    <span class="count muted"></span></button><div class="panel-body" hidden><div class="${listClass}"></div></div>`;
  view.head = root.querySelector('.panel-head');
  view.body = root.querySelector('.panel-body');
  view.rows = root.querySelector(`.${listClass}`);
  view.count = root.querySelector('.count');
  view.setOpen = (open) => {
    view.body.hidden = !open;
    view.head.setAttribute('aria-expanded', String(open));
    view.head.querySelector('.caret').textContent = open ? '▾' : '▸';
    root.classList.toggle('open', open);
  };
  view.head.addEventListener('click', () => view.setOpen(view.body.hidden));
}

export class Messages {
  constructor(root, state) {
    this.state = state;
    foldedPanel(this, root, 'Messages', 'message-list');
    this.opened = false;
    state.on('messages', () => this.show());
    state.on('flight', () => this.show());
  }

  show() {
    const { messages, flight } = this.state;
    this.rows.replaceChildren();
    const add = (kind, when, what, where, text) => {
      const row = document.createElement('div');
      row.className = `entry ${kind}`;
      for (const [cls, value] of [['when', when], ['what', what], ['where', where], ['text', text]]) {
        if (!value) continue;
        const span = document.createElement('span');
        span.className = cls;
        span.textContent = value;
        row.append(span);
      }
      this.rows.append(row);
    };
    for (const m of messages) add('message', formatTime(m.time), `level ${m.level}`, m.location, m.text);
    const events = flight ? flight.events : [];
    for (const e of events) add(`event event-${e.kind}`, formatTime(e.time), e.kind, '', e.detail);
    const raised = messages.length + events.filter((e) => e.kind === 'message').length;
    this.count.textContent = `${messages.length} from the runtime · ${events.length} flight events`;
    this.root.classList.toggle('has-messages', raised > 0);
    if (raised > 0 && !this.opened) { this.opened = true; this.setOpen(true); }
  }
}
