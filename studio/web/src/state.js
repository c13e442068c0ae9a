// What the studio shows, in one place: the scene as the server reports it, the editor's drawing,
// the flight of the iterator in use with its analysis, the selection and the current time.
// Views never talk to each other; they change this state and listen to its events:
//   'scene' 'draw' 'flight' 'messages' 'lint'   new data from the server
//   'select'                             the selected objects changed: `selection` (the one the
//                                        inspector and gizmo show, name or null) and `selected`
//   'time'                               the current time (and so maybe the tick) changed, or the
//                                        eye shown at it (an edit's preview of the camera)
//   'play'                               playback started or stopped
//   'options'                            a view option changed (base field of view...)

import { Emitter } from './emitter.js';
import { eyeAxes, tickAt } from './flight.js';
import { jsonFloat } from './wire.js';

export class StudioState extends Emitter {
  constructor() {
    super();
    this.scene = null;        // {file, iterators, iterator, objects}
    this.objects = new Map(); // name -> object of the scene answer
    this.draw = null;
    this.flight = null;       // decoded: typed columns, events
    this.analysis = null;     // decoded: columns with null, marks
    this.messages = [];
    this.flightParams = { iterator: null, start: 0, step: 16, maxTicks: 100000 };
    this.selection = null;    // the primary selected object: the last one picked
    this.selected = new Set(); // every selected object, the primary among them
    this.elapsed = 0;         // ms since the first tick
    this.tick = -1;           // the tick shown
    this.playing = false;
    this.options = { fovBase: 60, showTrajectory: true, showDrawing: true, showLabels: true, showLevel: true };
    this.playStartWall = 0;
    this.playStartElapsed = 0;
    this.frameRequest = 0;
    this.held = null;         // {elapsed, shown}: the time to go back to once a flight in parts is whole
    this.eyeOverride = null;  // the server's eye at the shown tick after an edit, until the new flight
    this.eyeScratch = { x: 0, y: 0, z: 0, fov: 1 };
    this.advance = this.advance.bind(this);
  }

  setScene(scene) {
    this.scene = scene;
    this.objects = new Map(scene.objects.map((o) => [o.name, o]));
    // The iterator shown may have been deleted or renamed by an edit: then the server's own.
    if (!this.flightParams.iterator || !scene.iterators.includes(this.flightParams.iterator))
      this.flightParams.iterator = scene.iterator;
    const kept = [...this.selected].filter((n) => this.objects.has(n));
    const lost = kept.length !== this.selected.size;
    if (lost) this.selected = new Set(kept);
    if (this.selection && !this.objects.has(this.selection)) this.selection = kept.length ? kept[kept.length - 1] : null;
    this.emit('scene', scene);
    // Views that mark the selection hear of the objects that left it (deleted, or renamed elsewhere).
    if (lost) this.emit('select', this.selection);
  }

  setDraw(draw) { this.draw = draw; this.emit('draw', draw); }

  setMessages(messages) { this.messages = messages; this.emit('messages', messages); }

  /** The linter's findings (GET /api/lint) of the flight shown. */
  setLint(findings) { this.lint = findings; this.emit('lint', findings); }

  /**
   * A new flight and its analysis (same ticks); the time is kept where it can be. `partial`:
   * the first part of a flight still being flown; the time shown before it is kept for the
   * whole flight, unless the time is moved meanwhile.
   */
  setFlight(flight, analysis, { partial = false } = {}) {
    const held = this.held && this.held.shown === this.elapsed ? this.held.elapsed : this.elapsed;
    this.flight = flight;
    this.analysis = analysis;
    this.eyeOverride = null;
    this.emit('flight', flight, analysis);
    this.seek(Math.min(held, this.duration()));
    this.held = partial ? { elapsed: held, shown: this.elapsed } : null;
  }

  setOption(name, value) {
    this.options[name] = value;
    this.emit('options', name, value);
  }

  /** Selects `name` alone (null: nothing). */
  select(name) {
    const next = name && this.objects.has(name) ? name : null;
    if (next === this.selection && this.selected.size === (next ? 1 : 0)) return;
    this.selection = next;
    this.selected = new Set(next ? [next] : []);
    this.emit('select', next);
  }

  /**
   * Selects `names` (unknown ones are left out); `add`: toggles them into the selection as
   * shift or ctrl clicks do. The primary becomes the last one added, or stays when still selected.
   */
  selectMany(names, { add = false } = {}) {
    const known = names.filter((n) => this.objects.has(n));
    const next = add ? new Set(this.selected) : new Set();
    for (const n of known) {
      if (add && next.has(n) && known.length === 1) next.delete(n);
      else next.add(n);
    }
    const added = known.filter((n) => next.has(n));
    const primary = added.length ? added[added.length - 1] : next.has(this.selection) ? this.selection : [...next].pop() ?? null;
    const same = primary === this.selection && next.size === this.selected.size && [...next].every((n) => this.selected.has(n));
    if (same) return;
    this.selection = primary;
    this.selected = next;
    this.emit('select', primary);
  }

  /** A click on `name` (null: on nothing): with `add` (shift or ctrl) it toggles, else selects it alone. */
  clicked(name, { add = false } = {}) {
    if (!add) this.select(name);
    else if (name) this.selectMany([name], { add: true });
  }

