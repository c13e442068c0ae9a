// Unsaved changes that outlive a studio: the journal an earlier session left beside the scene
// (the server finds it; the page asks whether to recover or discard it), and, when the server is
// gone, the scene as a JSON file to download from what the page still holds.

import { ask } from './dialog.js';

/** "2026-12-07 13:40:34 UTC" for a journal's "2026-12-07T13:40:34Z". */
export const readableTime = (time) => (time ? time.replace('T', ' ').replace(/Z$/, ' UTC') : 'an earlier session');

const baseName = (path) => (path || '').split('/').pop();

/** The name a scene downloads as: the file's own for JSON, else its stem with .json. */
export const downloadName = (file) => {
  const name = baseName(file) || 'scene.json';
  return name.endsWith('.json') ? name : `${name.replace(/\.[^.]*$/, '')}.json`;
};

/** A link that downloads `scene` (a scene file's JSON, parsed) as `name`. */
export function downloadLink(scene, name, label = `Download the scene as ${name}`) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([`${JSON.stringify(scene, null, 2)}\n`], { type: 'application/json' }));
  a.download = name;
  a.textContent = label;
  return a;
}

export class Recovery {
  /** `notify(text, kind)` reports outcomes. */
  constructor(api, editor, { notify }) {
    this.api = api;
    this.editor = editor;
    this.notify = notify;
    // The scene as a JSON scene file while it has unsaved changes, fetched after each change:
    // when the server is gone, the page can still hand it over.
    this.kept = null;  // {revision, scene}
    this.asked = 0;
    this.journalError = null;
    this.gone = false;
    editor.on('status', (status) => this.statusChanged(status));
    api.onUnreachable = () => this.serverGone();
  }

  statusChanged(status) {
    this.status = status;
    const error = status.journal && status.journal.error;
    if (error && error !== this.journalError) this.notify(`unsaved changes are not journaled: ${error}`, 'error');
    this.journalError = error || null;
    if (!status.unsaved) { this.kept = null; return; }
    // Not during a drag (its end refreshes the status): the scene file is written once a change.
    if ((this.kept && this.kept.revision === status.revision) || this.editor.dragging) return;
    const asked = ++this.asked, revision = status.revision;
    this.api.get('/api/scene/file').then((scene) => {
      if (asked === this.asked) this.kept = { revision, scene };
    }, () => { /* the server gone: what was kept stays */ });
  }

  /** Asks about the journal an earlier session left, if the server found one. */
  async start() {
    const { found } = await this.api.get('/api/recovery');
    if (!found) return;
    const file = baseName(this.status ? this.status.file : '');
    const when = readableTime(found.time);
    const journal = baseName(found.journal);
    if (found.matches) {
      const choice = await ask({
        title: 'Unsaved changes were found',
        text: `${file} has unsaved changes from ${when}, kept in ${journal} when the studio ended without saving. ` +
          'Recover them (undo takes them back; save to keep them) or discard them?',
        buttons: [{ label: 'Recover', value: 'recover', primary: true }, { label: 'Discard', value: 'discard' },
          { label: 'Later', value: null }],
      });
      if (choice && choice.button === 'recover') await this.recover(when);
      if (choice && choice.button === 'discard') await this.discard();
      return;
    }
    const refusal = found.refusal.charAt(0).toUpperCase() + found.refusal.slice(1);
    // Asked again after a download: then to discard them or keep them.
    for (;;) {
      const choice = await ask({
        title: 'Unsaved changes of another version',
        text: `${refusal}. ${found.readable ? 'Download them as a scene file to compare, or discard them. ' : ''}` +
          'Until then the changes made here are not journaled.',
        buttons: [...(found.readable ? [{ label: 'Download', value: 'download', primary: true }] : []),
          { label: 'Discard them', value: 'discard' }, { label: 'Keep', value: null }],
      });
      if (!choice) return;
      if (choice.button === 'discard') { await this.discard(); return; }
      const stem = downloadName(journal.replace(/^\.|\.camsys-recovery$/g, '')).replace(/\.json$/, '');
      downloadLink(await this.api.get('/api/recovery/scene'), `${stem}.recovered.json`).click();
    }
  }

  async recover(when) {
    try {
      await this.editor.change((revision) => this.api.send('POST', '/api/recovery/apply', { revision }));
      this.notify(`recovered the unsaved changes from ${when}`);
    } catch (error) { this.notify(error.reason || error.message, 'error'); }
  }

  async discard() {
    try {
      const { discarded } = await this.api.send('POST', '/api/recovery/discard', {});
      this.notify(`discarded the unsaved changes in ${baseName(discarded)}`);
      await this.editor.refreshStatus();
    } catch (error) { this.notify(error.reason || error.message, 'error'); }
  }

  /** The server cannot be reached: says what is safe where, and offers the scene held. */
  serverGone() {
    if (this.gone) return;
    this.gone = true;
    const banner = document.createElement('div');
    banner.className = 'recovery-banner';
    banner.id = 'serverGone';
    banner.setAttribute('role', 'alert');
    const status = this.status || {};
    const text = document.createElement('span');
    banner.append(text);
    if (!status.unsaved) {
      text.textContent = `The studio server cannot be reached (has camsys studio stopped?). ${baseName(status.file)} was saved: nothing is lost.`;
    } else {
      const journal = status.journal && status.journal.file && !status.journal.error
        ? ` They are also kept in ${baseName(status.journal.file)}: camsys studio offers them when started on the scene again.` : '';
      text.textContent = `The studio server cannot be reached (has camsys studio stopped?) and the scene has unsaved changes.${journal} `;
      if (this.kept) banner.append(downloadLink(this.kept.scene, downloadName(status.file)));
    }
    const close = document.createElement('button');
    close.textContent = '×';
    close.title = 'Close';
    close.addEventListener('click', () => banner.remove());
    banner.append(close);
    document.body.append(banner);
  }
}
