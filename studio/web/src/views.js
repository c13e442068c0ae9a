// The 3D area: the perspective view alone, an orthographic view alone (top, front, side or
// their opposites), or four views (top, perspective, front, side) at once, all drawn by the one
// WebGL renderer into their own rectangles (surface.js). Keys as common 3D tools have them act on
// the view under the pointer: 7 top, 1 front, 3 side (right), with Ctrl the opposite side, 5
// the perspective; a menu in each view's corner does the same and switches the four views. The
// gizmo moves the selection in every view: each orthographic view has its own handles, showing
// only the axes of its screen, and hands its drags to the gizmo as if the main handles had them.

import { TransformControls } from 'three/addons/controls/TransformControls.js';
import { View3D } from './view3d.js';
import { DIRECTIONS, OrthoView } from './orthoview.js';

/** The key's digit, from the main keys or the numeric keypad (whose 7 is "Home" without NumLock). */
const DIGITS = { Digit1: '1', Digit3: '3', Digit5: '5', Digit7: '7', Numpad1: '1', Numpad3: '3', Numpad5: '5', Numpad7: '7' };
/** The side a digit shows, and the slot of the four views it belongs to. */
const BY_DIGIT = { 7: 'top', 1: 'front', 3: 'right' };
const SLOT_OF = { top: 'top', bottom: 'top', front: 'front', back: 'front', right: 'side', left: 'side' };
/** Layers 4 on: each orthographic view's own grid and handles. */
const FIRST_ORTHO_LAYER = 4;

export class Views {
  constructor(area, world, state, surface) {
    this.area = area;
    this.world = world;
    this.state = state;
    this.layout = 'single';
    this.hovered = null;
    const grid = document.createElement('div');
    grid.className = 'views';
    const cell = (slot) => {
      const element = document.createElement('div');
      element.className = 'view cell';
      element.dataset.slot = slot;
      element.addEventListener('pointerenter', () => { this.hovered = slot; });
      element.addEventListener('pointerleave', () => { if (this.hovered === slot) this.hovered = null; });
      grid.appendChild(element);
      return element;
    };
    // In the order the four views lie: top and perspective above, front and side below.
    const cells = { top: cell('top'), persp: cell('persp'), front: cell('front'), side: cell('side') };
    area.prepend(grid);
    this.perspective = new View3D(cells.persp, world, state, surface);
    this.slots = { persp: this.perspective };
    let layer = FIRST_ORTHO_LAYER;
    for (const [slot, direction] of [['top', 'top'], ['front', 'front'], ['side', 'right']])
      this.slots[slot] = new OrthoView(cells[slot], world, state, surface, direction, layer++);
    this.orthos = ['top', 'front', 'side'].map((slot) => this.slots[slot]);
    for (const view of this.orthos) view.onPick = (name, how) => this.perspective.onPick(name, null, how);
    this.shown = 'persp';
    for (const [slot, view] of Object.entries(this.slots)) this.makeMenu(slot, view);
    this.apply();
    state.on('scene', () => this.frameNew());
    document.addEventListener('pointerdown', (e) => { if (!e.target.closest('.view-menu')) this.closeMenus(); });
  }

  // -- Layout ---------------------------------------------------------------------------------------

  /** The view the keys act on: under the pointer, else the one shown alone, else the perspective. */
  current() {
    const slot = this.hovered && (this.layout === 'four' || this.hovered === this.shown) ? this.hovered : null;
    return slot || (this.layout === 'single' ? this.shown : 'persp');
  }

  /** The view the keys act on (see current()): where F frames and new objects go. */
  view(slot = this.current()) { return this.slots[slot]; }

  /**
   * Shows `name` ("persp" or a key of DIRECTIONS) in the view `slot` (default: the one the keys
   * act on): in four views an orthographic view turns to it, else it is shown alone, framed.
   */
  showView(name, slot = this.current()) {
    if (name === 'persp') {
      this.setLayout('single', 'persp');
      return;
    }
    if (this.layout === 'four' && slot !== 'persp') {
      this.turn(this.slots[slot], name);
      this.apply();
      return;
    }
    const target = SLOT_OF[name];
    this.turn(this.slots[target], name);
    this.setLayout('single', target);
  }

  /** Points the orthographic `view` along `name`, framing the scene when that is new to it. */
  turn(view, name) {
    if (view.direction === name) return;
    view.setDirection(name);
    view.framed = false;
    this.showAxes(view);
  }

  /** "single" (the view `shown` alone) or "four". */
  setLayout(layout, shown = this.shown) {
    this.layout = layout;
    this.shown = shown;
    if (this.pilot && this.pilot.on && (layout !== 'single' || shown !== 'persp')) this.pilot.setOn(false);
    this.apply();
  }

  apply() {
    this.area.dataset.layout = this.layout;
    this.area.dataset.shown = this.layout === 'single' ? this.shown : 'four';
    for (const [slot, view] of Object.entries(this.slots)) {
      const visible = this.layout === 'four' || slot === this.shown;
      // A view framed the scene when it was shown or turned.
      if (view.direction && visible && view.container.hidden) view.framed = false;
      view.container.hidden = !visible;
      this.showMenu(slot);
    }
    this.frameNew();
    this.perspective.invalidate();
  }

  /** Frames the scene in each orthographic view shown that has not framed it since it turned. */
  frameNew() {
    if (!this.state.scene) return;
    for (const view of this.orthos) {
      if (view.container.hidden || view.framed) continue;
      view.frame(null);
      view.framed = true;
    }
  }

  /** Frames `name` or `point` (see View3D.frame) in the view the keys act on. */
  frame(name, point = null) { this.view().frame(name, point); }

  centre() { return this.view().centre(); }

