// Fixes from the findings panel, on a scratch copy of the example: a finding's Fix button makes
// the change the server reports (the finding gone from the refreshed list, one undo step), one
// undo brings the finding back, and Fix all leaves no finding with a fix, again in one step.

import assert from 'node:assert/strict';
import { test } from 'node:test';
import { screenshot, studioFor } from './harness.mjs';

const run = studioFor('lintfix', { copy: ['flythrough.json', 'town.glb'], ready: () => window.studio?.ready && window.studio.state.lint });

/** Once every change and refresh is done and the new findings are in: the server's history and the fixes listed. */
const settled = () => run.page.evaluate(async () => {
  const { editor, state, api } = window.studio;
  await editor.settled();
  while (!state.lint) await new Promise((r) => setTimeout(r, 50));
  const history = await api.get('/api/history');
  return { undo: history.undo, fixes: state.lint.filter((f) => f.fix).map((f) => f.fix),
    buttons: [...document.querySelectorAll('#findings button.fix')].map((b) => b.nextElementSibling.textContent) };
});

test('Fix on a finding, undo, Fix all', async () => {
  const { page } = run;
  await page.click('#findings .panel-head');
  const start = await settled();
  assert.deepEqual(start.fixes, ["set W0's EaseOut", "clear W4's EaseIn", "clear W5's PauseTime"]);
  assert.deepEqual(start.buttons, start.fixes, 'a Fix button with its label per fixable finding');
  assert.equal(await page.$eval('#findings .fix-all', (b) => !b.hidden && b.textContent), 'Fix all (3)');
  await page.$eval('#findings button.fix', (b) => b.scrollIntoView({ block: 'center' }));
  await screenshot(await page.$('#findings'), 'findings-fix');

  const rows = await page.$$('#findings .entry.finding');
  const cut = rows[(await page.$$eval('#findings .entry.finding', (r) => r.map((e) => e.textContent)))
    .findIndex((t) => t.includes("clear W4's EaseIn"))];
  await (await cut.$('button.fix')).click();
  const fixed = await settled();
  assert.deepEqual(fixed.undo.slice(start.undo.length), ["clear W4's EaseIn"], 'one undo step, of the finding clicked');
  assert.ok(!fixed.fixes.includes("clear W4's EaseIn"), fixed.fixes.join(', '));
  assert.equal(await page.evaluate(() => window.studio.state.selection), null, 'the click did not select the row');

  await page.evaluate(() => window.studio.editor.undo());
  const undone = await settled();
  assert.deepEqual(undone.fixes, start.fixes);

  await page.click('#findings .fix-all');
  const all = await settled();
  assert.deepEqual(all.fixes, [], 'nothing left to fix');
  assert.deepEqual(all.undo.slice(start.undo.length), ['fix lint findings'], 'one undo step');
  assert.equal(await page.$eval('#findings .fix-all', (b) => b.hidden), true);
  await screenshot(await page.$('#findings'), 'findings-fixed');
});
