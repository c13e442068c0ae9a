// The editor's drawing as the page holds it, and the changes a drag's answers bring. A drag
// step changes the drawing of the path and of the object moved, not of the other thousand
// waypoints, so the server sends only the groups that differ from the drawing it sent before
// (their line columns as base64 float32) and the page patches the drawing it holds. Pure
// functions without the DOM, so that node's test runner can check them.

import { decodeDrawGroup } from './wire.js';

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
  const replaced = new Map(changed.map((g) => [g.object, decodeDrawGroup(g)]));
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
