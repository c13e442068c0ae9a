// The timeline: transport buttons, the current time, tick and waypoint, and a track with the
// flight's marks (waypoints reached, pauses as spans, cuts, activations, deactivation and the
// runtime's messages) that scrubs when dragged. A waypoint's mark dragged retimes the flight
// (see retiming.js). The marks are painted once into a layer of their own; a time change only
// copies it and draws the playhead.

import { formatNumber, formatTime, niceStep } from './format.js';
import { draggedMarks, dragBatch, markSegments, retimeByDrag } from './retiming.js';
import { SpeedBar } from './speedbar.js';

export const PLOT_LEFT = 64;   // CSS px left of the plots' drawing area (their y axis); the track matches it
export const PLOT_RIGHT = 14;

const MARK_COLOURS = {
  waypoint: '#f0a830', pause: 'rgba(120,160,255,0.22)', cut: '#ff5a5a',
  activate: '#4ed27a', deactivate: '#ff7b54', message: '#ffd84d',
  'lint-warning': '#ffb347', 'lint-error': '#ff4d6d',
};

/** The closest two waypoint lines may stand, in CSS pixels. */
export const MIN_MARK_GAP = 5;

/** How near (CSS px) the pointer must come to a waypoint's line to drag it. */
const GRAB_DISTANCE = 5;

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
        <span class="readout shrinks"><span class="caption">waypoint</span> <b data-role="waypoint">–</b></span>
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
    this.editor = null;
    this.notify = () => {};
    this.drag = null;   // a waypoint mark being dragged: {segments, pointer, x, moved, shift, result}
    this.held = null;   // the marks where a drop left them, until the retimed flight arrives
    this.width = 1;
    this.height = 1;
    const acts = {
      home: () => { state.pause(); state.seek(0); }, end: () => { state.pause(); state.seek(state.duration()); },
      back: () => state.step(-1), fwd: () => state.step(1), play: () => state.toggle(),
      prevWp: () => state.jumpWaypoint(-1), nextWp: () => state.jumpWaypoint(1),
    };
    root.querySelectorAll('[data-act]').forEach((b) => b.addEventListener('click', () => acts[b.dataset.act]()));
    this.listenForPointer();
    const repaint = () => { this.marks = flightMarks(state); this.paintLayer(); this.showTime(); };
    state.on('flight', () => { this.held = null; repaint(); });
    state.on('lint', repaint);
    state.on('time', () => this.showTime());
    state.on('play', (playing) => { this.playButton.innerHTML = playing ? ICONS.pause : ICONS.play; this.playButton.classList.toggle('on', playing); });
    new ResizeObserver(() => this.resize()).observe(this.track);
  }

  /** Edits go through `editor`: dragging waypoint marks and the speed actions. */
  connectEditor(editor, notify) {
    this.editor = editor;
    this.notify = notify;
    this.speedBar = new SpeedBar(this.readout.time.closest('.transport'), this.state, editor, notify);
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
    const marks = this.shownMarks();
    for (const m of marks) if (m.kind === 'pause') {
      g.fillStyle = MARK_COLOURS.pause;
      g.fillRect(this.x(m.at), 0, Math.max(2, this.x(m.end) - this.x(m.at)), h - 16);
    }
    let lastLabelEnd = -Infinity, lastWaypoint = -Infinity;
    for (const m of marks) {
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
    if (this.drag && this.drag.result) this.paintDraggedMark(g);

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

  /** The dragged mark over the track: where it was (dashed) and where it goes, with its name. */
  paintDraggedMark(g) {
    const { segments, result } = this.drag;
    const from = Math.round(this.x(segments.at)) + 0.5, to = Math.round(this.x(result.at)) + 0.5;
    const bottom = this.height - 16;
    g.strokeStyle = MARK_COLOURS.waypoint;
    g.setLineDash([3, 3]);
    g.lineWidth = 1;
    g.beginPath(); g.moveTo(from, 14); g.lineTo(from, bottom); g.stroke();
    g.setLineDash([]);
    g.lineWidth = 3;
    g.beginPath(); g.moveTo(to, 12); g.lineTo(to, bottom); g.stroke();
    g.lineWidth = 1;
    g.font = 'bold 11px system-ui, sans-serif';
    g.textBaseline = 'top';
    const text = `${segments.name} ${formatTime(this.state.clock(result.at))}`;
    const w = g.measureText(text).width;
    const left = Math.min(to + 4, this.width - PLOT_RIGHT - w - 6);
    g.fillStyle = '#0d0f13';
    g.fillRect(left - 2, 0, w + 6, 14);
    g.fillStyle = MARK_COLOURS.waypoint;
    g.fillText(text, left + 1, 1);
  }

  /** The marks as painted: while a mark is dragged, or its drop awaits the new flight, where they will be. */
  shownMarks() {
    if (this.drag && this.drag.result) return draggedMarks(this.marks, this.drag.segments, this.drag.result);
    return this.held || this.marks;
  }

  /** The flight's tick in ms (the ticks stand at its multiples from the first). */
  tickStep() {
    const f = this.state.flight;
    return f && f.rows > 1 ? f.elapsed[1] - f.elapsed[0] : this.state.flightParams.step;
  }

  /** The draggable waypoint mark nearest `x` (within GRAB_DISTANCE), as markSegments gives it; or null. */
  markAt(x) {
    if (!this.editor || this.held) return null;
    const time2Next = (name) => this.state.attribute(name, 'Time2Next');
    let best = null, bestDistance = GRAB_DISTANCE;
    for (const m of this.marks) {
      if (m.kind !== 'waypoint') continue;
      const distance = Math.abs(this.x(m.at) - x);
      if (distance > bestDistance) continue;
      const segments = markSegments(this.marks, m.waypoint, time2Next);
      if (segments) { best = segments; bestDistance = distance; }
    }
    return best;
  }

  listenForPointer() {
    let scrubbing = false;
    const pointerX = (e) => e.clientX - this.track.getBoundingClientRect().left;
    const seekTo = (e) => this.state.seek(this.elapsedAt(pointerX(e)));
    this.track.addEventListener('pointerdown', (e) => {
      if (e.button !== 0) return;
      this.track.setPointerCapture(e.pointerId);
      this.state.pause();
      const segments = this.markAt(pointerX(e));
      if (segments) {
        this.drag = { segments, pointer: e.pointerId, startX: pointerX(e), x: pointerX(e), moved: false, shift: e.shiftKey, result: null };
        this.track.classList.add('dragging-mark');
        return;
      }
      scrubbing = true;
      seekTo(e);
    });
    this.track.addEventListener('pointermove', (e) => {
      if (this.drag) {
        this.drag.x = pointerX(e);
        this.drag.shift = e.shiftKey;
        if (Math.abs(this.drag.x - this.drag.startX) > 2) this.drag.moved = true;
        if (this.drag.moved) this.previewDrag();
        return;
      }
      if (scrubbing) seekTo(e);
      this.hover(e);
    });
    this.track.addEventListener('pointerup', (e) => {
      scrubbing = false;
      if (!this.drag) return;
      const drag = this.drag;
      this.endDrag();
      // A click on a mark without moving it seeks there, as anywhere else on the track.
      if (!drag.moved) seekTo(e);
      else this.dropMark(drag);
    });
    this.track.addEventListener('pointercancel', () => { scrubbing = false; if (this.drag) this.endDrag(); });
    this.track.addEventListener('pointerleave', () => { if (!this.drag) this.tooltip.hidden = true; });
    // Before the page's own keys (capture on the window): Esc drops the drag, not the selection.
    window.addEventListener('keydown', (e) => {
      if (!this.drag) return;
      if (e.key === 'Escape') {
        e.preventDefault();
        e.stopPropagation();
        if (this.track.hasPointerCapture(this.drag.pointer)) this.track.releasePointerCapture(this.drag.pointer);
        this.endDrag();
      } else if (e.key === 'Shift' && this.drag.moved) {
        this.drag.shift = true;
        this.previewDrag();
      }
    }, true);
    window.addEventListener('keyup', (e) => {
      if (this.drag && e.key === 'Shift' && this.drag.moved) { this.drag.shift = false; this.previewDrag(); }
    }, true);
  }

  /** The dragged mark where the pointer puts it: the marks moved, its times in the tooltip. */
  previewDrag() {
    const drag = this.drag;
    const { segments } = drag;
    const result = drag.result = retimeByDrag(segments, this.elapsedAt(drag.x), this.tickStep(), drag.shift);
    const clock = (elapsed) => formatTime(this.state.clock(elapsed));
    const signed = (ms) => `${ms < 0 ? '−' : '+'}${formatTime(Math.abs(ms))}`;
    const lines = [`${segments.name} reached at ${clock(result.at)} (${signed(result.delta)})`,
      `${segments.before.name} Time2Next ${segments.before.time} → ${result.before} ms`];
    if (result.keepsLater) lines.push(`${segments.after.name} Time2Next ${segments.after.time} → ${result.after} ms`);
    lines.push(result.keepsLater ? 'later marks stay · Shift: they move too' : 'later marks move along');
    lines.push('Esc cancels');
    this.tooltip.textContent = lines.join('\n');
    this.tooltip.hidden = false;
    this.tooltip.style.left = `${Math.max(0, Math.min(this.x(result.at) + 10, this.width - 280))}px`;
    this.paintLayer();
    this.showTime();
  }

  endDrag() {
    this.drag = null;
    this.track.classList.remove('dragging-mark');
    this.tooltip.hidden = true;
    this.paintLayer();
    this.showTime();
  }

  /** Sends the drop's times as one change (one undo step); the marks stay where dropped until the new flight. */
  dropMark(drag) {
    if (!drag.result) return;
    const batch = dragBatch(drag.segments, drag.result);
    if (!batch) return;
    this.held = draggedMarks(this.marks, drag.segments, drag.result);
    this.paintLayer();
    this.showTime();
    const api = this.editor.api;
    this.editor.change((revision) => api.send('POST', '/api/batch', { ...batch, revision }))
      .catch((error) => {
        this.held = null;
        this.paintLayer();
        this.showTime();
        this.notify(error.reason || error.message, 'error');
      });
  }

  /** Names the marks within a few pixels of the pointer. */
  hover(e) {
    const rect = this.track.getBoundingClientRect();
    const x = e.clientX - rect.left;
    const draggable = this.markAt(x);
    this.track.classList.toggle('over-mark', !!draggable);
    const near = this.marks.filter((m) => (m.kind === 'pause' ? x >= this.x(m.at) - 3 && x <= this.x(m.end) + 3 : Math.abs(this.x(m.at) - x) <= 4));
    if (!near.length) { this.tooltip.hidden = true; return; }
    this.tooltip.hidden = false;
    const lines = near.slice(0, 6).map((m) => {
      const at = formatTime(this.state.clock(m.at));
      if (m.kind === 'pause') return `pause at ${m.label}: ${at} – ${formatTime(this.state.clock(m.end))}`;
      if (m.kind === 'waypoint') return `waypoint ${m.waypoint} ${m.label} reached at ${at}`;
      if (m.kind === 'cut') return `cut after waypoint ${m.waypoint} ${m.label} at ${at}`;
      return `${m.kind} ${m.label} at ${at}`;
    });
    if (draggable) lines.push(`drag ${draggable.name} to retime (Shift: later marks move too)`);
    this.tooltip.textContent = lines.join('\n');
    this.tooltip.style.left = `${Math.min(x + 10, this.width - 260)}px`;
  }
}
