// The 3D view: the world seen by an orbiting editor camera in the world's own axes (+z up),
// with the objects' names, picking by click, framing, and an overlay telling the grid's
// spacing and the speed colours of the trajectory. It renders on demand: only when the
// camera moved or something it shows changed.

import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';
import { ViewBase } from './viewbase.js';
import { HELPER_LAYER } from './world.js';
import { speedGradientCss } from './colours.js';
import { formatNumber } from './format.js';
import { surfaceHit } from './levelpick.js';

export class View3D extends ViewBase {
  constructor(container, world, state, surface) {
    super(container, world, state, surface, new THREE.PerspectiveCamera(45, 1, 0.1, 10000));
    this.camera.up.set(0, 0, 1);
    this.camera.layers.enable(HELPER_LAYER);
    this.camera.position.set(-60, -80, 60);
    this.makeOverlay();
    this.framed = false;
    this.gizmoGrabbed = false;
    /**
     * What a click in the view does with the object under it (or null): select it (with shift or
     * ctrl add it or take it out), unless an editing mode takes it.
     */
    this.onPick = (name, at, how) => this.state.clicked(name, how);

    if (this.renderer) {
      // The canvas lets pointer events through: the view's own element takes them.
      this.controls = new OrbitControls(this.camera, container);
      this.controls.screenSpacePanning = true;
      this.controls.addEventListener('change', () => this.invalidate());
      this.listenForPicks(container);
    }
    state.on('scene', () => {
      if (!this.framed) { this.frame(null); this.framed = true; }
      this.showGrid();
    });
    state.on('draw', () => this.showGrid());
    state.on('flight', () => this.showLegend());
    state.on('select', (name) => { this.labels.setHighlight(name, state.selected); this.invalidate(); });
  }

  makeOverlay() {
    const overlay = document.createElement('div');
    overlay.className = 'view-overlay';
    overlay.innerHTML = `
      <div class="view-title">3D view <span class="muted" data-role="grid"></span></div>
      <div class="view-help muted">drag: orbit · right-drag: pan · wheel: zoom · click: select (shift: add) · F: frame · T/R: move/rotate</div>
      <div class="legend" data-role="legend" hidden>
        <span>eye speed</span><div class="legend-bar"></div>
        <div class="legend-range"><span data-role="lo"></span><span data-role="hi"></span></div>
      </div>`;
    this.container.appendChild(overlay);
    this.gridNote = overlay.querySelector('[data-role=grid]');
    this.legend = overlay.querySelector('[data-role=legend]');
    this.legend.querySelector('.legend-bar').style.background = speedGradientCss();
  }

  showGrid() {
    this.gridNote.textContent = `· grid ${formatNumber(this.world.gridStep)} units (bold every ${formatNumber(this.world.gridStep * 5)}) · z up`;
  }

  showLegend() {
    const range = this.world.speedRange;
    this.legend.hidden = !range;
    if (!range) return;
    const unit = (this.state.analysis && this.state.analysis.units.speed) || '';
    this.legend.querySelector('[data-role=lo]').textContent = `${formatNumber(range[0], 3)} ${unit}`;
    const clipped = range[2] > range[1] * 1.02;
    this.legend.querySelector('[data-role=hi]').textContent =
      `${clipped ? '≥ ' : ''}${formatNumber(range[1], 3)} ${unit}${clipped ? ` (max ${formatNumber(range[2], 3)})` : ''}`;
  }

  aspectChanged() {
    this.camera.updateProjectionMatrix();
  }

  draw(renderer) {
    for (const material of [this.world.trajectoryMaterial, this.world.clipMaterial])
      if (material) material.resolution.set(this.width, this.height);
    this.renderWorld(renderer);
    this.update();
  }

  /** Looks at the object `name`, or at the whole scene when it is null. */
  /** Frames the object `name`, or the world point `point` (a Vector3), or the whole scene. */
  frame(name, point = null) {
    const world = this.world;
    const target = point || (name ? world.positions.get(name) : null);
    const centre = target ? target.clone() : world.bounds.getCenter(new THREE.Vector3());
    const radius = target ? world.extent * 0.08 : world.extent * 0.5;
    const direction = this.framed && this.controls
      ? this.camera.position.clone().sub(this.controls.target).normalize()
      : new THREE.Vector3(-0.55, -0.9, 0.75).normalize();
    const distance = radius / Math.sin((this.camera.fov * Math.PI) / 360);
    this.camera.position.copy(centre).addScaledVector(direction, distance);
    this.camera.near = world.extent / 5000;
    this.camera.far = world.extent * 100;
    this.camera.updateProjectionMatrix();
    if (this.controls) {
      this.controls.target.copy(centre);
      this.controls.update();
    } else this.camera.lookAt(centre);
    this.invalidate();
  }

  // -- Picking ----------------------------------------------------------------------------------

  listenForPicks(element) {
    let down = null;
    element.addEventListener('pointerdown', (e) => { down = { x: e.clientX, y: e.clientY }; this.gizmoGrabbed = false; });
    element.addEventListener('pointerup', (e) => {
      if (!down || Math.hypot(e.clientX - down.x, e.clientY - down.y) > 4 || e.button !== 0) return;
      down = null;
      // A click on the gizmo's handles (it says so on the same press) is no pick.
      if (this.gizmoGrabbed) return;
      const rect = element.getBoundingClientRect();
      const at = { x: e.clientX - rect.left, y: e.clientY - rect.top };
      this.onPick(this.pick(at.x, at.y), at, { add: e.shiftKey || e.ctrlKey || e.metaKey });
    });
    // A shift click would also select the page's text from the last click on.
    element.addEventListener('mousedown', (e) => { if (e.shiftKey) e.preventDefault(); });
    element.addEventListener('dblclick', () => this.frame(this.state.selection));
  }

  /** The level's surface under view pixel (x, y): {point, normal} in world axes, or null. */
  surfaceAt(x, y) {
    const raycaster = new THREE.Raycaster();
    raycaster.setFromCamera(new THREE.Vector2((x / this.width) * 2 - 1, 1 - (y / this.height) * 2), this.camera);
    return surfaceHit(this.world.level, raycaster);
  }

  /** The point the view orbits about, in world coordinates: where new objects are put. */
  centre() {
    return this.controls ? this.controls.target.clone() : this.world.bounds.getCenter(new THREE.Vector3());
  }
}
