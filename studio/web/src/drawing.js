// The editor's drawing as the page holds it, and the changes a drag's answers bring. A drag
// step changes the drawing of the path and of the object moved, not of the other thousand
// waypoints, so the server sends only the groups that differ from the drawing it sent before
// (their line columns as base64 float32) and the page patches the drawing it holds. Pure
// functions without the DOM, so that node's test runner can check them.

import { base64Bytes } from './flight.js';

/** A base64 column of 4-byte little-endian values as a typed array of `Type`. */
function column(text, Type) {
  const bytes = base64Bytes(text);
  if (bytes.length % 4) throw new Error('a drawing column is not a whole number of 4-byte values');
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const out = new Type(bytes.length / 4);
  const read = Type === Int32Array ? (i) => view.getInt32(4 * i, true) : (i) => view.getFloat32(4 * i, true);
  for (let i = 0; i < out.length; ++i) out[i] = read(i);
  return out;
}

/** A group of a change answer with its line columns as typed arrays. */
function decodeGroup(group) {
  const { lines } = group;
  return {
    ...group,
    lines: {
      from: column(lines.from, Float32Array),
      to: column(lines.to, Float32Array),
      width: column(lines.width, Float32Array),
      colour: column(lines.colour, Float32Array),
      flag: column(lines.flag, Int32Array),
    },
  };
}

/**
 * The drawing `held` (an /api/draw answer, or what this made of one) with `changes` (a change
 * answer's "drawChanges") applied: changed and new groups replace or join those of the same
 * object, removed ones go, labels are replaced or moved. Null when the changes cannot be
 * applied to it (nothing held, or a group of an object without a name); then the page asks for
 * the whole drawing.
 */
export function applyDrawChanges(held, changes) {
  if (!held || !Array.isArray(held.groups) || !changes || changes.encoding !== 'f32') return null;
  const changed = changes.groups || [];
  const removed = new Set(changes.removed || []);
  if (removed.has(null) || changed.some((g) => g.object === null || g.object === undefined)) return null;
  const replaced = new Map(changed.map((g) => [g.object, decodeGroup(g)]));
  const groups = [];
  for (const group of held.groups) {
    if (removed.has(group.object)) continue;
    const next = replaced.get(group.object);
    groups.push(next || group);
    replaced.delete(group.object);
  }
  groups.push(...replaced.values());

  let labels = held.labels || [];
  if (changes.labels) labels = changes.labels;
  else if (changes.labelsMoved) {
    const moved = new Map(changes.labelsMoved.map((l) => [l.name, l]));
    labels = labels.map((l) => moved.get(l.name) || l);
  }
  return { groups, labels, dropped: changes.dropped };
}
