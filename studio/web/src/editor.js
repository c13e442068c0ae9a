// Changes to the scene, as the server makes them: every edit of the page goes through here.
// The server keeps the scene, its undo history and its file; the page asks for a change and
// shows the answer. Changes run one after the other (each carries the revision the page last
// saw, so a scene changed meanwhile by another tab is refused, not overwritten), and after each
// the page catches up in order of what the eye notices first:
//   1. the answer's drawing (the path's lines) at once;
//   2. the camera at the playhead from /api/frame, so the camera view moves in the next frame;
//   3. the scene (a refit changes the waypoints' attributes), the flight and its analysis
//      (the playhead keeps its time), the status (unsaved?) and the undo history.
// A drag sends a position per pointer move but never more than one request at a time (the
// latest position goes when the previous answer is in), and refetches the scene and the
// flight only a few times a second and once when it ends.
//
// Events: 'status' (the /api/status answer), 'history' ({undo, redo} labels), 'changed' (the
// answer of a change the server made, drags' steps aside), 'error' (an ApiError of a change
// nobody else reports, e.g. during a drag).

import { Emitter } from './emitter.js';
import { Latest } from './edits.js';
import { applyDrawChanges } from './drawing.js';
import { joinFlights } from './flight.js';

/**
 * Ticks per part of a flight: long flights (a path of a thousand waypoints flies some 30 us a
 * tick on the server) arrive part by part, with the server free for edits between parts.
 */
export const FLIGHT_PART_TICKS = 2048;

/** During a drag the scene and flight are refetched at most this often (ms). */
export const DRAG_REFRESH_MS = 400;

/** A 409 that says the scene is at another revision than the page thought. */
export const isStale = (error) =>
  !!error && error.status === 409 && error.body && Number.isInteger(error.body.revision) &&
  !error.body.changedOnDisk && !error.body.exists;

export class Editor extends Emitter {
  constructor(state, api) {
    super();
    this.state = state;
    this.api = api;
    this.revision = null;
    this.status = null;
    this.history = { undo: [], redo: [] };
    this.chain = Promise.resolve();
    this.dragging = null;        // {name, gesture, sent}
    this.gestures = 0;
    this.ending = null;
    this.drags = new Latest((job) => this.enqueue(() => this.sendDrag(job)));
    this.refreshQueued = false;
    this.lastRefresh = -Infinity;
    this.stale = false;
    this.pendingSelect = undefined;
    this.stepTimes = [];
    this.flightGeneration = 0;
    this.flightLoading = Promise.resolve();
  }

  /** Runs `job` after every change and refresh asked for before it; resolves with its result. */
  enqueue(job) {
    const run = this.chain.then(job);
    this.chain = run.catch(() => {});
    return run;
  }

  /** Resolves once no change, drag or refresh is out or waiting. */
  async settled() {
    for (;;) {
      const chain = this.chain, loading = this.flightLoading;
      if (this.ending) await this.ending;
      await this.drags.idle();
      await chain;
      await loading;
      if (chain === this.chain && loading === this.flightLoading && !this.ending && !this.drags.running) return;
    }
  }

  setStatus(status) {
    this.status = status;
    this.emit('status', status);
  }

  setHistory(history) {
    this.history = { undo: history.undo || [], redo: history.redo || [] };
    this.emit('history', this.history);
  }

  /** The status and history at load; from then on the page sends this revision with every change. */
  async start(status, history) {
    this.revision = status.revision;
    this.setStatus(status);
    this.setHistory(history);
  }

  /** The status; a scene that another tab or a script changed meanwhile is fetched and shown. */
  async refreshStatus() {
    let status;
    try { status = await this.api.status(); } catch { return; /* shown with the next change */ }
    this.setStatus(status);
    if (Number.isInteger(status.revision) && this.revision !== null && status.revision !== this.revision && !this.dragging)
      this.enqueue(() => (this.status.revision !== this.revision ? this.refreshNow(true) : null))
        .catch((error) => this.emit('error', error));
  }

  // -- Changes ------------------------------------------------------------------------------------

