// Several waypoints at once, on a scratch copy of the fly-through: picked with plain, ctrl and
// shift clicks in the object list and the 3D view, moved together by the gizmo, switched off,
// evened out and deleted (asking first when what stays refers to what goes), each change one
// undo step, checked in what the server reports.

import assert from 'node:assert/strict';
import { test } from 'node:test';
import { api, chord, drag, screenshot, settled as pageSettled, studioFor } from './harness.mjs';

const run = studioFor('multiselect', { copy: ['flythrough.json'] });
const GROUP = ['W1', 'W2', 'W3'];

const studio = (fn, ...args) => run.page.evaluate(fn, ...args);
const settled = () => pageSettled(run.page);
const objects = async () => new Map((await api(run.url, '/api/scene')).objects.map((o) => [o.name, o]));
const attribute = (o, name) => o.attributes.find((a) => a.name === name)?.value;
const undoCount = async () => (await api(run.url, '/api/history')).undo.length;

async function undo() {
  await chord(run.page, ['Control'], 'z');
  await settled();
}

test('plain, ctrl and shift clicks in the list and the 3D view; every view marks the whole selection', async () => {
  // Where the 3D view shows them; the gizmo's handles, on the object picked last, take clicks
  // near it, so W2 comes first and W3 (away from W1) last.
  const at = await studio((names) => names.map((n) => window.studio.view3d.screenPosition(n)), GROUP);
  await run.page.mouse.click(at[1].x, at[1].y);
  await chord(run.page, ['Control'], () => run.page.click('.tree [data-name="W1"]'));
  await chord(run.page, ['Shift'], () => run.page.mouse.click(at[2].x, at[2].y));
  // A ctrl-click on a selected row takes it out, another puts it back.
  await chord(run.page, ['Control'], () => run.page.click('.tree [data-name="W1"]'));
  assert.deepEqual(await studio(() => [...window.studio.state.selected].sort()), ['W2', 'W3']);
  await chord(run.page, ['Control'], () => run.page.click('.tree [data-name="W1"]'));
  const shown = await studio(() => ({
    selected: window.studio.state.selectedInOrder(), primary: window.studio.state.selection,
    rows: [...document.querySelectorAll('.tree .selected')].map((r) => r.dataset.name),
    labels: [...document.querySelectorAll('#view3d .label.selected')].map((l) => l.dataset.name).sort(),
    rings: window.studio.world.groupMarker.count, title: document.querySelector('.inspector .multi-select .title')?.textContent,
  }));
  assert.deepEqual(shown, { selected: GROUP, primary: 'W1', rows: GROUP, labels: GROUP, rings: 2, title: '3 selected' });
  await screenshot(run.page, 'multi-select');
  // A plain click selects one again.
  await run.page.click('.tree [data-name="W2"]');
  assert.deepEqual(await studio(() => [...window.studio.state.selected]), ['W2']);
  await studio((names) => window.studio.state.selectMany(names), GROUP);
});

test('the gizmo moves the selection by one offset as one change; one undo puts it back', async () => {
  const before = await objects();
  const undos = await undoCount();
  const handle = await studio(() => window.studio.gizmo.handle('X'));
  await drag(run.page, handle, { x: handle.x + handle.dx * 90, y: handle.y + handle.dy * 90 }, { steps: 6 });
  await settled();
  const after = await objects();
  const offsets = GROUP.map((n) => after.get(n).position.map((v, k) => v - before.get(n).position[k]));
  assert.ok(offsets[0][0] > 1, `moved ${offsets[0]}`);
  for (const d of offsets) {
    assert.ok(Math.abs(d[0] - offsets[0][0]) < 1e-3, `offsets ${JSON.stringify(offsets)}`);
    assert.deepEqual(d.slice(1), [0, 0], 'a drag along x moved across it');
  }
  for (const n of ['W0', 'W4', 'Tower']) assert.deepEqual(after.get(n).position, before.get(n).position, `${n} moved`);
  assert.equal(await undoCount(), undos + 1, 'the move is not one undo step');
  const page = await studio((names) => names.map((n) => window.studio.world.positions.get(n).toArray()), GROUP);
  assert.deepEqual(page, GROUP.map((n) => after.get(n).position), 'the markers stand elsewhere than the server says');
  await undo();
  const back = await objects();
  for (const n of GROUP) assert.deepEqual(back.get(n).position, before.get(n).position, `undo left ${n} moved`);
  assert.deepEqual(await studio(() => window.studio.state.selectedInOrder()), GROUP, 'the selection outlived the move');
});

