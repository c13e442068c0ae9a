// An orthographic view of the world along one of its axes (top, front, side and their opposites,
// as common 3D tools name them; z is up): it pans (right or middle drag) and zooms (wheel, about
// the pointer) but never turns, shows a grid in its own plane that follows the zoom with the
// coordinates of its lines at the edges and the names of the axes it shows, picks by click and
// selects every object inside a rectangle dragged over empty space.

import * as THREE from 'three';
import { ViewBase } from './viewbase.js';
import { HELPER_LAYER } from './world.js';
import { buildPlaneGrid } from './grid.js';
import { formatNumber, niceStep } from './format.js';
import { WAYPOINT } from './edits.js';

/**
 * `look`: the direction the view looks along; `up`: the world axis up on screen. Right on
 * screen is look × up. `key`: the key that shows it (with Ctrl for the opposite side).
 */
export const DIRECTIONS = {
  top: { label: 'Top', key: '7', look: [0, 0, -1], up: [0, 1, 0], opposite: 'bottom' },
  bottom: { label: 'Bottom', key: 'Ctrl+7', look: [0, 0, 1], up: [0, -1, 0], opposite: 'top' },
  front: { label: 'Front', key: '1', look: [0, 1, 0], up: [0, 0, 1], opposite: 'back' },
  back: { label: 'Back', key: 'Ctrl+1', look: [0, -1, 0], up: [0, 0, 1], opposite: 'front' },
  right: { label: 'Right', key: '3', look: [-1, 0, 0], up: [0, 0, 1], opposite: 'left' },
  left: { label: 'Left', key: 'Ctrl+3', look: [1, 0, 0], up: [0, 0, 1], opposite: 'right' },
};

const AXIS_NAMES = ['x', 'y', 'z'];
/** The world axes' colours, as the grid draws them: x red, y green, z blue. */
const AXIS_CSS = ['#ff7b7b', '#7bff7b', '#7ba6ff'];
/** A press that moves less than this (px) is a click. */
const CLICK_SLOP = 4;
/** Grid lines in the view's height, about. */
const GRID_LINES = 10;

/** The world axis (0 x, 1 y, 2 z) of the unit vector `v` along an axis, and its sign. */
const axisOf = (v) => {
  const i = v.findIndex((c) => c !== 0);
  return { index: i, sign: Math.sign(v[i]) };
};

export class OrthoView extends ViewBase {
  /** `layer`: the view's own layer, for its grid and its gizmo, which no other view draws. */
  constructor(container, world, state, surface, direction, layer) {
    super(container, world, state, surface, new THREE.OrthographicCamera(-1, 1, 1, -1, 0, 1));
    this.layer = layer;
    this.camera.layers.enable(HELPER_LAYER);
    this.camera.layers.enable(layer);
    this.target = new THREE.Vector3();
    this.half = 10;                 // half the view's height in world units
    this.framed = false;
    this.gizmoGrabbed = false;
    /** Helpers of other views that this one must not draw (the perspective's gizmo). */
    this.hideWhenDrawn = [];
    /** What a click does with the object under it (or null) and whether it adds to the selection. */
    this.onPick = (name, how) => (how.add ? this.state.selectMany(name ? [name] : [], how) : this.state.select(name));
    this.grid = new THREE.Group();
    this.grid.name = 'ortho-grid';
    world.scene.add(this.grid);
    this.makeOverlay();
    this.setDirection(direction);
    if (this.renderer) this.listenForPointer(container);
    state.on('select', (name) => { this.labels.setHighlight(name, state.selected); this.invalidate(); });
  }

  makeOverlay() {
    const overlay = document.createElement('div');
    overlay.className = 'view-overlay';
    overlay.innerHTML = `
      <div class="view-title"><span data-role="name"></span> <span class="muted" data-role="grid"></span></div>
      <div class="ruler ruler-h" data-role="rulerH"></div><div class="ruler ruler-v" data-role="rulerV"></div>
      <div class="triad" data-role="triad"><span data-role="h"></span><span data-role="v"></span></div>
      <div class="view-help muted">drag: box select (shift: add) · click: select · right-drag: pan · wheel: zoom · 7 1 3: top front side (Ctrl: opposite) · 5: perspective</div>
      <div class="box-select" hidden></div>`;
    this.container.appendChild(overlay);
    this.nameNote = overlay.querySelector('[data-role=name]');
    this.gridNote = overlay.querySelector('[data-role=grid]');
    this.rulers = { h: overlay.querySelector('[data-role=rulerH]'), v: overlay.querySelector('[data-role=rulerV]') };
    this.triad = overlay.querySelector('[data-role=triad]');
    this.box = overlay.querySelector('.box-select');
  }

