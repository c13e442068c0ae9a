// The object list (a tree by parent, as the scene nests its objects) and the inspector of the
// selected object: its attribute table as the plug-in reports it, row by row in table order,
// with name, type, value and the class that declares it. Read-only for now; each value cell
// is built by one function per type so that editors can take their place.

import { formatNumber, jsonFloat } from './flight.js';

export const TYPE_NAMES = { 3: 'float', 5: 'point', 8: 'bool', 10: 'object pos', 12: 'unsigned', 32: 'reference' };

function classKind(object) {
  if (!object.class) return { icon: '◆', kind: 'object', title: 'host object' };
  if (object.class === 'SCOCameraSystemWaypoint') return { icon: '●', kind: 'waypoint', title: object.class };
  if (object.class === 'SCOCameraSystemPath') return { icon: '⟿', kind: 'path', title: object.class };
  if (object.class === 'SCOCameraSystemIterator') return { icon: '◉', kind: 'iterator', title: object.class };
  return { icon: '■', kind: 'module', title: object.class };
}

function el(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

const floatText = (v) => formatNumber(jsonFloat(v), 6);
const vectorText = (v) => (Array.isArray(v) ? `(${v.map(floatText).join(', ')})` : String(v));

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
      if (row) state.select(row.dataset.name);
    });
    state.on('scene', () => this.build());
    state.on('select', (name) => this.highlight(name));
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
      if (o.class === 'SCOCameraSystemWaypoint' && this.state.attribute(o.name, 'IsOn') === false) row.classList.add('off');
      if (this.state.scene.iterator === o.name) row.classList.add('current');
      this.tree.appendChild(row);
      this.rows.set(o.name, row);
    }
    this.highlight(this.state.selection);
    this.applyFilter();
  }

  applyFilter() {
    const text = this.filter.value.trim().toLowerCase();
    for (const [name, row] of this.rows) row.hidden = !!text && !name.toLowerCase().includes(text);
  }

  highlight(name) {
    for (const row of this.tree.querySelectorAll('.selected')) row.classList.remove('selected');
    const row = this.rows.get(name);
    if (row) {
      row.classList.add('selected');
      row.scrollIntoView({ block: 'nearest' });
    }
  }
}

export class Inspector {
  constructor(root, state) {
    this.root = root;
    this.state = state;
    state.on('select', () => this.show());
    state.on('scene', () => this.show());
    this.show();
  }

  /** The value cell of one attribute record. */
  valueCell(record) {
    const v = record.value;
    const cell = el('td', `value type-${record.type}`);
    switch (record.type) {
      case 3: cell.textContent = floatText(v); break;
      case 5: cell.textContent = vectorText(v); break;
      case 8: cell.textContent = v ? 'true' : 'false'; cell.classList.add(v ? 'yes' : 'no'); break;
      case 12: cell.textContent = String(v); break;
      case 10:
        if (v && v.position) {
          cell.append(el('div', '', `at ${vectorText(v.position)}`));
          const m = v.orientation || [];
          for (let r = 0; r < 3; ++r) cell.append(el('div', 'matrix', vectorText(m.slice(3 * r, 3 * r + 3))));
        } else cell.textContent = JSON.stringify(v);
        break;
      case 32:
        if (v === null) cell.append(el('span', 'muted', 'none'));
        else if (this.state.objects.has(v)) {
          const link = el('a', 'ref', v);
          link.href = '#';
          link.addEventListener('click', (e) => { e.preventDefault(); this.state.select(v); });
          cell.append(link);
        } else cell.append(el('span', 'foreign', v), el('span', 'muted', ' (not in the scene)'));
        break;
      default: cell.textContent = JSON.stringify(v);
    }
    return cell;
  }

  show() {
    const root = this.root;
    root.replaceChildren();
    const name = this.state.selection;
    const object = name && this.state.objects.get(name);
    if (!object) {
      root.append(el('div', 'empty muted', 'Select an object in the list or in the 3D view to see its attributes.'));
      return;
    }
    const head = el('div', 'inspector-head');
    head.append(el('div', 'title', object.name), el('div', 'muted', object.class || 'host object (no plug-in class)'));
    const facts = el('dl', 'facts');
    const fact = (k, v) => { facts.append(el('dt', '', k), el('dd', '', v)); };
    fact('GUID', object.guid || '–');
    fact('parent', object.parent || '–');
    if (object.children && object.children.length) fact('children', object.children.join(', '));
    if (object.position) fact('position', vectorText(object.position));
    head.append(facts);
    root.append(head);

    const table = el('table', 'attributes');
    const header = el('tr');
    for (const h of ['attribute', 'type', 'value', 'class']) header.append(el('th', '', h));
    table.append(el('thead'));
    table.tHead.append(header);
    const body = el('tbody');
    for (const record of object.attributes || []) {
      const row = el('tr');
      row.dataset.attribute = record.name;
      const type = el('td', 'type muted', TYPE_NAMES[record.type] || `type ${record.type}`);
      type.title = `type code ${record.type}`;
      const cls = el('td', 'cls muted', (record.class || '').replace(/^SCOCameraSystem/, ''));
      cls.title = record.class || '';
      row.append(el('td', 'name', record.name), type, this.valueCell(record), cls);
      body.append(row);
    }
    table.append(body);
    root.append(table);
  }
}
