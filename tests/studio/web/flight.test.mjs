// The page's data helpers and time logic, without a browser: decoding the server's flight
// columns, which tick is shown at a time, the field-of-view convention and the transport.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { base64Bytes, decodeFlight, FLIGHT_COLUMNS, niceStep, tickAt, verticalFov } from '../../../studio/web/src/flight.js';
import { StudioState } from '../../../studio/web/src/state.js';

/** A flight answer as the server sends it, in either encoding, from rows of the 15 columns. */
function answer(rows, f32) {
  const data = {};
  FLIGHT_COLUMNS.forEach((name, c) => {
    const values = rows.map((r) => r[c]);
    if (!f32) { data[name] = values; return; }
    const bytes = Buffer.alloc(values.length * 4);
    values.forEach((v, i) => {
      if (name === 'time' || name === 'waypoint') bytes.writeUInt32LE(v, 4 * i);
      else bytes.writeFloatLE(typeof v === 'string' ? Number(v) : v, 4 * i);
    });
    data[name] = bytes.toString('base64');
  });
  return { iterator: 'Cam', columns: FLIGHT_COLUMNS, rows: rows.length, data, events: [], hitLimit: false };
}
const row = (time, waypoint, x, fov = 1) => [time, waypoint, x, 2, 3, 1, 0, 0, 0, 1, 0, 0, 0, 1, fov];

test('base64 decodes every length and padding, and refuses bad text', () => {
  for (let n = 0; n < 12; ++n) {
    const bytes = Buffer.from(Array.from({ length: n }, (_, i) => (i * 89 + 7) & 255));
    assert.deepEqual(Buffer.from(base64Bytes(bytes.toString('base64'))), bytes, `length ${n}`);
    assert.deepEqual(Buffer.from(base64Bytes(bytes.toString('base64').replace(/=+$/, ''))), bytes, `unpadded ${n}`);
  }
  assert.throws(() => base64Bytes('AB$D'), /bad character/);
  assert.throws(() => base64Bytes('ABCDE'), /bad length/);
});

test('a flight decodes to the same columns from JSON and from f32, words for floats included', () => {
  const rows = [row(0, 0, 0.1), row(16, 0, -2.5, 'Infinity'), row(32, 1, 'NaN', 2), row(4294967295, 7, 1e-7)];
  const json = decodeFlight(answer(rows, false));
  const f32 = decodeFlight(answer(rows, true));
  for (const name of FLIGHT_COLUMNS) assert.deepEqual([...f32[name]], [...json[name]], name);
  assert.ok(json.time instanceof Uint32Array && json.x instanceof Float32Array);
  assert.equal(json.time[3], 4294967295);
  assert.equal(json.fov[1], Infinity);
  assert.ok(Number.isNaN(json.x[2]));
  assert.equal(json.x[0], Math.fround(0.1));

  const short = answer(rows, true);
  short.data.fov = Buffer.alloc(8).toString('base64');
  assert.throws(() => decodeFlight(short), /"fov" has 2 rows, not 4/);
  const missing = answer(rows, false);
  delete missing.data.m21;
  assert.throws(() => decodeFlight(missing), /no column "m21"/);
});

test('the tick shown is the last one at or before the time, also across the clock wrapping', () => {
  const flight = decodeFlight(answer([row(4294967280, 0, 0), row(4294967295, 0, 1), row(14, 1, 2), row(30, 1, 3)], false));
  assert.deepEqual([...flight.elapsed], [0, 15, 30, 46]);
  const cases = [[-5, 0], [0, 0], [14.9, 0], [15, 1], [29.999, 1], [30, 2], [45, 2], [46, 3], [1e9, 3], [NaN, 0]];
  for (const [t, i] of cases) assert.equal(tickAt(flight.elapsed, t), i, `at ${t} ms`);
  assert.equal(tickAt(new Float64Array(0), 5), -1);
  const many = Float64Array.from({ length: 100001 }, (_, i) => i * 16);
  for (const t of [0, 7, 16, 799999, 1600000, 1600015]) assert.equal(tickAt(many, t), Math.min(100000, Math.floor(t / 16)));
});

test('field of view: fov divides the tangent of half the base angle', () => {
  const near = (a, b) => Math.abs(a - b) < 1e-9;
  assert.ok(near(verticalFov(1), 60));
  assert.ok(Math.abs(Math.tan((verticalFov(2) * Math.PI) / 360) - Math.tan(Math.PI / 6) / 2) < 1e-12);
  assert.ok(Math.abs(verticalFov(1, 90) - 90) < 1e-9);
  assert.ok(verticalFov(0.5) > 60 && verticalFov(0.5) < 180);
  for (const bad of [0, -1, NaN, Infinity]) assert.ok(near(verticalFov(bad), 60), `fov ${bad}`);
  assert.equal(verticalFov(1e-9), 179);
  assert.equal(verticalFov(1e12), 0.1);
});

test('grid spacing is 1, 2 or 5 times a power of ten', () => {
  const cases = [[100, 10, 10], [150, 10, 20], [40, 10, 5], [0.3, 10, 0.02], [7e4, 10, 5000], [0, 10, 1], [NaN, 10, 1]];
  for (const [extent, lines, step] of cases) assert.ok(Math.abs(niceStep(extent, lines) - step) < step * 1e-9, `${extent}`);
});

test('the transport: seeking clamps, stepping moves one tick, jumps land on waypoints reached', () => {
  const state = new StudioState();
  const events = [];
  state.on('time', (elapsed, tick) => events.push([elapsed, tick]));
  const flight = decodeFlight(answer([0, 16, 32, 48, 64, 80].map((t, i) => row(100 + t, i < 3 ? 0 : 1, i)), false));
  const marks = [{ kind: 'waypoint', time: 100, end: 100, waypoint: 0, name: 'W0' },
    { kind: 'pause', time: 100, end: 120, waypoint: 0, name: 'W0' },
    { kind: 'waypoint', time: 148, end: 148, waypoint: 1, name: 'W1' }];
  state.setFlight(flight, { rows: 6, data: {}, units: {}, marks });
  assert.equal(state.duration(), 80);
  state.seek(40);
  assert.deepEqual(events.at(-1), [40, 2]);
  state.seek(1000);
  assert.deepEqual([state.elapsed, state.tick], [80, 5]);
  state.seek(-3);
  assert.deepEqual([state.elapsed, state.tick], [0, 0]);
  state.step(1);
  assert.deepEqual([state.elapsed, state.tick], [16, 1]);
  state.step(-5);
  assert.equal(state.tick, 0);
  state.jumpWaypoint(1);
  assert.equal(state.elapsed, 48, 'next waypoint reached (pauses are not waypoints)');
  assert.equal(state.waypointName(flight.waypoint[state.tick]), 'W1');
  state.jumpWaypoint(1);
  assert.equal(state.elapsed, 80, 'past the last waypoint: the end');
  state.jumpWaypoint(-1);
  assert.equal(state.elapsed, 48);
  state.jumpWaypoint(-1);
  assert.equal(state.elapsed, 0);
  const count = events.length;
  state.seek(0);
  assert.equal(events.length, count, 'no event when nothing changed');
});
