// What the page does to several selected objects at once: move them by one offset, delete them,
// switch them on or off, and even out the speed over a run of a path's waypoints. Each is one
// request, and so one undo step: a batch of edits (POST /api/batch) or one retime. The inspector
// shows the panel below for a selection of more than one; the edit bar and the Delete key use the
// same actions.

import { PATH, WAYPOINT } from './edits.js';
import { ask } from './dialog.js';
import { el } from './dom.js';

/** At most this many names are spelled out in a label or the panel; past it, a count. */
const NAMES_SHOWN = 6;

const listed = (list) => (list.length > 1 ? `${list.slice(0, -1).join(', ')} and ${list[list.length - 1]}` : list[0]);

/** "move W1, W2" or, for many, "move 12 objects": the undo step's label. */
export function batchLabel(verb, names) {
  return names.length <= NAMES_SHOWN ? `${verb} ${names.join(', ')}` : `${verb} ${names.length} objects`;
}

/** Applies `edits` (see POST /api/batch) as one change labelled `label`; `options` as Editor.change takes them. */
export function applyBatch(editor, label, edits, options = {}) {
  return editor.change((revision) => editor.api.send('POST', '/api/batch', { label, edits, revision }), options);
}

/** True when `name` lies inside (at any depth) an object of the set `names`. */
function inside(objects, name, names) {
  for (let o = objects.get(name); o && o.parent; o = objects.get(o.parent)) if (names.has(o.parent)) return true;
  return false;
}

/** `moves`: [{name, position: [x, y, z]}], one change. */
export function moveMany(editor, moves) {
  return applyBatch(editor, batchLabel('move', moves.map((m) => m.name)),
    moves.map(({ name, position }) => ({ op: 'patch', name, position })));
}

/** The selected waypoints, in the scene's order. */
export function selectedWaypoints(state) {
  return state.selectedInOrder().filter((n) => state.objects.get(n)?.class === WAYPOINT);
}

/** Switches every selected waypoint on (`on`) or off that is not so already; one change. */
export function switchMany(state, editor, on) {
  const names = selectedWaypoints(state).filter((n) => (state.attribute(n, 'IsOn') !== false) !== on);
  if (!names.length) return Promise.resolve(null);
  return applyBatch(editor, batchLabel(on ? 'switch on' : 'switch off', names),
    names.map((name) => ({ op: 'patch', name, attributes: { IsOn: on } })));
}

/**
 * Deletes the selection (an object inside another selected one goes with it) as one change,
 * after asking when other objects refer to what goes; says which references were cleared.
 */
export async function removeMany(state, editor, notify) {
  const chosen = new Set(state.selectedInOrder());
  const names = [...chosen].filter((n) => !inside(state.objects, n, chosen));
  if (!names.length) return;
  // References from objects that go too are not cleared: they go with them.
  const asked = await Promise.all(names.map((n) => editor.api.referrers(n)));
  const goes = new Set(names);
  const referrers = asked.flatMap((a) => a.referrers)
    .filter((r) => !goes.has(r.object) && !inside(state.objects, r.object, goes));
  const cleared = [...new Set(referrers.map((r) => `${r.object} ${r.attribute}`))];
  if (referrers.length) {
    const objects = [...new Set(referrers.map((r) => r.object))];
    const targets = [...new Set(referrers.map((r) => r.target))];
    const choice = await ask({
      title: `Delete ${names.length} objects?`,
      text: `${listed(objects)} ${objects.length > 1 ? 'refer' : 'refers'} to ${listed(targets)} ` +
        `(${[...new Set(referrers.map((r) => r.attribute))].join(', ')}): delete them and clear ` +
        `${cleared.length > 1 ? 'those references' : 'that reference'}?`,
      buttons: [{ label: 'Delete', value: 'delete' }, { label: 'Cancel', value: null, primary: true }],
    });
    if (!choice) return;
  }
  await applyBatch(editor, batchLabel('delete', names), names.map((name) => ({ op: 'delete', name })), { select: null });
  notify(`deleted ${names.length > NAMES_SHOWN ? `${names.length} objects` : listed(names)}` +
    (cleared.length ? `; cleared ${cleared.join(', ')} (undo brings them back)` : ''));
}

/**
 * The run of a path that "even speed" retimes for the selection: {path, from, to}, the first
 * and last selected waypoints in the path's order, when every selected object is a waypoint of
 * one path and there are two or more; else null.
 */
export function evenRun(state) {
  const names = [...state.selected];
  const parents = new Set(names.map((n) => state.objects.get(n)?.parent));
  const path = parents.size === 1 ? state.objects.get([...parents][0]) : null;
  if (names.length < 2 || !path || path.class !== PATH) return null;
  if (names.some((n) => state.objects.get(n).class !== WAYPOINT)) return null;
  const order = path.children.filter((n) => state.selected.has(n));
  return { path: path.name, from: order[0], to: order[order.length - 1] };
}

/** Sets Time2Next over the run (see evenRun) so that the camera's speed is as even as it can be, its total time kept. */
export function evenSpeed(editor, run) {
  return editor.change((revision) => editor.api.send('POST', `/api/paths/${encodeURIComponent(run.path)}/retime`,
    { even: true, from: run.from, to: run.to, revision }));
}

/** The inspector's panel for several selected objects: what they are and what can be done to all. */
export function multiPanel(state, editor, notify) {
  const names = state.selectedInOrder();
  const panel = el('div', 'inspector-head multi-select');
  panel.append(el('div', 'title', `${names.length} selected`));
  const shown = names.slice(0, NAMES_SHOWN * 2).join(', ');
  panel.append(el('div', 'muted multi-names', names.length > NAMES_SHOWN * 2 ? `${shown} … and ${names.length - NAMES_SHOWN * 2} more` : shown));
  if (!editor) return panel;
  const error = el('div', 'field-error');
  error.setAttribute('role', 'alert');
  error.hidden = true;
  const run = (work) => Promise.resolve().then(work).catch((e) => {
    error.textContent = e.reason || e.message;
    error.hidden = false;
    notify(e.reason || e.message, 'error');
  });
  const waypoints = selectedWaypoints(state);
  const on = waypoints.filter((n) => state.attribute(n, 'IsOn') !== false).length;
  const even = evenRun(state);
  const actions = el('div', 'multi-actions');
  const button = (act, label, title, enabled, work) => {
    const b = el('button', '', label);
    b.dataset.act = act;
    b.title = title;
    b.disabled = !enabled;
    b.addEventListener('mousedown', (e) => e.preventDefault());
    b.addEventListener('click', () => run(work));
    actions.append(b);
  };
  button('delete', 'Delete', 'Delete the selected objects and their children, as one undo step (Del)', true,
    () => removeMany(state, editor, notify));
  button('on', 'Switch on', 'Switch every selected waypoint on (IsOn), as one undo step', on < waypoints.length,
    () => switchMany(state, editor, true));
  button('off', 'Switch off', 'Switch every selected waypoint off (IsOn), as one undo step', on > 0,
    () => switchMany(state, editor, false));
  button('even', 'Even speed', even
    ? `Set the Time2Next of ${even.path} from ${even.from} to ${even.to} so that the camera flies that run at an even speed, its total time kept`
    : 'Select two or more waypoints of one path to even the speed over them', !!even,
    async () => {
      const answer = await evenSpeed(editor, even);
      notify(`${even.path} from ${even.from} to ${even.to}: even speed, ${answer.totalAfter} ms in all`);
    });
  panel.append(actions, error,
    el('div', 'muted multi-hint', 'The gizmo moves them all by one offset. Shift or ctrl click adds to the selection or takes out of it.'));
  return panel;
}
