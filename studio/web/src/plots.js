// Plots of the flight's measures over time (uPlot), stacked under the timeline with the same
// time axis: the cursors move together, hovering shows every value at that time, the marks
// are drawn behind the curves and a playhead follows the current time. Out of hover the
// legends show the values at the playhead. A click seeks.

import uPlot from 'uplot';
import { flightMarks, MIN_MARK_GAP, PLOT_LEFT, PLOT_RIGHT } from './timeline.js';
import { formatNumber, formatTime } from './format.js';

export const MEASURES = [
  { key: 'speed', label: 'speed', colour: '#4fc3f7', on: true },
  { key: 'acceleration', label: 'acceleration', colour: '#81c784', on: true },
  { key: 'jerk', label: 'jerk', colour: '#aed581', on: false },
  { key: 'angularRate', label: 'angular rate', colour: '#ffb74d', on: true },
  { key: 'rollRate', label: 'roll rate', colour: '#f06292', on: true },
  { key: 'fov', label: 'field of view', colour: '#ba68c8', on: true },
  { key: 'targetDistance', label: 'target distance', colour: '#90a4ae', on: false },
  // Only with a level: the eye's distance to its nearest surface.
  { key: 'clearance', label: 'clearance', colour: '#d7a86e', on: true, level: true },
];

const PLOT_HEIGHT = 64;

export class Plots {
  constructor(root, state) {
    this.root = root;
    this.state = state;
    this.plots = [];
    this.hovering = false;
    this.marks = [];
    root.innerHTML = '<div class="plot-chooser"></div><div class="plot-stack"></div>';
    this.chooser = root.querySelector('.plot-chooser');
    this.stack = root.querySelector('.plot-stack');
    for (const m of MEASURES) {
      const chip = document.createElement('label');
      chip.className = 'chip';
      chip.innerHTML = `<input type="checkbox" ${m.on ? 'checked' : ''}><span style="--c:${m.colour}">${m.label}</span>`;
      chip.dataset.measure = m.key;
      chip.hidden = !!m.level;
      chip.querySelector('input').addEventListener('change', (e) => { m.on = e.target.checked; this.build(); });
      this.chooser.appendChild(chip);
    }
    state.on('flight', () => this.build());
    state.on('time', () => this.showTime());
    new ResizeObserver(() => this.resize()).observe(this.stack);
  }

  /** The plots' time values: the flight's clock at each tick (ms). */
  xs() {
    const { flight, analysis } = this.state;
    const n = analysis.rows;
    const x = new Float64Array(n);
    const start = this.state.startTime();
    if (flight && flight.rows === n) for (let i = 0; i < n; ++i) x[i] = start + flight.elapsed[i];
    else x.set(analysis.data.time);
    return x;
  }

