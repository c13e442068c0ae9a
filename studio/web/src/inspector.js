// The inspector of the selected object: its attribute table as the plug-in reports it, row by
// row in table order, with name, type, value and the class that declares it, and its name and
// position.
//
// Attributes the table marks as editable (the first of the record's flags; the others, such
// as a path's bounds or an iterator's progress, are computed by the plug-in) get an editor for
// their type: number fields (floats also take NaN and the infinities), a checkbox, three
// fields for a point, a choice of the scene's objects for a reference. A field applies its
// value on Enter or when it loses focus, Escape restores it. What the server refuses leaves
// the scene as it was: the field shows the scene's value again with the server's reason, until
// the scene changes. The linter's findings of the object are shown at the field they name
// (values the plug-in takes as they are, such as an infinite Roll, are marked at once), the
// others under the object's head. A waypoint's FOVFac shows the vertical angle it gives.
// Several selected objects get a short panel instead (multiselect.js): what they are and the
// actions that apply to all of them.

import { formatNumber } from './format.js';
import { jsonFloat } from './wire.js';
import { fieldText, ITERATOR, parseField, PATH, TYPE, WAYPOINT } from './edits.js';
import { verticalFov } from './flight.js';
import { el } from './dom.js';
import { multiPanel } from './multiselect.js';
import { notify } from './notice.js';

export const TYPE_NAMES = { 3: 'float', 5: 'point', 8: 'bool', 10: 'object pos', 12: 'unsigned', 32: 'reference' };

const floatText = (v) => formatNumber(jsonFloat(v), 6);
const vectorText = (v) => (Array.isArray(v) ? `(${v.map(floatText).join(', ')})` : String(v));

/**
 * The vertical angle (degrees) that a waypoint's FOVFac gives the camera, as the camera view
 * shows it: the eye hands out 1/FOVFac (100 for 0 and NaN), which divides the tangent of half
 * the base angle. Null where that is no angle (a negative or infinite factor).
 */
export function fovFacDegrees(fovFac, baseDegrees) {
  const eye = fovFac < 0 || fovFac > 0 ? 1 / fovFac : 100;
  return Number.isFinite(eye) && eye > 0 ? verticalFov(eye, baseDegrees) : null;
}

/** Objects a reference attribute may name: a path for `Path`; else one with a position of its own, not `self`. */
export function referable(attribute, object, self) {
  if (attribute === 'Path') return object.class === PATH;
  return object.name !== self && object.class !== PATH && object.class !== ITERATOR;
}

/**
 * The linter's findings of `name` by the field they concern: a finding whose text begins with
 * one of the object's attribute names names that attribute (the linter words them so); the
 * rest under "".
 */
export function findingsByField(findings, name, attributes) {
  const byField = new Map();
  for (const f of findings || []) {
    if (f.object !== name) continue;
    let key = attributes.find((a) => f.text.startsWith(`${a} `)) || (f.id === 'switched-off' ? 'IsOn' : '');
    if (key && !attributes.includes(key)) key = '';
    if (!byField.has(key)) byField.set(key, []);
    byField.get(key).push(f);
  }
  return byField;
}

const isEditable = (record) => Array.isArray(record.flags) && !!record.flags[0] && record.type !== TYPE.objectPos;

/**
 * A one-line text field that applies a changed text when it loses focus (Enter leaves it) and
 * restores the shown value on Escape. `apply(input)` runs only when the text differs from the
 * value it was made with; `rebuilding()` says the panel is being replaced (no apply then).
 */
function textField(key, value, label, apply, rebuilding) {
  const input = el('input', 'edit');
  input.type = 'text';
  input.spellcheck = false;
  input.autocomplete = 'off';
  input.value = value;
  input.dataset.key = key;
  input.dataset.original = value;
  input.setAttribute('aria-label', label);
  input.addEventListener('keydown', (e) => {
    if (e.key === 'Enter') { e.preventDefault(); input.blur(); }
    if (e.key === 'Escape') { e.preventDefault(); e.stopPropagation(); input.value = input.dataset.original; input.blur(); }
  });
  input.addEventListener('blur', () => { if (!rebuilding() && input.value !== input.dataset.original) apply(input); });
  return input;
}

export class Inspector {
  /** `editor`: the Editor that changes the scene; without one the inspector only shows. */
  constructor(root, state, editor = null) {
    this.root = root;
    this.state = state;
    this.editor = editor;
    this.errors = new Map();   // field key -> {text, revision}: the server's reason, for the object shown
    this.renaming = false;
    this.replacing = false;
    this.rebuilding = () => this.replacing;
    state.on('select', () => { this.errors.clear(); this.renaming = false; this.show(); });
    // A refusal is news until the scene changes (an undo, another edit, a drag, another tab):
    // then it is stale.
    if (editor) {
      editor.on('changed', () => this.errors.clear());
      editor.on('status', () => this.dropStale());
    }
    state.on('scene', () => this.show());
    state.on('lint', () => this.show());
    state.on('options', (option) => { if (option === 'fovBase') this.show(); });
    this.show();
  }

