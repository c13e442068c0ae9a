// The linter's findings of the flight shown (GET /api/lint, the same checks as `camsys lint`):
// a folded panel like the messages', a row per finding with its severity, check, object, time
// and explanation, and under it, muted, its check's hint of how to fix it. A click selects the
// object and moves the playhead to the finding's time, and the 3D view frames the eye there.
// The timeline marks the same findings (timeline.js).

import { formatTime } from './format.js';
import { foldedPanel } from './panel.js';

export class Findings {
  /** `frameEye(x, y, z)`: frames that point in the 3D view (the eye at a finding's time). */
  constructor(root, state, { frameEye = null } = {}) {
    this.frameEye = frameEye;
    this.state = state;
    foldedPanel(this, root, 'Findings', 'finding-list');
    this.rows.addEventListener('click', (e) => {
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
      this.rows.append(row);
    });
    const serious = findings.filter((f) => f.severity !== 'info').length;
    this.count.textContent = findings.length ? `${serious} to look at · ${findings.length - serious} info` : 'none';
    this.root.classList.toggle('has-findings', serious > 0);
  }
}
