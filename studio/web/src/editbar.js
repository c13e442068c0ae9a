// The object list's toolbar: what one does to a camera flight's objects. Waypoints are added
// after the selected one (halfway to the next, or one segment on past the last), duplicated
// right after it, deleted, moved up and down in their path's child order, switched on and
// off, renamed; targets (plain objects) are added at the point the 3D view looks at, and
// iterators fly the selected path. With several selected, Delete and On/Off act on all of them
// (multiselect.js) and the actions on one object are off. Every action is one undo step on the
// server; what it refuses is shown in its own words.

import { ITERATOR, PATH, pathOf, placeAfter, placeNew, shifted, siblingsOf, WAYPOINT } from './edits.js';
import { ask } from './dialog.js';
import { removeMany, selectedWaypoints, switchMany } from './multiselect.js';

const ACTIONS = [
  ['add', '+ Waypoint', 'Add a waypoint after the selected one (or at the end of the selected path)'],
  ['duplicate', 'Duplicate', 'Duplicate the selection, placed right after it'],
  ['delete', 'Delete', 'Delete the selection and its children (Del)'],
  ['up', '↑', 'Move the selection up in its path'],
  ['down', '↓', 'Move the selection down in its path'],
  ['toggle', 'On/Off', 'Switch the selected waypoint on or off (IsOn)'],
  ['rename', 'Rename', 'Rename the selection (names are unique)'],
  ['target', '+ Target', 'Add a plain object (a look-at target) where the 3D view looks'],
  ['path', '+ Path', 'Add an empty path; + Waypoint then adds its waypoints where the 3D view looks'],
  ['iterator', '+ Iterator', 'Add an iterator that flies the selected path'],
];

export class EditBar {
  /**
   * `centre()`: where the 3D view looks (a Vector3); `step()`: the grid's spacing;
   * `rename()`: starts renaming the selection; `notify(text, kind)` shows an outcome.
   */
  constructor(root, state, editor, { centre, step, rename, notify }) {
    this.state = state;
    this.editor = editor;
    this.centre = centre;
    this.step = step;
    this.rename = rename;
    this.notify = notify;
    this.bar = document.createElement('div');
    this.bar.className = 'edit-bar';
    this.bar.setAttribute('role', 'toolbar');
    this.bar.setAttribute('aria-label', 'edit the scene');
    for (const [act, label, title] of ACTIONS) {
      const b = document.createElement('button');
      b.dataset.act = act;
      b.textContent = label;
      b.title = title;
      this.bar.append(b);
    }
    // Buttons keep no focus, so that the page's keys work after a click.
    this.bar.addEventListener('mousedown', (e) => { if (e.target.closest('button')) e.preventDefault(); });
    this.bar.addEventListener('click', (e) => {
      const b = e.target.closest('button[data-act]');
      if (b && !b.disabled) this.run(b.dataset.act);
    });
    root.prepend(this.bar);
    state.on('select', () => this.update());
    state.on('scene', () => this.update());
    this.update();
  }

  selected() { return this.state.objects.get(this.state.selection) || null; }

  update() {
    const o = this.selected();
    const objects = this.state.objects;
    const one = !!o && this.state.selected.size <= 1;
    const enabled = {
      add: one && !!placeNew(objects, o.name),
      duplicate: one,
      delete: !!o,
      up: one && !!shifted(objects, o.name, -1),
      down: one && !!shifted(objects, o.name, 1),
      toggle: one ? o.class === WAYPOINT : selectedWaypoints(this.state).length > 0,
      rename: one,
      target: !!this.state.scene,
      path: !!this.state.scene,
      iterator: !!this.state.scene,
    };
    for (const b of this.bar.querySelectorAll('button')) b.disabled = !enabled[b.dataset.act];
  }

  run(act) {
    const work = this.actions()[act];
    if (work) Promise.resolve().then(work).catch((error) => this.notify(error.reason || error.message, 'error'));
  }

  actions() {
    const o = this.selected();
    const { objects } = this.state;
    const editor = this.editor;
    const centre = () => this.centre().toArray();
    return {
      add: () => {
        const place = placeNew(objects, o.name, centre());
        return editor.create({ class: WAYPOINT, ...place });
      },
      duplicate: () => {
        const siblings = siblingsOf(objects, o.name);
        const place = placeAfter(objects, o.name);
        // Waypoints go where a new one would; other copies a little aside, so both can be seen.
        const position = place ? place.position
          : o.position && o.position.map((v, k) => v + (k < 2 ? this.step() : 0));
        return editor.create({ copyOf: o.name, parent: o.parent || null, index: siblings.indexOf(o.name) + 1,
          ...(position ? { position } : {}) });
      },
      delete: () => (this.state.selected.size > 1 ? removeMany(this.state, editor, this.notify) : this.remove()),
      up: () => { const to = shifted(objects, o.name, -1); return editor.move(o.name, to.parent, to.index); },
      down: () => { const to = shifted(objects, o.name, 1); return editor.move(o.name, to.parent, to.index); },
      // Several: all off when all are on, else all on.
      toggle: () => (this.state.selected.size > 1
        ? switchMany(this.state, editor, selectedWaypoints(this.state).some((n) => this.state.attribute(n, 'IsOn') === false))
        : editor.setAttribute(o.name, 'IsOn', this.state.attribute(o.name, 'IsOn') === false)),
      rename: () => this.rename(),
      target: () => editor.create({ parent: null, position: centre() }),
      path: async () => {
        const name = await editor.create({ class: PATH, parent: null, position: centre() });
        this.notify(`${name} added: + Waypoint adds its waypoints where the 3D view looks`, 'info');
      },
      iterator: () => {
        const path = pathOf(objects, o && o.name);
        return editor.create({ class: ITERATOR, parent: null, ...(path ? { attributes: { Path: path } } : {}) });
      },
    };
  }

  /** Deletes the selection and selects its neighbour in the list, so that Del can go on. */
  async remove() {
    const o = this.selected();
    if (!o) return;
    const siblings = siblingsOf(this.state.objects, o.name);
    const i = siblings.indexOf(o.name);
    const next = siblings[i + 1] || siblings[i - 1] || o.parent || null;
    // What aims at it loses its reference: asked first, told after.
    const { referrers } = await this.editor.api.referrers(o.name);
    const names = [...new Set(referrers.map((r) => r.object))];
    const listed = (list) => (list.length > 1 ? `${list.slice(0, -1).join(', ')} and ${list[list.length - 1]}` : list[0]);
    if (names.length) {
      const targets = [...new Set(referrers.map((r) => r.target))];
      const choice = await ask({
        title: `Delete ${o.name}?`,
        text: `${listed(names)} ${names.length > 1 ? 'refer' : 'refers'} to ${listed(targets)} ` +
          `(${[...new Set(referrers.map((r) => r.attribute))].join(', ')}): delete ${o.name} and clear ` +
          `${names.length > 1 ? 'their references' : 'its reference'}?`,
        buttons: [{ label: 'Delete', value: 'delete' }, { label: 'Cancel', value: null, primary: true }],
      });
      if (!choice) return;
    }
    const answer = await this.editor.change((revision) => this.editor.api.remove(o.name, { revision }), { select: next });
    const cleared = (answer.cleared || []).map((r) => `${r.object} ${r.attribute}`);
    if (cleared.length) this.notify(`deleted ${o.name}; cleared ${cleared.join(', ')} (undo brings them back)`);
  }
}