  /** Notes the server's refusal of field `key`, for the scene as it is now. */
  refuse(key, error) {
    this.errors.set(key, { text: error.reason || error.message, revision: this.editor ? this.editor.revision : null });
    this.showError(key);
  }

  /** Forgets the refusals made of another scene than the one now shown, or than a newer one on the server. */
  dropStale() {
    if (!this.editor) return;
    const { revision, status } = this.editor;
    for (const [key, error] of [...this.errors])
      if (error.revision !== revision || (status && status.revision > error.revision)) {
        this.errors.delete(key);
        this.showError(key);
      }
  }

  /** Sends `body` as a change of `name`; on refusal puts the field `key` back and says why. */
  async apply(name, key, body, reset) {
    try {
      await this.editor.patch(name, body);
      this.errors.delete(key);
      this.showError(key);
    } catch (error) {
      reset();
      this.refuse(key, error);
    }
  }

  showError(key) {
    const box = this.root.querySelector(`[data-error-for="${CSS.escape(key)}"]`);
    if (!box) return;
    const text = this.errors.has(key) ? this.errors.get(key).text : '';
    box.textContent = text;
    box.hidden = !text;
  }

  errorBox(key) {
    const box = el('div', 'field-error');
    box.dataset.errorFor = key;
    box.setAttribute('role', 'alert');
    box.hidden = true;
    return box;
  }

  /** The fields of a float or unsigned attribute, a point or the position: one per value. */
  numberFields(name, key, values, type, makeBody, labels) {
    const wrap = el('span', values.length > 1 ? 'edit-vector' : 'edit-one');
    const inputs = values.map((v, i) => textField(values.length > 1 ? `${key}:${i}` : key, fieldText(v), labels[i], () => {
      const parsed = inputs.map((input) => parseField(type, input.value));
      const reset = () => inputs.forEach((input) => { input.value = input.dataset.original; });
      if (parsed.some((p) => p.empty)) { reset(); return; }
      const value = parsed.map((p) => p.value);
      this.apply(name, key, makeBody(values.length > 1 ? value : value[0]), reset);
    }, this.rebuilding));
    if (type === TYPE.unsigned) for (const input of inputs) input.inputMode = 'numeric';
    wrap.append(...inputs);
    return wrap;
  }

  /** The editor of one editable attribute. */
  editorCell(object, record) {
    const v = record.value;
    const key = `attr:${record.name}`;
    const cell = el('td', `value type-${record.type} editable`);
    const body = (value) => ({ attributes: { [record.name]: value } });
    switch (record.type) {
      case TYPE.float:
      case TYPE.unsigned:
        cell.append(this.numberFields(object.name, key, [v], record.type, body, [record.name]));
        break;
      case TYPE.point:
        cell.append(this.numberFields(object.name, key, Array.isArray(v) ? v : [v, v, v], TYPE.float, body,
          ['x', 'y', 'z'].map((c) => `${record.name} ${c}`)));
        break;
      case TYPE.bool: {
        const box = el('input', 'edit-bool');
        box.type = 'checkbox';
        box.checked = !!v;
        box.dataset.key = key;
        box.setAttribute('aria-label', record.name);
        box.addEventListener('change', () => this.apply(object.name, key, body(box.checked), () => { box.checked = !!v; }));
        cell.append(box);
        break;
      }
      case TYPE.reference: {
        const select = el('select', 'edit-ref');
        select.dataset.key = key;
        select.setAttribute('aria-label', record.name);
        select.append(new Option('none', ''));
        for (const o of this.state.scene.objects)
          if (referable(record.name, o, object.name) || o.name === v) select.append(new Option(o.name, o.name));
        if (v !== null && !this.state.objects.has(v)) select.append(new Option(`${v} (not in the scene)`, v));
        select.value = v === null ? '' : v;
        select.addEventListener('change', () => {
          select.blur();
          this.apply(object.name, key, body(select.value === '' ? null : select.value), () => { select.value = v === null ? '' : v; });
        });
        cell.append(select);
        if (v !== null && this.state.objects.has(v)) {
          const link = el('a', 'ref', '↗');
          link.href = '#';
          link.title = `select ${v}`;
          link.addEventListener('click', (e) => { e.preventDefault(); this.state.select(v); });
          cell.append(link);
        }
        break;
      }
      default:
        return this.valueCell(record);
    }
    cell.append(this.errorBox(key));
    return cell;
  }