test('switch off, even speed and delete: each one undo step over the whole selection', async () => {
  const before = await objects();
  const undos = await undoCount();
  await run.page.click('.inspector [data-act=off]');
  await settled();
  let now = await objects();
  assert.deepEqual(GROUP.map((n) => attribute(now.get(n), 'IsOn')), [false, false, false]);
  assert.equal(attribute(now.get('W4'), 'IsOn'), true, 'W4 was switched off too');
  assert.equal(await undoCount(), undos + 1);
  await undo();

  // Even speed over W1..W3 retimes its two segments alone (what it keeps: timing.test.mjs).
  await run.page.click('.inspector [data-act=even]');
  await settled();
  now = await objects();
  const times = (m) => ['W1', 'W2'].map((n) => attribute(m.get(n), 'Time2Next'));
  assert.notDeepEqual(times(now), times(before), 'the run was not retimed');
  assert.equal(attribute(now.get('W3'), 'Time2Next'), attribute(before.get('W3'), 'Time2Next'), 'the segment after the run changed');
  await undo();

  await run.page.click('.tree [data-name="W1"]');
  await studio((names) => window.studio.state.selectMany(names), GROUP);
  await run.page.keyboard.press('Delete');
  // The delete asks for the references first, before its change is queued.
  await run.page.waitForFunction((names) => names.every((n) => !window.studio.state.objects.has(n)), { timeout: 10_000 }, GROUP);
  await settled();
  now = await objects();
  assert.deepEqual(GROUP.filter((n) => now.has(n)), [], 'Delete left some of the selection');
  assert.equal(now.size, before.size - 3);
  assert.equal(await undoCount(), undos + 1, 'the delete is not one undo step');
  await undo();
  now = await objects();
  assert.deepEqual(now.get('Flight').children, before.get('Flight').children, 'one undo did not bring the three back in place');

  // W3 and its target Tower: the question names what stays and refers to Tower, not W3, which goes too.
  await studio(() => window.studio.state.selectMany(['W3', 'Tower']));
  await run.page.click('.inspector [data-act=delete]');
  await run.page.waitForSelector('#dialog[open]');
  assert.match(await run.page.$eval('#dialog p', (p) => p.textContent), /^W0, W5 and W6 refer to Tower \(PointsTo\)/);
  await screenshot(run.page, 'delete-asks');
  // Esc cancels: nothing goes; asked again, delete.
  await run.page.keyboard.press('Escape');
  await settled();
  assert.equal((await objects()).size, before.size, 'cancelled, yet deleted');
  await run.page.click('.inspector [data-act=delete]');
  await run.page.waitForSelector('#dialog[open]');
  await run.page.click('#dialog button[data-value="delete"]');
  await run.page.waitForFunction(() => !window.studio.state.objects.has('Tower'), { timeout: 10_000 });
  await settled();
  now = await objects();
  assert.deepEqual(['W0', 'W5', 'W6'].map((n) => attribute(now.get(n), 'PointsTo')), [null, null, null]);
  assert.match(await run.page.$eval('#notice', (n) => n.textContent), /cleared W0 PointsTo, W5 PointsTo, W6 PointsTo/);
  await undo();
  assert.equal((await objects()).size, before.size, 'one undo did not bring both back');
});
