// The orthographic views on a scratch copy of the minimal example (A at (0, 0, 5), B at
// (40, 30, 5)): keys 7 1 3 5 under the pointer, the projection each view makes (checked against
// the world's coordinates, not the view's own code), picking there, a gizmo drag in the top view
// that moves along x and y only and snaps to the user's step (what the server reports, and one
// undo) or, cleared, the grid's, and box select.

import assert from 'node:assert/strict';
import { test } from 'node:test';
import { api, chord, drag, drawn, retype, screenshot, settled, studioFor } from './harness.mjs';

const run = studioFor('views', { copy: ['minimal.json'] });

const page = () => run.page;
const settle = () => drawn(page());
/** Where the world point `p` shows in the view `slot` (page pixels), and that view's box. */
const project = (slot, p) => page().evaluate((s, q) => {
  const view = window.studio.views.slots[s];
  const at = view.screenPoint(window.studio.world.positions.get('A').clone().set(...q));
  return { at, rect: view.container.getBoundingClientRect().toJSON() };
}, slot, p);
const position = async (name) => (await api(run.url, '/api/scene')).objects.find((o) => o.name === name).position;
const selected = () => page().evaluate(() => [...window.studio.state.selected].sort());

test('7, 1 and Ctrl+3 under the pointer show top, front and left: orthographic and framed; 5 goes back', async () => {
  const area = await (await page().$('#view3d')).boundingBox();
  await page().mouse.move(area.x + area.width / 2, area.y + area.height / 2);
  await page().keyboard.press('7');
  await settle();
  assert.deepEqual(await page().evaluate(() => [...document.querySelectorAll('#view3d .cell')].filter((c) => !c.hidden)
    .map((c) => c.dataset.slot)), ['top'], 'the top view alone');
  // Top: +x right, +y up, the same scale both ways, depth not at all; framed, the scene's middle in the middle.
  const a = await project('top', [0, 0, 5]), b = await project('top', [40, 30, 5]), deep = await project('top', [0, 0, -50]);
  const k = (b.at.x - a.at.x) / 40;
  assert.ok(k > 1, `x runs right: ${a.at.x} -> ${b.at.x}`);
  assert.ok(Math.abs((a.at.y - b.at.y) / 30 - k) < 1e-6, `y runs up at the same scale: ${a.at.y} -> ${b.at.y}`);
  assert.ok(Math.hypot(deep.at.x - a.at.x, deep.at.y - a.at.y) < 1e-6, 'depth does not move a point');
  // Framed: the scene's box (objects and drawing) in the middle, filling the view but whole in it.
  const box = await page().evaluate(() => window.studio.world.bounds);
  const lo = await project('top', [box.min.x, box.min.y, 0]), hi = await project('top', [box.max.x, box.max.y, 0]);
  const r = a.rect;
  assert.ok(Math.abs((lo.at.x + hi.at.x) / 2 - (r.x + r.width / 2)) < 1 && Math.abs((lo.at.y + hi.at.y) / 2 - (r.y + r.height / 2)) < 1,
    'the scene is framed in the middle');
  const across = hi.at.x - lo.at.x, tall = lo.at.y - hi.at.y;
  assert.ok(across < r.width && tall < r.height && Math.max(across / r.width, tall / r.height) > 0.7,
    `the scene's ${across.toFixed(0)} x ${tall.toFixed(0)} px framed in ${r.width} x ${r.height}`);
  // A click where B shows picks it.
  await page().mouse.click(b.at.x, b.at.y);
  assert.deepEqual(await selected(), ['B']);
  await page().keyboard.press('Escape');
  await screenshot(page(), 'views-top');

  await page().keyboard.press('1');
  await settle();
  const fa = await project('front', [0, 0, 5]), fb = await project('front', [40, 30, 5]), fz = await project('front', [0, 0, 15]);
  assert.ok(fb.at.x > fa.at.x && Math.abs(fb.at.y - fa.at.y) < 1e-6, 'front: x runs right, y is depth');
  assert.ok(Math.abs((fa.at.y - fz.at.y) - (fb.at.x - fa.at.x) / 4) < 1e-6, 'front: z runs up at the scale of x');
  await chord(page(), ['Control'], '3');
  await settle();
  const la = await project('side', [0, 0, 5]), lb = await project('side', [40, 30, 5]);
  assert.ok(lb.at.x < la.at.x && Math.abs(lb.at.y - la.at.y) < 1e-6, 'left: +y runs to the left');

  await page().keyboard.press('5');
  assert.equal(await page().$eval('[data-slot=persp]', (c) => c.hidden), false);
});

test('a gizmo drag in the top view moves along x and y only, snapped to the step typed, cleared the grid\'s; one undo restores', async () => {
  await page().evaluate(() => window.studio.state.select('A'));
  await page().click('.gizmo-bar [data-act=snap]');
  await retype(page(), '.gizmo-bar [data-act=step]', '2.5');
  await page().keyboard.press('Enter');
  // A new drawing (any edit) sets the grid again; the step typed stays.
  await page().evaluate(() => window.studio.state.setDraw(window.studio.state.draw));
  await page().keyboard.press('7');
  await settle();
  const handle = await page().evaluate(() => {
    const view = window.studio.views.slots.top;
    const controls = view.gizmo;
    controls.getHelper().updateMatrixWorld(true);
    const plane = controls._gizmo.picker.translate.children.find((c) => c.name === 'XY');
    const box = new window.studio.world.bounds.constructor().setFromObject(plane);
    return { at: view.screenPoint(box.getCenter(box.min.clone())), units: view.unitsPerPixel(),
      shown: [controls.showX, controls.showY, controls.showZ] };
  });
  assert.deepEqual(handle.shown, [true, true, false], 'no handle moves along the line of sight');
  // 6.2 units along x and -3.4 along y: the step of 2.5 makes them 5 and -2.5.
  await drag(page(), handle.at, { x: handle.at.x + 6.2 / handle.units, y: handle.at.y + 3.4 / handle.units });
  await settled(page());
  assert.deepEqual(await position('A'), [5, -2.5, 5], 'the server has A snapped, at its height');
  await screenshot(page(), 'views-top-drag');
  await chord(page(), ['Control'], 'z');
  await settled(page());
  assert.deepEqual(await position('A'), [0, 0, 5], 'one undo puts A back');
  // The step cleared: the grid's.
  await retype(page(), '.gizmo-bar [data-act=step]', '');
  await page().keyboard.press('Enter');
  assert.equal(await page().evaluate(() => window.studio.gizmo.controls.translationSnap), await page().evaluate(() => window.studio.world.gridStep));
});

test('box select in the top view: waypoints in a box, shift adds, a box alone replaces', async () => {
  await page().keyboard.press('Escape');
  const a = (await project('top', [0, 0, 5])).at, b = (await project('top', [40, 30, 5])).at;
  const around = (p) => [{ x: p.x - 30, y: p.y + 25 }, { x: p.x + 25, y: p.y - 30 }];
  // The path and the iterator stand at the origin, under A: a box leaves them out.
  for (const [p, hold, expected] of [[a, null, ['A']], [b, 'Shift', ['A', 'B']], [b, null, ['B']]]) {
    await drag(page(), ...around(p), { hold });
    assert.deepEqual(await selected(), expected, `a box around ${expected.at(-1)}${hold ? ` with ${hold}` : ''}`);
  }
});
