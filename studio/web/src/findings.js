// The linter's findings of the flight shown (GET /api/lint, the same checks as `camsys lint`):
// a folded panel like the messages', a row per finding with its severity, check, object, time
// and explanation, and under it, muted, its check's hint of how to fix it. A click selects the
// object and moves the playhead to the finding's time, and the 3D view frames the eye there.
// A finding the server can fix (its "fix" label) has a Fix button, and with several of them the
// panel has Fix all (POST /api/lint/fix): one undo step each, after which the page catches up as
// after any edit. The timeline marks the same findings (timeline.js).

import { formatTime } from './format.js';
import { foldedPanel } from './panel.js';

export class Findings {
  /**
   * `frameEye(x, y, z)`: frames that point in the 3D view (the eye at a finding's time).
   * `editor`, `api`: where fixes go; `notify(text, kind)`: says why one was refused.
   */
  constructor(root, state, { frameEye = null, editor = null, api = null, notify = () => {} } = {}) {
    this.frameEye = frameEye;
    this.state = state;
    this.editor = editor;
    this.api = api;
    this.notify = notify;
    foldedPanel(this, root, 'Findings', 'finding-list');
    this.fixAll = document.createElement('button');
    this.fixAll.className = 'fix-all';
    this.fixAll.hidden = true;
    this.fixAll.addEventListener('click', () => this.fix({ all: true }));
    this.body.prepend(this.fixAll);
    this.rows.addEventListener('click', (e) => {
      const button = e.target.closest('button.fix');
      if (button) {
        this.fix({ finding: Number(button.closest('[data-index]').dataset.index) });
        return;
      }
      const row = e.target.closest('[data-index]');
      const finding = row && (this.state.lint || [])[Number(row.dataset.index)];
      if (!finding) return;
      if (finding.object && this.state.objects.has(finding.object)) this.state.select(finding.object);
      if (finding.time !== null && finding.time !== undefined) {
        this.state.pause();
        this.state.seek(this.state.elapsedOf(finding.time));
        const { flight, tick } = this.state;
        if (this.frameEye && flight && tick >= 0) this.frameEye(flight.x[tick], flight.y[tick], flight.z[tick]);
      }
    });
    state.on('lint', () => this.show());
  }

  /**
   * Asks the server to fix a finding ({finding: index}) or all that can be ({all: true}) for the
   * flight whose findings are shown. An index is of the list shown, so it goes with the revision
   * that list was made at: a scene changed since is refused (409) and the page catches up.
   */
  fix(what) {
    if (!this.editor || !this.state.lint) return;
    const { iterator, start, step } = this.state.flightParams;
    const listRevision = this.state.flight ? this.state.flight.revision : undefined;
    for (const b of this.root.querySelectorAll('button.fix, button.fix-all')) b.disabled = true;
    this.editor.change((revision) => this.api.send('POST', '/api/lint/fix',
      { ...what, iterator, start, step, revision: Number.isInteger(listRevision) ? listRevision : revision }))
      .catch((error) => {
        this.notify(error.reason || error.message, 'error');
        for (const b of this.root.querySelectorAll('button.fix, button.fix-all')) b.disabled = false;
      });
  }

  show() {
    const findings = this.state.lint || [];
    this.rows.replaceChildren();
    findings.forEach((f, index) => {
      const row = document.createElement('div');
      row.className = `entry finding ${f.severity}`;
      row.dataset.index = String(index);
      row.title = 'select the object and go to the time';
      const when = f.time !== null && f.time !== undefined ? formatTime(f.time) : '';
      const cells = [['when', when], ['what', f.id], ['where', f.object], ['text', f.text], ['hint', f.hint]];
      for (const [cls, value] of cells) {
        const span = document.createElement('span');
        span.className = cls;
        span.textContent = value || '';
        row.append(span);
      }
      if (f.fix) {
        const fix = document.createElement('span');
        fix.className = 'fixing';
        const button = document.createElement('button');
        button.className = 'fix';
        button.textContent = 'Fix';
        button.title = `${f.fix} (one undo step)`;
        const label = document.createElement('span');
        label.className = 'muted';
        label.textContent = f.fix;
        fix.append(button, ' ', label);
        row.append(fix);
      }
      this.rows.append(row);
    });
    const fixable = findings.filter((f) => f.fix).length;
    this.fixAll.hidden = fixable < 2;
    this.fixAll.disabled = false;
    this.fixAll.textContent = `Fix all (${fixable})`;
    this.fixAll.title = 'apply every fix, linting again after each (one undo step)';
    const serious = findings.filter((f) => f.severity !== 'info').length;
    this.count.textContent = findings.length ? `${serious} to look at · ${findings.length - serious} info` : 'none';
    this.root.classList.toggle('has-findings', serious > 0);
  }
}
