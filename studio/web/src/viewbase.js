// What both 3D views share: a rectangle of the one WebGL canvas (see surface.js) over their
// element, a camera whose aspect follows the element's size, the objects' names over it, and
// the world they render; each view adds how its camera is placed and what else it shows.

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
  /** `camera`: the view's three.js PerspectiveCamera. */
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
    state.on('scene', () => this.labels.set(world.labelEntries()));
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
}
