// Placing by looking: fly the 3D view like a game camera (WASD to move, Q/E down and up, a drag
// to look around, the wheel for speed, Shift four times as fast), then "Waypoint here" adds a
// waypoint at the view's eye looking where the view looks, its field of view the view's own.
// "Look through" puts the view at the selected waypoint's eye, as the game camera has it there,
// and flies from there; "Move here" then moves that waypoint to the view's eye.

import * as THREE from 'three';
import { placeNew, WAYPOINT } from './edits.js';
import { formatNumber } from './format.js';
import { orientationRows } from './gizmo.js';
import { verticalFov } from './flight.js';

const UP = new THREE.Vector3(0, 0, 1);
const MOVES = { w: [0, 1, 0], s: [0, -1, 0], d: [1, 0, 0], a: [-1, 0, 0], e: [0, 0, 1], q: [0, 0, -1] };
/** How far the eye looks ahead in a new waypoint when nothing gives a distance (its Range). */
const DEFAULT_RANGE = 10;

/**
 * The waypoint that puts the game camera where `camera` (a three.js camera, looking down its
 * local -z with +y up) is, through the base vertical angle `fovBase`: position, rotation
 * without roll (columns right, forward, up, as aiming a waypoint makes them) and the
 * attributes `Roll` (degrees, the playback's sign) and `FOVFac` (the ratio of the half-angle
 * tangents, so that the camera view shows the view's angle).
 */
export function waypointFromView(camera, fovBase) {
  const forward = camera.getWorldDirection(new THREE.Vector3());
  const viewUp = new THREE.Vector3(0, 1, 0).applyQuaternion(camera.quaternion);
  // The playback's frame: right = forward x z, up = right x forward, then the roll about forward.
  let right = new THREE.Vector3().crossVectors(forward, UP);
  if (right.lengthSq() < 1e-12) right = new THREE.Vector3(1, 0, 0).applyQuaternion(camera.quaternion);
  right.normalize();
  const up = new THREE.Vector3().crossVectors(right, forward);
  const roll = THREE.MathUtils.radToDeg(Math.atan2(-viewUp.dot(right), viewUp.dot(up)));
  const basis = new THREE.Matrix4().makeBasis(right, forward, up);
  const rows = orientationRows(new THREE.Quaternion().setFromRotationMatrix(basis));
  const half = (deg) => Math.tan(THREE.MathUtils.degToRad(deg) / 2);
  return {
    position: camera.position.toArray(),
    orientation: rows,
    attributes: { Roll: Math.abs(roll) < 1e-4 ? 0 : roll, FOVFac: half(camera.fov) / half(fovBase) },
  };
}

export class Pilot {
  constructor(view3d, state, editor, notify = () => {}) {
    this.view = view3d;
    this.state = state;
    this.editor = editor;
    this.notify = notify;
    this.on = false;
    this.held = new Set();
    this.speed = 10;
    this.lookingThrough = null;  // the waypoint the view was put at, while piloting from there
    this.last = 0;
    this.tick = this.tick.bind(this);
    this.makeBar();
    if (!view3d.renderer) return;
    const container = view3d.container;
    container.addEventListener('pointerdown', (e) => this.grab(e), { capture: true });
    container.addEventListener('wheel', (e) => {
      if (!this.on) return;
      e.preventDefault();
      e.stopPropagation();
      this.speed *= e.deltaY < 0 ? 1.25 : 0.8;
      this.showBar();
    }, { capture: true, passive: false });
    document.addEventListener('keydown', (e) => this.key(e, true));
    document.addEventListener('keyup', (e) => this.key(e, false));
    state.on('select', () => { this.lookingThrough = null; this.showBar(); });
    state.on('scene', () => this.showBar());
  }

