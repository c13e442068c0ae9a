// Editing as a person does it, on a copy of the example: a gizmo drag, typed attributes (one refused),
// undo, redo and Ctrl+S, each checked where it shows, and the saved file flown by `camsys fly`.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { join } from 'node:path';
import { api, changedShare, chord, drag, exe, screenshot, settled, shotOf, studioFor, typeInto } from './harness.mjs';

const EYE = ['x', 'y', 'z', 'm00', 'm01', 'm02', 'm10', 'm11', 'm12', 'm20', 'm21', 'm22', 'fov'];

let url, browser, page, sceneFile;
// The one refusal the test provokes (Time2Next "abc") is no fault: its 400 and the browser's
// console line about it are no problem of the page.
const refusals = [];
const provoked = (problem) => /^HTTP 400 for \S+\/api\/objects\/W1$/.test(problem) || /^console: .*status of 400/.test(problem);
const dragAnswers = [];  // the answers to the drag's steps, as they are read
let drawsAsked = 0;      // whole drawings the page asked for
const isRefusal = (r) => r.status() === 400 && r.request().method() === 'PATCH' &&
  new URL(r.url()).pathname === '/api/objects/W1' && /"abc"/.test(r.request().postData() || '');

const get = (path) => api(url, path);
const objectOf = (scene, name) => scene.objects.find((o) => o.name === name);
const attributeOf = (scene, name, attribute) => objectOf(scene, name).attributes.find((a) => a.name === attribute).value;

const studio = (fn, ...args) => page.evaluate(fn, ...args);
/** The eye the flight has at the playhead's tick. */
const eyeAtPlayhead = () => studio((keys) => keys.map((k) => window.studio.state.flight[k][window.studio.state.tick]), EYE);
const visible = (selector) => page.$eval(selector, (e) => !e.hidden);
/** A drawing's groups by object, their line columns as float32 values and their arrows. */
const drawnGroups = (draw) => Object.fromEntries(draw.groups.map((g) => [g.object, {
  lines: Object.fromEntries(Object.entries(g.lines).map(([c, v]) => [c, Array.from(v, (x) => (c === 'flag' ? x : Math.fround(x)))])),
  arrows: g.arrows || [],
}]));

const run = studioFor('studio-edit', { copy: ['flythrough.json'], problems: { provoked }, watch: (p) => {
  p.on('response', (r) => {
    if (isRefusal(r)) refusals.push(r.url());
    else if (r.request().method() === 'PATCH' && r.status() === 200) dragAnswers.push(r.json().catch(() => null));
    else if (new URL(r.url()).pathname === '/api/draw') ++drawsAsked;
  });
} }, async () => {
  ({ url, browser, page } = run);
  sceneFile = join(run.scratch, 'flythrough.json');
  assert.equal(await visible('#dirty'), false, 'a freshly opened file shows unsaved changes');
  assert.equal(await page.$eval('#undoButton', (b) => b.disabled), true, 'undo is enabled before any change');
});

test('dragging the gizmo\'s X handle moves W1 along +x: scene, path, flight and camera view follow', { timeout: 40_000 }, async () => {
  await page.click('.tree [data-name="W1"]');
  // The playhead into the segment W0 -> W1, where W1's place and roll steer the eye.
  await studio(() => window.studio.state.seek(1500));
  const before = { scene: await get('/api/scene'), eye: await eyeAtPlayhead(), camera: await shotOf(page, '#cameraView') };
  const handle = await studio(() => window.studio.gizmo.handle('X'));
  const t0 = Date.now(), drawsBefore = drawsAsked;
  await drag(page, handle, { x: handle.x + handle.dx * 120, y: handle.y + handle.dy * 120 });
  const t1 = Date.now();
  await settled(page);
  const { sent, steps } = await studio(() => ({ sent: window.studio.editor.drags.sent, steps: window.studio.editor.stepTimes }));
  console.log(`edit: a 120 px drag in 8 pointer moves took ${t1 - t0} ms and sent ${sent} steps; ` +
    `scene, flight and plots caught up ${Date.now() - t1} ms after the mouse was released; a step from ` +
    `sending to holding its drawing and eye: ${steps.map((t) => t.toFixed(1)).join(', ')} ms`);

  const [x0, y0, z0] = objectOf(before.scene, 'W1').position;
  const [x, y, z] = objectOf(await get('/api/scene'), 'W1').position;
  assert.ok(x > x0 + 1, `W1 went from x ${x0} to ${x}`);
  assert.deepEqual([y, z], [y0, z0], 'dragging along x moved W1 across it');
  assert.deepEqual(await studio(() => window.studio.state.objects.get('W1').position), [x, y, z], 'the page shows another position than the server');
  // The page built its drawing from the steps' changes (of a group held, the stretch of lines
  // that changed); it is the server's whole drawing, bit for bit.
  const answers = (await Promise.all(dragAnswers)).filter(Boolean);
  const changes = answers.filter((a) => a.drawChanges);
  assert.equal(drawsAsked, drawsBefore, 'the page asked for the whole drawing during the drag');
  const ranged = changes.flatMap((a) => a.drawChanges.groups).filter((g) => g.range).length;
  console.log(`edit: ${changes.length} of ${answers.length} steps answered changes, ${ranged} groups of them a range of lines`);
  assert.ok(ranged >= 1, 'no step sent a stretch of the path\'s lines');
  const held = await studio(() => ({ groups: window.studio.state.draw.groups.map((g) => ({ ...g,
    lines: Object.fromEntries(Object.entries(g.lines).map(([c, v]) => [c, Array.from(v)])) })) }));
  assert.deepEqual(drawnGroups(held), drawnGroups(await get('/api/draw')),
    'the drawing the page holds differs from the server\'s');
  assert.notDeepEqual(await eyeAtPlayhead(), before.eye, 'the flight\'s eye at the playhead did not change');
  const share = await changedShare(browser, before.camera, await shotOf(page, '#cameraView'));
  console.log(`edit: W1 moved ${(x - x0).toFixed(1)} units along x; ${(share * 100).toFixed(1)} % of the camera view changed`);
  assert.ok(share > 0.02, `only ${(share * 100).toFixed(2)} % of the camera view changed`);
  assert.equal(await page.$eval('#undoButton', (b) => b.disabled), false, 'undo stays disabled');
  assert.equal(await visible('#dirty'), true, 'the file does not show unsaved changes');
  await screenshot(page, 'edit-drag');
});