  /**
   * Handles a view key of the event `e` (a keydown not typed into a field); true when it was one.
   * Digits 7 1 3 (Ctrl: the opposite side) and 5, from the main keys or the keypad; Esc closes a menu.
   */
  key(e) {
    if (e.key === 'Escape' && Object.values(this.slots).some((view) => !view.menu.menu.hidden)) {
      this.closeMenus();
      return true;
    }
    if (e.altKey || e.metaKey) return false;
    const digit = DIGITS[e.code];
    if (!digit || (e.ctrlKey && digit === '5')) return false;
    if (digit === '5') this.showView('persp');
    else {
      const side = BY_DIGIT[digit];
      this.showView(e.ctrlKey ? DIRECTIONS[side].opposite : side);
    }
    return true;
  }

  // -- The menu in each view's corner -----------------------------------------------------------------

  makeMenu(slot, view) {
    const button = document.createElement('button');
    button.className = 'view-menu-button';
    button.title = 'Choose the view: perspective, top, front, side, or four views';
    const menu = document.createElement('div');
    menu.className = 'view-menu';
    menu.hidden = true;
    const item = (act, label, key) => `<button data-act="${act}"><span>${label}</span><kbd>${key}</kbd></button>`;
    menu.innerHTML = item('persp', 'Perspective', '5')
      + Object.entries(DIRECTIONS).map(([name, d]) => item(name, d.label, d.key)).join('')
      + '<hr><button data-act="four"><span>Four views</span><kbd>✓</kbd></button>';
    // The view's own title carries the button; the perspective's says "3D view" there.
    const title = view.container.querySelector('.view-title');
    const first = title.firstChild;
    if (first.nodeType === Node.TEXT_NODE) first.remove();
    else if (first.dataset.role === 'name') first.hidden = true;
    title.prepend(button);
    view.container.appendChild(menu);
    // Presses here are the menu's, not the view's orbits, pans, picks or boxes.
    for (const element of [button, menu])
      for (const type of ['pointerdown', 'pointerup', 'dblclick', 'wheel']) element.addEventListener(type, (e) => e.stopPropagation());
    button.addEventListener('mousedown', (e) => e.preventDefault());
    menu.addEventListener('mousedown', (e) => e.preventDefault());
    button.addEventListener('click', () => {
      const open = menu.hidden;
      this.closeMenus();
      menu.hidden = !open;
    });
    menu.addEventListener('click', (e) => {
      const act = e.target.closest('[data-act]')?.dataset.act;
      if (!act) return;
      this.closeMenus();
      if (act === 'four') this.setLayout(this.layout === 'four' ? 'single' : 'four', slot);
      else this.showView(act, slot);
    });
    view.menu = { button, menu };
  }

  showMenu(slot) {
    const view = this.slots[slot];
    const { button, menu } = view.menu;
    const name = slot === 'persp' ? 'Perspective' : DIRECTIONS[view.direction].label;
    button.textContent = `${name} ▾`;
    for (const b of menu.querySelectorAll('[data-act]')) {
      const act = b.dataset.act;
      b.classList.toggle('on', act === 'four' ? this.layout === 'four' : act === (slot === 'persp' ? 'persp' : view.direction));
    }
  }

  closeMenus() {
    for (const view of Object.values(this.slots)) if (view.menu) view.menu.menu.hidden = true;
  }

  // -- The gizmo and the pilot ------------------------------------------------------------------------

  /**
   * Gives every orthographic view handles on what the gizmo holds. Their presses, moves and
   * releases reach the gizmo as its own handles' events, so a drag in any view is one drag.
   */
  connect({ gizmo, pilot }) {
    this.pilot = pilot;
    // The gizmo's and the pilot's bars belong to the whole area, not to the perspective alone.
    for (const element of [gizmo.bar, gizmo.hint, pilot.bar]) if (element) this.area.appendChild(element);
    const main = gizmo.controls;
    if (!main) return;
    for (const view of this.orthos) {
      const controls = new TransformControls(view.camera, view.container);
      controls.setSpace('world');
      // Sized to the view's height: a little larger than the perspective's (sized to its distance) to look alike.
      controls.setSize(1.1);
      const helper = controls.getHelper();
      helper.traverse((o) => o.layers.set(view.layer));
      controls.getRaycaster().layers.enableAll();
      this.world.scene.add(helper);
      view.hideWhenDrawn.push(main.getHelper());
      view.gizmo = controls;
      controls.addEventListener('change', () => view.invalidate());
      controls.addEventListener('mouseDown', (e) => {
        view.gizmoGrabbed = true;
        // The pointer the gizmo keeps is the perspective's; a level's surface under it is no aim here.
        gizmo.pointer = null;
        main.dispatchEvent({ type: 'mouseDown', mode: e.mode });
      });
      controls.addEventListener('objectChange', () => main.dispatchEvent({ type: 'objectChange' }));
      controls.addEventListener('mouseUp', (e) => main.dispatchEvent({ type: 'mouseUp', mode: e.mode }));
      const follow = () => {
        controls.setMode(main.mode);
        controls.setTranslationSnap(main.translationSnap);
        controls.setRotationSnap(main.rotationSnap);
        if (main.object) controls.attach(main.object);
        else controls.detach();
        this.showAxes(view);
      };
      for (const type of ['mode-changed', 'translationSnap-changed', 'rotationSnap-changed', 'object-changed'])
        main.addEventListener(type, follow);
      follow();
    }
  }

  /** Moves go along the view's screen axes only; turns about the axis it looks along. */
  showAxes(view) {
    const controls = view.gizmo;
    if (!controls) return;
    const shown = controls.mode === 'rotate' ? [view.normalAxis()] : view.shownAxes();
    controls.showX = shown.includes('X');
    controls.showY = shown.includes('Y');
    controls.showZ = shown.includes('Z');
  }
}