  /** Looks along `name` (a key of DIRECTIONS); the caller frames. */
  setDirection(name) {
    const d = DIRECTIONS[name];
    this.direction = name;
    this.look = new THREE.Vector3(...d.look);
    this.up = new THREE.Vector3(...d.up);
    this.right = new THREE.Vector3().crossVectors(this.look, this.up);
    this.axes = { h: axisOf(this.right.toArray()), v: axisOf(d.up), normal: axisOf(d.look).index };
    this.camera.up.copy(this.up);
    this.nameNote.textContent = d.label;
    this.container.dataset.direction = name;
    const [h, v] = [this.axes.h, this.axes.v];
    const [hText, vText] = this.triad.children;
    hText.textContent = h.sign > 0 ? `${AXIS_NAMES[h.index]} →` : `← ${AXIS_NAMES[h.index]}`;
    vText.textContent = v.sign > 0 ? `↑ ${AXIS_NAMES[v.index]}` : `↓ ${AXIS_NAMES[v.index]}`;
    hText.style.color = AXIS_CSS[h.index];
    vText.style.color = AXIS_CSS[v.index];
    this.built = null;
    this.place();
  }

  /** The world axes this view moves along (its screen's), as "X", "Y", "Z". */
  shownAxes() { return [this.axes.h.index, this.axes.v.index].map((i) => AXIS_NAMES[i].toUpperCase()); }

  /** The world axis the view looks along, as "X", "Y" or "Z". */
  normalAxis() { return AXIS_NAMES[this.axes.normal].toUpperCase(); }

  aspectChanged() { this.place(); }

  /**
   * Puts the camera at the target, back along the line of sight, far enough that the whole
   * world (the level too) lies between its near and far planes.
   */
  place() {
    const level = this.world.level;
    if (level && this.levelSized !== level) {
      this.levelBox = new THREE.Box3().setFromObject(level);
      this.levelSized = level;
    }
    const reach = level && !this.levelBox.isEmpty()
      ? this.levelBox.getCenter(new THREE.Vector3()).distanceTo(this.target) + this.levelBox.getSize(new THREE.Vector3()).length() / 2 : 0;
    const depth = 1.5 * Math.max(this.world.extent, reach, 1);
    const aspect = this.width / this.height;
    const c = this.camera;
    c.left = -this.half * aspect;
    c.right = this.half * aspect;
    c.top = this.half;
    c.bottom = -this.half;
    c.near = 0;
    c.far = 2 * depth;
    c.position.copy(this.target).addScaledVector(this.look, -depth);
    c.lookAt(this.target);
    c.updateProjectionMatrix();
    c.updateMatrixWorld();
    this.invalidate();
  }

  /** Frames the object `name`, or the world point `point` (a Vector3), or the whole scene. */
  frame(name, point = null) {
    const world = this.world;
    const target = point || (name ? world.positions.get(name) : null);
    // A view just shown has its size before the observer tells it.
    const { clientWidth: w, clientHeight: h } = this.container;
    if (w > 0 && h > 0 && (w !== this.width || h !== this.height)) this.resize(w, h);
    const aspect = this.width / this.height;
    if (target) {
      this.target.copy(target);
      this.half = Math.max(world.extent * 0.08, 0.5);
    } else {
      const size = world.bounds.getSize(new THREE.Vector3());
      world.bounds.getCenter(this.target);
      const across = Math.abs(size.getComponent(this.axes.h.index)), tall = Math.abs(size.getComponent(this.axes.v.index));
      this.half = Math.max(tall / 2, across / 2 / aspect, 1) * 1.3;
    }
    // Depth along the line of sight does not show; the world's middle keeps it within the planes.
    this.target.setComponent(this.axes.normal, world.bounds.getCenter(new THREE.Vector3()).getComponent(this.axes.normal));
    this.place();
  }

  /** The point new objects go to: the middle of the view, at the depth of the world's middle. */
  centre() { return this.target.clone(); }

  /** World units per CSS pixel. */
  unitsPerPixel() { return (2 * this.half) / this.height; }

  // -- Pointer: pan, zoom, pick, box select --------------------------------------------------------

