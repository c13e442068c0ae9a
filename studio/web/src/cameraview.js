// The camera view: the scene as the game camera sees it at the current tick, from the eye,
// looking along its forward axis with its up axis up, through its field of view.

import * as THREE from 'three';
import { ViewBase } from './viewbase.js';
import { verticalFov } from './flight.js';
import { formatNumber } from './format.js';
import { flightMissing } from './edits.js';

export const FOV_HELP = 'Field of view: the eye\'s fov value divides the tangent of half the base vertical angle, ' +
  'vfov = 2·atan(tan(base/2) / fov); fov 2 zooms in twice, 0.5 out. The base (default 60°) is the game\'s own ' +
  'vertical angle at fov 1: change it to match the game. A waypoint\'s FOVFac reaches the eye as 1/FOVFac: ' +
  'FOVFac 2 widens the view, 0.5 zooms in twice.';

const right = new THREE.Vector3(), up = new THREE.Vector3(), back = new THREE.Vector3(), basis = new THREE.Matrix4();

/**
 * Puts the three.js `camera` where the game camera is: at `eye` ({x, y, z, fov}), with the axes
 * `a` (right, forward, up), through the vertical angle that the eye's fov value makes of the
 * base angle `fovBase`, with near and far planes for a world of size `extent`. The camera view
 * and the clips rendered of a flight both place it here.
 */
export function placeEyeCamera(camera, eye, a, fovBase, extent) {
  // three.js cameras look down their local -z with local +y up: x = right, y = up, z = -forward.
  right.set(a[0], a[1], a[2]);
  up.set(a[6], a[7], a[8]);
  back.set(-a[3], -a[4], -a[5]);
  basis.makeBasis(right, up, back);
  camera.quaternion.setFromRotationMatrix(basis);
  camera.position.set(eye.x, eye.y, eye.z);
  camera.fov = verticalFov(eye.fov, fovBase);
  camera.near = extent / 4000;
  camera.far = extent * 100;
  camera.updateProjectionMatrix();
  camera.updateMatrixWorld();
}

export class CameraView extends ViewBase {
  constructor(container, world, state, surface) {
    super(container, world, state, surface, new THREE.PerspectiveCamera(60, 16 / 9, 0.05, 10000));
    this.axes = new Float32Array(9);
    this.makeOverlay();
  }

  makeOverlay() {
    const overlay = document.createElement('div');
    overlay.className = 'view-overlay';
    // Guides a camera operator frames by: thirds, and the action-safe (93%) and title-safe (90%)
    // areas of broadcast video (SMPTE RP 2046-1), each switched on its own in the view's bar.
    overlay.innerHTML = `<div class="view-title">Camera view <span class="muted" data-role="eye"></span></div>
      <div class="guide thirds" data-role="thirds" hidden><i></i><i></i><i></i><i></i></div>
      <div class="guide safe" data-role="safe" hidden><div class="action-safe"></div><div class="title-safe"></div></div>
      <div class="view-empty muted" data-role="empty">no flight</div>`;
    this.container.appendChild(overlay);
    this.note = overlay.querySelector('[data-role=eye]');
    this.note.title = FOV_HELP;
    this.empty = overlay.querySelector('[data-role=empty]');
    const bar = document.createElement('div');
    bar.className = 'gizmo-bar camera-bar';
    bar.innerHTML = `<button data-act="thirds" title="Rule of thirds">thirds</button>
      <button data-act="safe" title="Action safe (93%) and title safe (90%) frames">safe</button>
      <button data-act="full" title="The camera view over the whole page (Esc returns)">⤢</button>`;
    this.container.appendChild(bar);
    bar.addEventListener('click', (e) => {
      const act = e.target.closest('[data-act]')?.dataset.act;
      if (act === 'full') this.setFullPage(!this.fullPage);
      else if (act) this.toggleGuide(act);
    });
    this.bar = bar;
    this.fullPage = false;
  }

  /** Shows or hides the guide `name` ("thirds" or "safe"). */
  toggleGuide(name) {
    const guide = this.container.querySelector(`[data-role=${name}]`);
    guide.hidden = !guide.hidden;
    this.bar.querySelector(`[data-act=${name}]`).classList.toggle('on', !guide.hidden);
  }

  /** The camera view over the whole page, or back in its place. */
  setFullPage(on) {
    this.fullPage = on;
    this.container.classList.toggle('full-page', on);
    document.querySelector('.layout').classList.toggle('camera-full', on);
    this.bar.querySelector('[data-act=full]').classList.toggle('on', on);
  }

  /** The frustum the 3D view draws takes the camera view's shape. */
  aspectChanged(aspect) {
    this.world.setAspect(aspect);
  }

  /** Puts the camera at the eye of the current tick; false when there is none. */
  placeCamera() {
    const eye = this.state.shownEye(this.axes);
    if (!eye) return false;
    placeEyeCamera(this.camera, eye, this.axes, this.state.options.fovBase, this.world.extent);
    this.note.textContent = `· ${this.state.flightParams.iterator} · fov ${formatNumber(eye.fov, 3)} → ${this.camera.fov.toFixed(1)}° vertical`;
    return true;
  }

  /** Places the camera and the labels; true when there is an eye to look through. */
  update() {
    const placed = this.placeCamera();
    this.empty.hidden = placed;
    if (!placed) {
      const why = flightMissing(this.state.objects, this.state.flightParams.iterator) || 'no flight';
      if (this.empty.textContent !== why) this.empty.textContent = why;
    }
    this.labels.visible = placed && this.state.options.showLabels;
    this.labels.update(this.camera, this.width, this.height);
    return placed;
  }

  draw(renderer) {
    if (this.update()) {
      this.renderWorld(renderer);
      return;
    }
    // No eye: the view shows the world's background and nothing in it.
    renderer.setClearColor(this.world.scene.background, 1);
    renderer.clear();
    renderer.setClearColor(0x000000, 0);
  }
}