  makeBar() {
    const bar = document.createElement('div');
    bar.className = 'gizmo-bar pilot-bar';
    bar.innerHTML = `<button data-act="pilot" title="Fly the view: WASD, Q/E down/up, drag to look, wheel for speed, Shift faster (Esc leaves)">Pilot</button>
      <span class="muted" data-role="speed" hidden></span>
      <button data-act="here" title="A waypoint at the view's eye, looking where the view looks, after the selection">Waypoint here</button>
      <button data-act="look" title="Put the view at the selected waypoint's eye and fly from there">Look through</button>`;
    bar.addEventListener('mousedown', (e) => { if (e.target.closest('button')) e.preventDefault(); });
    // The view's orbiting captures the pointer on a press: the bar's presses are the bar's.
    for (const type of ['pointerdown', 'pointerup', 'dblclick', 'wheel']) bar.addEventListener(type, (e) => e.stopPropagation());
    bar.addEventListener('click', (e) => {
      const act = e.target.closest('[data-act]')?.dataset.act;
      if (act === 'pilot') this.setOn(!this.on);
      else if (act === 'here') this.placeHere();
      else if (act === 'look') this.lookThrough();
    });
    this.view.container.appendChild(bar);
    this.bar = bar;
    this.showBar();
  }

  showBar() {
    const selected = this.state.objects.get(this.state.selection);
    this.bar.querySelector('[data-act=pilot]').classList.toggle('on', this.on);
    const speed = this.bar.querySelector('[data-role=speed]');
    speed.hidden = !this.on;
    speed.textContent = `${formatNumber(this.speed, 3)} units/s`;
    const here = this.bar.querySelector('[data-act=here]');
    here.textContent = this.lookingThrough ? `Move ${this.lookingThrough} here` : 'Waypoint here';
    here.disabled = !this.lookingThrough && !(selected && placeNew(this.state.objects, selected.name));
    here.title = here.disabled ? 'Select a path or a waypoint: the new waypoint goes after it'
      : this.lookingThrough ? `Move ${this.lookingThrough} to the view's eye, looking where the view looks`
        : 'A waypoint at the view\'s eye, looking where the view looks, after the selection';
    this.bar.querySelector('[data-act=look]').disabled = !(selected && selected.class === WAYPOINT && selected.position);
  }

  setOn(on) {
    if (!this.view.controls || on === this.on) return;
    this.on = on;
    this.view.controls.enabled = !on;
    this.held.clear();
    if (!on) {
      // Orbiting goes on about a point ahead of where the flight left the view.
      const ahead = this.view.camera.getWorldDirection(new THREE.Vector3()).multiplyScalar(this.speed);
      this.view.controls.target.copy(this.view.camera.position).add(ahead);
      this.view.controls.update();
      this.lookingThrough = null;
      if (this.viewFov) {
        this.view.camera.fov = this.viewFov;
        this.view.camera.updateProjectionMatrix();
        this.viewFov = null;
      }
    } else {
      this.speed = Math.max(0.5, this.view.world.extent / 10);
    }
    this.showBar();
    this.view.invalidate();
  }

  /** A drag while piloting turns the view: yaw about the world's z, pitch about the view's right. */
  grab(e) {
    if (!this.on || e.button !== 0) return;
    e.stopImmediatePropagation();
    const camera = this.view.camera;
    let x = e.clientX, y = e.clientY;
    const look = (m) => {
      const dx = m.clientX - x, dy = m.clientY - y;
      x = m.clientX; y = m.clientY;
      const euler = new THREE.Euler().setFromQuaternion(camera.quaternion, 'ZXY');
      euler.z -= dx * 0.005;
      euler.x = THREE.MathUtils.clamp(euler.x - dy * 0.005, 0.02, Math.PI - 0.02);
      camera.quaternion.setFromEuler(euler);
      camera.updateMatrixWorld();
      this.view.invalidate();
    };
    const up = () => { window.removeEventListener('pointermove', look); window.removeEventListener('pointerup', up); };
    window.addEventListener('pointermove', look);
    window.addEventListener('pointerup', up);
  }

