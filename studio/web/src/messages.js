// The messages panel: everything the runtime reported while loading and drawing the scene,
// with where it came from, and the events of the flight shown (activations, deactivation and
// the messages the flight itself raised). Folded away by default with a count in its header;
// it opens by itself when the runtime had something to say.

import { formatTime } from './format.js';
import { foldedPanel } from './panel.js';

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