  build() {
    for (const p of this.plots) p.destroy();
    this.plots = [];
    this.stack.replaceChildren();
    const analysis = this.state.analysis;
    for (const chip of this.chooser.children) chip.hidden = !!MEASURES.find((m) => m.key === chip.dataset.measure).level && !analysis?.data[chip.dataset.measure];
    if (!analysis) return;
    this.marks = flightMarks(this.state);
    const x = this.xs();
    const shown = MEASURES.filter((m) => m.on && analysis.data[m.key]);
    const width = Math.max(200, this.stack.clientWidth);
    shown.forEach((m, i) => {
      const last = i === shown.length - 1;
      const unit = analysis.units[m.key] || '';
      const box = document.createElement('div');
      box.className = 'plot';
      box.dataset.measure = m.key;
      this.stack.appendChild(box);
      const options = {
        width, height: PLOT_HEIGHT + (last ? 22 : 0),
        padding: [6, PLOT_RIGHT, 0, 0],
        cursor: { sync: { key: 'flight' }, drag: { x: false, y: false, setScale: false }, points: { size: 6 } },
        legend: { show: true, live: true },
        scales: { x: { time: false } },
        axes: [
          { show: last, size: 22, stroke: '#8b94a3', grid: { stroke: '#242932', width: 1 }, ticks: { show: false },
            values: (u, vals) => vals.map((v) => `${formatNumber(v / 1000, 4)} s`), font: '11px system-ui, sans-serif' },
          { size: PLOT_LEFT, stroke: '#8b94a3', grid: { stroke: '#242932', width: 1 }, ticks: { show: false },
            values: (u, vals) => vals.map((v) => formatNumber(v, 3)), font: '11px system-ui, sans-serif' },
        ],
        series: [
          { label: 'time', value: (u, v) => (v === null || v === undefined ? '–' : formatTime(v)) },
          { label: `${m.label}${unit ? ` (${unit})` : ''}`, stroke: m.colour, width: 1.5, fill: `${m.colour}18`,
            spanGaps: false, points: { show: false },
            value: (u, v) => (v === null || v === undefined ? '–' : `${formatNumber(v, 4)}${unit ? ` ${unit}` : ''}`) },
        ],
        hooks: { drawClear: [(u) => this.drawMarks(u)] },
      };
      const plot = new uPlot(options, [x, analysis.data[m.key]], box);
      const head = document.createElement('div');
      head.className = 'playhead';
      plot.over.appendChild(head);
      plot.playhead = head;
      plot.over.addEventListener('mouseenter', () => { this.hovering = true; });
      plot.over.addEventListener('mouseleave', () => { this.hovering = false; this.showTime(); });
      plot.over.addEventListener('mousedown', (e) => {
        const at = plot.posToVal(e.offsetX, 'x');
        this.state.pause();
        this.state.seek(at - this.state.startTime());
      });
      this.plots.push(plot);
    });
    this.showTime();
    // uPlot lays a new plot out at its first commit, which resets the cursor: the legends would
    // show the last tick's values until the time moved. Once more after that commit.
    requestAnimationFrame(() => this.showTime());
  }

  /** Pauses as spans, waypoints reached as thin lines, cuts as red ones, behind the curve. */
  drawMarks(u) {
    const g = u.ctx;
    const { top, height } = u.bbox;
    const start = this.state.startTime();
    const gap = MIN_MARK_GAP * (window.devicePixelRatio || 1);
    let lastWaypoint = -Infinity;
    g.save();
    for (const m of this.marks) {
      const x0 = u.valToPos(start + m.at, 'x', true);
      if (m.kind === 'waypoint') {
        if (x0 - lastWaypoint < gap) continue;  // as on the timeline: dense waypoints thinned
        lastWaypoint = x0;
      }
      if (m.kind === 'pause') {
        const x1 = u.valToPos(start + m.end, 'x', true);
        g.fillStyle = 'rgba(120,160,255,0.13)';
        g.fillRect(x0, top, Math.max(1, x1 - x0), height);
      } else if (m.kind === 'waypoint' || m.kind === 'cut') {
        g.strokeStyle = m.kind === 'cut' ? 'rgba(255,90,90,0.9)' : 'rgba(240,168,48,0.35)';
        g.lineWidth = m.kind === 'cut' ? 2 : 1;
        g.beginPath(); g.moveTo(Math.round(x0) + 0.5, top); g.lineTo(Math.round(x0) + 0.5, top + height); g.stroke();
      }
    }
    g.restore();
  }

  showTime() {
    if (!this.plots.length) return;
    const clock = this.state.clock();
    for (const p of this.plots) p.playhead.style.transform = `translateX(${p.valToPos(clock, 'x').toFixed(1)}px)`;
    const { flight, tick } = this.state;
    if (!this.hovering && flight && tick >= 0 && tick < flight.rows) {
      // The legends show the values of the tick shown (the camera holds it until the next one)
      // when the pointer is not over a plot; the cursor snaps to the nearest tick, so it goes
      // to the tick's own time, not to the playhead between two ticks.
      const held = this.state.startTime() + flight.elapsed[tick];
      for (const p of this.plots) p.setCursor({ left: p.valToPos(held, 'x'), top: p.over.clientHeight / 2 }, false, false);
    }
  }

  resize() {
    const width = Math.max(200, this.stack.clientWidth);
    for (const p of this.plots) p.setSize({ width, height: p.height });
    this.showTime();
  }
}