  /** The selected objects, in the scene's order (as the object list shows them). */
  selectedInOrder() {
    return this.scene ? this.scene.objects.map((o) => o.name).filter((n) => this.selected.has(n)) : [];
  }

  /** The attribute `name` of the object `objectName`, or undefined. */
  attribute(objectName, name) {
    const object = this.objects.get(objectName);
    const record = object && object.attributes.find((a) => a.name === name);
    return record ? record.value : undefined;
  }

  /**
   * Shows `frame` (an /api/frame answer) as the eye at the current tick until the next flight
   * arrives: after an edit the camera view moves at once, before the whole flight is flown again.
   */
  setEye(frame) {
    if (!this.flight || this.tick < 0) return;
    const o = { tick: this.tick, flight: this.flight };
    for (const key of ['x', 'y', 'z', 'fov', 'm00', 'm01', 'm02', 'm10', 'm11', 'm12', 'm20', 'm21', 'm22']) o[key] = jsonFloat(frame[key]);
    this.eyeOverride = o;
    this.emit('time', this.elapsed, this.tick);
  }

  /** The eye shown now: {x, y, z, fov} (reused, do not keep) with its axes into `axes`; null without one. */
  shownEye(axes) {
    const { flight, tick } = this;
    if (!flight || tick < 0) return null;
    const e = this.eyeScratch, o = this.eyeOverride;
    if (o && o.tick === tick && o.flight === flight) {
      axes[0] = o.m00; axes[1] = o.m10; axes[2] = o.m20;
      axes[3] = o.m01; axes[4] = o.m11; axes[5] = o.m21;
      axes[6] = o.m02; axes[7] = o.m12; axes[8] = o.m22;
      e.x = o.x; e.y = o.y; e.z = o.z; e.fov = o.fov;
      return e;
    }
    eyeAxes(flight, tick, axes);
    e.x = flight.x[tick]; e.y = flight.y[tick]; e.z = flight.z[tick]; e.fov = flight.fov[tick];
    return e;
  }

  // -- Time -------------------------------------------------------------------------------------

  rows() { return this.flight ? this.flight.rows : 0; }
  duration() { return this.rows() ? this.flight.elapsed[this.rows() - 1] : 0; }
  startTime() { return this.rows() ? this.flight.time[0] : this.flightParams.start; }
  /** The flight's clock (ms, as the server reports times) at `elapsed`. */
  clock(elapsed = this.elapsed) { return this.startTime() + elapsed; }
  /** A time the server reports (uint32 ms) as ms since the first tick. */
  elapsedOf(time) { return (time - this.startTime()) >>> 0; }

  seek(elapsed) {
    const clamped = Math.min(Math.max(0, elapsed), this.duration());
    const tick = this.flight ? tickAt(this.flight.elapsed, clamped) : -1;
    if (clamped === this.elapsed && tick === this.tick) return;
    this.elapsed = clamped;
    this.tick = tick;
    this.emit('time', clamped, tick);
  }

  /** One tick on (`by` = 1) or back (-1). */
  step(by) {
    if (!this.rows()) return;
    this.pause();
    const i = Math.min(Math.max(0, this.tick + by), this.rows() - 1);
    this.seek(this.flight.elapsed[i]);
  }

  /** Times (elapsed) of the first ticks that show the waypoints reached (a mark stands at the arrival, between ticks). */
  waypointTimes() {
    if (!this.analysis || !this.rows()) return [];
    const elapsed = this.flight.elapsed;
    return this.analysis.marks.filter((m) => m.kind === 'waypoint').map((m) => {
      const at = this.elapsedOf(m.time), i = tickAt(elapsed, at);
      return elapsed[i] < at && i + 1 < elapsed.length ? elapsed[i + 1] : elapsed[i];
    });
  }

  /** To the next (`direction` 1) or previous (-1) waypoint reached; the ends of the flight past them. */
  jumpWaypoint(direction) {
    this.pause();
    const times = this.waypointTimes();
    const epsilon = 0.5;
    let target = direction > 0 ? this.duration() : 0;
    for (const t of times) {
      if (direction > 0 && t > this.elapsed + epsilon && t < target) target = t;
      if (direction < 0 && t < this.elapsed - epsilon && t > target) target = t;
    }
    this.seek(target);
  }

  /** The name of the switched-on waypoint with index `index` of the flight, from the marks. */
  waypointName(index) {
    if (!this.analysis) return null;
    const mark = this.analysis.marks.find((m) => m.waypoint === index && m.name);
    return mark ? mark.name : null;
  }

  // -- Playback at the flight's own speed -------------------------------------------------------

  play() {
    if (this.playing || !this.rows()) return;
    if (this.elapsed >= this.duration()) this.seek(0);
    this.playing = true;
    this.playStartWall = performance.now();
    this.playStartElapsed = this.elapsed;
    this.frameRequest = requestAnimationFrame(this.advance);
    this.emit('play', true);
  }

  pause() {
    if (!this.playing) return;
    this.playing = false;
    cancelAnimationFrame(this.frameRequest);
    this.emit('play', false);
  }

  toggle() { if (this.playing) this.pause(); else this.play(); }

  advance(now) {
    if (!this.playing) return;
    const elapsed = this.playStartElapsed + (now - this.playStartWall);
    this.seek(elapsed);
    if (elapsed >= this.duration()) this.pause();
    else this.frameRequest = requestAnimationFrame(this.advance);
  }
}
