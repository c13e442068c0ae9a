// The 3D content both views render: object markers, the editor's drawing, the links from
// waypoints to what they look at, the ground grid, the flown trajectory coloured by speed and
// the eye's frustum at the current tick. The 3D view sees everything; the camera view sees
// only layer 0, so the editor's own helpers (frustum, eye, trajectory) never stand in the way
// of the picture the game camera would show.

import * as THREE from 'three';
import { LineSegments2 } from 'three/addons/lines/LineSegments2.js';
import { LineSegmentsGeometry } from 'three/addons/lines/LineSegmentsGeometry.js';
import { LineMaterial } from 'three/addons/lines/LineMaterial.js';
import { verticalFov } from './flight.js';
import { niceStep } from './format.js';
import { Emitter } from './emitter.js';
import { WAYPOINT } from './edits.js';

export const HELPER_LAYER = 1;

const COLOURS = {
  background: 0x14171c,
  waypoint: new THREE.Color(0xf0a830),
  waypointOff: new THREE.Color(0x6b6f78),
  object: new THREE.Color(0x3cc8b4),
  module: new THREE.Color(0x8f9bff),
  selected: new THREE.Color(0xffffff),
  link: 0xc678dd,
  destination: 0x56d4ff,
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
function brighten(colour, offset, out, at) {
  const r = colour[offset], g = colour[offset + 1], b = colour[offset + 2];
  const m = Math.max(r, g, b);
  const s = m > 0 ? Math.min(0.95 / m, 4) : 0;
  out[at] = 0.15 + 0.85 * Math.min(1, r * s);
  out[at + 1] = 0.15 + 0.85 * Math.min(1, g * s);
  out[at + 2] = 0.15 + 0.85 * Math.min(1, b * s);
  out[at + 3] = Math.max(0.35, colour[offset + 3] ?? 1);
}

export class World extends Emitter {
  constructor(state) {
    super();
    this.state = state;
    this.scene = new THREE.Scene();
    this.scene.background = new THREE.Color(COLOURS.background);
    this.bounds = new THREE.Box3(new THREE.Vector3(-10, -10, 0), new THREE.Vector3(10, 10, 10));
    this.extent = 20;
    this.gridStep = 1;
    this.markers = [];              // InstancedMesh per kind, userData.names[instanceId]
    this.markerOf = new Map();      // name -> {mesh, index}
    this.positions = new Map();     // name -> Vector3
    this.aspect = 16 / 9;
    this.axes = new Float32Array(9);
    this.eye = new THREE.Vector3();
    this.hasEye = false;
    this.tmp = new THREE.Vector3();
    this.corner = new THREE.Vector3();
    this.tmpMatrix = new THREE.Matrix4();

    this.content = new THREE.Group();
    this.scene.add(this.content);
    this.grid = new THREE.Group();
    this.scene.add(this.grid);
    this.drawing = null;
    this.links = null;
    this.trajectory = null;
    this.speedRange = null;
    this.makeEyeHelpers();
    this.makeSelectionMarker();

    state.on('scene', () => this.setScene());
    state.on('draw', () => this.setDraw());
    state.on('flight', () => this.setFlight());
    state.on('time', () => this.setTime());
    state.on('select', (name) => this.setSelection(name));
    state.on('options', () => this.applyOptions());
  }

  /** `listener()` runs whenever what the views show changed. */
  onChange(listener) { this.on('change', listener); }
  changed() { this.emit('change'); }

  // -- The scene's objects ------------------------------------------------------------------------

  setScene() {
    const objects = this.state.scene.objects;
    for (const mesh of this.markers) { this.content.remove(mesh); mesh.geometry.dispose(); mesh.material.dispose(); }
    this.markers = [];
    this.markerOf.clear();
    this.positions.clear();
    for (const o of objects) if (o.position) this.positions.set(o.name, new THREE.Vector3(...o.position));
    this.fitBounds();

    const r = Math.max(0.05, this.extent * 0.007);
    const kinds = {
      waypoint: { geometry: new THREE.SphereGeometry(r, 12, 8), list: [] },
      object: { geometry: new THREE.OctahedronGeometry(r * 1.3), list: [] },
      module: { geometry: new THREE.BoxGeometry(r * 1.4, r * 1.4, r * 1.4), list: [] },
    };
    for (const o of objects) {
      if (!o.position) continue;
      const kind = o.class === WAYPOINT ? 'waypoint' : o.class ? 'module' : 'object';
      kinds[kind].list.push(o);
    }
    const matrix = new THREE.Matrix4();
    for (const [kind, { geometry, list }] of Object.entries(kinds)) {
      if (!list.length) { geometry.dispose(); continue; }
      // Lambert, not the physically based material: markers need no more than diffuse light, and
      // its shader compiles several times faster (in a software renderer a large share of the
      // time the page takes to open).
      const material = new THREE.MeshLambertMaterial();
      const mesh = new THREE.InstancedMesh(geometry, material, list.length);
      mesh.userData.names = list.map((o) => o.name);
      mesh.userData.kind = kind;
      list.forEach((o, i) => {
        mesh.setMatrixAt(i, matrix.makeTranslation(...o.position));
        mesh.setColorAt(i, this.baseColour(o));
        this.markerOf.set(o.name, { mesh, index: i });
      });
      mesh.computeBoundingSphere();
      // Waypoints, paths and iterators are the editor's markers: the game camera sees only the
      // host's own objects.
      if (kind !== 'object') mesh.layers.set(HELPER_LAYER);
      this.content.add(mesh);
      this.markers.push(mesh);
    }
    if (!this.scene.getObjectByName('lights')) this.makeLights();
    this.makeLinks();
    this.makeGrid();
    this.sizeSelectionMarker(r);
    this.setSelection(this.state.selection);
    this.changed();
  }

  baseColour(object) {
    if (object.class === WAYPOINT) return this.state.attribute(object.name, 'IsOn') === false ? COLOURS.waypointOff : COLOURS.waypoint;
    return object.class ? COLOURS.module : COLOURS.object;
  }

  makeLights() {
    const lights = new THREE.Group();
    lights.name = 'lights';
    lights.add(new THREE.HemisphereLight(0xdfe8ff, 0x30281c, 1.6));
    const sun = new THREE.DirectionalLight(0xffffff, 1.4);
    sun.position.set(0.4, -0.6, 1);
    lights.add(sun);
    lights.traverse((o) => o.layers.enableAll());
    this.scene.add(lights);
  }

  /** The box around objects and drawing; the grid, the frustum's size and framing follow it. */
  fitBounds() {
    const box = new THREE.Box3();
    for (const p of this.positions.values()) box.expandByPoint(p);
    const lines = this.drawing && this.drawing.geometry.getAttribute('position');
    if (lines) for (let i = 0; i < lines.count; ++i) box.expandByPoint(this.tmp.fromBufferAttribute(lines, i));
    if (box.isEmpty()) box.set(new THREE.Vector3(-10, -10, 0), new THREE.Vector3(10, 10, 10));
    this.bounds.copy(box);
    this.extent = Math.max(1, box.getSize(this.tmp).length());
  }

  makeGrid() {
    for (const child of [...this.grid.children]) { this.grid.remove(child); child.geometry.dispose(); child.material.dispose(); }
    const step = niceStep(Math.max(this.bounds.max.x - this.bounds.min.x, this.bounds.max.y - this.bounds.min.y, 1), 12);
    this.gridStep = step;
    const major = step * 5;
    const x0 = Math.floor(this.bounds.min.x / major - 1) * major, x1 = Math.ceil(this.bounds.max.x / major + 1) * major;
    const y0 = Math.floor(this.bounds.min.y / major - 1) * major, y1 = Math.ceil(this.bounds.max.y / major + 1) * major;
    const minor = [], majorLines = [];
    for (let x = x0; x <= x1 + step / 2; x += step) (Math.round(x / step) % 5 ? minor : majorLines).push(x, y0, 0, x, y1, 0);
    for (let y = y0; y <= y1 + step / 2; y += step) (Math.round(y / step) % 5 ? minor : majorLines).push(x0, y, 0, x1, y, 0);
    const segments = (points, colour) => {
      const geometry = new THREE.BufferGeometry();
      geometry.setAttribute('position', new THREE.Float32BufferAttribute(points, 3));
      return new THREE.LineSegments(geometry, new THREE.LineBasicMaterial({ color: colour }));
    };
    this.grid.add(segments(minor, COLOURS.gridMinor), segments(majorLines, COLOURS.gridMajor));
    // A faint ground under the grid: in the camera view it gives the horizon and the height.
    const ground = new THREE.Mesh(new THREE.PlaneGeometry(x1 - x0, y1 - y0),
      new THREE.MeshBasicMaterial({ color: COLOURS.ground, side: THREE.DoubleSide, transparent: true, opacity: 0.75,
        depthWrite: false, polygonOffset: true,
        polygonOffsetFactor: 1, polygonOffsetUnits: 1 }));
    ground.position.set((x0 + x1) / 2, (y0 + y1) / 2, 0);
    this.grid.add(ground);
    // The world's axes through the origin: x red, y green, z (up) blue.
    const axes = new THREE.BufferGeometry();
    const a = major;
    axes.setAttribute('position', new THREE.Float32BufferAttribute([0, 0, 0, a, 0, 0, 0, 0, 0, 0, a, 0, 0, 0, 0, 0, 0, a], 3));
    axes.setAttribute('color', new THREE.Float32BufferAttribute([1, .3, .3, 1, .3, .3, .4, 1, .4, .4, 1, .4, .4, .6, 1, .4, .6, 1], 3));
    this.grid.add(new THREE.LineSegments(axes, new THREE.LineBasicMaterial({ vertexColors: true })));
  }

  /** Dashed lines from each waypoint to the object its "PointsTo" names. */
  makeLinks() {
    if (this.links) { this.content.remove(this.links); this.links.geometry.dispose(); }
    const points = [];
    for (const o of this.state.scene.objects) {
      if (o.class !== WAYPOINT || !o.position) continue;
      const target = this.positions.get(this.state.attribute(o.name, 'PointsTo'));
      if (target) points.push(...o.position, target.x, target.y, target.z);
    }
    const geometry = new THREE.BufferGeometry();
    geometry.setAttribute('position', new THREE.Float32BufferAttribute(points, 3));
    const dash = this.extent * 0.01;
    this.links = new THREE.LineSegments(geometry, new THREE.LineDashedMaterial({
      color: COLOURS.link, dashSize: dash, gapSize: dash, transparent: true, opacity: 0.7 }));
    this.links.computeLineDistances();
    this.links.layers.set(HELPER_LAYER);
    this.content.add(this.links);
    this.destination.material.dashSize = this.destination.material.gapSize = dash;
  }

  // -- The editor's drawing -----------------------------------------------------------------------

  /** Every line and arrow the plug-in drew, merged into one geometry (one draw call). */
  setDraw() {
    if (this.drawing) { this.content.remove(this.drawing); this.drawing.geometry.dispose(); this.drawing.material.dispose(); }
    const groups = this.state.draw.groups || [];
    let vertices = 0;
    for (const g of groups) vertices += (g.lines.from.length / 3) * 2 + (g.arrows || []).length * 10;
    const position = new Float32Array(vertices * 3);
    const colour = new Float32Array(vertices * 4);
    let v = 0;
    const put = (x, y, z, rgba, offset) => {
      position[3 * v] = x; position[3 * v + 1] = y; position[3 * v + 2] = z;
      brighten(rgba, offset, colour, 4 * v);
      ++v;
    };
    const d = new THREE.Vector3(), p = new THREE.Vector3(), q = new THREE.Vector3(), base = new THREE.Vector3();
    for (const g of groups) {
      const { from, to } = g.lines;
      const rgba = g.lines.colour;
      for (let i = 0; i < from.length / 3; ++i) {
        put(from[3 * i], from[3 * i + 1], from[3 * i + 2], rgba, 4 * i);
        put(to[3 * i], to[3 * i + 1], to[3 * i + 2], rgba, 4 * i);
      }
      // An arrow: shaft in its first colour, head (length sizes[0], width sizes[1]) as two
      // crossed triangles' sides in its second.
      for (const arrow of g.arrows || []) {
        const [fx, fy, fz] = arrow.from, [tx, ty, tz] = arrow.to;
        d.set(tx - fx, ty - fy, tz - fz);
        const length = d.length();
        const head = length > 0 ? Math.min(1, arrow.sizes[0] / length) : 0;
        base.set(tx, ty, tz).addScaledVector(d, -head);
        put(fx, fy, fz, arrow.colour, 0);
        put(base.x, base.y, base.z, arrow.colour, 0);
        d.normalize();
        p.set(0, 0, 1).cross(d);
        if (p.lengthSq() < 1e-6) p.set(1, 0, 0).cross(d);
        p.normalize();
        q.crossVectors(d, p);
        const half = arrow.sizes[1] / 2;
        for (const axis of [p, q]) for (const sign of [1, -1]) {
          put(base.x + axis.x * half * sign, base.y + axis.y * half * sign, base.z + axis.z * half * sign, arrow.colour2, 0);
          put(tx, ty, tz, arrow.colour2, 0);
        }
      }
    }
    const geometry = new THREE.BufferGeometry();
    geometry.setAttribute('position', new THREE.BufferAttribute(position.subarray(0, 3 * v), 3));
    geometry.setAttribute('color', new THREE.BufferAttribute(colour.subarray(0, 4 * v), 4));
    this.drawing = new THREE.LineSegments(geometry, new THREE.LineBasicMaterial({ vertexColors: true, transparent: true }));
    this.drawing.visible = this.state.options.showDrawing;
    this.content.add(this.drawing);
    if (this.state.scene) { this.fitBounds(); this.makeGrid(); }
    this.changed();
  }

  // -- The flight ---------------------------------------------------------------------------------

  setFlight() {
    const { flight, analysis } = this.state;
    if (this.trajectory) { this.scene.remove(this.trajectory); this.trajectory.geometry.dispose(); }
    this.trajectory = null;
    this.speedRange = null;
    const n = flight.rows;
    if (n >= 2) {
      const speed = analysis && analysis.rows === n ? analysis.data.speed : null;
      const range = speed ? colourRange(speed) : null;
      const [lo, hi] = range || [0, 0];
      this.speedRange = range;
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
      if (s > 0) {
        const geometry = new LineSegmentsGeometry();
        geometry.setPositions(positions.subarray(0, 6 * s));
        geometry.setColors(colours.subarray(0, 6 * s));
        this.trajectoryMaterial ||= new LineMaterial({ linewidth: 3, vertexColors: true, worldUnits: false });
        this.trajectory = new LineSegments2(geometry, this.trajectoryMaterial);
        this.trajectory.layers.set(HELPER_LAYER);
        this.trajectory.visible = this.state.options.showTrajectory;
        this.scene.add(this.trajectory);
      }
    }
    this.setDestination();
    this.changed();
  }

  /** The line from the eye to the iterator's "MovingDestination", when it has one. */
  setDestination() {
    const iterator = this.state.flightParams.iterator;
    this.destinationTarget = this.positions.get(this.state.attribute(iterator, 'MovingDestination')) || null;
    this.setTime();
  }

  makeEyeHelpers() {
    // Apex to the four far corners, the far rectangle, and a triangle over its top edge for up.
    const geometry = new THREE.BufferGeometry();
    geometry.setAttribute('position', new THREE.BufferAttribute(new Float32Array(20 * 3), 3));
    this.frustum = new THREE.LineSegments(geometry, new THREE.LineBasicMaterial({ color: COLOURS.frustum }));
    this.frustum.frustumCulled = false;
    this.eyeMarker = new THREE.Mesh(new THREE.SphereGeometry(1, 16, 10), new THREE.MeshBasicMaterial({ color: COLOURS.frustum }));
    const line = new THREE.BufferGeometry();
    line.setAttribute('position', new THREE.BufferAttribute(new Float32Array(6), 3));
    line.setAttribute('lineDistance', new THREE.BufferAttribute(new Float32Array(2), 1));
    this.destination = new THREE.Line(line, new THREE.LineDashedMaterial({ color: COLOURS.destination, dashSize: 1, gapSize: 1 }));
    this.destination.frustumCulled = false;
    for (const o of [this.frustum, this.eyeMarker, this.destination]) {
      o.layers.set(HELPER_LAYER);
      o.visible = false;
      this.scene.add(o);
    }
  }

  /** The camera view's width / height: the frustum drawn here has the same shape. */
  setAspect(aspect) {
    if (Math.abs(aspect - this.aspect) < 1e-3) return;
    this.aspect = aspect;
    this.setTime();
  }

  /** Moves the eye helpers to the current tick; no allocation, as it runs every frame. */
  setTime() {
    const shown = this.state.shownEye(this.axes);
    this.hasEye = !!shown;
    this.frustum.visible = this.eyeMarker.visible = this.hasEye;
    this.destination.visible = this.hasEye && !!this.destinationTarget;
    if (!this.hasEye) { this.changed(); return; }
    const a = this.axes;
    this.eye.set(shown.x, shown.y, shown.z);
    const length = this.extent * 0.06;
    const h = length * Math.tan((verticalFov(shown.fov, this.state.options.fovBase) * Math.PI) / 360);
    const w = h * this.aspect;
    const p = this.frustum.geometry.getAttribute('position');
    const e = this.eye;
    const corner = (k, sx, sy) => {
      const c = this.corner.set(e.x + length * a[3] + w * sx * a[0] + h * sy * a[6],
        e.y + length * a[4] + w * sx * a[1] + h * sy * a[7], e.z + length * a[5] + w * sx * a[2] + h * sy * a[8]);
      p.setXYZ(k, c.x, c.y, c.z);
    };
    const corners = [[-1, -1], [1, -1], [1, 1], [-1, 1]];
    for (let k = 0; k < 4; ++k) {
      p.setXYZ(2 * k, e.x, e.y, e.z);
      corner(2 * k + 1, corners[k][0], corners[k][1]);
      corner(8 + 2 * k, corners[k][0], corners[k][1]);
      corner(8 + 2 * k + 1, corners[(k + 1) % 4][0], corners[(k + 1) % 4][1]);
    }
    corner(16, -0.6, 1.1); corner(17, 0, 1.5); corner(18, 0, 1.5); corner(19, 0.6, 1.1);
    p.needsUpdate = true;
    this.frustum.geometry.computeBoundingSphere();
    this.eyeMarker.position.copy(e);
    this.eyeMarker.scale.setScalar(this.extent * 0.004);
    if (this.destinationTarget) {
      const t = this.destinationTarget;
      const dp = this.destination.geometry.getAttribute('position');
      dp.setXYZ(0, e.x, e.y, e.z);
      dp.setXYZ(1, t.x, t.y, t.z);
      dp.needsUpdate = true;
      const dd = this.destination.geometry.getAttribute('lineDistance');
      dd.setX(1, e.distanceTo(t));
      dd.needsUpdate = true;
    }
    this.changed();
  }

  /**
   * Shows the object `name` at `position` (a Vector3) before the server has answered: a drag
   * moves the marker, its selection ring and the position picking uses with the pointer.
   */
  moveObject(name, position) {
    const p = this.positions.get(name);
    if (!p) return;
    p.copy(position);
    const marker = this.markerOf.get(name);
    if (marker) {
      marker.mesh.setMatrixAt(marker.index, this.tmpMatrix.makeTranslation(position.x, position.y, position.z));
      marker.mesh.instanceMatrix.needsUpdate = true;
      marker.mesh.computeBoundingSphere();
    }
    if (this.state.selection === name) this.selectionMarker.position.copy(position);
    this.changed();
  }

  // -- Selection and options ----------------------------------------------------------------------

  makeSelectionMarker() {
    this.selectionMarker = new THREE.Mesh(new THREE.SphereGeometry(1, 20, 12),
      new THREE.MeshBasicMaterial({ color: 0xffffff, wireframe: true, transparent: true, opacity: 0.55 }));
    this.selectionMarker.layers.set(HELPER_LAYER);
    this.selectionMarker.visible = false;
    this.scene.add(this.selectionMarker);
  }

  sizeSelectionMarker(r) { this.selectionMarker.scale.setScalar(r * 2.6); }

  setSelection(name) {
    for (const mesh of this.markers) {
      mesh.userData.names.forEach((n, i) => mesh.setColorAt(i, n === name ? COLOURS.selected : this.baseColour(this.state.objects.get(n))));
      mesh.instanceColor.needsUpdate = true;
    }
    const p = this.positions.get(name);
    this.selectionMarker.visible = !!p;
    if (p) this.selectionMarker.position.copy(p);
    this.changed();
  }

  applyOptions() {
    if (this.trajectory) this.trajectory.visible = this.state.options.showTrajectory;
    if (this.drawing) this.drawing.visible = this.state.options.showDrawing;
    this.setTime();
  }

  labelEntries() {
    return this.state.scene.objects.filter((o) => o.position).map((o) => ({
      name: o.name, position: o.position,
      kind: o.class === WAYPOINT ? 'waypoint' : o.class ? 'module' : 'object',
    }));
  }
}
