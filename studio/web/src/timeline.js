// The timeline: transport buttons, the current time, tick and waypoint, and a track with the
// flight's marks (waypoints reached, pauses as spans, cuts, activations, deactivation and the
// runtime's messages) that scrubs when dragged. The marks are painted once into a layer of
// their own; a time change only copies it and draws the playhead.

import { formatNumber, formatTime, niceStep } from './format.js';

export const PLOT_LEFT = 64;   // CSS px left of the plots' drawing area (their y axis); the track matches it
export const PLOT_RIGHT = 14;

const MARK_COLOURS = {
  waypoint: '#f0a830', pause: 'rgba(120,160,255,0.22)', cut: '#ff5a5a',
  activate: '#4ed27a', deactivate: '#ff7b54', message: '#ffd84d',
  'lint-warning': '#ffb347', 'lint-error': '#ff4d6d',
};

/** The closest two waypoint lines may stand, in CSS pixels. */
export const MIN_MARK_GAP = 5;

/** A waypoint's name on the track is cut to this width (px), so a long one hides no other. */
const MAX_LABEL_WIDTH = 120;

/** `text` as drawn by `g`, cut with an ellipsis to at most `width` pixels. */
function fitText(g, text, width) {
  if (g.measureText(text).width <= width) return text;
  let lo = 0, hi = text.length;
  while (hi - lo > 1) {
    const mid = (lo + hi) >> 1;
    if (g.measureText(`${text.slice(0, mid)}…`).width <= width) lo = mid;
    else hi = mid;
  }
  return `${text.slice(0, lo)}…`;
}

/** Every mark of the flight in elapsed time: analysis marks and the flight's events. */
export function flightMarks(state) {
  const marks = [];
  if (state.analysis)
    for (const m of state.analysis.marks)
      marks.push({ kind: m.kind, at: state.elapsedOf(m.time), end: state.elapsedOf(m.end), label: m.name || `#${m.waypoint}`, waypoint: m.waypoint });
  if (state.flight)
    for (const e of state.flight.events) marks.push({ kind: e.kind, at: state.elapsedOf(e.time), end: state.elapsedOf(e.time), label: e.detail });
  // The linter's findings of the flight shown that happen at a time.
  for (const f of state.lint || [])
    if (f.time !== null && f.time !== undefined && f.severity !== 'info')
      marks.push({ kind: `lint-${f.severity}`, at: state.elapsedOf(f.time), end: state.elapsedOf(f.time), label: f.id });
  return marks;
}

// Transport icons as inline SVG: symbol glyphs are missing from many system fonts.
const svg = (d) => `<svg viewBox="0 0 16 16" width="14" height="14" aria-hidden="true"><path d="${d}" fill="currentColor"/></svg>`;
const ICONS = {
  home: svg('M3 2h2v12H3zM14 2v12L6 8z'),
  end: svg('M11 2h2v12h-2zM2 2v12l8-6z'),
  prevWp: svg('M2 2h2v12H2zM9 2v12L4 8zM15 2v12L10 8z'),
  nextWp: svg('M12 2h2v12h-2zM7 2v12l5-6zM1 2v12l5-6z'),
  back: svg('M11 3v10L5 8z'),
  fwd: svg('M5 3v10l6-5z'),
  play: svg('M4 2v12l10-6z'),
  pause: svg('M4 2h3v12H4zM9 2h3v12H9z'),
};
const button = (act, title, icon, className = '') =>
  `<button data-act="${act}" class="${className}" title="${title}" aria-label="${title}">${icon}</button>`;

