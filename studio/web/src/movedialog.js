// The header's "+ Move" dialog: a standard camera move (an orbit, a dolly, a crane, a
// fly-through, a follow of a path) added as a new path of ordinary waypoints with an iterator
// that flies it, as `camsys add-move` adds one (POST /api/moves: one change, one undo step).
// Its numbers start from the scene's size; the new iterator's flight is shown once it is made.

import { $, el } from './dom.js';

const KINDS = {
  orbit: { label: 'Orbit', text: 'Circles a target, looking at it.' },
  dolly: { label: 'Dolly', text: 'A straight move between two points, looking at a target or ahead.' },
  crane: { label: 'Crane', text: 'Rises from a point while the view tilts to keep a target in sight.' },
  'fly-through': { label: 'Fly-through', text: 'Through places in order, looking along the move.' },
  follow: { label: 'Follow a path', text: 'An existing path\'s waypoints moved by an offset, with their views and times.' },
};
const CAMERA_CLASSES = ['SCOCameraSystemPath', 'SCOCameraSystemWaypoint', 'SCOCameraSystemIterator'];
/** A field left empty or not a number, found before anything is sent. */
class FieldProblem extends Error {
  constructor(text, field) {
    super(text);
    this.field = field;
  }
}

const POINT = '\u0000point';  // the place choice "a point", which no object name can be
const AHEAD = '\u0000ahead';

/** `x` to two significant digits (the dialog's defaults are round numbers). */
function nice(x) {
  if (!(x > 0)) return 0;
  const unit = 10 ** (Math.floor(Math.log10(x)) - 1);
  return Math.round(Math.round(x / unit) * unit * 1000) / 1000;
}

function numberInput(key, caption, { step = 'any', min } = {}) {
  const input = el('input', 'number');
  Object.assign(input, { type: 'number', step: String(step) });
  if (min !== undefined) input.min = String(min);
  input.dataset.key = key;
  input.setAttribute('aria-label', caption);
  return input;
}

/** Three number fields for X, Y and Z. */
function pointInput(key, caption) {
  const span = el('span', 'move-point');
  span.fields = ['x', 'y', 'z'].map((axis) => {
    const input = numberInput(key, `${caption} ${axis}`);
    input.placeholder = axis;
    return input;
  });
  span.append(...span.fields);
  span.dataset.key = key;
  return span;
}

/** A place: an object of the scene, or a point (the fields show for a point). */
function placeInput(key, caption, extra = []) {
  const span = el('span', 'move-place');
  span.select = el('select');
  span.select.dataset.key = key;
  span.select.setAttribute('aria-label', caption);
  span.extra = extra;
  span.point = pointInput(key, caption);
  span.append(span.select, span.point);
  span.select.addEventListener('change', () => { span.point.hidden = span.select.value !== POINT; });
  return span;
}

function row(caption, ...parts) {
  const r = el('div', 'move-row');
  const fields = el('div', 'move-fields');
  fields.append(...parts);
  r.append(el('span', 'move-caption', caption), fields);
  return r;
}

