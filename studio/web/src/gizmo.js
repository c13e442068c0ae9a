// Moving and turning the selected object with the mouse: three.js's TransformControls on a
// stand-in object at the selection, in world axes (z up), with a toolbar in the 3D view to
// switch between moving (T) and rotating (R), to snap to the grid the view shows, and "aim
// here", which makes the next object clicked in the view the selected waypoint's PointsTo.
//
// The stand-in, not the marker, is what the gizmo moves: markers are instances of one mesh per
// kind. Each step of a drag moves the marker at once and sends the position (or orientation)
// to the server through the editor, which coalesces the steps; orbiting is off while dragging.
// With several objects selected the gizmo stands at the primary one and moves them all by the
// same offset: the markers follow the pointer and one change (a batch) goes when the drag ends.
// Turning works on one object at a time.

import * as THREE from 'three';
import { TransformControls } from 'three/addons/controls/TransformControls.js';
import { HELPER_LAYER } from './world.js';
import { placeNew, WAYPOINT } from './edits.js';
import { formatNumber } from './format.js';
import { moveMany } from './multiselect.js';

const ROTATION_SNAP = THREE.MathUtils.degToRad(15);
/**
 * A move handle whose axis points within 25° of the line of sight is hidden, and so are the
 * plane handles that hold it: a drag along it shows nearly no motion on screen while the object
 * goes far (three.js hides them only within 8°).
 */
const AXIS_HIDE_COS = Math.cos(THREE.MathUtils.degToRad(25));

/** The 9 floats, row by row, of the rotation `quaternion`: the matrix's columns are the object's axes. */
export function orientationRows(quaternion) {
  const e = new THREE.Matrix4().makeRotationFromQuaternion(quaternion).elements; // column-major
  return [e[0], e[4], e[8], e[1], e[5], e[9], e[2], e[6], e[10]];
}

/** The rotation whose matrix has the 9 floats `rows` (row by row); orthonormalised by three.js. */
export function quaternionOf(rows, out = new THREE.Quaternion()) {
  const m = rows || [1, 0, 0, 0, 1, 0, 0, 0, 1];
  const matrix = new THREE.Matrix4().set(m[0], m[1], m[2], 0, m[3], m[4], m[5], 0, m[6], m[7], m[8], 0, 0, 0, 0, 1);
  return out.setFromRotationMatrix(matrix);
}

/**
 * Why `name` cannot be turned, or null: a waypoint whose PointsTo names an object of the scene
 * takes its rotation from that target at every refit (the server refuses such a turn too).
 */
export function rotationLock(state, name) {
  const object = state.objects.get(name);
  const target = object && object.class === WAYPOINT ? state.attribute(name, 'PointsTo') : null;
  if (!target || !state.objects.has(target)) return null;
  return `${name} looks at ${target}: its rotation follows the target; clear PointsTo to rotate it`;
}

const button = (act, label, title) => `<button data-act="${act}" title="${title}" aria-label="${title}">${label}</button>`;

/** How far a placed waypoint stands off the surface clicked: the linter's default clearance. */
const PLACE_LIFT = 0.5;

export class Gizmo {
  constructor(view3d, world, state, editor, notify = () => {}) {
    this.view = view3d;
    this.world = world;
    this.state = state;
    this.editor = editor;
    this.notify = notify;
    this.name = null;
    this.aiming = null;
    this.snap = false;
    this.makeToolbar();
    view3d.onPick = (name, at, how) => this.picked(name, at, how);
    if (!view3d.renderer) return;

    this.proxy = new THREE.Object3D();
    world.scene.add(this.proxy);
    const controls = new TransformControls(view3d.camera, view3d.container);
    this.controls = controls;
    controls.setSpace('world');
    controls.setSize(0.9);
    // The gizmo is the editor's, like the trajectory: the camera view must not see it, and its
    // handles are then found by a ray that looks at every layer.
    const helper = controls.getHelper();
    helper.traverse((o) => o.layers.set(HELPER_LAYER));
    controls.getRaycaster().layers.enableAll();
    world.scene.add(helper);
    controls.addEventListener('change', () => view3d.invalidate());
    controls.addEventListener('dragging-changed', (e) => { if (view3d.controls) view3d.controls.enabled = !e.value; });
    controls.addEventListener('mouseDown', () => {
      view3d.gizmoGrabbed = true;
      if (this.several()) this.beginGroupMove();
      else editor.beginDrag(this.name);
    });
    controls.addEventListener('objectChange', () => this.moved());
    // A shift or ctrl click adds the object under the pointer to the selection, even where the
    // handles' wide pickers lie over it (this runs before the controls hear the press).
    view3d.container.addEventListener('pointerdown', (e) => { controls.enabled = !(e.shiftKey || e.ctrlKey || e.metaKey); },
      { capture: true });
    this.sight = new THREE.Vector3();
    if (view3d.controls) view3d.controls.addEventListener('change', () => this.hideAxesIntoView());
    controls.addEventListener('mouseUp', () => { if (this.group) this.endGroupMove(); else editor.endDrag(); });
    // A new selection ends an aim; placing goes on from each waypoint placed.
    state.on('select', () => { if (this.aiming) this.cancelAim(); this.attach(); });
    state.on('scene', () => this.attach());
    state.on('draw', () => this.applySnap());
    this.attach();
  }