export class Timeline {
  constructor(root, state) {
    this.state = state;
    root.innerHTML = `
      <div class="transport">
        ${button('home', 'To the start (Home)', ICONS.home)}
        ${button('prevWp', 'Previous waypoint (Shift+←)', ICONS.prevWp)}
        ${button('back', 'One tick back (←)', ICONS.back)}
        ${button('play', "Play / pause at the flight's speed (Space)", ICONS.play, 'play')}
        ${button('fwd', 'One tick on (→)', ICONS.fwd)}
        ${button('nextWp', 'Next waypoint (Shift+→)', ICONS.nextWp)}
        ${button('end', 'To the end (End)', ICONS.end)}
        <span class="readout"><span class="caption">time</span> <b data-role="time">–</b><span class="muted" data-role="duration"></span></span>
        <span class="readout"><span class="caption">tick</span> <b data-role="tick">–</b></span>
        <span class="readout"><span class="caption">waypoint</span> <b data-role="waypoint">–</b></span>
        <span class="readout"><span class="caption">eye</span> <b data-role="eye">–</b></span>
        <span class="readout warn" data-role="limit" hidden title="The flight ran into the tick limit before the iterator was deactivated">tick limit hit</span>
      </div>
      <div class="track" data-role="track"><canvas></canvas><div class="tooltip" hidden></div></div>`;
    this.track = root.querySelector('[data-role=track]');
    this.canvas = this.track.querySelector('canvas');
    this.tooltip = this.track.querySelector('.tooltip');
    this.layer = document.createElement('canvas');
    this.readout = Object.fromEntries([...root.querySelectorAll('[data-role]')].map((e) => [e.dataset.role, e]));
    this.playButton = root.querySelector('[data-act=play]');
    this.marks = [];
    this.width = 1;
    this.height = 1;
    const acts = {
      home: () => { state.pause(); state.seek(0); }, end: () => { state.pause(); state.seek(state.duration()); },
      back: () => state.step(-1), fwd: () => state.step(1), play: () => state.toggle(),
      prevWp: () => state.jumpWaypoint(-1), nextWp: () => state.jumpWaypoint(1),
    };
    root.querySelectorAll('[data-act]').forEach((b) => b.addEventListener('click', () => acts[b.dataset.act]()));
    this.listenForScrubs();
    const repaint = () => { this.marks = flightMarks(state); this.paintLayer(); this.showTime(); };
    state.on('flight', repaint);
    state.on('lint', repaint);
    state.on('time', () => this.showTime());
    state.on('play', (playing) => { this.playButton.innerHTML = playing ? ICONS.pause : ICONS.play; this.playButton.classList.toggle('on', playing); });
    new ResizeObserver(() => this.resize()).observe(this.track);
  }

  resize() {
    this.width = Math.max(1, this.track.clientWidth);
    this.height = Math.max(1, this.track.clientHeight);
    const ratio = window.devicePixelRatio || 1;
    for (const c of [this.canvas, this.layer]) {
      c.width = Math.round(this.width * ratio);
      c.height = Math.round(this.height * ratio);
    }
    this.canvas.style.width = `${this.width}px`;
    this.canvas.style.height = `${this.height}px`;
    this.paintLayer();
    this.showTime();
  }

  x(elapsed) {
    const duration = this.state.duration() || 1;
    return PLOT_LEFT + (elapsed / duration) * (this.width - PLOT_LEFT - PLOT_RIGHT);
  }

  elapsedAt(x) {
    const span = this.width - PLOT_LEFT - PLOT_RIGHT;
    return ((x - PLOT_LEFT) / span) * this.state.duration();
  }