export class MoveDialog {
  /** `notify(text)`: says what was made; `hasLevel()`: whether the studio holds a level. */
  constructor(api, state, editor, { notify, hasLevel }) {
    Object.assign(this, { api, state, editor, notify, hasLevel });
    const dialog = this.dialog = $('moveDialog');
    const f = this.fields = {};
    f.kind = el('select');
    f.kind.dataset.key = 'kind';
    f.kind.setAttribute('aria-label', 'kind of move');
    for (const [value, { label }] of Object.entries(KINDS)) f.kind.append(new Option(label, value));
    this.kindText = el('div', 'muted move-note');
    f.target = placeInput('target', 'target');
    f.radius = numberInput('radius', 'radius', { min: 0 });
    f.height = numberInput('height', 'height');
    f.turns = numberInput('turns', 'turns', { min: 0 });
    f.perTurn = numberInput('perTurn', 'waypoints a turn', { step: 1, min: 3 });
    f.direction = el('select');
    f.direction.dataset.key = 'direction';
    f.direction.append(new Option('counter-clockwise', 'ccw'), new Option('clockwise', 'cw'));
    f.from = pointInput('from', 'from');
    f.to = pointInput('to', 'to');
    f.toHeight = numberInput('to', 'up to the height');
    f.through = el('div', 'move-through');
    this.addPlace = el('button', '', '+ place');
    this.addPlace.type = 'button';
    this.addPlace.addEventListener('click', () => this.appendPlace(this.defaultPlace(f.through.children.length)));
    f.path = el('select');
    f.path.dataset.key = 'path';
    f.offset = pointInput('offset', 'offset');
    f.speed = numberInput('speed', 'speed', { min: 0 });
    f.keepTimes = el('input');
    f.keepTimes.type = 'checkbox';
    const keep = el('label', 'check');
    keep.append(f.keepTimes, document.createTextNode(' keep the path\'s own times'));
    f.clearance = numberInput('clearance', 'clearance', { min: 0 });

    // Which rows each kind shows.
    this.rows = {
      target: row('Target', f.target),
      orbit: [row('Radius', f.radius, el('span', 'muted', 'units; height'), f.height, el('span', 'muted', 'above the target')),
        row('Turns', f.turns, el('span', 'muted', 'with'), f.perTurn, el('span', 'muted', 'waypoints a turn'), f.direction)],
      from: row('From', f.from),
      to: row('To', f.to),
      toHeight: row('Up to', f.toHeight, el('span', 'muted', 'height (z), straight above the start')),
      through: row('Through', f.through, this.addPlace),
      follow: [row('Path', f.path), row('Offset', f.offset)],
      speed: row('Speed', f.speed, el('span', 'muted', 'units/s'), keep),
      clearance: row('Clearance', f.clearance, el('span', 'muted', 'from the level\'s surfaces (waypoints are lifted clear)')),
    };
    this.message = el('div', 'move-message');
    this.message.setAttribute('role', 'alert');
    this.cancelButton = el('button', '', 'Cancel');
    this.addButton = el('button', 'primary', 'Add move');
    for (const b of [this.cancelButton, this.addButton]) b.type = 'button';
    const buttons = el('div', 'dialog-buttons');
    buttons.append(this.cancelButton, this.addButton);
    this.rows.through.classList.add('move-list');
    const form = el('div', 'move-form');
    form.append(row('Kind', f.kind), this.kindText, this.rows.target, ...this.rows.orbit, this.rows.from, this.rows.to,
      this.rows.toHeight, this.rows.through, ...this.rows.follow, this.rows.speed, this.rows.clearance);
    dialog.append(el('h3', '', 'Add a camera move'), form, this.message, buttons);

    f.kind.addEventListener('change', () => this.showKind());
    f.target.select.addEventListener('change', () => this.fillDefaults());
    f.keepTimes.addEventListener('change', () => { f.speed.disabled = f.keepTimes.checked; });
    // A field typed into keeps its value when the target changes; the others follow it.
    form.addEventListener('input', (e) => { e.target.dataset.touched = '1'; this.clearProblem(); });
    this.cancelButton.addEventListener('click', () => dialog.close());
    this.addButton.addEventListener('click', () => this.submit());
    dialog.addEventListener('keydown', (e) => {
      e.stopPropagation();  // the studio's keys stay out of the dialog
      if (e.key === 'Enter' && !(e.target instanceof HTMLButtonElement)) { e.preventDefault(); this.submit(); }
    });
    $('moveButton').addEventListener('click', () => this.open());
  }

  open() {
    if (this.dialog.open) return;
    const objects = this.state.scene ? this.state.scene.objects : [];
    const placed = objects.filter((o) => o.position && !CAMERA_CLASSES.includes(o.class));
    this.places = placed.length ? placed : objects.filter((o) => o.position && o.class !== 'SCOCameraSystemPath');
    this.paths = objects.filter((o) => o.class === 'SCOCameraSystemPath');
    this.measureScene(objects);
    const f = this.fields;
    this.fillPlaceOptions(f.target);
    const selected = this.places.find((o) => o.name === this.state.selection);
    f.target.select.value = (selected || this.places[0] || { name: POINT }).name;
    f.target.point.hidden = f.target.select.value !== POINT;
    f.path.replaceChildren(...this.paths.map((p) => new Option(p.name, p.name)));
    f.kind.querySelector('option[value=follow]').disabled = !this.paths.length;
    if (f.kind.selectedOptions[0].disabled) f.kind.value = 'orbit';
    f.through.replaceChildren();
    for (let i = 0; i < Math.min(3, Math.max(2, this.places.length)); i += 1) this.appendPlace(this.defaultPlace(i));
    for (const input of this.dialog.querySelectorAll('[data-touched]')) delete input.dataset.touched;
    f.keepTimes.checked = true;
    this.fillDefaults(true);
    this.showKind();
    this.clearProblem();
    this.dialog.showModal();
    f.kind.focus();
  }