  listenForPointer(element) {
    element.addEventListener('contextmenu', (e) => e.preventDefault());
    element.addEventListener('pointerdown', (e) => this.press(e));
    // A press here never selects the page's text: a selection left by a shift-drag would make the
    // next drag a text drag, which the browser starts by cancelling the pointer.
    element.addEventListener('mousedown', (e) => e.preventDefault());
    element.addEventListener('wheel', (e) => {
      e.preventDefault();
      const rect = element.getBoundingClientRect();
      this.zoomAt(e.clientX - rect.left, e.clientY - rect.top, Math.exp(Math.sign(e.deltaY) * Math.min(Math.abs(e.deltaY), 200) * 0.0015));
    }, { passive: false });
    element.addEventListener('dblclick', () => this.frame(this.state.selection));
  }

  /** Zooms by `factor` (> 1: out) keeping the world point under view pixel (x, y) there. */
  zoomAt(x, y, factor) {
    const upp = this.unitsPerPixel();
    const u = (x - this.width / 2) * upp, v = (this.height / 2 - y) * upp;
    const half = THREE.MathUtils.clamp(this.half * factor, 1e-3, 1e7);
    const f = half / this.half;
    this.half = half;
    this.target.addScaledVector(this.right, u * (1 - f)).addScaledVector(this.up, v * (1 - f));
    this.place();
  }

  press(e) {
    const element = this.container;
    const rect = element.getBoundingClientRect();
    const start = { x: e.clientX - rect.left, y: e.clientY - rect.top };
    this.gizmoGrabbed = false;
    if (e.button === 1 || e.button === 2) {
      e.preventDefault();
      element.setPointerCapture(e.pointerId);
      let last = { x: e.clientX, y: e.clientY };
      const move = (m) => {
        const upp = this.unitsPerPixel();
        this.target.addScaledVector(this.right, -(m.clientX - last.x) * upp).addScaledVector(this.up, (m.clientY - last.y) * upp);
        last = { x: m.clientX, y: m.clientY };
        this.place();
      };
      this.follow(element, move, () => {});
      return;
    }
    if (e.button !== 0) return;
    let boxing = false;
    const to = { ...start };
    const move = (m) => {
      to.x = m.clientX - rect.left;
      to.y = m.clientY - rect.top;
      // The gizmo says so on the same press when it took it: then the drag is its.
      if (this.gizmoGrabbed) return;
      if (!boxing && Math.hypot(to.x - start.x, to.y - start.y) > CLICK_SLOP) {
        boxing = true;
        element.setPointerCapture(e.pointerId);
      }
      if (boxing) this.showBox(start, to);
    };
    const up = (u) => {
      if (this.gizmoGrabbed) return;
      const how = { add: u.shiftKey || u.ctrlKey || u.metaKey };
      if (boxing) {
        this.box.hidden = true;
        this.state.selectMany(this.inside(start, to), how);
      } else this.onPick(this.pick(start.x, start.y), how);
    };
    this.follow(element, move, up);
  }

  /** Calls `move` on each pointer move until the pointer is released, then `up`. */
  follow(element, move, up) {
    const done = (u) => {
      element.removeEventListener('pointermove', move);
      element.removeEventListener('pointerup', done);
      element.removeEventListener('pointercancel', done);
      if (u.type === 'pointerup') up(u);
    };
    element.addEventListener('pointermove', move);
    element.addEventListener('pointerup', done);
    element.addEventListener('pointercancel', done);
  }

  showBox(a, b) {
    const s = this.box.style;
    s.left = `${Math.min(a.x, b.x)}px`;
    s.top = `${Math.min(a.y, b.y)}px`;
    s.width = `${Math.abs(a.x - b.x)}px`;
    s.height = `${Math.abs(a.y - b.y)}px`;
    this.box.hidden = false;
  }

  /**
   * The waypoints and the scene's own objects whose positions lie in the rectangle between view
   * pixels `a` and `b`. Paths and iterators are left to a click: where they stand means nothing
   * to the flight, and a box around some waypoints must not take their path (Del would delete
   * it, waypoints and all).
   */
  inside(a, b) {
    const [x0, x1] = [Math.min(a.x, b.x), Math.max(a.x, b.x)], [y0, y1] = [Math.min(a.y, b.y), Math.max(a.y, b.y)];
    const names = [];
    const v = new THREE.Vector3();
    for (const [name, p] of this.world.positions) {
      const object = this.state.objects.get(name);
      if (object && object.class && object.class !== WAYPOINT) continue;
      v.copy(p).project(this.camera);
      const x = ((v.x + 1) / 2) * this.width, y = ((1 - v.y) / 2) * this.height;
      if (x >= x0 && x <= x1 && y >= y0 && y <= y1) names.push(name);
    }
    return names;
  }

