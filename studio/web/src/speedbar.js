// The speed actions beside the transport buttons: "Even speed" and "Set speed" for the path the
// iterator shown flies, or for the run of its waypoints selected (two or more: from the first to
// the last), each one change through POST /api/paths/NAME/retime, undone in one step.

import { WAYPOINT } from './edits.js';
import { formatTime } from './format.js';
import { retimeRun } from './retiming.js';

const EVEN_TITLE = "Gives each segment a flight time in proportion to its length on the path's own distance " +
  "measure (the eye's travel plus the view's turn), so the camera runs along the path at one rate; the total " +
  'flight time stays. Cuts stay cuts, pauses and eases stay. With two or more waypoints of the path selected: ' +
  'the run from the first to the last of them.';
const SPEED_TITLE = "Times every segment for this speed: its length on the path's distance measure (the eye's " +
  'travel plus the view\'s turn) over the speed, in units per second.';

export class SpeedBar {
  constructor(transport, state, editor, notify) {
    this.state = state;
    this.editor = editor;
    this.notify = notify;
    const root = this.root = document.createElement('span');
    root.className = 'speed-actions';
    root.innerHTML = `
      <span class="caption" data-role="scope"></span>
      <button data-act="even">Even speed</button>
      <input type="number" min="0" step="any" placeholder="units/s" aria-label="speed in units per second">
      <button data-act="speed">Set speed</button>`;
    transport.append(root);
    this.scope = root.querySelector('[data-role=scope]');
    this.speed = root.querySelector('input');
    this.buttons = [...root.querySelectorAll('button')];
    root.querySelector('[data-act=even]').addEventListener('click', () => this.retime({ even: true }));
    root.querySelector('[data-act=speed]').addEventListener('click', () => this.setSpeed());
    this.speed.addEventListener('keydown', (e) => { if (e.key === 'Enter') this.setSpeed(); });
    for (const event of ['scene', 'select', 'flight']) state.on(event, () => this.showScope());
    this.showScope();
  }

  /** The path of the iterator shown and the run to retime (see retimeRun), or null. */
  run() {
    const { state } = this;
    const iterator = state.flightParams.iterator;
    const path = iterator ? state.attribute(iterator, 'Path') : undefined;
    const object = typeof path === 'string' ? state.objects.get(path) : undefined;
    if (!object) return null;
    const waypoints = (object.children || []).filter((n) => state.objects.get(n)?.class === WAYPOINT)
      .map((name) => ({ name, on: state.attribute(name, 'IsOn') !== false }));
    return retimeRun(path, waypoints, state.selected);
  }

  showScope() {
    const run = this.run();
    // The scope is named where it is a run of the selection; the buttons' titles name it always.
    this.scope.textContent = run && run.from ? `${run.from} – ${run.to}` : '';
    this.scope.hidden = !this.scope.textContent;
    const scope = !run ? 'The iterator shown flies no path.' : run.from
      ? `Now: the run of selected waypoints from ${run.from} to ${run.to}.`
      : `Now: the whole path ${run.path} (select two or more of its waypoints for a run).`;
    this.scope.title = scope;
    this.buttons[0].title = `${EVEN_TITLE}\n${scope}`;
    this.buttons[1].title = this.speed.title = `${SPEED_TITLE}\n${scope}`;
    for (const b of [...this.buttons, this.speed]) b.disabled = !run;
  }

  setSpeed() {
    const speed = Number(this.speed.value);
    if (this.speed.value.trim() === '' || !(speed > 0) || !Number.isFinite(speed)) {
      this.notify('Type a speed above 0 (units per second) first', 'error');
      this.speed.focus();
      return;
    }
    this.retime({ speed });
  }

  /** Retimes the run with `how` ({even: true} or {speed}); the flight reloads as after any change. */
  async retime(how) {
    const run = this.run();
    if (!run) return;
    const body = { ...how };
    if (run.from) Object.assign(body, { from: run.from, to: run.to });
    const path = `/api/paths/${encodeURIComponent(run.path)}/retime`;
    try {
      const answer = await this.editor.change((revision) => this.editor.api.send('POST', path, { ...body, revision }));
      const what = how.even ? 'even speed' : `${how.speed} units/s`;
      this.notify(`${run.from ? `${run.from} – ${run.to}` : run.path}: ${what}, flight time ` +
        `${formatTime(answer.totalBefore)} → ${formatTime(answer.totalAfter)}`);
    } catch (error) {
      this.notify(error.reason || error.message, 'error');
    }
  }
}
