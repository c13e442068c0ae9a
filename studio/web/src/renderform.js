// The Render dialog's form: the options of `camsys render` as fields, read back as the settings
// of a render, with the checks a person should hear about before anything starts.

import { el } from './dom.js';

export const FORMATS = {
  mp4: { label: 'MP4 video (H.264)', suffix: '.mp4', type: 'video/mp4', crfMost: 51 },
  webm: { label: 'WebM video (VP9)', suffix: '.webm', type: 'video/webm', crfMost: 63 },
  sheet: { label: 'Contact sheet (one PNG)', suffix: '-sheet.png', type: 'image/png' },
  frames: { label: 'PNG frames (a folder)', suffix: '-frames' },
};
const SIZES = ['1280x720', '1920x1080', '640x360'];
const MAX_SIDE = 4096;

function numberField(name, { value = '', min, max, step = 1, placeholder = '' } = {}) {
  const input = el('input', 'number');
  Object.assign(input, { type: 'number', name, value: String(value), step: String(step), placeholder });
  if (min !== undefined) input.min = String(min);
  if (max !== undefined) input.max = String(max);
  return input;
}

function checkbox(name, text) {
  const label = el('label', 'check');
  const input = el('input');
  Object.assign(input, { type: 'checkbox', name });
  label.append(input, document.createTextNode(` ${text}`));
  return { label, input };
}

/** A row of the form: its caption and its fields (with an optional note after them). */
function row(caption, ...parts) {
  const r = el('div', 'render-row');
  const fields = el('div', 'render-fields');
  fields.append(...parts);
  r.append(el('span', 'render-caption', caption), fields);
  return r;
}

export class RenderForm {
  constructor() {
    const f = this.fields = {};
    f.format = el('select');
    f.format.name = 'format';
    for (const [value, { label }] of Object.entries(FORMATS)) f.format.append(new Option(label, value));
    f.size = el('select');
    f.size.name = 'size';
    for (const size of SIZES) f.size.append(new Option(size.replace('x', ' × '), size));
    f.size.append(new Option('custom', 'custom'));
    f.width = numberField('width', { value: 1280, min: 16, max: MAX_SIDE, step: 2 });
    f.height = numberField('height', { value: 720, min: 16, max: MAX_SIDE, step: 2 });
    this.custom = el('span', 'render-custom');
    this.custom.append(f.width, el('span', 'muted', '×'), f.height);
    f.fps = numberField('fps', { value: 30, min: 1, max: 240 });
    f.vfov = numberField('vfov', { value: 60, min: 1, max: 179 });
    f.from = numberField('from', { min: 0, placeholder: 'start' });
    f.to = numberField('to', { min: 0, placeholder: 'end' });
    f.crf = numberField('crf', { min: 0, max: 63, placeholder: 'default' });
    this.crfNote = el('span', 'muted');
    const overlay = checkbox('overlay', 'overlay (time, tick, waypoint, findings)');
    const showPath = checkbox('showPath', 'path');
    f.overlay = overlay.input;
    f.showPath = showPath.input;
    this.flight = el('span', 'render-flight');
    const save = checkbox('save', 'Also save beside the scene as');
    f.save = save.input;
    f.name = el('input', 'render-name');
    Object.assign(f.name, { type: 'text', name: 'name', spellcheck: false });
    f.name.setAttribute('aria-label', 'the name beside the scene');
    this.saveNote = el('div', 'render-note muted');

    this.timeRows = [row('Frame rate', f.fps, el('span', 'muted', 'frames a second')),
      row('Range', f.from, el('span', 'muted', 'to'), f.to, el('span', 'muted', 'ms after the activation'))];
    this.crfRow = row('Quality', f.crf, this.crfNote);
    this.element = el('div', 'render-form');
    this.element.append(row('Format', f.format), row('Size', f.size, this.custom), ...this.timeRows,
      row('Base vfov', f.vfov, el('span', 'muted', '° at field of view factor 1')), this.crfRow,
      row('Show', overlay.label, showPath.label), row('Flight', this.flight),
      row('Save', save.label, f.name), this.saveNote);

    this.nameTyped = false;
    f.name.addEventListener('input', () => { this.nameTyped = true; });
    for (const input of [f.format, f.size, f.save]) input.addEventListener('change', () => this.update());
  }

