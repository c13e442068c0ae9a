// The header's Render dialog: the camera's flight rendered by this page, as `camsys render` does it
// in its headless browser, to a download and, when asked, to a file or folder beside the scene.
// The server flies the frames for a render task it holds; a task without a name keeps nothing.

import { $, el } from './dom.js';
import { ask } from './dialog.js';
import { prepareClip, renderClip } from './render.js';
import { memoryTarget, sinkFor } from './clipsinks.js';
import { FORMATS, RenderForm } from './renderform.js';

/** How often the progress goes to the server (which `GET /api/render` reports), ms. */
const PROGRESS_EVERY = 500;

const megabytes = (n) => (n >= 1e6 ? `${(n / 1e6).toFixed(1)} MB` : `${Math.max(1, Math.round(n / 1e3))} kB`);
const duration = (s) => (s >= 90 ? `${Math.floor(s / 60)} min ${Math.round(s % 60)} s` : `${Math.max(1, Math.round(s))} s`);

/** What went wrong, in words a person can act on. */
function plainWords(error, settings) {
  const text = String((error && (error.reason || error.message)) || error);
  const size = settings ? `${settings.width} × ${settings.height}` : '';
  if (/cannot encode avc1/.test(text))
    return `This browser cannot encode H.264 video at ${size}, so it cannot make an MP4. Choose WebM, or a smaller size.`;
  if (/cannot encode vp09/.test(text)) return `This browser cannot encode VP9 video at ${size}. Choose MP4, or a smaller size.`;
  if (/a render is running/.test(text))
    return 'The studio is already rendering (in another tab of this studio). Wait for it to end, or cancel it there.';
  return `The render failed: ${text}`;
}

export class RenderDialog {
  constructor(api, state) {
    this.api = api;
    this.state = state;
    this.running = null;   // {controller, done, total} while a render runs
    const dialog = this.dialog = $('renderDialog');
    this.form = new RenderForm();
    this.progress = el('div', 'render-progress');
    this.bar = el('progress');
    this.progressText = el('div', 'render-progress-text muted');
    this.progress.append(this.bar, this.progressText);
    this.message = el('div', 'render-message');
    this.closeButton = el('button', '', 'Close');
    this.renderButton = el('button', 'primary', 'Render');
    for (const b of [this.closeButton, this.renderButton]) b.type = 'button';
    const buttons = el('div', 'dialog-buttons');
    buttons.append(this.closeButton, this.renderButton);
    dialog.append(el('h3', '', 'Render the camera\'s flight'), this.form.element, this.progress, this.message, buttons);

    this.renderButton.addEventListener('click', () => this.start());
    this.closeButton.addEventListener('click', () => (this.running ? this.cancel() : dialog.close()));
    // The studio's own keys stay out of the dialog; Esc and Enter are the dialog's.
    dialog.addEventListener('keydown', (e) => {
      e.stopPropagation();
      if (e.key === 'Escape') { e.preventDefault(); this.escape(); }
      if (e.key === 'Enter' && !(e.target instanceof HTMLButtonElement)) { e.preventDefault(); if (!this.running) this.start(); }
    });
    // Fields are disabled while a render runs: the dialog itself holds the focus and hears the keys.
    dialog.tabIndex = -1;
    dialog.addEventListener('cancel', (e) => { if (this.running) { e.preventDefault(); this.escape(); } });
    // A tab closed mid-render would leave the server's task running and refuse the next one.
    window.addEventListener('pagehide', () => {
      if (!this.running) return;
      const body = new Blob([JSON.stringify({ error: 'the page was closed', cancelled: true })], { type: 'application/json' });
      navigator.sendBeacon(`/api/render/fail?token=${encodeURIComponent(api.token)}`, body);
    });
    $('renderButton').addEventListener('click', () => this.open());
  }

  open() {
    if (this.dialog.open) return;
    if (!this.running) {
      const { scene, options, flightParams } = this.state;
      this.form.reset({ file: scene && scene.file, vfov: options.fovBase, iterator: flightParams.iterator, start: flightParams.start });
      this.showPhase('idle');
    }
    this.dialog.showModal();
    this.form.fields.format.focus();
  }

  /** Esc: closes, but a running render is stopped only when the user says so. */
  async escape() {
    if (!this.running) { this.dialog.close(); return; }
    if ($('dialog').open) return;
    const { done, total } = this.running;
    const choice = await ask({
      title: 'Stop the render?',
      text: `${done} of ${total || '?'} frames are done. Stopping it writes nothing and downloads nothing.`,
      buttons: [{ label: 'Stop the render', value: 'stop' }, { label: 'Keep rendering', value: null, primary: true }],
    });
    if (choice && this.running) { this.cancel(); this.dialog.close(); }
  }

