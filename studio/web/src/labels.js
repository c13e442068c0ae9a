// Names over a 3D view as HTML, so they stay crisp and legible at any zoom. Placing them is
// part of every render: each label is projected, labels behind the camera or off the view are
// hidden, and where labels would overlap the first one placed wins (the selected go first),
// so a path of a thousand waypoints stays readable instead of turning into a smear of text.

import * as THREE from 'three';

const CELL_W = 64;
const CELL_H = 18;

export class Labels {
  constructor(container) {
    this.root = document.createElement('div');
    this.root.className = 'labels';
    container.appendChild(this.root);
    this.items = [];       // {name, position: Vector3, element, kind}
    this.byName = new Map();
    this.vector = new THREE.Vector3();
    this.occupied = new Set();
    this.highlight = null;      // the primary selected object's name
    this.highlighted = [];      // the items of every selected object, shown whatever they overlap
    this.visible = true;
  }

  /** `entries`: [{name, position: [x,y,z], kind}] */
  set(entries) {
    this.root.replaceChildren();
    this.items = [];
    this.byName.clear();
    for (const entry of entries) {
      const element = document.createElement('div');
      element.className = `label label-${entry.kind || 'object'}`;
      element.textContent = entry.name;
      element.dataset.name = entry.name;
      const item = { name: entry.name, position: new THREE.Vector3(...entry.position), element, shown: true, selected: false };
      this.items.push(item);
      this.byName.set(entry.name, item);
      this.root.appendChild(element);
    }
    this.setHighlight(this.highlight, this.highlighted.map((item) => item.name));
  }

  /** Marks the labels of `names` (every selected object; the primary `name` among them) and shows them first. */
  setHighlight(name, names = name ? [name] : []) {
    for (const item of this.highlighted) { item.element.classList.remove('selected'); item.selected = false; }
    this.highlight = name;
    const all = new Set(names);
    if (name) all.add(name);
    this.highlighted = [...all].map((n) => this.byName.get(n)).filter(Boolean);
    for (const item of this.highlighted) { item.element.classList.add('selected'); item.selected = true; }
  }

  /** The label of `name` now stands at `position` (a Vector3); shown at the next update. */
  move(name, position) {
    const item = this.byName.get(name);
    if (item) item.position.copy(position);
  }

  /** Places every label for `camera` over a view of `width` × `height` CSS pixels. */
  update(camera, width, height) {
    this.root.style.display = this.visible ? '' : 'none';
    if (!this.visible) return;
    this.occupied.clear();
    for (const item of this.highlighted) this.place(item, camera, width, height, true);
    for (const item of this.items) if (!item.selected) this.place(item, camera, width, height);
  }

  place(item, camera, width, height, selected = false) {
    const v = this.vector.copy(item.position).project(camera);
    let show = v.z > -1 && v.z < 1 && Math.abs(v.x) <= 1.02 && Math.abs(v.y) <= 1.02;
    const x = ((v.x + 1) / 2) * width;
    const y = ((1 - v.y) / 2) * height;
    if (show) {
      // Claims the cells the label covers (about one cell high, a few wide).
      const cx = Math.floor(x / CELL_W), cy = Math.floor(y / CELL_H);
      const span = Math.max(1, Math.ceil((item.name.length * 7 + 8) / CELL_W));
      for (let i = 0; i < span && show; ++i) if (this.occupied.has(cy * 4096 + cx + i)) show = false;
      if (show || selected)
        for (let i = 0; i < span; ++i) this.occupied.add(cy * 4096 + cx + i);
      show = show || selected;
    }
    if (show !== item.shown) {
      item.element.style.display = show ? '' : 'none';
      item.shown = show;
    }
    if (show) item.element.style.transform = `translate(${x.toFixed(1)}px, ${y.toFixed(1)}px)`;
  }
}