  /**
   * Makes the change `request(revision)` (a promise of the server's answer) in turn and shows
   * its outcome; resolves with the answer. `select`: the object to select once the scene is
   * refetched, or a function of the answer giving it. A refusal rejects with the ApiError and
   * leaves the page as it was; a stale revision also refetches everything first.
   */
  change(request, { select } = {}) {
    return this.enqueue(async () => {
      let answer;
      try {
        answer = await request(this.revision);
      } catch (error) {
        if (isStale(error)) await this.refreshNow(true);
        throw error;
      }
      if (select !== undefined) this.pendingSelect = typeof select === 'function' ? select(answer) : select;
      this.emit('changed', answer);
      await this.apply(answer);
      this.scheduleRefresh();
      return answer;
    });
  }

  async apply(answer) {
    if (Number.isInteger(answer.revision)) this.revision = answer.revision;
    // The later steps of a drag bring only what changed in the drawing since the step before;
    // where that cannot be applied to the drawing held, the whole one is asked for: the page
    // never shows a drawing it cannot vouch for.
    if (answer.draw) this.state.setDraw(answer.draw);
    else this.state.setDraw(applyDrawChanges(this.state.draw, answer.drawChanges) || await this.api.draw());
    if (answer.messages && answer.messages.length) this.state.setMessages([...this.state.messages, ...answer.messages]);
    await this.refreshEye();
  }

  /** The eye at the playhead's tick as the changed scene flies it. */
  async refreshEye() {
    const { flight, tick, flightParams } = this.state;
    if (!flight || tick < 0 || !flightParams.iterator) return;
    try {
      this.state.setEye(await this.api.frame(flightParams, flight.time[tick]));
    } catch { /* the flight that follows shows what there is */ }
  }

  patch(name, body) {
    return this.change((revision) => this.api.patch(name, { ...body, revision }));
  }

  setAttribute(name, attribute, value) {
    return this.patch(name, { attributes: { [attribute]: value } });
  }

  rename(name, newName) {
    return this.change(async (revision) => {
      const answer = await this.api.patch(name, { name: newName, revision });
      if (this.state.flightParams.iterator === name) this.state.flightParams.iterator = newName;
      return answer;
    }, { select: this.state.selection === name ? newName : undefined });
  }

  /** Creates an object (see POST /api/objects) and selects it; resolves with its name. */
  async create(body) {
    const answer = await this.change((revision) => this.api.create({ ...body, revision }), { select: (a) => a.object });
    return answer.object;
  }

  remove(name) { return this.change((revision) => this.api.remove(name, { revision })); }
  move(name, parent, index) { return this.change((revision) => this.api.move(name, { parent, index, revision })); }
  undo() { return this.change((revision) => this.api.undo({ revision })); }
  redo() { return this.change((revision) => this.api.redo({ revision })); }
  reload() { return this.change((revision) => this.api.reload({ revision })); }

  /** Saves (body as POST /api/save takes it) after every change asked for before; resolves with the status. */
  save(body = {}) {
    return this.enqueue(async () => {
      const status = await this.api.save(body);
      this.setStatus(status);
      return status;
    });
  }

  // -- Drags --------------------------------------------------------------------------------------

  /** A drag of `name` begins: its steps share one gesture id, which makes them one undo step. */
  beginDrag(name) {
    // Unique across tabs too: the server answers a gesture's later steps with the drawing's
    // changes since its step before, which only the tab that sent that step holds.
    const nonce = Math.floor(Math.random() * 2 ** 40).toString(36);
    this.dragging = { name, gesture: `drag-${Date.now().toString(36)}-${nonce}-${++this.gestures}`, sent: false };
  }

  /** One step of the drag: `body` is {position} or {orientation}. Coalesced (see Latest). */
  drag(body) {
    const drag = this.dragging;
    if (!drag) return Promise.resolve();
    drag.sent = true;
    return this.drags.push({ name: drag.name, body: { ...body, gesture: drag.gesture } });
  }

  async sendDrag({ name, body }) {
    const began = performance.now();
    let answer;
    try {
      answer = await this.api.patch(name, { ...body, revision: this.revision });
    } catch (error) {
      if (isStale(error)) await this.refreshNow(true);
      this.emit('error', error);
      return;
    }
    await this.apply(answer);
    // From sending a step to holding its drawing and the camera's eye, which the next animation
    // frame shows: the last hundred steps, to see where a drag lags (and for the browser test).
    this.stepTimes.push(performance.now() - began);
    if (this.stepTimes.length > 100) this.stepTimes.shift();
    this.scheduleRefresh();
  }