  key(e, down) {
    if (!this.on || e.ctrlKey || e.metaKey || e.altKey) return;
    if (e.target.closest && e.target.closest('input, select, textarea')) return;
    const k = e.key.toLowerCase();
    if (!(k in MOVES)) return;
    e.preventDefault();
    e.stopImmediatePropagation();
    if (down) this.held.add(k);
    else this.held.delete(k);
    this.shift = e.shiftKey;
    if (down && this.held.size === 1) {
      this.last = performance.now();
      requestAnimationFrame(this.tick);
    }
  }

  /** Moves the view while keys are held, at `speed` units a second. */
  tick(now) {
    if (!this.on || this.held.size === 0) return;
    const dt = Math.min(0.1, Math.max(0, (now - this.last) / 1000));
    this.last = now;
    const camera = this.view.camera;
    const forward = camera.getWorldDirection(new THREE.Vector3());
    const right = new THREE.Vector3().crossVectors(forward, UP).normalize();
    const step = new THREE.Vector3();
    for (const k of this.held) {
      const [r, f, u] = MOVES[k];
      step.addScaledVector(right, r).addScaledVector(forward, f).addScaledVector(UP, u);
    }
    camera.position.addScaledVector(step, this.speed * (this.shift ? 4 : 1) * dt);
    camera.updateMatrixWorld();
    this.view.invalidate();
    requestAnimationFrame(this.tick);
  }

  /** The view's eye as a new waypoint after the selection, or as the waypoint looked through. */
  async placeHere() {
    const made = waypointFromView(this.view.camera, this.state.options.fovBase);
    try {
      if (this.lookingThrough) {
        await this.editor.patch(this.lookingThrough, made);
        return;
      }
      const slot = placeNew(this.state.objects, this.state.selection);
      if (!slot) return;
      const selected = this.state.objects.get(this.state.selection);
      const range = selected && selected.class === WAYPOINT ? this.state.attribute(selected.name, 'Range') : null;
      made.attributes.Range = Number.isFinite(range) && range > 0 ? range : DEFAULT_RANGE;
      await this.editor.create({ class: WAYPOINT, parent: slot.parent, index: slot.index, ...made });
    } catch (error) {
      this.notify(error.reason || error.message, 'error');
    }
  }

  /** The view at the selected waypoint's eye: its position, its forward axis, its roll and angle. */
  lookThrough() {
    const o = this.state.objects.get(this.state.selection);
    if (!o || o.class !== WAYPOINT || !o.position) return;
    const m = o.orientation || [1, 0, 0, 0, 1, 0, 0, 0, 1];
    const forward = new THREE.Vector3(m[1], m[4], m[7]).normalize();
    let right = new THREE.Vector3().crossVectors(forward, UP);
    if (right.lengthSq() < 1e-12) right = new THREE.Vector3(m[0], m[3], m[6]);
    right.normalize();
    const up = new THREE.Vector3().crossVectors(right, forward);
    const roll = THREE.MathUtils.degToRad(Number(this.state.attribute(o.name, 'Roll')) || 0);
    const rolledUp = up.clone().multiplyScalar(Math.cos(roll)).addScaledVector(right, -Math.sin(roll));
    const rolledRight = new THREE.Vector3().crossVectors(forward, rolledUp);
    const camera = this.view.camera;
    this.viewFov ??= camera.fov;
    camera.position.set(...o.position);
    camera.quaternion.setFromRotationMatrix(new THREE.Matrix4().makeBasis(rolledRight, rolledUp, forward.clone().negate()));
    const fovFac = Number(this.state.attribute(o.name, 'FOVFac'));
    // The waypoint's angle as the camera view shows it (FOVFac reaches the eye as its reciprocal).
    camera.fov = verticalFov(Number.isFinite(fovFac) && fovFac > 0 ? 1 / fovFac : 1, this.state.options.fovBase);
    camera.updateProjectionMatrix();
    camera.updateMatrixWorld();
    this.setOn(true);
    this.lookingThrough = o.name;
    this.showBar();
    this.view.invalidate();
  }
}