  /** The centre and size of what the scene places (its cameras' containers aside). */
  measureScene(objects) {
    const points = objects.filter((o) => o.position && !['SCOCameraSystemPath', 'SCOCameraSystemIterator'].includes(o.class))
      .map((o) => o.position);
    const lo = [0, 1, 2].map((k) => Math.min(...points.map((p) => p[k])));
    const hi = [0, 1, 2].map((k) => Math.max(...points.map((p) => p[k])));
    this.centre = points.length ? lo.map((v, k) => (v + hi[k]) / 2) : [0, 0, 0];
    this.extent = points.length ? Math.max(10, ...hi.map((v, k) => v - lo[k])) : 50;
  }

  fillPlaceOptions(place, withAhead = false) {
    const options = this.places.map((o) => new Option(o.name, o.name));
    if (withAhead) options.unshift(new Option('ahead (no target)', AHEAD));
    options.push(new Option('a point…', POINT));
    place.select.replaceChildren(...options);
  }

  defaultPlace(i) {
    const object = this.places[i];
    if (object) return { name: object.name };
    const e = this.extent / 4;
    return { point: [this.centre[0] + (i - 1) * e, this.centre[1], this.centre[2] + e / 2] };
  }

  appendPlace({ name, point }) {
    const place = placeInput('through', 'through');
    this.fillPlaceOptions(place);
    place.select.value = name || POINT;
    place.point.hidden = !!name;
    const fallback = point || this.positionOf(name) || this.centre;
    place.point.fields.forEach((input, k) => { input.value = String(Math.round(fallback[k] * 10) / 10); });
    const remove = el('button', 'move-remove', '×');
    remove.type = 'button';
    remove.title = 'Leave this place out';
    remove.addEventListener('click', () => place.remove());
    place.append(remove);
    this.fields.through.append(place);
  }

  positionOf(name) {
    const object = name && this.state.objects.get(name);
    return object ? object.position : null;
  }

  /** The numbers a new user can start from, from the scene's size and the target. */
  fillDefaults(all = false) {
    const f = this.fields;
    const set = (input, value) => { if (all || !input.dataset.touched) input.value = String(value); };
    const setPoint = (span, p) => span.fields.forEach((input, k) => set(input, Math.round(p[k] * 10) / 10));
    const radius = nice(this.extent / 5);
    const target = this.targetPoint() || this.centre;
    set(f.radius, radius);
    set(f.height, nice(radius / 2));
    set(f.turns, 1);
    set(f.perTurn, 8);
    const e = this.extent / 4;
    setPoint(f.from, [target[0] - radius, target[1] - radius, Math.max(target[2] / 4, 1)]);
    setPoint(f.to, [target[0] + radius, target[1] - radius, Math.max(target[2] / 4, 1)]);
    set(f.toHeight, nice(target[2] + radius));
    setPoint(f.offset, [0, 0, nice(e / 5)]);
    set(f.speed, Math.max(1, nice(this.extent / 15)));
    set(f.clearance, 0.5);
    if (f.target.select.value !== POINT || all) setPoint(f.target.point, target);
  }

  targetPoint() {
    const value = this.fields.target.select.value;
    if (value === POINT || value === AHEAD) return null;
    return this.positionOf(value);
  }