  // -- Drawing --------------------------------------------------------------------------------------

  /**
   * The grid over what the view shows and around it (a pan or a zoom within it builds none), its
   * spacing following the zoom.
   */
  fitGrid() {
    const step = niceStep(2 * this.half, GRID_LINES);
    const major = step * 5;
    const { h, v, normal } = this.axes;
    const halfWidth = this.half * (this.width / this.height);
    const ch = this.target.getComponent(h.index), cv = this.target.getComponent(v.index);
    const inBuilt = this.built && this.built.step === step && ch - halfWidth >= this.built.h0 && ch + halfWidth <= this.built.h1
      && cv - this.half >= this.built.v0 && cv + this.half <= this.built.v1;
    if (!inBuilt) {
      const snap = (x, up) => (up ? Math.ceil(x / major) : Math.floor(x / major)) * major;
      this.built = { step, h0: snap(ch - 3 * halfWidth, false), h1: snap(ch + 3 * halfWidth, true),
        v0: snap(cv - 3 * this.half, false), v1: snap(cv + 3 * this.half, true) };
      const b = this.built;
      buildPlaneGrid(this.grid, h.index, v.index, [b.h0, b.h1, b.v0, b.v1], step, this.target.getComponent(normal));
      this.grid.traverse((o) => o.layers.set(this.layer));
    }
    const note = `· grid ${formatNumber(step)} (bold every ${formatNumber(major)})`;
    if (this.gridNote.textContent !== note) this.gridNote.textContent = note;
    return step;
  }

  /** The coordinates of the grid's lines along the bottom and the left edge. */
  placeRulers(step) {
    const { h, v } = this.axes;
    const upp = this.unitsPerPixel();
    const ticks = (ruler, index, sign, size, centre, along) => {
      // Every line, or every other one where they would crowd.
      const every = step / upp < 56 ? 2 : 1;
      const first = Math.ceil((centre - (size / 2) * upp) / (step * every)) * every;
      const last = Math.floor((centre + (size / 2) * upp) / (step * every)) * every;
      const spans = ruler.children;
      let n = 0;
      for (let k = first; k <= last && n < 40; k += every, ++n) {
        const value = k * step;
        const span = spans[n] || ruler.appendChild(document.createElement('span'));
        span.textContent = formatNumber(Math.abs(value) < step * 1e-6 ? 0 : value);
        const offset = size / 2 + (sign * (value - centre)) / upp;
        const at = along === 'x' ? offset : size - offset;
        span.style.transform = along === 'x' ? `translateX(${at.toFixed(1)}px)` : `translateY(${at.toFixed(1)}px)`;
        // Clear of the title above and of the other ruler in the corner.
        span.hidden = at < (along === 'x' ? 40 : 34) || (along === 'y' && at > size - 24);
      }
      for (let i = n; i < spans.length; ++i) spans[i].hidden = true;
    };
    ticks(this.rulers.h, h.index, h.sign, this.width, this.target.getComponent(h.index), 'x');
    ticks(this.rulers.v, v.index, v.sign, this.height, this.target.getComponent(v.index), 'y');
    this.rulers.h.style.color = AXIS_CSS[h.index];
    this.rulers.v.style.color = AXIS_CSS[v.index];
  }

  /** The names are made when the view is next drawn: views hidden make none. */
  sceneChanged() {
    this.labelsStale = true;
    this.invalidate();
  }

  update() {
    if (this.labelsStale) {
      this.labelsStale = false;
      this.labels.set(this.world.labelEntries());
    }
    // The names follow the markers during a drag, whichever view it is in.
    for (const [name, p] of this.world.positions) this.labels.move(name, p);
    super.update();
  }

  draw(renderer) {
    if (this.world.level && this.world.level !== this.levelSized) this.place();
    for (const material of [this.world.trajectoryMaterial, this.world.clipMaterial])
      if (material) material.resolution.set(this.width, this.height);
    const step = this.fitGrid();
    this.placeRulers(step);
    // The world's ground grid lies in z = 0; this view draws its own, in its plane.
    const hidden = [this.world.grid, ...this.hideWhenDrawn].map((o) => [o, o.visible]);
    for (const [o] of hidden) o.visible = false;
    this.renderWorld(renderer);
    for (const [o, visible] of hidden) o.visible = visible;
    this.update();
  }
}