let rollBefore, rollTyped;

test('an attribute typed in the inspector changes the scene; a refused one says why and the field shows the scene\'s value again', { timeout: 15_000 }, async () => {
  const scene = await get('/api/scene');
  rollBefore = attributeOf(scene, 'W1', 'Roll');
  rollTyped = rollBefore + 25;
  const eye = await eyeAtPlayhead();
  await typeInto(page, 'attr:Roll', String(rollTyped));
  assert.equal(attributeOf(await get('/api/scene'), 'W1', 'Roll'), rollTyped);
  assert.equal(await page.$eval('.inspector [data-key="attr:Roll"]', (f) => f.value), String(rollTyped));
  assert.notDeepEqual(await eyeAtPlayhead(), eye, 'the flight did not follow the roll');

  await typeInto(page, 'attr:Time2Next', 'abc');
  assert.equal(refusals.length, 1, 'the server was not asked once, or did not refuse with 400');
  const box = '.inspector [data-error-for="attr:Time2Next"]';
  assert.equal(await visible(box), true, 'the refusal is not shown beside the field');
  assert.equal(await page.$eval(box, (b) => b.textContent), 'W1: Time2Next: expects an integer from 0 to 4294967295');
  assert.equal(await page.$eval('.inspector [data-key="attr:Time2Next"]', (f) => f.value),
    String(attributeOf(scene, 'W1', 'Time2Next')), 'the field does not show the scene\'s value again');
});

test('Ctrl+Z and Ctrl+Shift+Z undo and redo the typed roll', { timeout: 15_000 }, async () => {
  for (const [keys, key, roll] of [[['Control'], 'z', rollBefore], [['Control', 'Shift'], 'Z', rollTyped], [['Control'], 'z', rollBefore]]) {
    await chord(page, keys, key);
    await settled(page);
    const server = attributeOf(await get('/api/scene'), 'W1', 'Roll');
    assert.equal(server, roll, `after ${keys.join('+')}+${key}`);
    assert.equal(await page.$eval('.inspector [data-key="attr:Roll"]', (f) => f.value), String(server), 'the inspector lags the server');
    assert.equal(await page.$eval('#redoButton', (b) => b.disabled), roll !== rollBefore, 'redo enabled after an undo only');
  }
  // The drag is still there, one undo step.
  assert.equal((await get('/api/history')).undo.length, 1);
});

test('Ctrl+S saves a file that camsys flies exactly as the page shows it', { timeout: 20_000 }, async () => {
  assert.equal(await visible('#dirty'), true);
  await chord(page, ['Control'], 's');
  await settled(page);
  assert.equal(await visible('#dirty'), false, 'the file still shows unsaved changes after saving');

  // The page's flight (float32 columns, as shown) against `camsys fly` of the saved file, value
  // for value: W1 was moved, so a file saved without the change flies otherwise.
  const fly = execFileSync(exe, ['fly', sceneFile, '--iterator', 'Cam'], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
  const [header, ...lines] = fly.trim().split('\n');
  const columns = header.split(','), rows = lines.map((line) => line.split(','));
  const shown = await studio((names) => {
    const { flight } = window.studio.state;
    return { rows: flight.rows, data: Object.fromEntries(names.map((n) => [n, Array.from(flight[n])])) };
  }, columns);
  assert.equal(shown.rows, rows.length, 'the page shows another number of ticks');
  const asShown = (name, v) => (name === 'time' || name === 'waypoint' ? v : Math.fround(v));
  const mismatches = [];
  rows.forEach((row, i) => columns.forEach((name, c) => {
    if (!Object.is(asShown(name, Number(row[c])), shown.data[name][i])) mismatches.push(`${name}[${i}] ${shown.data[name][i]} vs ${row[c]}`);
  }));
  assert.deepEqual(mismatches.slice(0, 10), [], `${mismatches.length} values differ from camsys fly of the saved file`);
  await screenshot(page, 'edit-saved');
  assert.equal(await visible('#error'), false, `the page shows an error: ${await page.$eval('#error', (e) => e.textContent)}`);
});
