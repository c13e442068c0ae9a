// The Render dialog against a real `camsys studio` on a copy of the example: a range saved beside
// the scene (file and download are one video, checked by ffprobe), a download alone, a render cancelled.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, readFileSync, readdirSync } from 'node:fs';
import { join } from 'node:path';
import { api, drawn, examples, retype, screenshot, studioFor } from './harness.mjs';

let page, sceneDir, downloads;
const run = studioFor('studio-render', { scene: 'scene/flythrough.json', prepare: (scratch) => {
    [sceneDir, downloads] = [join(scratch, 'scene'), join(scratch, 'downloads')];
    for (const folder of [sceneDir, downloads]) mkdirSync(folder);
    copyFileSync(join(examples, 'flythrough.json'), join(sceneDir, 'flythrough.json'));
  } }, async () => {
  page = run.page;
  const session = await run.browser.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
});

const listing = () => readdirSync(sceneDir).sort();
const phase = () => page.$eval('#renderDialog', (d) => d.dataset.phase);
const message = () => page.$eval('#renderDialog .render-message', (m) => m.textContent);
const finished = (timeout = 45_000) =>
  page.waitForFunction(() => document.querySelector('#renderDialog').dataset.phase !== 'running', { timeout });
const shoot = async (name) => {
  await drawn(page);
  await screenshot(page, `render-dialog-${name}`);
};

/** The first video stream of `file` as ffprobe counts it: codec, size and frames decoded. */
function probe(file) {
  const out = execFileSync('ffprobe', ['-v', 'error', '-count_frames', '-select_streams', 'v:0', '-show_entries',
    'stream=codec_name,width,height,nb_read_frames', '-of', 'json', file], { encoding: 'utf8' });
  const s = JSON.parse(out).streams[0];
  return { codec: s.codec_name, width: s.width, height: s.height, frames: Number(s.nb_read_frames) };
}

/** Opens the dialog and fills it in as a person does: choices, typed numbers, the save box. */
async function fill({ format, width, height, from = '', to = '', save, name }) {
  if (!(await page.$eval('#renderDialog', (d) => d.open))) await page.click('#renderButton');
  await page.waitForSelector('#renderDialog[open]');
  await page.select('#renderDialog select[name=format]', format);
  await page.select('#renderDialog select[name=size]', 'custom');
  if (save !== await page.$eval('#renderDialog input[name=save]', (c) => c.checked)) await page.click('#renderDialog input[name=save]');
  for (const [key, value] of Object.entries({ width, height, from, to, ...(name ? { name } : {}) }))
    await retype(page, `#renderDialog input[name=${key}]`, String(value));
}

/** Waits for the browser to have finished writing `file` in the downloads folder. */
async function downloaded(file) {
  for (let i = 0; i < 200; ++i) {
    if (existsSync(join(downloads, file)) && !readdirSync(downloads).some((f) => f.endsWith('.crdownload'))) return join(downloads, file);
    await new Promise((r) => setTimeout(r, 100));
  }
  assert.fail(`no ${file} was downloaded; the folder has ${readdirSync(downloads).join(', ') || 'nothing'}`);
}

test('a range saved beside the scene: the file and the download are the same valid video', { timeout: 60_000 }, async () => {
  await page.click('#renderButton');
  await page.waitForSelector('#renderDialog[open]');
  assert.equal(await page.$eval('#renderDialog input[name=name]', (i) => i.value), 'flythrough.mp4', 'the default name');
  assert.equal(await page.$eval('#renderDialog input[name=vfov]', (i) => i.value), '60', 'the base vfov is not the header\'s');
  await shoot('idle');
  // 1000 to 2000 ms at 30 frames a second: frames 30 to 60, at round(k * 1000 / 30) ms.
  await fill({ format: 'mp4', width: 320, height: 180, from: 1000, to: 2000, save: true, name: 'clip.mp4' });
  await page.keyboard.press('Enter');
  await finished();
  assert.equal(await phase(), 'done', await message());
  await shoot('done');
  assert.match(await message(), /31 frames rendered/);
  assert.ok((await message()).includes(`Written beside the scene: ${join(sceneDir, 'clip.mp4')}`), await message());
  assert.deepEqual(listing(), ['clip.mp4', 'flythrough.json']);
  assert.deepEqual(probe(join(sceneDir, 'clip.mp4')), { codec: 'h264', width: 320, height: 180, frames: 31 });
  assert.ok(readFileSync(await downloaded('clip.mp4')).equals(readFileSync(join(sceneDir, 'clip.mp4'))),
    'the download is not the file written beside the scene');
});

test('a download alone writes nothing beside the scene', { timeout: 60_000 }, async () => {
  await fill({ format: 'webm', width: 160, height: 90, from: '', to: 500, save: false });
  await page.click('#renderDialog .dialog-buttons .primary');
  await finished();
  assert.equal(await phase(), 'done', await message());
  assert.match(await message(), /Downloaded flythrough\.webm/);
  assert.doesNotMatch(await message(), /beside the scene/);
  // 0 to 500 ms: frames 0 to 15.
  assert.deepEqual(probe(await downloaded('flythrough.webm')), { codec: 'vp9', width: 160, height: 90, frames: 16 });
  assert.deepEqual(listing(), ['clip.mp4', 'flythrough.json']);
  // PNG frames cannot be one download: the dialog keeps them beside the scene.
  await page.select('#renderDialog select[name=format]', 'frames');
  assert.deepEqual(await page.$eval('#renderDialog input[name=save]', (c) => [c.checked, c.disabled]), [true, true]);
  assert.match(await page.$eval('#renderDialog .render-note', (n) => n.textContent), /cannot be downloaded/);
});

test('Esc asks before stopping a render; Cancel stops it and leaves nothing', { timeout: 60_000 }, async () => {
  await fill({ format: 'mp4', width: 320, height: 180, from: '', to: '', save: true, name: 'cancelled.mp4' });
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.querySelector('#renderDialog progress').value >= 3, { timeout: 30_000 });
  await shoot('rendering');
  await page.keyboard.press('Escape');
  await page.waitForSelector('#dialog[open]');
  assert.match(await page.$eval('#dialog', (d) => d.textContent), /Stop the render\?/);
  await page.keyboard.press('Escape');   // keeps rendering
  await page.waitForFunction(() => !document.querySelector('#dialog').open);
  assert.equal(await phase(), 'running', 'dismissing the question stopped the render');
  const staged = readdirSync(sceneDir).filter((f) => !['clip.mp4', 'flythrough.json'].includes(f));
  assert.ok(staged.length > 0, 'a render to be saved stages nothing while it runs');
  await page.click('#renderDialog .dialog-buttons button:not(.primary)');
  await finished(15_000);
  assert.match(await message(), /^Cancelled/);
  assert.deepEqual(listing(), ['clip.mp4', 'flythrough.json'], 'the cancelled render left a file beside the scene');
  assert.equal((await api(run.url, '/api/render')).progress.state, 'cancelled');
  await page.keyboard.press('Escape');
  assert.equal(await page.$eval('#renderDialog', (d) => d.open), false, 'Esc does not close the dialog');
});
