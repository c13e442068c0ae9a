// Flight and analysis tables as the page uses them: typed columns decoded from the server's
// answers, the tick shown at a time, and the camera conventions. Pure functions without the
// DOM, so that node's test runner can check them.

import { base64Bytes, jsonFloat, littleEndianColumn } from './wire.js';

export const FLIGHT_COLUMNS = ['time', 'waypoint', 'x', 'y', 'z', 'm00', 'm01', 'm02', 'm10', 'm11', 'm12',
  'm20', 'm21', 'm22', 'fov'];
const UINT_COLUMNS = new Set(['time', 'waypoint']);

/**
 * A flight answer (either encoding) as typed columns: `time`, `waypoint` Uint32Array, the eye's
 * columns Float32Array, and `elapsed` (ms since the first tick, Float64Array) which stays
 * increasing when the clock wraps past 2^32 during the flight.
 */
export function decodeFlight(answer) {
  const rows = answer.rows;
  const flight = { iterator: answer.iterator, rows, events: answer.events || [], hitLimit: !!answer.hitLimit };
  // A part of a flight (see Api.flightPart) says where it starts, whether it ends the flight
  // and the scene's revision it was flown from.
  if (answer.fromTick !== undefined) Object.assign(flight, { fromTick: answer.fromTick, complete: !!answer.complete, revision: answer.revision });
  for (const name of FLIGHT_COLUMNS) {
    const raw = answer.data[name];
    if (raw === undefined) throw new Error(`the flight has no column "${name}"`);
    const unsigned = UINT_COLUMNS.has(name);
    let column;
    if (typeof raw === 'string') column = littleEndianColumn(base64Bytes(raw), unsigned ? Uint32Array : Float32Array);
    else if (unsigned) column = Uint32Array.from(raw);
    else column = Float32Array.from(raw, jsonFloat);
    if (column.length !== rows) throw new Error(`the flight's column "${name}" has ${column.length} rows, not ${rows}`);
    flight[name] = column;
  }
  flight.elapsed = new Float64Array(rows);
  for (let i = 1; i < rows; ++i)
    flight.elapsed[i] = flight.elapsed[i - 1] + ((flight.time[i] - flight.time[i - 1]) >>> 0);
  return flight;
}

/**
 * The flight `a` followed by the part `b` that comes after its last tick (both decoded): the
 * columns joined, elapsed time going on across the join (also where the clock wraps), the
 * events and limit of `b`, the part that completes a flight carrying the flight's.
 */
export function joinFlights(a, b) {
  const rows = a.rows + b.rows;
  const joined = { ...b, rows };
  for (const name of [...FLIGHT_COLUMNS, 'elapsed']) {
    const column = new a[name].constructor(rows);
    column.set(a[name]);
    column.set(b[name], a.rows);
    joined[name] = column;
  }
  if (a.rows && b.rows) {
    const offset = a.elapsed[a.rows - 1] + ((b.time[0] - a.time[a.rows - 1]) >>> 0);
    for (let i = a.rows; i < rows; ++i) joined.elapsed[i] += offset;
  }
  return joined;
}

/** The analysis answer with its columns as arrays of numbers or null (plots show null as gaps). */
export function decodeAnalysis(answer) {
  const data = {};
  for (const name of answer.columns) {
    const raw = answer.data[name] || [];
    data[name] = name === 'time' ? Float64Array.from(raw) : raw.map((v) => (v === null ? null : jsonFloat(v)));
  }
  return { rows: answer.rows, columns: answer.columns, units: answer.units || {}, data, marks: answer.marks || [] };
}

/**
 * The tick shown at `elapsed` ms into the flight: the last tick at or before it, as the camera
 * holds each tick's eye until the next. Before the first tick: the first; no ticks: -1.
 */
export function tickAt(elapsedColumn, elapsed) {
  const n = elapsedColumn.length;
  if (n === 0) return -1;
  let lo = 0, hi = n - 1;
  if (!(elapsed >= elapsedColumn[0])) return 0;
  if (elapsed >= elapsedColumn[hi]) return hi;
  // Invariant: elapsedColumn[lo] <= elapsed < elapsedColumn[hi].
  while (hi - lo > 1) {
    const mid = (lo + hi) >>> 1;
    if (elapsedColumn[mid] <= elapsed) lo = mid;
    else hi = mid;
  }
  return lo;
}

/**
 * The vertical field of view in degrees for the eye's field-of-view value: the base angle's
 * half-angle tangent divided by the value, so 2 zooms in twice. A value that is not positive
 * and finite, or an angle that would not be a view, is held within 0.1°..179°.
 */
export function verticalFov(fov, baseDegrees = 60) {
  const base = (Math.PI / 180) * baseDegrees;
  const value = Number.isFinite(fov) && fov > 0 ? fov : 1;
  const degrees = (360 / Math.PI) * Math.atan(Math.tan(base / 2) / value);
  return Math.min(179, Math.max(0.1, degrees));
}

/**
 * The eye's axes at tick `i` into `out` (9 numbers: right, forward, up as world vectors): the
 * columns of the orientation matrix, which the flight gives row by row.
 */
export function eyeAxes(flight, i, out) {
  out[0] = flight.m00[i]; out[1] = flight.m10[i]; out[2] = flight.m20[i];
  out[3] = flight.m01[i]; out[4] = flight.m11[i]; out[5] = flight.m21[i];
  out[6] = flight.m02[i]; out[7] = flight.m12[i]; out[8] = flight.m22[i];
  return out;
}
