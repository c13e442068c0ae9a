// Unsaved changes survive a studio killed with SIGKILL: real `camsys studio` processes on a copy of
// the example, edited over HTTP, killed, started again. With --recover the scene flies as a fresh
// load of the edited scene, and saving removes the journal; a journal made to another version of
// the file is refused and kept. In headless Chromium: the page offers the journal found
// (Recover brings the edit back), and a page whose server is gone offers the scene to download.
//
// Where the program, the examples and the browser are: see harness.mjs.

import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { appendFileSync, copyFileSync, existsSync, mkdtempSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { api, checkSetup, deadline, examples, exe, findObject, launchBrowser, screenshot, startStudio, stopAll,
  stopStudio } from './harness.mjs';

const EDITS = [['W2', { position: [12, -30, 9.5] }], ['W1', { attributes: { Time2Next: 900 } }]];

checkSetup();
const scratch = mkdtempSync(join(tmpdir(), 'camsys-studio-recovery-'));
let server, browser;
const servers = [];  // every studio started, so that a failed test leaves none running
const stop = async () => {
  for (const child of servers) await stopStudio(child);
  await stopAll({ browser, scratch });
};
const timer = deadline('recovery.test', stop);

after(async () => {
  await stop();
  clearTimeout(timer);
});

/** A fresh copy of the example (with the level it names) in its own folder: [scene file, its journal]. */
function freshScene(name) {
  const scene = join(scratch, `${name}.json`);
  copyFileSync(join(examples, 'flythrough.json'), scene);
  copyFileSync(join(examples, 'town.glb'), join(scratch, 'town.glb'));
  return [scene, join(scratch, `.${name}.json.camsys-recovery`)];
}

/** startStudio, remembering the process. */
async function start(scene, options) {
  const started = await startStudio(scene, options);
  server = started.child;
  servers.push(server);
  return started;
}

/** Kills the studio running with SIGKILL. */
async function kill() {
  server.kill('SIGKILL');
  await new Promise((r) => server.once('exit', r));
}

/** Starts a studio on `scene`, makes EDITS and kills it. */
async function editAndKill(scene) {
  const started = await start(scene);
  for (const [name, body] of EDITS) await api(started.url, `/api/objects/${name}`, { method: 'PATCH', body });
  await kill();
}

/** The example with EDITS made by hand, as a file. */
function editedByHand() {
  const scene = JSON.parse(readFileSync(join(examples, 'flythrough.json'), 'utf8'));
  findObject(scene.objects, 'W2').position = [12, -30, 9.5];
  findObject(scene.objects, 'W1').attributes.Time2Next = 900;
  const file = join(scratch, 'by-hand.json');
  writeFileSync(file, JSON.stringify(scene, null, 2));
  return file;
}

const fly = (file) => ['Cam', 'Chase'].map((i) => execFileSync(exe, ['fly', file, '--iterator', i], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] }));

test('killed with SIGKILL, started with --recover: the flight of the edited scene; saving removes the journal', { timeout: 30_000 }, async () => {
  const [scene, journal] = freshScene('killed');
  await editAndKill(scene);
  assert.ok(existsSync(journal), 'no journal beside the scene after the kill');

  // Started without --recover: the first line says what was found, and nothing is applied (nor
  // is the journal changed: --recover finds it next).
  let started = await start(scene);
  assert.match(started.output().split('\n')[0], /^camsys studio: .*killed\.json has unsaved changes from \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC in \.killed\.json\.camsys-recovery; .*--recover/);
  await stopStudio(server);

  started = await start(scene, ['--recover']);
  assert.match(started.output().split('\n')[0], /^camsys studio: recovered the unsaved changes from .* in .*\.killed\.json\.camsys-recovery/);
  await api(started.url, '/api/save', { method: 'POST', body: {} });
  assert.equal(existsSync(journal), false, 'the journal outlived the save');
  assert.deepEqual(fly(scene), fly(editedByHand()), 'the recovered scene flies otherwise than the edited one');
  await stopStudio(server);
});

test('a journal made to another version of the file is refused, never applied, and kept', { timeout: 30_000 }, async () => {
  const [scene, journal] = freshScene('changed');
  await editAndKill(scene);
  const kept = readFileSync(journal, 'utf8');
  appendFileSync(scene, '\n');  // the file changed meanwhile (a checkout, another editor)
  const before = readFileSync(scene, 'utf8');

  const refused = spawnSync(exe, ['studio', scene, '--port', '0', '--recover'], { encoding: 'utf8', timeout: 10_000 });
  assert.notEqual(refused.status, 0, 'camsys studio --recover served a journal of another version');
  assert.match(refused.stderr, /made to another version of .*changed\.json \(the file changed since\); they are not applied, and the journal is kept/);
  assert.equal(readFileSync(journal, 'utf8'), kept);
  assert.equal(readFileSync(scene, 'utf8'), before);

  const started = await start(scene);
  assert.match(started.output().split('\n')[0], /another version .*--discard-recovery removes it/);
  await stopStudio(server);
});

test('the page offers the journal found, Recover brings the edit back; with the server gone it offers the scene to download', { timeout: 60_000 }, async () => {
  const [scene, journal] = freshScene('page');
  await editAndKill(scene);
  const started = await start(scene);
  browser = await launchBrowser(join(scratch, 'browser'));
  const page = await browser.newPage();
  const problems = [];
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  await page.goto(started.url, { waitUntil: 'domcontentloaded' });
  await page.waitForSelector('#dialog[open] button[data-value="recover"]', { timeout: 15_000 });
  const asked = await page.$eval('#dialog', (d) => d.textContent);
  assert.match(asked, /Unsaved changes were found.*page\.json has unsaved changes from .* UTC, kept in \.page\.json\.camsys-recovery/);
  await screenshot(page, 'recovery-offer');
  await page.click('#dialog button[data-value="recover"]');
  await page.waitForFunction(() => window.studio && window.studio.ready);
  await page.evaluate(() => window.studio.editor.settled());
  const shown = await page.evaluate(() => ({ position: window.studio.state.objects.get('W2').position,
    unsaved: !document.getElementById('dirty').hidden, undo: window.studio.editor.history.undo }));
  assert.deepEqual(shown, { position: [12, -30, 9.5], unsaved: true, undo: ['recover unsaved changes'] });
  // What the page holds for the download is there once the status after the change is in.
  await page.waitForFunction(() => window.studio.recovery.kept !== null);

  await kill();
  await page.evaluate(() => window.studio.editor.refreshStatus());
  await page.waitForSelector('#serverGone a[download]', { timeout: 15_000 });
  assert.match(await page.$eval('#serverGone', (b) => b.textContent),
    /cannot be reached .* unsaved changes\. They are also kept in \.page\.json\.camsys-recovery/);
  const downloads = join(scratch, 'downloads');
  await (await page.createCDPSession()).send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page.click('#serverGone a');
  const downloaded = join(downloads, 'page.json');  // the scene file's own name
  // A busy machine (the whole suite beside it) can take seconds to write the download.
  for (let i = 0; i < 300 && !existsSync(downloaded); ++i) await new Promise((r) => setTimeout(r, 50));
  const journaled = readFileSync(journal, 'utf8');
  assert.deepEqual(JSON.parse(readFileSync(downloaded, 'utf8')), JSON.parse(journaled.slice(journaled.indexOf('\n') + 1)));
  await screenshot(page, 'recovery-server-gone');
  assert.deepEqual(problems, []);
});
