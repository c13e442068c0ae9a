// The studio server's JSON API. Every /api/ request carries the token of the page's own URL
// (the server prints it with the address); without it the server answers 403.

import { decodeAnalysis, decodeFlight } from './flight.js';

/**
 * An answer other than 200, with the server's reason and its whole body: a refused edit names
 * the object and attribute, a conflict carries the current revision or why a save was refused.
 */
export class ApiError extends Error {
  constructor(path, status, reason, body = {}) {
    super(`${path}: ${reason} (HTTP ${status})`);
    this.status = status;
    this.reason = reason;
    this.body = body;
  }
}

const objectPath = (name) => `/api/objects/${encodeURIComponent(name)}`;

export class Api {
  constructor(search = globalThis.location ? globalThis.location.search : '') {
    this.token = new URLSearchParams(search).get('token') || '';
    this.onUnreachable = null;  // called with the ApiError when the server cannot be reached
  }

  async get(path, params = {}) {
    const query = new URLSearchParams();
    for (const [key, value] of Object.entries(params))
      if (value !== undefined && value !== null && value !== '') query.set(key, String(value));
    const search = query.toString();
    return this.request('GET', search ? `${path}?${search}` : path, path);
  }

  /** A change: `body` goes as JSON; the answer is the parsed JSON of a 200. */
  send(method, path, body) {
    return this.request(method, path, path, body);
  }

  async request(method, url, path, body) {
    const headers = this.token ? { Authorization: `Bearer ${this.token}` } : {};
    const init = { method, headers, cache: 'no-store' };
    if (body !== undefined) {
      headers['Content-Type'] = 'application/json';
      init.body = JSON.stringify(body);
    }
    let response;
    try {
      response = await fetch(url, init);
    } catch (error) {
      const failure = new ApiError(path, 0, `the studio server cannot be reached (${error.message}); is camsys studio still running?`);
      if (this.onUnreachable) this.onUnreachable(failure);
      throw failure;
    }
    const text = await response.text();
    let answer;
    try {
      answer = text ? JSON.parse(text) : {};
    } catch {
      throw new ApiError(path, response.status, 'the answer is not JSON');
    }
    if (!response.ok) throw new ApiError(path, response.status, answer.error || response.statusText, answer);
    return answer;
  }

  scene() { return this.get('/api/scene'); }

  /** The level as the bytes of a binary glTF, or null when the scene has none (204). */
  async level() {
    const headers = this.token ? { Authorization: `Bearer ${this.token}` } : {};
    const response = await fetch('/api/level', { headers, cache: 'no-store' });
    const bytes = await response.arrayBuffer();
    if (response.status === 204) return null;
    if (!response.ok) throw new ApiError('/api/level', response.status, response.statusText);
    return bytes;
  }
  draw() { return this.get('/api/draw'); }
  messages() { return this.get('/api/messages'); }
  status() { return this.get('/api/status'); }
  history() { return this.get('/api/history'); }
  /** The eye at time `t` of the flight {iterator, start, step} (the frame takes no tick limit). */
  frame({ iterator, start, step }, t) { return this.get('/api/frame', { iterator, start, step, t }); }

  // Changes. Each answers {revision, draw, messages} (and "object" for a creation, "label" for
  // undo and redo); `revision`, where given, makes the server refuse a change to a scene that
  // changed meanwhile (another tab or a script) instead of applying it blindly.
  patch(name, body) { return this.send('PATCH', objectPath(name), body); }
  create(body) { return this.send('POST', '/api/objects', body); }
  remove(name, body = {}) { return this.send('DELETE', objectPath(name), body); }
  move(name, body) { return this.send('POST', `${objectPath(name)}/move`, body); }
  /** {referrers: [{object, attribute, target}]}: what refers to the object or its children. */
  referrers(name) { return this.get(`${objectPath(name)}/referrers`); }
  /** A standard camera move as a new path and iterator (see POST /api/moves); answers their names too. */
  addMove(body) { return this.send('POST', '/api/moves', body); }
  undo(body = {}) { return this.send('POST', '/api/undo', body); }
  redo(body = {}) { return this.send('POST', '/api/redo', body); }
  reload(body = {}) { return this.send('POST', '/api/reload', body); }
  /** {} saves to the scene's file, {as: NAME} beside it; answers the status. */
  save(body = {}) { return this.send('POST', '/api/save', body); }

  /** `flight` is {iterator, start, step, maxTicks}; columns come back decoded into typed arrays. */
  async flight(flight) {
    return decodeFlight(await this.get('/api/flight', { ...flight, encoding: 'f32' }));
  }

  /** Ticks `fromTick` on (at most `ticks`) of the flight, decoded, with fromTick, complete and revision. */
  async flightPart(flight, fromTick, ticks) {
    return decodeFlight(await this.get('/api/flight', { ...flight, fromTick, ticks, encoding: 'f32' }));
  }

  /** The linter's findings for the flight {iterator, start, step}, as `camsys lint --json`. */
  lint({ iterator, start, step }) { return this.get('/api/lint', { iterator, start, step }); }

  // A render (see render.js): its settings and progress, the frames the server flew for it, and
  // the output's bytes, progress and end sent back.
  render() { return this.get('/api/render'); }
  /** Starts a render written beside the scene as `name`. */
  startRender(name, settings) { return this.send('POST', '/api/render', { name, settings }); }
  renderFrames() { return this.get('/api/render/frames'); }
  renderProgress(done, total) { return this.send('POST', '/api/render/progress', { done, total }); }
  renderFinish(timings) { return this.send('POST', '/api/render/finish', { timings }); }
  renderFail(error, cancelled = false) { return this.send('POST', '/api/render/fail', { error, cancelled }); }

  /** `bytes` (a Uint8Array) at `offset` of the render's output, or of frame `frame`'s file. */
  async renderData(offset, bytes, frame) {
    const query = new URLSearchParams({ offset: String(offset) });
    if (frame !== undefined) query.set('frame', String(frame));
    const headers = { 'Content-Type': 'application/octet-stream' };
    if (this.token) headers.Authorization = `Bearer ${this.token}`;
    const response = await fetch(`/api/render/data?${query}`, { method: 'POST', headers, body: bytes, cache: 'no-store' });
    if (!response.ok) {
      const answer = await response.json().catch(() => ({}));
      throw new ApiError('/api/render/data', response.status, answer.error || response.statusText, answer);
    }
  }

  async analysis(flight) {
    return decodeAnalysis(await this.get('/api/analysis', flight));
  }
}