  showKind() {
    const kind = this.fields.kind.value;
    const f = this.fields;
    this.kindText.textContent = KINDS[kind].text;
    const shown = {
      target: ['orbit', 'dolly', 'crane'].includes(kind), orbit: kind === 'orbit', from: ['dolly', 'crane'].includes(kind),
      to: kind === 'dolly', toHeight: kind === 'crane', through: kind === 'fly-through', follow: kind === 'follow',
      speed: true, clearance: this.hasLevel(),
    };
    for (const [name, rows] of Object.entries(this.rows))
      for (const r of [rows].flat()) r.hidden = !shown[name];
    // A dolly may look ahead; the others need a target.
    const value = f.target.select.value;
    this.fillPlaceOptions(f.target, kind === 'dolly');
    f.target.select.value = value === AHEAD && kind !== 'dolly' ? (this.places[0] || { name: POINT }).name : value;
    f.target.point.hidden = f.target.select.value !== POINT;
    f.keepTimes.parentElement.hidden = kind !== 'follow';
    f.speed.disabled = kind === 'follow' && f.keepTimes.checked;
    this.clearProblem();
  }

  /** The body of POST /api/moves; throws a FieldProblem for a field left empty. */
  read() {
    const f = this.fields;
    const kind = f.kind.value;
    const body = { kind };
    const number = (input, key) => {
      if (input.value.trim() === '' || !Number.isFinite(Number(input.value))) throw new FieldProblem(`${key}: give a number`, input);
      return Number(input.value);
    };
    const point = (span, key) => span.fields.map((input) => number(input, key));
    const place = (p, key) => (p.select.value === POINT ? point(p.point, key) : p.select.value);
    const shown = (name) => !this.rows[name].hidden;
    if (shown('target') && f.target.select.value !== AHEAD) body.target = place(f.target, 'target');
    if (kind === 'orbit') {
      for (const key of ['radius', 'height', 'turns', 'perTurn']) body[key] = number(f[key], key);
      body.direction = f.direction.value;
    }
    if (shown('from')) body.from = point(f.from, 'from');
    if (kind === 'dolly') body.to = point(f.to, 'to');
    if (kind === 'crane') body.to = number(f.toHeight, 'to');
    if (kind === 'fly-through') body.through = [...f.through.children].map((p) => place(p, 'through'));
    if (kind === 'follow') {
      body.path = f.path.value;
      body.offset = point(f.offset, 'offset');
    }
    if (!f.speed.disabled) body.speed = number(f.speed, 'speed');
    if (shown('clearance')) body.clearance = number(f.clearance, 'clearance');
    return body;
  }

  async submit() {
    if (this.busy) return;
    let body;
    try {
      body = this.read();
    } catch (error) {
      if (!(error instanceof FieldProblem)) throw error;
      this.showProblem(error.message, error.field);
      return;
    }
    this.busy = true;
    this.addButton.disabled = true;
    try {
      const answer = await this.editor.change(async (revision) => {
        const made = await this.api.addMove({ ...body, revision });
        // The new iterator's flight is the one shown once the scene is fetched again.
        this.state.pause();
        this.state.flightParams.iterator = made.iterator;
        return made;
      }, { select: (made) => made.path });
      this.dialog.close();
      const lifted = answer.lifted ? `; ${answer.lifted} lifted clear of the level` : '';
      this.notify(`Added ${answer.path} (${answer.waypoints.length} waypoints), flown by ${answer.iterator} in ${(answer.duration / 1000).toFixed(1)} s${lifted}`);
    } catch (error) {
      // The field the server names, where it shows.
      const key = error.body && error.body.attribute;
      const field = key ? [...this.dialog.querySelectorAll(`input[data-key="${key}"], select[data-key="${key}"]`)]
        .find((e) => e.offsetParent !== null) : null;
      this.showProblem(error.reason || error.message, field);
    } finally {
      this.busy = false;
      this.addButton.disabled = false;
    }
  }

  showProblem(text, field) {
    this.message.textContent = text;
    this.message.hidden = false;
    for (const bad of this.dialog.querySelectorAll('.invalid')) bad.classList.remove('invalid');
    if (field) { field.classList.add('invalid'); field.focus(); }
  }

  clearProblem() {
    this.message.hidden = true;
    for (const bad of this.dialog.querySelectorAll('.invalid')) bad.classList.remove('invalid');
  }
}
