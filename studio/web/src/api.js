// The studio server's JSON API. Every /api/ request carries the token of the page's own URL
// (the server prints it with the address); without it the server answers 403.

import { decodeAnalysis, decodeFlight } from './flight.js';

/** An answer other than 200, with the server's reason. */
export class ApiError extends Error {
  constructor(path, status, reason) {
    super(`${path}: ${reason} (HTTP ${status})`);
    this.status = status;
    this.reason = reason;
  }
}

export class Api {
  constructor(search = globalThis.location ? globalThis.location.search : '') {
    this.token = new URLSearchParams(search).get('token') || '';
  }

  async get(path, params = {}) {
    const query = new URLSearchParams();
    for (const [key, value] of Object.entries(params))
      if (value !== undefined && value !== null && value !== '') query.set(key, String(value));
    const search = query.toString();
    const url = search ? `${path}?${search}` : path;
    const headers = this.token ? { Authorization: `Bearer ${this.token}` } : {};
    let response;
    try {
      response = await fetch(url, { headers, cache: 'no-store' });
    } catch (error) {
      throw new ApiError(path, 0, `the studio server cannot be reached (${error.message}); is camsys studio still running?`);
    }
    const text = await response.text();
    let body;
    try {
      body = text ? JSON.parse(text) : {};
    } catch {
      throw new ApiError(path, response.status, 'the answer is not JSON');
    }
    if (!response.ok) throw new ApiError(path, response.status, body.error || response.statusText);
    return body;
  }

  scene() { return this.get('/api/scene'); }
  draw() { return this.get('/api/draw'); }
  messages() { return this.get('/api/messages'); }
  frame(flight, t) { return this.get('/api/frame', { ...flight, t }); }

  /** `flight` is {iterator, start, step, maxTicks}; columns come back decoded into typed arrays. */
  async flight(flight) {
    return decodeFlight(await this.get('/api/flight', { ...flight, encoding: 'f32' }));
  }

  async analysis(flight) {
    return decodeAnalysis(await this.get('/api/analysis', flight));
  }
}
