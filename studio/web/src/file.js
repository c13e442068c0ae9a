// The scene's file: its name in the header with the marks of unsaved changes and of a change on
// disk, the tab's title, undo and redo, saving (a file changed on disk or a name already taken
// asks first), save as, and the browser's question before a page with unsaved changes closes.

import { $ } from './dom.js';
import { ask } from './dialog.js';

function showFile(file, unsaved, changedOnDisk = false) {
  $('file').textContent = file;
  $('file').title = `${file}${unsaved ? ' (unsaved changes)' : ''}${changedOnDisk ? ' (changed on disk since loaded or saved)' : ''}`;
  $('dirty').hidden = !unsaved;
  $('onDisk').hidden = !changedOnDisk;
  document.title = `${unsaved ? '● ' : ''}${file.split('/').pop()} · camsys studio`;
}

export class SceneFile {
  /** `notify(text, kind)` shows an outcome. */
  constructor(state, editor, notify) {
    this.editor = editor;
    this.notify = notify;
    this.fail = (error) => notify(error.reason || error.message, 'error');
    state.on('scene', (scene) => { if (!editor.status) showFile(scene.file, false); });
    editor.on('status', (status) => showFile(status.file, status.unsaved, status.changedOnDisk));
    window.addEventListener('beforeunload', (e) => {
      if (editor.status && editor.status.unsaved) { e.preventDefault(); e.returnValue = ''; }
    });
    // Another program may change the file while the page is in the background.
    window.addEventListener('focus', () => editor.refreshStatus());
  }

  fileName() { return this.editor.status ? this.editor.status.file.split('/').pop() : ''; }

  undo() { if (this.editor.history.undo.length) this.editor.undo().catch(this.fail); }
  redo() { if (this.editor.history.redo.length) this.editor.redo().catch(this.fail); }

  /** Saves; a file changed on disk meanwhile asks whether to reload it or overwrite it. */
  async save(body = {}) {
    const { editor, notify, fail } = this;
    try {
      const status = await editor.save(body);
      notify(`saved ${status.file}`);
    } catch (error) {
      const why = error.body || {};
      if (error.status === 409 && why.changedOnDisk) {
        const choice = await ask({
          title: 'The file changed on disk',
          text: `${this.fileName()} was changed by another program since it was loaded or last saved. Reload it (your ` +
            'changes can be brought back with undo) or overwrite it with the scene shown here?',
          // Enter keeps both: overwriting the other program's change takes a click.
          buttons: [{ label: 'Reload from disk', value: 'reload' }, { label: 'Overwrite', value: 'overwrite' },
            { label: 'Cancel', value: null, primary: true }],
        });
        if (choice && choice.button === 'reload') await editor.reload().then(() => notify(`reloaded ${this.fileName()}`), fail);
        if (choice && choice.button === 'overwrite') await this.save({ ...body, overwrite: true });
      } else if (error.status === 409 && why.exists) {
        const choice = await ask({
          title: 'The file exists', text: `${body.as} is already in the scene's folder. Replace it?`,
          buttons: [{ label: 'Replace', value: 'overwrite', primary: true }, { label: 'Cancel', value: null }],
        });
        if (choice) await this.save({ ...body, overwrite: true });
      } else fail(error);
    }
  }

  async saveAs() {
    const choice = await ask({
      title: 'Save as',
      text: 'A file name in the scene\'s folder (no folder); .json or .sco gives the format. The scene is then that file.',
      input: this.fileName(),
      buttons: [{ label: 'Save', value: 'save', primary: true }, { label: 'Cancel', value: null }],
      check: async (name) => (name.trim() ? null : 'a file name is needed'),
    });
    if (choice) await this.save({ as: choice.value.trim() });
  }
}
