// What the 3D views share: a rectangle of the one WebGL canvas (see surface.js) over their
// element, a camera whose aspect follows the element's size, the objects' names over it, the
// world they render and what lies where on screen (picking); each view adds how its camera is
// placed and what else it shows.

import * as THREE from 'three';
import { Labels } from './labels.js';

/** Calls `onResize(width, height)` with the CSS size of `element` whenever it changes. */
export function watchSize(element, onResize) {
  const observer = new ResizeObserver(() => {
    const width = Math.max(1, element.clientWidth), height = Math.max(1, element.clientHeight);
    onResize(width, height);
  });
  observer.observe(element);
}

export class ViewBase {
  /** `camera`: the view's three.js camera (perspective or orthographic). */
  constructor(container, world, state, surface, camera) {
    this.container = container;
    this.world = world;
    this.state = state;
    this.surface = surface;
    this.width = 1;
    this.height = 1;
    this.renderer = surface.add(this) ? surface.renderer : null;
    this.camera = camera;
    this.labels = new Labels(container);
    world.onChange(() => this.invalidate());
    state.on('scene', () => this.sceneChanged());
    state.on('options', () => { this.labels.visible = state.options.showLabels; this.invalidate(); });
    watchSize(container, (w, h) => this.resize(w, h));
  }

  resize(width, height) {
    this.width = width;
    this.height = height;
    this.camera.aspect = width / height;
    this.aspectChanged(width / height);
    this.invalidate();
  }

  /** New objects: the names follow. */
  sceneChanged() {
    this.labels.set(this.world.labelEntries());
  }

  /** The view's shape changed to `aspect` (width / height), the camera's already set. */
  aspectChanged() {}

  /** Asks for a frame; without WebGL only what lies over the view (the names) is updated. */
  invalidate() {
    this.surface.invalidate();
    if (!this.renderer) this.update();
  }

  /** Places the names for the camera. */
  update() {
    this.labels.update(this.camera, this.width, this.height);
  }

  renderWorld(renderer) {
    renderer.render(this.world.scene, this.camera);
  }

  /** The object under view pixel (x, y): its marker hit by the ray, else the nearest marker within 12 px. */
  pick(x, y) {
    const ndc = new THREE.Vector2((x / this.width) * 2 - 1, 1 - (y / this.height) * 2);
    const raycaster = new THREE.Raycaster();
    raycaster.layers.enableAll();
    raycaster.setFromCamera(ndc, this.camera);
    const hit = raycaster.intersectObjects(this.world.markers, false)[0];
    if (hit && hit.instanceId !== undefined) return hit.object.userData.names[hit.instanceId];
    let best = null, bestDistance = 12;
    const v = new THREE.Vector3();
    for (const [name, p] of this.world.positions) {
      v.copy(p).project(this.camera);
      if (v.z < -1 || v.z > 1) continue;
      const d = Math.hypot(((v.x + 1) / 2) * this.width - x, ((1 - v.y) / 2) * this.height - y);
      if (d < bestDistance) { best = name; bestDistance = d; }
    }
    return best;
  }

  /** Where the world point `p` (a Vector3) appears in the page (client pixels), or null when off the view. */
  screenPoint(p) {
    const v = p.clone().project(this.camera);
    if (v.z < -1 || v.z > 1 || Math.abs(v.x) > 1 || Math.abs(v.y) > 1) return null;
    const rect = this.container.getBoundingClientRect();
    return { x: rect.left + ((v.x + 1) / 2) * this.width, y: rect.top + ((1 - v.y) / 2) * this.height };
  }

  /** Where the object `name` appears in the page (client pixels), or null when off the view. */
  screenPosition(name) {
    const p = this.world.positions.get(name);
    return p ? this.screenPoint(p) : null;
  }
}