  makeToolbar() {
    const bar = document.createElement('div');
    bar.className = 'gizmo-bar';
    bar.innerHTML = `${button('translate', 'Move', 'Move the selection along the world axes (T)')}
      ${button('rotate', 'Rotate', 'Rotate the selection about the world axes (R)')}
      <label class="snap" title="Snap moves to this step (empty: the grid the view shows), rotations to 15°"><input type="checkbox" data-act="snap"> snap <input type="number" class="snap-step" data-act="step" min="0" step="any" aria-label="snap step"></label>
      <label class="snap" data-role="surface" title="A move puts the selection on the level's surface under the pointer, half a unit off it" hidden><input type="checkbox" data-act="surface"> on level</label>
      ${button('aim', 'Aim here', 'Then click the object the selected waypoint should look at (its PointsTo), or a spot on the level for a new target there; Esc cancels')}
      ${button('place', 'Place', 'Click the level to put new waypoints on its surfaces, after the selection (lifted off the surface by half a unit); Esc ends')}`;
    // The bar lies in the view: its presses are not orbits or picks.
    for (const type of ['pointerdown', 'pointerup', 'dblclick', 'wheel']) bar.addEventListener(type, (e) => e.stopPropagation());
    // Buttons keep no focus, so that the view's keys work after a click.
    bar.addEventListener('mousedown', (e) => { if (e.target.closest('button')) e.preventDefault(); });
    bar.querySelector('[data-act=translate]').addEventListener('click', () => this.setMode('translate'));
    bar.querySelector('[data-act=rotate]').addEventListener('click', () => this.setMode('rotate'));
    bar.querySelector('[data-act=aim]').addEventListener('click', () => (this.aiming ? this.cancelAim() : this.aim()));
    bar.querySelector('[data-act=place]').addEventListener('click', () => (this.placing ? this.cancelAim() : this.place()));
    const snap = bar.querySelector('[data-act=snap]');
    snap.addEventListener('change', () => { this.snap = snap.checked; this.applySnap(); snap.blur(); });
    // The step is the user's once typed, whatever the scene's size makes of the grid; empty
    // gives it back to the grid.
    const step = bar.querySelector('[data-act=step]');
    step.addEventListener('change', () => {
      const value = Number(step.value);
      this.snapStep = step.value.trim() === '' || !(value > 0) || !Number.isFinite(value) ? null : value;
      this.applySnap();
    });
    step.addEventListener('keydown', (e) => { if (e.key === 'Enter' || e.key === 'Escape') step.blur(); e.stopPropagation(); });
    const surface = bar.querySelector('[data-act=surface]');
    surface.addEventListener('change', () => { this.onSurface = surface.checked; surface.blur(); });
    // Where the pointer is during a drag, for moves onto the level's surface under it.
    this.view.container.addEventListener('pointermove', (e) => {
      const rect = this.view.container.getBoundingClientRect();
      this.pointer = { x: e.clientX - rect.left, y: e.clientY - rect.top };
    }, { capture: true });
    this.hint = document.createElement('div');
    this.hint.className = 'aim-hint';
    this.hint.hidden = true;
    this.view.container.append(bar, this.hint);
    this.bar = bar;
    this.stepInput = bar.querySelector('[data-act=step]');
    this.snapStep = null;
    this.showBar();
  }

  showBar() {
    const mode = this.controls ? this.controls.mode : 'translate';
    for (const act of ['translate', 'rotate'])
      this.bar.querySelector(`[data-act=${act}]`).classList.toggle('on', mode === act);
    const selected = this.state.objects.get(this.state.selection);
    this.bar.querySelector('[data-act=translate]').disabled = !this.name;
    const rotate = this.bar.querySelector('[data-act=rotate]');
    rotate.disabled = !this.name || !!this.several();
    const lock = this.name && rotationLock(this.state, this.name);
    rotate.classList.toggle('locked', !!lock);
    rotate.title = lock || 'Rotate the selection about the world axes (R)';
    this.bar.querySelector('[data-act=aim]').disabled = !(selected && selected.class === WAYPOINT);
    this.bar.querySelector('[data-act=aim]').classList.toggle('on', !!this.aiming);
    const level = this.world.level;
    const place = this.bar.querySelector('[data-act=place]');
    place.hidden = !level;
    place.disabled = !(level && level.userData.indexed && selected && placeNew(this.state.objects, selected.name));
    place.classList.toggle('on', !!this.placing);
    this.bar.querySelector('[data-role=surface]').hidden = !(level && level.userData.indexed);
    if (document.activeElement !== this.stepInput) this.stepInput.value = formatNumber(this.step());
  }

