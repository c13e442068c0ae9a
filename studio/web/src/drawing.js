// The editor's drawing as the page holds it, and the changes a drag's answers bring. A drag
// step changes the drawing of the path and of the object moved, not of the other thousand
// waypoints, so the server sends only the groups that differ from the drawing it sent before
// (their line columns as base64 float32), of a group it sent before only the stretch of lines
// that changed, and the page patches the drawing it holds. Pure functions without the DOM, so
// that node's test runner can check them.

import { DRAW_LINE_COLUMNS, decodeDrawGroup } from './wire.js';

/**
 * The lines of `held` (a group as the page holds it) with `replaced` lines from `first` on
 * replaced by those of `sent` (a decoded group): typed columns, the values held kept bit for
 * bit. Null when the group held has fewer lines than that.
 */
function spliceLines(held, sent, first, replaced) {
  if (![first, replaced].every((n) => Number.isInteger(n) && n >= 0)) return null;
  const lines = {};
  for (const [name, [width, Type]] of Object.entries(DRAW_LINE_COLUMNS)) {
    const was = held.lines[name], piece = sent.lines[name];
    if (!was || was.length % width || (first + replaced) * width > was.length) return null;
    const column = new Type(was.length - replaced * width + piece.length);
    const part = (from, to) => (ArrayBuffer.isView(was) ? was.subarray(from, to) : was.slice(from, to));
    column.set(part(0, first * width));
    column.set(piece, first * width);
    column.set(part((first + replaced) * width, was.length), first * width + piece.length);
    lines[name] = column;
  }
  return lines;
}

/**
 * The drawing `held` (an /api/draw answer, or what this made of one) with `changes` (a change
 * answer's "drawChanges") applied: changed and new groups replace or join those of the same
 * object (a group with "range": [first, replaced] replaces only that many of the held group's
 * lines from `first` on, and its arrows), removed ones go, labels are replaced or moved. Null
 * when the changes cannot be applied to it (nothing held, a group of an object without a name,
 * a range beyond the group held); then the page asks for the whole drawing.
 */
export function applyDrawChanges(held, changes) {
  if (!held || !Array.isArray(held.groups) || !changes || changes.encoding !== 'f32') return null;
  const changed = changes.groups || [];
  const removed = new Set(changes.removed || []);
  if (removed.has(null) || changed.some((g) => g.object === null || g.object === undefined)) return null;
  const replaced = new Map(changed.map((g) => [g.object, decodeDrawGroup(g)]));
  const groups = [];
  for (const group of held.groups) {
    if (removed.has(group.object)) continue;
    let next = replaced.get(group.object);
    if (next && next.range) {
      const { range, ...rest } = next;
      const lines = spliceLines(group, next, range[0], range[1]);
      if (!lines) return null;
      next = { ...rest, lines };
    }
    groups.push(next || group);
    replaced.delete(group.object);
  }
  // A range needs the group it applies to.
  if ([...replaced.values()].some((g) => g.range)) return null;
  groups.push(...replaced.values());

  let labels = held.labels || [];
  if (changes.labels) labels = changes.labels;
  else if (changes.labelsMoved) {
    const moved = new Map(changes.labelsMoved.map((l) => [l.name, l]));
    labels = labels.map((l) => moved.get(l.name) || l);
  }
  return { groups, labels, dropped: changes.dropped };
}
