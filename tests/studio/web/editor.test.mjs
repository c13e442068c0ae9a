// The editor as a new user meets it, on a copy of the example: where notices and panels are, what Esc
// closes, what the inspector says beside a field, and the questions asked before a change one cannot see.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { HEIGHT, WIDTH, api, chord, screenshot, settled as pageSettled, studioFor, typeInto } from './harness.mjs';

let url, page, sceneFile;

const studio = (fn, ...args) => page.evaluate(fn, ...args);
const settled = () => pageSettled(page);
const pause = (ms) => new Promise((r) => setTimeout(r, ms));
const visible = (selector) => page.$eval(selector, (e) => !e.hidden);
const box = (selector) => page.$eval(selector, (e) => e.getBoundingClientRect().toJSON());
const select = async (name) => { await page.click(`.tree [data-name="${name}"]`); await settled(); };
const cell = (attribute) => `.inspector tr[data-attribute="${attribute}"] td.value`;
const cellText = (attribute) => page.$eval(cell(attribute), (e) => e.textContent);

// Page errors and server faults fail the file; the refusals the test provokes are 400s.
const run = studioFor('studio-editor', { copy: ['flythrough.json'], problems: { status: 500, consoleErrors: false } }, async () => {
  ({ url, page } = run);
  sceneFile = join(run.scratch, 'flythrough.json');
});

test('notices stay in the window, Esc closes the help first, open findings leave the list and inspector room, long names stay in their boxes', { timeout: 40_000 }, async () => {
  const message = 'W1: Time2Next: expects an integer from 0 to 4294967295; the start of this notice must be readable '.repeat(2);
  await studio((text) => window.studio.editor.emit('error', new Error(text)), message);
  const notice = await box('#notice');
  assert.ok(notice.left >= 0 && notice.top >= 0 && notice.right <= WIDTH && notice.bottom <= HEIGHT,
    `the notice lies outside the window: ${JSON.stringify(notice)}`);
  assert.equal(await page.$eval('#notice', (e) => e.textContent), message);

  await select('W1');
  await page.click('#helpButton');
  assert.equal(await visible('#help'), true);
  await page.keyboard.press('Escape');
  assert.equal(await visible('#help'), false, 'Esc leaves the help open');
  assert.equal(await studio(() => window.studio.state.selection), 'W1', 'the Esc that closed the help cleared the selection too');
  await page.keyboard.press('Escape');
  assert.equal(await studio(() => window.studio.state.selection), null);

  await select('W2');
  await page.click('#findings .panel-head');
  await pause(100);
  await screenshot(page, 'editor-findings-open');
  const rows = await page.$eval('.tree', (t) => t.clientHeight / t.querySelector('.node').getBoundingClientRect().height);
  assert.ok(rows >= 4.5, `with the findings open the object list shows ${rows.toFixed(1)} rows`);
  assert.ok((await box('#inspector')).height >= 180, 'with the findings open the inspector has no room');
  const findings = await page.$eval('#findings .panel-body', (b) => ({ shown: b.clientHeight, all: b.scrollHeight }));
  assert.ok(findings.shown > 60 && findings.shown < findings.all, `the findings do not scroll: ${JSON.stringify(findings)}`);
  await page.click('#findings .panel-head');

  // A long name, as long as names go: clipped where it shows.
  const long = `Intro${'o'.repeat(123)}`;
  await studio((name) => window.studio.editor.rename('Intro', name), long);
  await settled();
  await select(long);
  const side = await box('.side');
  for (const selector of [`.tree [data-name="${long}"] .name`, '.inspector-head .title']) {
    const shown = await box(selector);
    assert.ok(shown.right <= side.right + 1, `${selector} runs out of the side panel: ${JSON.stringify(shown)}`);
  }
  assert.equal(await studio(() => document.documentElement.scrollWidth <= innerWidth), true, 'the page scrolls sideways');
  await screenshot(page, 'editor-long-name');

  // An empty name is refused in so many words, at the name.
  await page.click('.edit-bar [data-act="rename"]');
  await typeInto(page, 'name', '');
  assert.match(await page.$eval('[data-error-for="name"]', (e) => (e.hidden ? '' : e.textContent)), /needs a name/);
  await page.keyboard.press('Escape');
  await studio(() => window.studio.editor.rename(window.studio.state.selection, 'Intro'));
  await settled();
});

