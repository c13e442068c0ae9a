// What the page's editing needs without a browser: reading what was typed into a field as the
// value the server takes, where a new waypoint goes, the neighbour slots for reordering, and
// the coalescing of a drag's requests. The server is the judge of every value: the page turns
// text into numbers where it can and otherwise sends the text, so that a refusal is always
// explained in the scene loader's own words.

export const WAYPOINT = 'SCOCameraSystemWaypoint';
export const PATH = 'SCOCameraSystemPath';
export const ITERATOR = 'SCOCameraSystemIterator';

/** Type codes of the attribute table. */
export const TYPE = { float: 3, point: 5, bool: 8, objectPos: 10, unsigned: 12, reference: 32 };

const DECIMAL = /^[-+]?(\d+\.?\d*|\.\d+)(e[-+]?\d+)?$/i;

/**
 * The value for the text of a float (type 3) or unsigned (12) field: a number; for floats also
 * "NaN", "Infinity" and "-Infinity" (as scene files spell them; "inf" and "∞" are taken too).
 * Other text is passed on as it is and the server refuses it. Empty text: {empty: true}.
 */
export function parseField(type, text) {
  const t = String(text).trim();
  if (t === '') return { empty: true };
  if (type === TYPE.float) {
    if (/^[-+]?nan$/i.test(t)) return { value: 'NaN' };
    if (/^\+?(inf(inity)?|∞)$/i.test(t)) return { value: 'Infinity' };
    if (/^[-−](inf(inity)?|∞)$/i.test(t)) return { value: '-Infinity' };
  }
  if (DECIMAL.test(t)) {
    const n = Number(t);
    if (Number.isFinite(n)) return { value: n };
    // Beyond a double: sent as the largest double of its sign, which is beyond a float too, so
    // the server refuses it by its one rule for every number out of a float's range.
    if (type === TYPE.float) return { value: n > 0 ? Number.MAX_VALUE : -Number.MAX_VALUE };
  }
  return { value: t };
}

/** The text a field shows for a value of the scene answer (numbers in full, as the file has them). */
export function fieldText(value) {
  if (value === null || value === undefined) return '';
  if (typeof value === 'number' && Object.is(value, -0)) return '-0';
  return String(value);
}

const isWaypoint = (objects, name) => {
  const o = objects.get(name);
  return !!o && o.class === WAYPOINT && !!o.position;
};

/** The names in the child list `name` is in: its parent's children, or the top level. */
export function siblingsOf(objects, name) {
  const o = objects.get(name);
  if (!o) return [];
  if (o.parent) return objects.get(o.parent)?.children || [];
  return [...objects.values()].filter((x) => !x.parent).map((x) => x.name);
}

/**
 * Where a waypoint added after the waypoint `name` goes: right after it in its path's child
 * list, halfway to the next waypoint of the path; after the last one, ahead of it by the last
 * segment (same direction and length); a lone waypoint: `lone` units along its forward axis.
 * Same orientation as `name`. {parent, index, position, orientation}, or null when `name` is
 * no waypoint.
 */
export function placeAfter(objects, name, lone = 10) {
  if (!isWaypoint(objects, name)) return null;
  const o = objects.get(name);
  const siblings = siblingsOf(objects, name);
  const i = siblings.indexOf(name);
  const here = o.position;
  const next = siblings.slice(i + 1).find((n) => isWaypoint(objects, n));
  const previous = siblings.slice(0, i).reverse().find((n) => isWaypoint(objects, n));
  let position;
  if (next) {
    const there = objects.get(next).position;
    position = here.map((v, k) => (v + there[k]) / 2);
  } else if (previous) {
    const before = objects.get(previous).position;
    position = here.map((v, k) => v + (v - before[k]));
  } else {
    // The forward axis is the orientation's second column (rows given row by row).
    const m = o.orientation || [1, 0, 0, 0, 1, 0, 0, 0, 1];
    position = [here[0] + lone * m[1], here[1] + lone * m[4], here[2] + lone * m[7]];
  }
  return { parent: o.parent || null, index: i + 1, position, orientation: o.orientation };
}

/**
 * Where "add waypoint" puts a new one for the selection: after a selected waypoint; at the
 * end of a selected path (after its last waypoint, or at `centre` in an empty path).
 */
export function placeNew(objects, selection, centre = [0, 0, 0]) {
  const o = objects.get(selection);
  if (!o) return null;
  if (o.class === WAYPOINT) return placeAfter(objects, selection);
  if (o.class !== PATH) return null;
  const children = o.children || [];
  const last = [...children].reverse().find((n) => isWaypoint(objects, n));
  if (!last) return { parent: o.name, index: children.length, position: [...centre] };
  return { ...placeAfter(objects, last), index: children.length };
}

/** The path the selection belongs to: itself when a path, its parent when that is one; else null. */
export function pathOf(objects, selection) {
  const o = objects.get(selection);
  if (!o) return null;
  if (o.class === PATH) return o.name;
  const parent = o.parent && objects.get(o.parent);
  return parent && parent.class === PATH ? parent.name : null;
}

/**
 * The move request that shifts `name` one slot up (-1) or down (+1) in its child list; null at
 * the ends, and at the top level, which keeps no order.
 */
export function shifted(objects, name, direction) {
  if (!objects.get(name)?.parent) return null;
  const siblings = siblingsOf(objects, name);
  const i = siblings.indexOf(name);
  const j = i + direction;
  if (i < 0 || j < 0 || j >= siblings.length) return null;
  return { parent: objects.get(name).parent || null, index: j };
}

/**
 * Sends only the latest of a stream of values and never more than one at a time: `push(v)`
 * while a send is out replaces whatever waited, and the newest goes when the send returns. A
 * drag produces far more positions than the server needs; queuing them all would leave the
 * scene trailing behind the pointer.
 */
export class Latest {
  constructor(send) {
    this.send = send;
    this.waiting = false;
    this.value = undefined;
    this.running = null;
    this.sent = 0;
  }

  push(value) {
    this.value = value;
    this.waiting = true;
    if (!this.running) this.running = this.pump();
    return this.running;
  }

  async pump() {
    try {
      while (this.waiting) {
        const value = this.value;
        this.waiting = false;
        this.value = undefined;
        ++this.sent;
        // A refused value is the sender's to report; the next one still goes.
        await Promise.resolve(this.send(value)).catch(() => {});
      }
    } finally {
      this.running = null;
    }
  }

  /** Resolves once nothing is out and nothing waits. */
  async idle() {
    while (this.running) await this.running;
  }
}

/**
 * What stops the scene from having a flight to show, in a sentence that says what to do; null
 * when the iterator `iterator` (the one shown) flies a path of two waypoints or more.
 */
export function flightMissing(objects, iterator) {
  const all = [...objects.values()];
  const paths = all.filter((o) => o.class === PATH);
  if (!paths.length) return 'The scene has no path: + Path adds one, + Waypoint its waypoints.';
  const flier = iterator && objects.get(iterator);
  if (!flier) return 'The scene has no iterator: select a path and press + Iterator.';
  const path = flier.attributes.find((a) => a.name === 'Path')?.value;
  if (!path || !objects.has(path)) return `${flier.name} flies no path: choose one as its Path in the inspector.`;
  const waypoints = (objects.get(path).children || []).filter((n) => objects.get(n)?.class === WAYPOINT).length;
  if (waypoints < 2)
    return `${path} has ${waypoints ? 'one waypoint' : 'no waypoints'}: a flight needs two; select it and press + Waypoint.`;
  return null;
}
