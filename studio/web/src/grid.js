// The ground the scene stands on: a grid in the xy plane with a bold line every five, spaced
// and sized to the scene's bounds, a faint ground under it, and the world's axes at the origin.

import * as THREE from 'three';
import { niceStep } from './format.js';
import { COLOURS } from './colours.js';

/** Replaces what `group` holds with the grid for `bounds` (a Box3); answers the grid's spacing. */
export function buildGrid(group, bounds) {
  for (const child of [...group.children]) { group.remove(child); child.geometry.dispose(); child.material.dispose(); }
  const step = niceStep(Math.max(bounds.max.x - bounds.min.x, bounds.max.y - bounds.min.y, 1), 12);
  const major = step * 5;
  const x0 = Math.floor(bounds.min.x / major - 1) * major, x1 = Math.ceil(bounds.max.x / major + 1) * major;
  const y0 = Math.floor(bounds.min.y / major - 1) * major, y1 = Math.ceil(bounds.max.y / major + 1) * major;
  const minor = [], majorLines = [];
  for (let x = x0; x <= x1 + step / 2; x += step) (Math.round(x / step) % 5 ? minor : majorLines).push(x, y0, 0, x, y1, 0);
  for (let y = y0; y <= y1 + step / 2; y += step) (Math.round(y / step) % 5 ? minor : majorLines).push(x0, y, 0, x1, y, 0);
  const segments = (points, colour) => {
    const geometry = new THREE.BufferGeometry();
    geometry.setAttribute('position', new THREE.Float32BufferAttribute(points, 3));
    return new THREE.LineSegments(geometry, new THREE.LineBasicMaterial({ color: colour }));
  };
  group.add(segments(minor, COLOURS.gridMinor), segments(majorLines, COLOURS.gridMajor));
  // A faint ground under the grid: in the camera view it gives the horizon and the height.
  const ground = new THREE.Mesh(new THREE.PlaneGeometry(x1 - x0, y1 - y0),
    new THREE.MeshBasicMaterial({ color: COLOURS.ground, side: THREE.DoubleSide, transparent: true, opacity: 0.75,
      depthWrite: false, polygonOffset: true,
      polygonOffsetFactor: 1, polygonOffsetUnits: 1 }));
  ground.position.set((x0 + x1) / 2, (y0 + y1) / 2, 0);
  group.add(ground);
  // The world's axes through the origin: x red, y green, z (up) blue.
  const axes = new THREE.BufferGeometry();
  const a = major;
  axes.setAttribute('position', new THREE.Float32BufferAttribute([0, 0, 0, a, 0, 0, 0, 0, 0, 0, a, 0, 0, 0, 0, 0, 0, a], 3));
  axes.setAttribute('color', new THREE.Float32BufferAttribute([1, .3, .3, 1, .3, .3, .4, 1, .4, .4, 1, .4, .4, .6, 1, .4, .6, 1], 3));
  group.add(new THREE.LineSegments(axes, new THREE.LineBasicMaterial({ vertexColors: true })));
  return step;
}

/**
 * Replaces what `group` holds with a grid in the plane of the world axes `h` and `v` (0 x, 1 y,
 * 2 z) over `range` ([h0, h1, v0, v1]), a line every `step` and a bold one every five, the two
 * world axes in their colours, at `depth` along the third axis. An orthographic view draws it
 * under everything else (no depth test), so it never hides what lies behind its plane.
 */
export function buildPlaneGrid(group, h, v, range, step, depth) {
  for (const child of [...group.children]) { group.remove(child); child.geometry.dispose(); child.material.dispose(); }
  const [h0, h1, v0, v1] = range;
  const normal = 3 - h - v;
  const point = (a, b) => {
    const p = [0, 0, 0];
    p[h] = a; p[v] = b; p[normal] = depth;
    return p;
  };
  const minor = [], major = [], axes = [], colours = [];
  const colour = [[1, .3, .3], [.4, 1, .4], [.4, .6, 1]];
  const line = (from, to, k, axis) => {
    if (k === 0) {
      axes.push(...from, ...to);
      colours.push(...colour[axis], ...colour[axis]);
    } else (k % 5 ? minor : major).push(...from, ...to);
  };
  for (let k = Math.ceil(h0 / step); k * step <= h1; ++k) line(point(k * step, v0), point(k * step, v1), k, v);
  for (let k = Math.ceil(v0 / step); k * step <= v1; ++k) line(point(h0, k * step), point(h1, k * step), k, h);
  const segments = (points, material) => {
    const geometry = new THREE.BufferGeometry();
    geometry.setAttribute('position', new THREE.Float32BufferAttribute(points, 3));
    if (material.vertexColors) geometry.setAttribute('color', new THREE.Float32BufferAttribute(colours, 3));
    const lines = new THREE.LineSegments(geometry, material);
    lines.renderOrder = -10;
    lines.frustumCulled = false;
    return lines;
  };
  const flat = (options) => new THREE.LineBasicMaterial({ ...options, depthTest: false, depthWrite: false });
  group.add(segments(minor, flat({ color: COLOURS.gridMinor })), segments(major, flat({ color: COLOURS.gridMajor })),
    segments(axes, flat({ vertexColors: true })));
}