  /** The value cell of one attribute record, as text. */
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
    if (!isEditable(record)) cell.title = 'computed by the plug-in: not editable';
    return cell;
  }

  /** The vertical angle a waypoint's FOVFac gives, at the page's base angle. */
  fovNote(value) {
    const degrees = fovFacDegrees(jsonFloat(value), this.state.options.fovBase);
    const note = el('div', 'fov-note muted', degrees === null ? 'no field of view' : `${degrees.toFixed(1)}° vertical`);
    note.title = `The eye hands the camera 1/FOVFac (100 for 0 and NaN): FOVFac 2 widens the view, 0.5 zooms in ` +
      `twice. At the base vertical angle of ${this.state.options.fovBase}° (the header's option).`;
    return note;
  }

  /** The linter's words about a field (or the object), as the findings panel has them. */
  findingList(findings) {
    const list = el('div', 'field-findings');
    for (const f of findings) {
      const line = el('div', `field-finding ${f.severity}`, `${f.id}: ${f.text}`);
      line.dataset.finding = f.id;
      list.append(line);
    }
    return list;
  }

  /** Renaming: the title becomes a field (Enter applies, Escape cancels). */
  startRename() {
    if (!this.editor || !this.state.selection) return;
    this.renaming = true;
    this.show();
    const field = this.root.querySelector('[data-key=name]');
    if (field) { field.focus(); field.select(); }
  }

  endRename() {
    if (!this.renaming) return;
    this.renaming = false;
    this.errors.delete('name');
    // After the blur that ended it, not within it.
    setTimeout(() => this.show());
  }

  title(object) {
    if (!this.editor || !this.renaming) {
      const title = el('div', 'title', object.name);
      if (this.editor) {
        title.title = 'double-click to rename';
        title.addEventListener('dblclick', () => this.startRename());
      }
      return [title, this.errorBox('name')];
    }
    const field = textField('name', object.name, 'name', (input) => {
      const name = input.value.trim();
      const reset = () => { input.value = input.dataset.original; };
      if (name === object.name) { reset(); this.endRename(); return; }
      // An empty name goes too: the server says why it takes none.
      this.editor.rename(object.name, name).then(() => { this.renaming = false; this.errors.delete('name'); })
        .catch((error) => {
          reset();
          this.refuse('name', error);
          if (field.isConnected) { field.focus(); field.select(); }
        });
    }, this.rebuilding);
    field.classList.add('title-field');
    // Leaving the field unchanged (or with Escape) ends renaming.
    field.addEventListener('blur', () => { if (!this.rebuilding() && field.value === field.dataset.original) this.endRename(); });
    return [field, this.errorBox('name')];
  }

  show() {
    const root = this.root;
    const name = this.state.selection;
    const object = name && this.state.objects.get(name);
    // A refetch while a field is being typed into keeps the typing: same field, text and caret.
    const active = root.contains(document.activeElement) ? document.activeElement : null;
    const kept = active && active.dataset.key && this.shown === name
      ? { key: active.dataset.key, value: active.value, typed: active.value !== active.dataset.original,
        start: active.selectionStart, end: active.selectionEnd }
      : null;
    this.shown = name;
    this.replacing = true;
    try { root.replaceChildren(); } finally { this.replacing = false; }
    if (this.state.selected.size > 1) {
      this.shown = null;
      root.append(multiPanel(this.state, this.editor, notify));
      return;
    }
    if (!object) {
      root.append(el('div', 'empty muted', 'Select an object in the list or in the 3D view to see its attributes.'));
      return;
    }
    this.dropStale();
    const findings = findingsByField(this.state.lint, object.name, (object.attributes || []).map((a) => a.name));
    const head = el('div', 'inspector-head');
    head.append(...this.title(object), el('div', 'muted', object.class || 'host object (no plug-in class)'));
    if (findings.has('')) head.append(this.findingList(findings.get('')));
    const facts = el('dl', 'facts');
    const fact = (k, v) => { facts.append(el('dt', '', k), typeof v === 'string' ? el('dd', '', v) : v); };
    fact('GUID', object.guid || '–');
    fact('parent', object.parent || '–');
    if (object.children && object.children.length) fact('children', object.children.join(', '));
    if (object.position) {
      if (this.editor) {
        const dd = el('dd', 'position-fields');
        dd.append(this.numberFields(object.name, 'position', object.position, TYPE.float, (p) => ({ position: p }),
          ['position x', 'position y', 'position z']), this.errorBox('position'));
        fact('position', dd);
      } else fact('position', vectorText(object.position));
    }
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
      const editable = this.editor && isEditable(record);
      if (!editable) row.classList.add('readonly');
      const type = el('td', 'type muted', TYPE_NAMES[record.type] || `type ${record.type}`);
      type.title = `type code ${record.type}`;
      const cls = el('td', 'cls muted', (record.class || '').replace(/^SCOCameraSystem/, ''));
      cls.title = record.class || '';
      const value = editable ? this.editorCell(object, record) : this.valueCell(record);
      if (record.name === 'FOVFac' && object.class === WAYPOINT) value.append(this.fovNote(record.value));
      if (findings.has(record.name)) value.append(this.findingList(findings.get(record.name)));
      row.append(el('td', 'name', record.name), type, value, cls);
      body.append(row);
    }
    table.append(body);
    root.append(table);
    for (const key of this.errors.keys()) this.showError(key);
    if (kept) {
      const field = root.querySelector(`[data-key="${CSS.escape(kept.key)}"]`);
      if (field) {
        if (kept.typed) field.value = kept.value;
        field.focus();
        if (kept.start !== null && kept.start !== undefined && field.setSelectionRange) field.setSelectionRange(kept.start, kept.end);
      }
    }
  }
}
