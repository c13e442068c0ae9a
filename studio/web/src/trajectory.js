// The flown trajectory as line segments from tick to tick, coloured by the eye's speed.

import { colourRange, speedColour } from './colours.js';

/**
 * The segments of `flight` (two ticks or more), coloured by the speed of `analysis` where it
 * has the flight's ticks: {positions, colours} (6 floats a segment each) and `range`, the
 * speeds the colours span (see colourRange), or null.
 */
export function trajectorySegments(flight, analysis) {
  const n = flight.rows;
  const speed = analysis && analysis.rows === n ? analysis.data.speed : null;
  const range = speed ? colourRange(speed) : null;
  const [lo, hi] = range || [0, 0];
  // Ticks after a cut start a new piece: the jump is not flown, so it is not drawn.
  const cuts = new Set((analysis ? analysis.marks : []).filter((m) => m.kind === 'cut').map((m) => m.time));
  const positions = new Float32Array((n - 1) * 6);
  const colours = new Float32Array((n - 1) * 6);
  const c = [0, 0, 0];
  let s = 0, last = 0;
  const colourAt = (i) => {
    const value = speed ? speed[i] : null;
    if (value !== null && Number.isFinite(value)) last = value;
    return speedColour(hi > lo ? (last - lo) / (hi - lo) : 0.5, c);
  };
  colourAt(0);
  for (let i = 0; i + 1 < n; ++i) {
    if (cuts.has(flight.time[i + 1])) continue;
    positions[6 * s] = flight.x[i]; positions[6 * s + 1] = flight.y[i]; positions[6 * s + 2] = flight.z[i];
    positions[6 * s + 3] = flight.x[i + 1]; positions[6 * s + 4] = flight.y[i + 1]; positions[6 * s + 5] = flight.z[i + 1];
    colours.set(colourAt(i), 6 * s);
    colours.set(colourAt(i + 1), 6 * s + 3);
    ++s;
  }
  return { positions: positions.subarray(0, 6 * s), colours: colours.subarray(0, 6 * s), range };
}