  /** Hides the move handles along the line of sight to the selection (see AXIS_HIDE_COS). */
  hideAxesIntoView() {
    const c = this.controls;
    if (!c || c.dragging) return;
    const d = this.sight.copy(this.proxy.position).sub(this.view.camera.position).normalize();
    const hide = (component) => c.mode === 'translate' && Math.abs(component) > AXIS_HIDE_COS;
    c.showX = !hide(d.x);
    c.showY = !hide(d.y);
    c.showZ = !hide(d.z);
  }

  setMode(mode) {
    if (!this.controls || this.controls.dragging) return;
    const lock = mode === 'rotate' && this.name &&
      (this.several() ? 'Rotate turns one object at a time: select one' : rotationLock(this.state, this.name));
    if (lock) {
      this.notify(lock, 'error');
      mode = 'translate';
    }
    this.controls.setMode(mode);
    this.hideAxesIntoView();
    this.showBar();
    this.view.invalidate();
  }

  /** The step moves snap to: the user's, else the grid's. */
  step() { return this.snapStep ?? this.world.gridStep; }

  applySnap() {
    if (this.controls) {
      this.controls.setTranslationSnap(this.snap ? this.step() : null);
      this.controls.setRotationSnap(this.snap ? ROTATION_SNAP : null);
    }
    this.showBar();
  }

  /** Puts the gizmo on the selection (anything with a position), or takes it away. */
  attach() {
    if (!this.controls) return;
    const object = this.state.objects.get(this.state.selection);
    // A group's markers stand where the pointer left them until its change is answered.
    if (this.group) return;
    if (this.editor.dragging && object && object.name === this.name) {
      // A refetch during a drag shows the server's last position; the pointer is ahead of it.
      this.world.moveObject(this.name, this.proxy.position);
      this.view.labels.move(this.name, this.proxy.position);
      return;
    }
    this.name = object && object.position ? object.name : null;
    if (!this.name) {
      this.controls.detach();
    } else {
      this.proxy.position.set(...object.position);
      quaternionOf(object.orientation, this.proxy.quaternion);
      this.proxy.updateMatrixWorld();
      this.controls.attach(this.proxy);
      if (this.controls.mode === 'rotate' && (rotationLock(this.state, this.name) || this.several())) this.setMode('rotate');
      this.hideAxesIntoView();
    }
    this.showBar();
    this.view.invalidate();
  }

  moved() {
    if (this.group) { this.groupMoved(); return; }
    if (!this.name || !this.editor.dragging) return;
    if (this.controls.mode === 'rotate') {
      this.editor.drag({ orientation: orientationRows(this.proxy.quaternion) });
      return;
    }
    const p = this.proxy.position;
    const surface = this.onSurface && this.pointer && this.view.surfaceAt(this.pointer.x, this.pointer.y);
    if (surface) p.copy(surface.point.addScaledVector(surface.normal, PLACE_LIFT));
    this.world.moveObject(this.name, p);
    this.view.labels.move(this.name, p);
    this.editor.drag({ position: [p.x, p.y, p.z] });
  }

  // -- Moving several ------------------------------------------------------------------------------

  /** The selected objects with a position when more than one is selected and the gizmo is on one of them; else null. */
  several() {
    if (this.state.selected.size < 2 || !this.name) return null;
    return this.state.selectedInOrder().filter((n) => this.state.objects.get(n)?.position);
  }

  beginGroupMove() {
    // From where the markers stand: a move still being sent has put them there already.
    const at = (n) => this.world.positions.get(n) || new THREE.Vector3(...this.state.objects.get(n).position);
    const starts = new Map(this.several().map((n) => [n, at(n).clone()]));
    this.group = { from: this.proxy.position.clone(), starts, offset: new THREE.Vector3(), sending: false };
  }

  /** Every marker of the group goes by the offset the primary went. */
  groupMoved() {
    const g = this.group;
    if (g.sending) return;
    const p = this.proxy.position;
    const surface = this.onSurface && this.pointer && this.view.surfaceAt(this.pointer.x, this.pointer.y);
    if (surface) p.copy(surface.point.addScaledVector(surface.normal, PLACE_LIFT));
    g.offset.copy(p).sub(g.from);
    const at = new THREE.Vector3();
    for (const [name, start] of g.starts) {
      at.copy(start).add(g.offset);
      this.world.moveObject(name, at);
      this.view.labels.move(name, at);
    }
  }

