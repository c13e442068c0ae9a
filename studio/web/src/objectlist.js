// The object list: the scene's objects as a tree by parent (as the scene nests them), with an
// icon for each kind, a filter by name, and the selection highlighted; a click selects, a
// shift or ctrl click adds to the selection or takes out of it.

import { ITERATOR, PATH, WAYPOINT } from './edits.js';
import { el } from './dom.js';

function classKind(object) {
  if (!object.class) return { icon: '◆', kind: 'object', title: 'host object' };
  if (object.class === WAYPOINT) return { icon: '●', kind: 'waypoint', title: object.class };
  if (object.class === PATH) return { icon: '⟿', kind: 'path', title: object.class };
  if (object.class === ITERATOR) return { icon: '◉', kind: 'iterator', title: object.class };
  return { icon: '■', kind: 'module', title: object.class };
}

export class ObjectList {
  constructor(root, state) {
    this.state = state;
    this.rows = new Map();
    root.innerHTML = '<input class="filter" type="search" placeholder="filter objects" aria-label="filter objects"><ul class="tree" role="tree"></ul>';
    this.filter = root.querySelector('.filter');
    this.tree = root.querySelector('.tree');
    this.filter.addEventListener('input', () => this.applyFilter());
    this.tree.addEventListener('click', (e) => {
      const row = e.target.closest('[data-name]');
      if (row) state.clicked(row.dataset.name, { add: e.shiftKey || e.ctrlKey || e.metaKey });
    });
    // A shift click would also select the text between two rows.
    this.tree.addEventListener('mousedown', (e) => { if (e.shiftKey) e.preventDefault(); });
    state.on('scene', () => this.build());
    state.on('select', () => this.highlight());
    // A panel opened below shrinks the list: the selection stays in sight.
    if (typeof ResizeObserver === 'function')
      new ResizeObserver(() => this.rows.get(this.state.selection)?.scrollIntoView({ block: 'nearest' })).observe(this.tree);
  }

  build() {
    const objects = this.state.scene.objects;
    const depth = new Map();
    this.tree.replaceChildren();
    this.rows.clear();
    for (const o of objects) {
      const d = o.parent && depth.has(o.parent) ? depth.get(o.parent) + 1 : 0;
      depth.set(o.name, d);
      const { icon, kind, title } = classKind(o);
      const row = el('li', `node node-${kind}`);
      row.dataset.name = o.name;
      row.setAttribute('role', 'treeitem');
      row.style.paddingLeft = `${8 + d * 16}px`;
      const iconEl = el('span', 'icon', icon);
      iconEl.title = title;
      row.append(iconEl, el('span', 'name', o.name), el('span', 'cls muted', o.class ? o.class.replace('SCOCameraSystem', '') : ''));
      if (o.class === WAYPOINT && this.state.attribute(o.name, 'IsOn') === false) row.classList.add('off');
      if (this.state.scene.iterator === o.name) row.classList.add('current');
      this.tree.appendChild(row);
      this.rows.set(o.name, row);
    }
    this.highlight();
    this.applyFilter();
  }

  applyFilter() {
    const text = this.filter.value.trim().toLowerCase();
    for (const [name, row] of this.rows) row.hidden = !!text && !name.toLowerCase().includes(text);
  }

  /** Marks every selected row; the primary one (the inspector's) also as such, and scrolled to. */
  highlight() {
    for (const row of this.tree.querySelectorAll('.selected')) row.classList.remove('selected', 'primary');
    for (const name of this.state.selected) this.rows.get(name)?.classList.add('selected');
    const row = this.rows.get(this.state.selection);
    if (row) {
      row.classList.add('selected', 'primary');
      row.scrollIntoView({ block: 'nearest' });
    }
  }
}
