// The colours of the 3D content: the palette of markers, links, grid and the eye's helpers, the
// speed scale the trajectory is coloured with, and the editor's drawing made legible on the
// dark background.

import * as THREE from 'three';

export const COLOURS = {
  background: 0x14171c,
  waypoint: new THREE.Color(0xf0a830),
  waypointOff: new THREE.Color(0x6b6f78),
  object: new THREE.Color(0x3cc8b4),
  module: new THREE.Color(0x8f9bff),
  selected: new THREE.Color(0xffffff),
  link: 0xc678dd,
  destination: 0x56d4ff,
  clip: 0xff3b30,
  frustum: 0xffe066,
  ground: 0x181c23,
  gridMinor: 0x2a3039,
  gridMajor: 0x3a414c,
};

/** The speed colour scale (dark blue, cyan, green, yellow, red) at `t` in 0..1 into `out`. */
const SCALE = [[0.19, 0.07, 0.23], [0.12, 0.56, 0.98], [0.1, 0.86, 0.58], [0.64, 0.99, 0.24], [0.98, 0.73, 0.21],
  [0.8, 0.13, 0.06]];
export function speedColour(t, out) {
  const x = Math.min(1, Math.max(0, Number.isFinite(t) ? t : 0)) * (SCALE.length - 1);
  const i = Math.min(SCALE.length - 2, Math.floor(x));
  const f = x - i;
  for (let c = 0; c < 3; ++c) out[c] = SCALE[i][c] + (SCALE[i + 1][c] - SCALE[i][c]) * f;
  return out;
}
/**
 * The speeds the colours span: the lowest to the 99th percentile, so that one spike does not
 * leave the rest of the flight in a single colour; the top colour then means "this or more".
 * [lo, hi, max], or null when no speed is defined.
 */
export function colourRange(values) {
  const finite = values.filter((v) => v !== null && Number.isFinite(v)).sort((a, b) => a - b);
  if (!finite.length) return null;
  const max = finite[finite.length - 1];
  return [finite[0], finite[Math.min(finite.length - 1, Math.floor(0.99 * finite.length))], max];
}
export function speedGradientCss() {
  return `linear-gradient(90deg, ${SCALE.map((c, i) => `rgb(${c.map((v) => Math.round(v * 255)).join(',')}) ${(100 * i) / (SCALE.length - 1)}%`).join(', ')})`;
}

/**
 * The editor draws for a light background; on this dark one its greys and dark greens would
 * vanish. Each colour keeps its hue and is brought up to a bright value.
 */
export function brighten(colour, offset, out, at) {
  const r = colour[offset], g = colour[offset + 1], b = colour[offset + 2];
  const m = Math.max(r, g, b);
  const s = m > 0 ? Math.min(0.95 / m, 4) : 0;
  out[at] = 0.15 + 0.85 * Math.min(1, r * s);
  out[at + 1] = 0.15 + 0.85 * Math.min(1, g * s);
  out[at + 2] = 0.15 + 0.85 * Math.min(1, b * s);
  out[at + 3] = Math.max(0.35, colour[offset + 3] ?? 1);
}