test('the inspector: FOVFac in degrees, the linter\'s words at the field, PointsTo offers what can be looked at, stale refusals go', { timeout: 40_000 }, async () => {
  await select('W1');
  // FOVFac 1.5: the eye hands out 1/1.5, which widens the base 60 degrees to 2 atan(1.5 tan 30°).
  const degrees = (2 * Math.atan(1.5 * Math.tan(Math.PI / 6)) * 180) / Math.PI;
  assert.match(await page.$eval(`${cell('FOVFac')} .fov-note`, (e) => e.textContent), new RegExp(`^${degrees.toFixed(1)}°`));

  // Values the plug-in takes as they are: accepted, and marked at once in the linter's words.
  await typeInto(page, 'attr:Roll', 'Infinity');
  await typeInto(page, 'attr:FOVFac', '0');
  assert.match(await cellText('Roll'), /roll-long-way: Roll goes from infinity/);
  assert.match(await cellText('FOVFac'), /bad-fov: FOVFac is 0; it must be finite and above 0/);
  await screenshot(page, 'editor-marked-values');
  await chord(page, ['Control'], 'z');
  await chord(page, ['Control'], 'z');
  await settled();
  assert.doesNotMatch(await cellText('FOVFac'), /bad-fov/);

  await select('W2');
  const choices = await page.$$eval(`${cell('PointsTo')} select option`, (os) => os.map((o) => o.value));
  for (const name of ['', 'Tower', 'Statue', 'W1', 'Gate']) assert.ok(choices.includes(name), `PointsTo does not offer ${name || 'none'}`);
  for (const name of ['W2', 'Flight', 'Cam', 'Chase']) assert.ok(!choices.includes(name), `PointsTo offers ${name}`);

  // A refusal stays until the field changes elsewhere (here another tab), then it is gone.
  await typeInto(page, 'attr:Time2Next', 'abc');
  const refusal = '[data-error-for="attr:Time2Next"]';
  assert.equal(await visible(refusal), true, 'no refusal shown');
  await api(url, '/api/objects/W2', { method: 'PATCH', body: { attributes: { Time2Next: 900 } } });
  await studio(() => window.dispatchEvent(new Event('focus')));
  await page.waitForFunction(() => window.studio.state.attribute('W2', 'Time2Next') === 900, { timeout: 5000 });
  await settled();
  assert.equal(await page.$eval('.inspector [data-key="attr:Time2Next"]', (e) => e.value), '900');
  assert.equal(await visible(refusal), false, 'the refusal of a value since changed elsewhere stays');
});

test('deleting a target asks first, and Esc keeps it; a waypoint that looks at a target does not turn; undone back to the file the scene shows saved; Enter on a file changed on disk overwrites nothing', { timeout: 40_000 }, async () => {
  await chord(page, ['Control'], 's');
  await settled();
  assert.equal(await visible('#dirty'), false);
  // Delete on one object that others aim at asks, naming them; Esc cancels.
  await select('Tower');
  await page.keyboard.press('Delete');
  await page.waitForSelector('#dialog[open]');
  assert.match(await page.$eval('#dialog p', (p) => p.textContent), /^W0, W3, W5 and W6 refer to Tower \(PointsTo\): delete Tower/);
  await page.keyboard.press('Escape');
  await pause(1000);
  await settled();
  assert.equal((await api(url, '/api/status')).unsaved, false, 'cancelled, yet deleted');
  // A waypoint aimed at a target: R says why it does not turn.
  await select('W2');
  await page.keyboard.press('r');
  assert.equal(await studio(() => window.studio.gizmo.controls.mode), 'translate');
  assert.equal(await page.$eval('#notice', (e) => e.textContent),
    'W2 looks at Statue: its rotation follows the target; clear PointsTo to rotate it');

  // A change undone back to the file's scene is saved again; redone, it is not.
  await typeInto(page, 'attr:Roll', '12');
  assert.equal(await visible('#dirty'), true);
  await chord(page, ['Control'], 'z');
  await settled();
  assert.equal(await visible('#dirty'), false, 'undone back to the file, the scene still shows unsaved');
  await chord(page, ['Control', 'Shift'], 'Z');
  await settled();

  // Another program writes the file: saving asks, and Enter keeps both as they are.
  const theirs = `${readFileSync(sceneFile, 'utf8')}\n`;
  writeFileSync(sceneFile, theirs);
  await chord(page, ['Control'], 's');
  await page.waitForSelector('#dialog[open]');
  assert.equal(await studio(() => document.activeElement.textContent), 'Cancel');
  await page.keyboard.press('Enter');
  await pause(200);
  assert.equal(await page.$('#dialog[open]'), null);
  assert.equal(readFileSync(sceneFile, 'utf8'), theirs, 'Enter overwrote the other program\'s change');
  assert.equal(await visible('#dirty'), true);
});