  /** The drag ended: once its last step is answered, the scene and flight catch up. */
  endDrag() {
    const drag = this.dragging;
    if (!drag) return Promise.resolve();
    const ending = this.drags.idle().then(() => {
      if (this.dragging === drag) this.dragging = null;
      if (drag.sent) { this.stale = false; this.queueRefresh(); }
    });
    const tracked = ending.finally(() => { if (this.ending === tracked) this.ending = null; });
    this.ending = tracked;
    return tracked;
  }

  // -- Catching up --------------------------------------------------------------------------------

  /** A refetch after a change; during a drag at most every DRAG_REFRESH_MS (the end catches up). */
  scheduleRefresh() {
    if (this.dragging && performance.now() - this.lastRefresh < DRAG_REFRESH_MS) { this.stale = true; return; }
    this.queueRefresh();
  }

  queueRefresh() {
    if (this.refreshQueued) return;
    this.refreshQueued = true;
    this.enqueue(async () => {
      this.refreshQueued = false;
      await this.refreshNow();
    }).catch((error) => this.emit('error', error));
  }

  /**
   * Fetches the scene, status and history, then the flight and analysis of the iterator shown
   * (the scene says whether it still exists). `adopt`: take the server's revision as the page's
   * (after a conflict, once the page shows what the server has).
   */
  async refreshNow(adopt = false) {
    this.lastRefresh = performance.now();
    // After a conflict the page may hold another scene's drawing too.
    const [scene, status, history, draw] = await Promise.all([this.api.scene(), this.api.status(), this.api.history(),
      adopt ? this.api.draw() : null]);
    const select = this.pendingSelect;
    this.pendingSelect = undefined;
    this.state.setScene(scene);
    if (draw) this.state.setDraw(draw);
    if (select !== undefined) this.state.select(select);
    if (adopt) this.revision = status.revision;
    this.setStatus(status);
    this.setHistory(history);
    const params = { ...this.state.flightParams };
    // The iterator shown was deleted and none is left: the views say what is missing.
    if (!params.iterator) {
      if (this.state.flight || this.state.analysis) this.state.setFlight(null, null);
      return;
    }
    // Not awaited: the flight comes in parts, and changes (a drag's steps) go on meanwhile.
    this.loadFlight(params).catch((error) => this.emit('error', error));
  }

  /**
   * Shows the flight of `params` as it is flown: part by part (FLIGHT_PART_TICKS ticks each,
   * `first` the first part when already asked for), each shown as it arrives, then its
   * analysis. A newer load or a change of the scene between two parts makes an older load
   * stop (its parts would mix two scenes); `settled` waits for the last load.
   */
  loadFlight(params, first = null) {
    const generation = ++this.flightGeneration;
    const current = () => generation === this.flightGeneration;
    // The findings shown are the old flight's until the new one's arrive: none meanwhile.
    if (this.state.lint) this.state.setLint(null);
    const load = (async () => {
      let flight = null;
      let part = await (first || this.api.flightPart(params, 0, FLIGHT_PART_TICKS));
      for (;;) {
        if (!current()) return;
        if (flight && part.revision !== flight.revision) {
          flight = null;  // the scene changed between two parts: from the start again
        } else {
          flight = flight ? joinFlights(flight, part) : part;
          if (part.complete) break;
          // What is flown so far, with the analysis shown until the whole flight's arrives.
          this.state.setFlight(flight, this.state.analysis, { partial: true });
        }
        part = await this.api.flightPart(params, flight ? flight.rows : 0, FLIGHT_PART_TICKS);
      }
      const analysis = await this.api.analysis(params);
      if (!current()) return;
      this.state.setFlight(flight, analysis);
      // The findings of the flight now shown (the server lints the flight it just flew).
      const findings = await this.api.lint(params);
      if (current()) this.state.setLint(findings);
    })();
    this.flightLoading = load.catch(() => {});
    return load;
  }
}
