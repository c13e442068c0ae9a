// One WebGL canvas for both 3D views. Every WebGL context compiles its own shader programs,
// and in a software renderer that is most of the time the page takes to open; two views in
// one context compile each program once. The canvas covers the window above the page's
// unpositioned content, lets every pointer event through to the page, and each view draws
// into its own rectangle (viewport and scissor) of it; elsewhere it stays transparent.
//
// Both views are drawn in every frame that draws at all: without a preserved drawing buffer
// the browser may clear the whole canvas once it has shown it.

import * as THREE from 'three';

export class Surface {
  constructor() {
    this.views = [];
    this.pending = false;
    this.frame = this.frame.bind(this);
    const canvas = document.createElement('canvas');
    canvas.className = 'surface';
    try {
      this.renderer = new THREE.WebGLRenderer({ canvas, alpha: true, antialias: true, powerPreference: 'high-performance' });
    } catch (error) {
      this.renderer = null;
      this.reason = String((error && error.message) || error);
      return;
    }
    this.renderer.setPixelRatio(Math.min(window.devicePixelRatio || 1, 2));
    this.renderer.setClearColor(0x000000, 0);
    this.renderer.setScissorTest(true);
    document.body.prepend(canvas);
    this.resize();
    window.addEventListener('resize', () => { this.resize(); this.invalidate(); });
  }

  resize() {
    this.renderer.setSize(window.innerWidth, window.innerHeight, false);
  }

  /**
   * `view.container` is the element the view fills; `view.draw(renderer, width, height)`
   * renders it. Shows why where WebGL is missing and returns false.
   */
  add(view) {
    if (!this.renderer) {
      const note = document.createElement('div');
      note.className = 'no-webgl';
      note.textContent = 'WebGL is not available in this browser, so the 3D views are off. ' +
        'The timeline, plots, object list, inspector and messages still work. ' +
        '(Enable hardware acceleration, or try a current Chromium or Firefox.)';
      view.container.prepend(note);
      return false;
    }
    this.views.push(view);
    return true;
  }

  invalidate() {
    if (this.pending || !this.renderer) return;
    this.pending = true;
    requestAnimationFrame(this.frame);
  }

  frame() {
    this.pending = false;
    const renderer = this.renderer;
    const height = window.innerHeight;
    // Whatever the last frame left outside the views (a view that moved) goes. The clear colour
    // is set every time: a scene's background leaves its own colour as the context's.
    renderer.setScissor(0, 0, window.innerWidth, height);
    renderer.setClearColor(0x000000, 0);
    renderer.clear();
    for (const view of this.views) {
      const rect = view.container.getBoundingClientRect();
      if (rect.width < 1 || rect.height < 1 || rect.bottom < 0 || rect.top > height) continue;
      // three.js counts these in CSS pixels from the canvas's bottom left.
      const bottom = height - rect.bottom;
      renderer.setViewport(rect.left, bottom, rect.width, rect.height);
      renderer.setScissor(rect.left, bottom, rect.width, rect.height);
      view.draw(renderer, rect.width, rect.height);
    }
  }
}
