// The 3D content both views render: object markers, the editor's drawing, the links from
// waypoints to what they look at, the ground grid, the flown trajectory coloured by speed and
// the eye's frustum at the current tick. The 3D view sees everything; the camera view sees
// only layer 0, so the editor's own helpers (frustum, eye, trajectory) never stand in the way
// of the picture the game camera would show.

import * as THREE from 'three';
import { LineSegments2 } from 'three/addons/lines/LineSegments2.js';
import { LineSegmentsGeometry } from 'three/addons/lines/LineSegmentsGeometry.js';
import { LineMaterial } from 'three/addons/lines/LineMaterial.js';
import { tickAt, verticalFov } from './flight.js';
import { buildGrid } from './grid.js';
import { brighten, COLOURS } from './colours.js';
import { trajectorySegments } from './trajectory.js';
import { EyeHelpers } from './eye.js';
import { Emitter } from './emitter.js';
import { WAYPOINT } from './edits.js';

export const HELPER_LAYER = 1;

/** Markers and labels tell waypoints, the plug-in's other objects and the host's objects apart. */
const markerKind = (o) => (o.class === WAYPOINT ? 'waypoint' : o.class ? 'module' : 'object');

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
    this.hasEye = false;
    this.tmp = new THREE.Vector3();
    this.tmpMatrix = new THREE.Matrix4();

    this.content = new THREE.Group();
    this.scene.add(this.content);
    this.grid = new THREE.Group();
    this.scene.add(this.grid);
    this.drawing = null;
    this.level = null;
    this.links = null;
    this.trajectory = null;
    this.speedRange = null;
    this.eyeHelpers = new EyeHelpers();
    for (const o of this.eyeHelpers.objects()) {
      o.layers.set(HELPER_LAYER);
      this.scene.add(o);
    }
    this.makeSelectionMarker();

    state.on('scene', () => this.setScene());
    state.on('draw', () => this.setDraw());
    state.on('flight', () => this.setFlight());
    state.on('lint', () => this.setClips());
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
      kinds[markerKind(o)].list.push(o);
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

  makeGrid() { this.gridStep = buildGrid(this.grid, this.bounds); }

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
    this.eyeHelpers.setDash(dash);
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
    const n = flight ? flight.rows : 0;
    if (n >= 2) {
      const { positions, colours, range } = trajectorySegments(flight, analysis);
      this.speedRange = range;
      if (positions.length > 0) {
        const geometry = new LineSegmentsGeometry();
        geometry.setPositions(positions);
        geometry.setColors(colours);
        this.trajectoryMaterial ||= new LineMaterial({ linewidth: 3, vertexColors: true, worldUnits: false });
        this.trajectory = new LineSegments2(geometry, this.trajectoryMaterial);
        this.trajectory.layers.set(HELPER_LAYER);
        this.trajectory.visible = this.state.options.showTrajectory;
        this.scene.add(this.trajectory);
      }
    }
    this.setDestination();
    this.setClips();
  }

  /**
   * The stretches of the flown path the linter's errors are about (a step through a wall, a run
   * inside the level's solids: findings with a time and an `until`), drawn over it in red.
   */
  setClips() {
    if (this.clips) { this.scene.remove(this.clips); this.clips.geometry.dispose(); }
    this.clips = null;
    const { flight } = this.state;
    const stretches = (this.state.lint || []).filter((f) => f.severity === 'error' && f.time != null && f.until != null);
    const positions = [];
    if (flight && flight.rows >= 2) {
      for (const f of stretches) {
        const from = tickAt(flight.elapsed, this.state.elapsedOf(f.time));
        const to = Math.max(from + 1, tickAt(flight.elapsed, this.state.elapsedOf(f.until)));
        for (let i = from; i < Math.min(to, flight.rows - 1); ++i)
          positions.push(flight.x[i], flight.y[i], flight.z[i], flight.x[i + 1], flight.y[i + 1], flight.z[i + 1]);
      }
    }
    if (positions.length) {
      const geometry = new LineSegmentsGeometry();
      geometry.setPositions(positions);
      this.clipMaterial ||= new LineMaterial({ linewidth: 6, color: COLOURS.clip, worldUnits: false, depthTest: false });
      this.clips = new LineSegments2(geometry, this.clipMaterial);
      this.clips.layers.set(HELPER_LAYER);
      this.clips.renderOrder = 2;
      this.scene.add(this.clips);
    }
    this.changed();
  }

  /** The line from the eye to the iterator's "MovingDestination", when it has one. */
  setDestination() {
    const iterator = this.state.flightParams.iterator;
    this.destinationTarget = this.positions.get(this.state.attribute(iterator, 'MovingDestination')) || null;
    this.setTime();
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
    if (shown) {
      this.eyeHelpers.place(shown, this.axes, this.extent, verticalFov(shown.fov, this.state.options.fovBase), this.aspect,
        this.destinationTarget);
    } else this.eyeHelpers.hide();
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
    const ring = this.groupRing.get(name);
    if (ring !== undefined) {
      this.groupMarker.setMatrixAt(ring, this.tmpMatrix.compose(position, this.noTurn, this.selectionMarker.scale));
      this.groupMarker.instanceMatrix.needsUpdate = true;
    }
    this.changed();
  }

  // -- Selection and options ----------------------------------------------------------------------

  makeSelectionMarker() {
    this.selectionMarker = new THREE.Mesh(new THREE.SphereGeometry(1, 20, 12),
      new THREE.MeshBasicMaterial({ color: 0xffffff, wireframe: true, transparent: true, opacity: 0.55 }));
    this.selectionMarker.layers.set(HELPER_LAYER);
    this.selectionMarker.visible = false;
    this.scene.add(this.selectionMarker);
    // The other selected objects' rings, fainter than the primary's: one instanced mesh.
    this.groupMarker = null;
    this.groupRing = new Map();   // name -> instance
    this.noTurn = new THREE.Quaternion();
  }

  /** Rings around every selected object but the primary `name`. */
  setGroupRings(name) {
    const others = [...this.state.selected].filter((n) => n !== name && this.positions.has(n));
    if (!this.groupMarker || this.groupMarker.instanceMatrix.count < others.length) {
      if (this.groupMarker) { this.scene.remove(this.groupMarker); this.groupMarker.material.dispose(); this.groupMarker.dispose(); }
      const material = this.selectionMarker.material.clone();
      material.opacity = 0.3;
      this.groupMarker = new THREE.InstancedMesh(this.selectionMarker.geometry, material, Math.max(16, others.length * 2));
      this.groupMarker.layers.set(HELPER_LAYER);
      this.groupMarker.frustumCulled = false;
      this.scene.add(this.groupMarker);
    }
    this.groupRing.clear();
    others.forEach((n, i) => {
      this.groupMarker.setMatrixAt(i, this.tmpMatrix.compose(this.positions.get(n), this.noTurn, this.selectionMarker.scale));
      this.groupRing.set(n, i);
    });
    this.groupMarker.count = others.length;
    this.groupMarker.instanceMatrix.needsUpdate = true;
  }

  sizeSelectionMarker(r) { this.selectionMarker.scale.setScalar(r * 2.6); }

  setSelection(name) {
    const selected = this.state.selected;
    for (const mesh of this.markers) {
      mesh.userData.names.forEach((n, i) => mesh.setColorAt(i, n === name || selected.has(n) ? COLOURS.selected : this.baseColour(this.state.objects.get(n))));
      mesh.instanceColor.needsUpdate = true;
    }
    const p = this.positions.get(name);
    this.selectionMarker.visible = !!p;
    if (p) this.selectionMarker.position.copy(p);
    this.setGroupRings(name);
    this.changed();
  }

  /** The level (levelFromGlb's group) in both views; it gives the world no bounds of its own. */
  setLevel(level) {
    if (this.level) this.scene.remove(this.level);
    this.level = level;
    level.visible = this.state.options.showLevel;
    this.scene.add(level);
    this.changed();
  }

  applyOptions() {
    if (this.level) this.level.visible = this.state.options.showLevel;
    if (this.trajectory) this.trajectory.visible = this.state.options.showTrajectory;
    if (this.drawing) this.drawing.visible = this.state.options.showDrawing;
    this.setTime();
  }

  labelEntries() {
    return this.state.scene.objects.filter((o) => o.position).map((o) => ({
      name: o.name, position: o.position,
      kind: markerKind(o),
    }));
  }
}