  /** One change moves the group; a refusal puts the markers back where the server has them. */
  endGroupMove() {
    const g = this.group;
    if (g.offset.lengthSq() === 0) { this.group = null; this.attach(); return; }
    g.sending = true;
    const moves = [...g.starts].map(([name, start]) => ({ name, position: start.clone().add(g.offset).toArray() }));
    // Once answered, the scene that follows puts the gizmo and markers where the server has them.
    const done = () => { if (this.group === g) this.group = null; };
    moveMany(this.editor, moves).then(done, (error) => {
      done();
      this.notify(error.reason || error.message, 'error');
      this.state.setScene(this.state.scene);
    });
  }

  // -- Aim here -----------------------------------------------------------------------------------

  aim() {
    const selected = this.state.objects.get(this.state.selection);
    if (!selected || selected.class !== WAYPOINT) return;
    this.aiming = selected.name;
    this.hint.textContent = `Click the object ${selected.name} should look at · Esc cancels`;
    this.hint.hidden = false;
    this.view.container.classList.add('aiming');
    this.showBar();
  }

  /** Clicks on the level put waypoints there, after the selection, until Esc. */
  place() {
    const selected = this.state.objects.get(this.state.selection);
    if (!selected || !placeNew(this.state.objects, selected.name)) return;
    this.cancelAim();
    this.placing = true;
    this.hint.textContent = 'Click the level where the next waypoint goes · Esc ends';
    this.hint.hidden = false;
    this.view.container.classList.add('aiming');
    this.showBar();
  }

  /** True when there was an aim or a placing to cancel. */
  cancelAim() {
    if (!this.aiming && !this.placing) return false;
    this.aiming = null;
    this.placing = false;
    this.hint.hidden = true;
    this.view.container.classList.remove('aiming');
    this.showBar();
    return true;
  }

  picked(name, at, how) {
    if (this.placing) { this.placeAt(at); return; }
    if (!this.aiming) { this.state.clicked(name, how); return; }
    if (name === this.aiming) return;
    // A click beside the objects aims at the level's surface there, through a new target.
    const surface = !name && at ? this.view.surfaceAt(at.x, at.y) : null;
    if (!name && !surface) return;   // keeps aiming: a click at nothing is no choice
    const waypoint = this.aiming;
    this.cancelAim();
    const target = name ? Promise.resolve(name)
      : this.editor.create({ parent: null, position: surface.point.toArray() }).then((made) => { this.state.select(waypoint); return made; });
    target.then((to) => this.editor.setAttribute(waypoint, 'PointsTo', to).then(() => this.notify(`${waypoint} now looks at ${to}`)))
      .catch((error) => this.notify(error.reason || error.message, 'error'));
  }

  /** A new waypoint on the level's surface under `at`, after the selection, which it becomes. */
  placeAt(at) {
    const surface = at && this.view.surfaceAt(at.x, at.y);
    const slot = placeNew(this.state.objects, this.state.selection);
    if (!surface || !slot) return;
    const position = surface.point.addScaledVector(surface.normal, PLACE_LIFT).toArray();
    this.editor.create({ class: WAYPOINT, ...slot, position })
      .catch((error) => this.notify(error.reason || error.message, 'error'));
  }

  // -- For tests and scripts ----------------------------------------------------------------------

  /**
   * Where the handle for `axis` ("X", "Y" or "Z") of the gizmo is in the page, and the unit
   * direction on screen in which dragging it moves the object along +axis: {x, y, dx, dy}.
   */
  handle(axis = 'X') {
    if (!this.controls || !this.name) return null;
    const helper = this.controls.getHelper();
    helper.updateMatrixWorld(true);
    // Moving has two pickers per axis, one on either side of the object, and three.js's order
    // says nothing about the side: the handle meant is the one on the + side, so that the
    // direction from the object to it is +axis on screen.
    const unit = new THREE.Vector3(axis === 'X' ? 1 : 0, axis === 'Y' ? 1 : 0, axis === 'Z' ? 1 : 0);
    const centres = this.controls._gizmo.picker[this.controls.mode].children.filter((c) => c.name === axis)
      .map((c) => new THREE.Box3().setFromObject(c).getCenter(new THREE.Vector3()));
    if (!centres.length) return null;
    const along = (c) => c.clone().sub(this.proxy.position).dot(unit);
    const at = this.view.screenPoint(centres.reduce((best, c) => (along(c) > along(best) ? c : best)));
    const origin = this.view.screenPoint(this.proxy.position);
    if (!at || !origin) return null;
    const length = Math.hypot(at.x - origin.x, at.y - origin.y) || 1;
    return { x: at.x, y: at.y, dx: (at.x - origin.x) / length, dy: (at.y - origin.y) / length };
  }
}