  cancel() {
    if (!this.running) return;
    this.running.controller.abort();
    this.progressText.textContent = 'Stopping…';
  }

  /** idle, running, done, failed: which buttons, fields and areas show. */
  showPhase(phase, text = '', kind = '') {
    const running = phase === 'running';
    this.form.disable(running);
    this.progress.hidden = !running;
    this.message.hidden = !text;
    this.message.className = `render-message ${kind}`;
    if (typeof text === 'string') this.message.textContent = text;
    else this.message.replaceChildren(...text);
    this.closeButton.textContent = running ? 'Cancel' : 'Close';
    this.renderButton.disabled = running;
    this.renderButton.textContent = phase === 'done' ? 'Render again' : 'Render';
    this.dialog.dataset.phase = phase;
  }

  showProgress(done, total, began) {
    this.running.done = done;
    this.running.total = total;
    this.bar.max = total;
    this.bar.value = done;
    const seconds = (performance.now() - began) / 1000;
    const rate = done / Math.max(seconds, 1e-3);
    this.progressText.textContent = done >= total ? `${total} frames rendered; finishing the file…`
      : `${done} of ${total} frames · ${rate.toFixed(1)} frames/s · ${done ? `${duration((total - done) / rate)} left` : 'starting'}`;
  }

  async start() {
    if (this.running) return;
    const { settings, name, problem } = this.form.read();
    if (problem) { this.showPhase('idle', problem, 'error'); return; }
    const controller = new AbortController();
    this.running = { controller, done: 0, total: 0 };
    this.showPhase('running');
    this.dialog.focus();
    this.bar.removeAttribute('value');
    this.progressText.textContent = 'Flying the camera and loading the scene…';
    let task = null;
    try {
      task = await this.api.startRender(name, settings);
      const result = await this.render(task.settings, name, controller.signal);
      this.showPhase('done', result, 'done');
    } catch (error) {
      const cancelled = controller.signal.aborted;
      if (task) await this.api.renderFail(String((error && error.message) || error), cancelled).catch(() => {});
      if (cancelled) this.showPhase('failed', 'Cancelled: nothing was written and nothing downloads.', 'cancelled');
      else this.showPhase('failed', plainWords(error, settings), 'error');
      if (!cancelled) console.warn('render failed:', error);
    } finally {
      this.running = null;
    }
  }

  /** Renders the task the server holds; answers what the dialog then says, as nodes. */
  async render(settings, name, signal) {
    const api = this.api;
    const clip = await prepareClip(api, settings);
    if (signal.aborted) throw new DOMException('the render was cancelled', 'AbortError');
    const memory = settings.format === 'frames' ? null : memoryTarget();
    const write = async (offset, bytes, frame) => {
      if (memory) await memory.write(offset, bytes, frame);
      if (name) await api.renderData(offset, bytes, frame);
    };
    const began = performance.now();
    let said = 0;
    const timings = await renderClip(clip, sinkFor(settings, write), {
      signal,
      onProgress: (done, total) => {
        this.showProgress(done, total, began);
        const t = performance.now();
        if (t - said < PROGRESS_EVERY && done < total) return;
        said = t;
        api.renderProgress(done, total).catch(() => {});
      },
    });
    const end = await api.renderFinish(timings);
    const seconds = (performance.now() - began) / 1000;
    const lines = [el('div', '', `${clip.frames.rows} frames rendered in ${duration(seconds)}.`)];
    if (memory) {
      const bytes = memory.bytes();
      const file = name || `${(clip.file || 'render').split('/').pop().replace(/\.[^.]*$/, '')}${FORMATS[settings.format].suffix}`;
      const link = this.download(bytes, file, FORMATS[settings.format].type);
      const line = el('div', '', `Downloaded ${file} (${megabytes(bytes.length)}) to the browser's downloads folder. `);
      line.append(link);
      lines.push(line);
    }
    if (name) lines.push(el('div', '', `Written beside the scene: ${end.progress.output}`));
    return lines;
  }

  /** Hands `bytes` to the browser as a download of `file`; answers a link that downloads it again. */
  download(bytes, file, type) {
    if (this.blobUrl) URL.revokeObjectURL(this.blobUrl);
    this.blobUrl = URL.createObjectURL(new Blob([bytes], { type }));
    const link = el('a', '', 'Download again');
    link.href = this.blobUrl;
    link.download = file;
    const once = link.cloneNode(true);
    document.body.append(once);
    once.click();
    once.remove();
    return link;
  }
}