  /** Fills in what comes from the page: the scene's file, the base vfov and the flight shown. */
  reset({ file, vfov, iterator, start }) {
    this.base = (file || 'render').split('/').pop().replace(/\.[^.]*$/, '') || 'render';
    this.fields.vfov.value = String(vfov);
    this.iterator = iterator;
    this.start = start;
    this.flight.textContent = iterator ? `${iterator}, activated at ${start} ms (as shown in the studio)` : 'the scene has no iterator';
    this.update();
  }

  /** Shows the fields the format uses, and the default name for it unless one was typed. */
  update() {
    const f = this.fields, format = f.format.value, info = FORMATS[format];
    this.custom.hidden = f.size.value !== 'custom';
    if (f.size.value !== 'custom') [f.width.value, f.height.value] = f.size.value.split('x');
    // A sheet's frames are the flight's moments, not a rate over a range; PNGs have no quantizer.
    for (const r of this.timeRows) r.hidden = format === 'sheet';
    this.crfRow.hidden = !info.crfMost;
    if (info.crfMost) this.crfNote.textContent = `0 (best) to ${info.crfMost}; empty: the encoder's own`;
    const frames = format === 'frames';
    if (frames) f.save.checked = true;
    f.save.disabled = frames;
    f.name.disabled = !f.save.checked;
    if (!this.nameTyped) f.name.value = this.base + info.suffix;
    this.saveNote.textContent = frames
      ? 'PNG frames are a folder of files, which cannot be downloaded as one: they are written beside the scene.'
      : f.save.checked ? 'The file downloads, and is also written beside the scene (a file of that name is replaced).'
        : 'The file downloads when the render is done.';
  }

  disable(disabled) {
    for (const input of Object.values(this.fields)) input.disabled = disabled;
    if (!disabled) this.update();
  }

  /** {settings, name} of the form (name: null for a download only), or {problem} in plain words. */
  read() {
    const f = this.fields, format = f.format.value;
    const optional = (input) => (input.value.trim() === '' ? null : Number(input.value));
    const settings = {
      format, width: Number(f.width.value), height: Number(f.height.value), fps: Number(f.fps.value),
      vfov: Number(f.vfov.value), from: optional(f.from), to: optional(f.to), crf: optional(f.crf) ?? -1,
      overlay: f.overlay.checked, showPath: f.showPath.checked, iterator: this.iterator, start: this.start,
    };
    if (format === 'sheet') Object.assign(settings, { from: null, to: null });
    if (format === 'sheet' || format === 'frames') settings.crf = -1;
    const name = f.save.checked ? f.name.value.trim() : null;
    const problem = settingsProblem(settings, name);
    return problem ? { problem } : { settings, name };
  }
}

const whole = (n, low, high) => Number.isInteger(n) && n >= low && n <= high;

function settingsProblem(s, name) {
  if (!s.iterator) return 'The scene has no iterator to fly: add one first.';
  if (![s.width, s.height].every((n) => whole(n, 16, MAX_SIDE) && n % 2 === 0))
    return `The size must be two even numbers from 16 to ${MAX_SIDE}.`;
  if (!(s.fps > 0 && s.fps <= 240)) return 'The frame rate must be above 0 and at most 240 frames a second.';
  if (!(s.vfov >= 1 && s.vfov <= 179)) return 'The base vertical field of view must be from 1 to 179 degrees.';
  for (const [key, word] of [['from', 'The start'], ['to', 'The end']])
    if (s[key] !== null && !whole(s[key], 0, 0xFFFFFFFF)) return `${word} of the range must be a whole number of ms, or empty.`;
  if (s.from !== null && s.to !== null && s.to < s.from) return 'The range ends before it starts.';
  const most = FORMATS[s.format].crfMost;
  if (s.crf !== -1 && !whole(s.crf, 0, most)) return `The quality must be a whole number from 0 (best) to ${most}, or empty.`;
  if (name !== null && (!name || name.includes('/') || name.startsWith('.')))
    return 'The name beside the scene must be a plain file name: no folder, not starting with a dot.';
  return null;
}