  paintLayer() {
    const g = this.layer.getContext('2d');
    const ratio = this.layer.width / this.width;
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, this.width, this.height);
    const h = this.height, state = this.state;
    g.fillStyle = '#1b1f26';
    g.fillRect(PLOT_LEFT, 0, this.width - PLOT_LEFT - PLOT_RIGHT, h);
    g.font = '11px system-ui, sans-serif';
    g.textBaseline = 'top';
    // Seconds along the bottom.
    const duration = state.duration();
    if (duration > 0) {
      const step = niceStep(duration, Math.max(2, Math.floor((this.width - PLOT_LEFT) / 90)));
      g.fillStyle = '#7d8694';
      g.strokeStyle = '#2c323c';
      for (let t = 0; t <= duration + 1e-6; t += step) {
        const x = Math.round(this.x(t)) + 0.5;
        g.beginPath(); g.moveTo(x, h - 14); g.lineTo(x, h); g.stroke();
        g.fillText(formatNumber((state.clock(t)) / 1000, 4) + ' s', x + 3, h - 13);
      }
    }
    // Pauses first (behind), then lines with their names where there is room.
    for (const m of this.marks) if (m.kind === 'pause') {
      g.fillStyle = MARK_COLOURS.pause;
      g.fillRect(this.x(m.at), 0, Math.max(2, this.x(m.end) - this.x(m.at)), h - 16);
    }
    let lastLabelEnd = -Infinity, lastWaypoint = -Infinity;
    for (const m of this.marks) {
      if (m.kind === 'pause') continue;
      const x = Math.round(this.x(m.at)) + 0.5;
      // Where waypoints come closer than a few pixels, one line stands for them all (a path of
      // a thousand waypoints would otherwise paint the track solid); cuts are always drawn.
      if (m.kind === 'waypoint') {
        if (x - lastWaypoint < MIN_MARK_GAP) continue;
        lastWaypoint = x;
      }
      g.strokeStyle = g.fillStyle = MARK_COLOURS[m.kind] || '#aaa';
      if (m.kind === 'waypoint' || m.kind === 'cut') {
        g.lineWidth = m.kind === 'cut' ? 2 : 1;
        g.beginPath(); g.moveTo(x, 14); g.lineTo(x, h - 16); g.stroke();
        g.lineWidth = 1;
        const text = fitText(g, m.kind === 'cut' ? 'cut' : m.label, MAX_LABEL_WIDTH);
        const w = g.measureText(text).width;
        if (x + 3 > lastLabelEnd) { g.fillText(text, x + 3, 2); lastLabelEnd = x + 3 + w + 6; }
      } else {
        // Events as small triangles: activations pointing up, deactivation down, messages dots.
        const y = h - 22;
        g.beginPath();
        if (m.kind === 'message') g.arc(x, y, 3, 0, Math.PI * 2);
        else if (m.kind.startsWith('lint-')) { g.rect(x - 3, 16, 6, 6); }  // findings: squares along the top
        else if (m.kind === 'activate') { g.moveTo(x - 4, y + 3); g.lineTo(x + 4, y + 3); g.lineTo(x, y - 4); }
        else { g.moveTo(x - 4, y - 3); g.lineTo(x + 4, y - 3); g.lineTo(x, y + 4); }
        g.fill();
      }
    }
  }

  showTime() {
    const state = this.state;
    const g = this.canvas.getContext('2d');
    g.setTransform(1, 0, 0, 1, 0, 0);
    g.clearRect(0, 0, this.canvas.width, this.canvas.height);
    g.drawImage(this.layer, 0, 0);
    const ratio = this.canvas.width / this.width;
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    const x = Math.round(this.x(state.elapsed)) + 0.5;
    g.strokeStyle = '#ffffff';
    g.fillStyle = '#ffffff';
    g.lineWidth = 1.5;
    g.beginPath(); g.moveTo(x, 0); g.lineTo(x, this.height); g.stroke();
    g.beginPath(); g.moveTo(x - 5, 0); g.lineTo(x + 5, 0); g.lineTo(x, 6); g.fill();

    const r = this.readout;
    const flight = state.flight;
    this.track.dataset.playhead = x.toFixed(1);
    if (!flight || state.tick < 0) {
      for (const field of [r.time, r.tick, r.waypoint, r.eye]) field.textContent = '–';
      r.duration.textContent = '';
      return;
    }
    const i = state.tick;
    r.time.textContent = formatTime(flight.time[i]);
    r.duration.textContent = ` / ${formatTime(flight.time[flight.rows - 1])}`;
    r.tick.textContent = `${i + 1} / ${flight.rows}`;
    const name = state.waypointName(flight.waypoint[i]);
    // The iterator counts a waypoint reached once its pause is over: say where the camera stands.
    const pause = this.marks.find((m) => m.kind === 'pause' && state.elapsed >= m.at && state.elapsed < m.end);
    r.waypoint.textContent = `${flight.waypoint[i]}${name ? ` · ${name}` : ''}${pause ? ` · pausing at ${pause.label}` : ''}`;
    r.eye.textContent = `${formatNumber(flight.x[i], 4)}, ${formatNumber(flight.y[i], 4)}, ${formatNumber(flight.z[i], 4)}`;
    r.limit.hidden = !flight.hitLimit;
  }

  listenForScrubs() {
    let dragging = false;
    const seekTo = (e) => {
      const rect = this.track.getBoundingClientRect();
      this.state.seek(this.elapsedAt(e.clientX - rect.left));
    };
    this.track.addEventListener('pointerdown', (e) => {
      dragging = true;
      this.track.setPointerCapture(e.pointerId);
      this.state.pause();
      seekTo(e);
    });
    this.track.addEventListener('pointermove', (e) => {
      if (dragging) seekTo(e);
      this.hover(e);
    });
    this.track.addEventListener('pointerup', () => { dragging = false; });
    this.track.addEventListener('pointerleave', () => { this.tooltip.hidden = true; });
  }

  /** Names the marks within a few pixels of the pointer. */
  hover(e) {
    const rect = this.track.getBoundingClientRect();
    const x = e.clientX - rect.left;
    const near = this.marks.filter((m) => (m.kind === 'pause' ? x >= this.x(m.at) - 3 && x <= this.x(m.end) + 3 : Math.abs(this.x(m.at) - x) <= 4));
    if (!near.length) { this.tooltip.hidden = true; return; }
    this.tooltip.hidden = false;
    this.tooltip.textContent = near.slice(0, 6).map((m) => {
      const at = formatTime(this.state.clock(m.at));
      if (m.kind === 'pause') return `pause at ${m.label}: ${at} – ${formatTime(this.state.clock(m.end))}`;
      if (m.kind === 'waypoint') return `waypoint ${m.waypoint} ${m.label} reached at ${at}`;
      if (m.kind === 'cut') return `cut after waypoint ${m.waypoint} ${m.label} at ${at}`;
      return `${m.kind} ${m.label} at ${at}`;
    }).join('\n');
    this.tooltip.style.left = `${Math.min(x + 10, this.width - 260)}px`;
  }
}
