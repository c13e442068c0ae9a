// "+ Move" as a new user uses it, on a scratch copy of the example (with its level): the dialog
// opens with numbers to start from, a refused option is said in the dialog, which stays open,
// an orbit around the tower is made and its iterator's flight shown (the eye on the circle, seen
// from the flight the page holds), and one undo takes the whole move away.

import assert from 'node:assert/strict';
import { test } from 'node:test';
import { retype, screenshot, settled, studioFor } from './harness.mjs';

// The refusal provoked is a 400: page errors and server faults fail the file.
const run = studioFor('moves', { copy: ['flythrough.json', 'town.glb'], problems: { status: 500, consoleErrors: false } });
const TOWER = [40, 120, 15];  // examples/flythrough.json

const page = () => run.page;
/** Types `text` into the dialog's field for `key` as a person does: select all, type. */
const typeInto = (key, text) => retype(page(), `#moveDialog input[data-key=${key}]`, text);

test('a refused option is said in the dialog, which stays open', async () => {
  await page().click('#moveButton');
  await page().waitForSelector('#moveDialog[open]');
  // Numbers to start from: the scene is some 170 units across.
  const radius = Number(await page().$eval('#moveDialog input[data-key=radius]', (e) => e.value));
  assert.ok(radius > 10 && radius < 100, `a default radius of ${radius}`);
  await page().select('#moveDialog select[data-key=target]', 'Tower');
  await typeInto('perTurn', '2');
  await page().click('#moveDialog button.primary');
  await page().waitForSelector('#moveDialog .move-message:not([hidden])');
  assert.match(await page().$eval('#moveDialog .move-message', (e) => e.textContent), /^perTurn: must be 3 or more/);
  assert.ok(await page().$eval('#moveDialog input[data-key=perTurn]', (e) => e.classList.contains('invalid')));
  assert.ok(await page().$eval('#moveDialog', (e) => e.open), 'the dialog stays open to fix it');
});

test('an orbit around the tower: its iterator flown and shown, its path selected, one undo takes it away', async () => {
  await typeInto('perTurn', '16');
  await typeInto('radius', '20');
  await typeInto('height', '10');
  await page().click('#moveDialog button.primary');
  await page().waitForFunction(() => !document.getElementById('moveDialog').open, { timeout: 10_000 });
  await settled(page());
  await screenshot(page(), 'move-orbit');

  const shown = await page().evaluate(() => {
    const { state } = window.studio, { flight } = state;
    return { iterator: state.flightParams.iterator, header: document.getElementById('iterator').value, selection: state.selection,
      rows: flight.rows, analysisRows: state.analysis.rows, eyes: Array.from(flight.x, (x, k) => [x, flight.y[k], flight.z[k]]) };
  });
  assert.deepEqual([shown.iterator, shown.header, shown.selection], ['Orbit1Cam', 'Orbit1Cam', 'Orbit1']);
  assert.equal(shown.analysisRows, shown.rows, 'the plots show the new flight');
  // Two pi 20 units at the default speed: more than ten seconds of 16 ms ticks.
  assert.ok(shown.rows > 600, `${shown.rows} ticks`);
  // The eye circles the tower as typed: 20 units out (within the spline's error), 10 above it unless lifted.
  let far = 0;
  for (const [x, y, z] of shown.eyes) {
    far = Math.max(far, Math.abs(Math.hypot(x - TOWER[0], y - TOWER[1]) - 20));
    assert.ok(z >= TOWER[2] + 10 - 1e-3, `an eye at z = ${z}`);
  }
  assert.ok(far < 0.2, `the eye leaves the circle by ${far}`);

  await page().click('#undoButton');
  await settled(page());
  const after = await page().evaluate(() => ({ names: [...window.studio.state.objects.keys()].filter((n) => n.startsWith('Orbit1')),
    iterators: window.studio.state.scene.iterators }));
  assert.deepEqual(after, { names: [], iterators: ['Cam', 'Chase'] });
});
