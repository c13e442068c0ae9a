// What the studio shows, in one place: the scene as the server reports it, the editor's drawing,
// the flight of the iterator in use with its analysis, the selection and the current time.
// Views never talk to each other; they change this state and listen to its events:
//   'scene' 'draw' 'flight' 'messages'   new data from the server
//   'select'                             the selected object changed (name or null)
//   'time'                               the current time (and so maybe the tick) changed
//   'play'                               playback started or stopped
//   'options'                            a view option changed (base field of view...)

import { tickAt } from './flight.js';

export class Emitter {
  constructor() { this.listeners = new Map(); }
  on(event, listener) {
    if (!this.listeners.has(event)) this.listeners.set(event, []);
    this.listeners.get(event).push(listener);
  }
  emit(event, ...args) {
    for (const listener of this.listeners.get(event) || []) listener(...args);
  }
}

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
    this.selection = null;
    this.elapsed = 0;         // ms since the first tick
    this.tick = -1;           // the tick shown
    this.playing = false;
    this.options = { fovBase: 60, showTrajectory: true, showDrawing: true, showLabels: true };
    this.playStartWall = 0;
    this.playStartElapsed = 0;
    this.frameRequest = 0;
    this.advance = this.advance.bind(this);
  }

  setScene(scene) {
    this.scene = scene;
    this.objects = new Map(scene.objects.map((o) => [o.name, o]));
    if (!this.flightParams.iterator) this.flightParams.iterator = scene.iterator;
    if (this.selection && !this.objects.has(this.selection)) this.selection = null;
    this.emit('scene', scene);
  }

  setDraw(draw) { this.draw = draw; this.emit('draw', draw); }

  setMessages(messages) { this.messages = messages; this.emit('messages', messages); }

  /** A new flight and its analysis (same ticks); the time is kept where it can be. */
  setFlight(flight, analysis) {
    this.flight = flight;
    this.analysis = analysis;
    this.emit('flight', flight, analysis);
    this.seek(Math.min(this.elapsed, this.duration()));
  }

  setOption(name, value) {
    this.options[name] = value;
    this.emit('options', name, value);
  }

  select(name) {
    const next = name && this.objects.has(name) ? name : null;
    if (next === this.selection) return;
    this.selection = next;
    this.emit('select', next);
  }

  /** The attribute `name` of the object `objectName`, or undefined. */
  attribute(objectName, name) {
    const object = this.objects.get(objectName);
    const record = object && object.attributes.find((a) => a.name === name);
    return record ? record.value : undefined;
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

  /** Times (elapsed) of the waypoints reached, from the analysis' marks. */
  waypointTimes() {
    if (!this.analysis) return [];
    return this.analysis.marks.filter((m) => m.kind === 'waypoint').map((m) => this.elapsedOf(m.time));
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
