// Where rendered frames go: a video (WebCodecs' VideoEncoder, muxed by mediabunny into MP4 or
// WebM), a PNG per frame, or one PNG contact sheet. Each sink hands its bytes to `write(offset,
// bytes, frame)`: the render's output, on the studio's server or in memory (memoryTarget).
// `start(clip, timings)` once, `add(source, index)` per frame, then `finish()` or `cancel()`;
// each adds the time it spends to `timings` (readback, encode, transfer).

import { EncodedPacket, EncodedVideoPacketSource, Mp4OutputFormat, Output, StreamTarget, WebMOutputFormat } from 'mediabunny';

const now = () => performance.now();
/** The largest piece sent at once: the server takes bodies of up to 1 MiB. */
export const PIECE_BYTES = 512 * 1024;
/** Frames the encoder may hold before the renderer waits for it. */
const ENCODER_QUEUE = 4;

/** Sends `bytes` in pieces of at most PIECE_BYTES through `write`, from `offset`. */
async function writePieces(write, offset, bytes, frame) {
  for (let at = 0; at < bytes.length || at === 0; at += PIECE_BYTES) {
    await write(offset + at, bytes.subarray(at, Math.min(bytes.length, at + PIECE_BYTES)), frame);
    if (bytes.length === 0) break;
  }
}

/**
 * The codec string for WebCodecs: H.264 High profile at the level the frame size needs, or
 * VP9 profile 0, 8 bits.
 */
export function codecFor(format, width, height) {
  if (format === 'webm') return 'vp09.00.40.08';
  return width * height <= 1920 * 1088 ? 'avc1.640028' : 'avc1.640033';
}

/**
 * The bit rate for the frame size and rate: about 0.1 bit a pixel a frame, clean for rendered
 * scenes with large even surfaces. With `crf`, where the encoder takes no quantizer: the rate
 * doubles for every 6 below 23 and halves for every 6 above, as x264's CRF scale goes.
 */
export function bitrateFor({ width, height, fps, crf }) {
  const base = width * height * fps * 0.1;
  return Math.max(100_000, Math.round(crf >= 0 ? base * 2 ** ((23 - crf) / 6) : base));
}

/** The encoder's settings: a quantizer with `crf` (unless `quantizer` is false), else a bit rate. */
export function encoderConfig(settings, quantizer = true) {
  const { format, width, height, fps, crf } = settings;
  const config = { codec: codecFor(format, width, height), width, height, framerate: fps, latencyMode: 'quality' };
  if (format === 'mp4') config.avc = { format: 'avc' };
  if (crf >= 0 && quantizer) config.bitrateMode = 'quantizer';
  else config.bitrate = bitrateFor(settings);
  return config;
}

export class VideoSink {
  constructor(settings, write) {
    this.settings = settings;
    this.write = write;
  }

  async start(clip, timings) {
    const s = this.settings;
    this.timings = timings;
    let config = encoderConfig(s);
    this.quantizer = s.crf >= 0;
    // Chromium's H.264 encoder takes no quantizer: the quality then comes as a bit rate.
    if (this.quantizer && !(await VideoEncoder.isConfigSupported(config)).supported) {
      config = encoderConfig(s, false);
      this.quantizer = false;
    }
    const support = await VideoEncoder.isConfigSupported(config);
    if (!support.supported) {
      throw new Error(`this browser cannot encode ${config.codec} at ${s.width}x${s.height}` +
        (s.format === 'mp4' ? ' (try WebM: -o OUT.webm)' : ''));
    }
    const mp4 = s.format === 'mp4';
    const total = clip.frames.rows;
    const writable = new WritableStream({
      write: async (chunk) => {
        const t0 = now();
        await writePieces(this.write, chunk.position, chunk.data);
        timings.transfer += now() - t0;
      },
    });
    this.output = new Output({
      // The moov box ahead of the frames (a clip that starts playing before it has loaded), in
      // space reserved for the frame count known up front.
      format: mp4 ? new Mp4OutputFormat({ fastStart: 'reserve' }) : new WebMOutputFormat(),
      target: new StreamTarget(writable, { chunked: true, chunkSize: PIECE_BYTES }),
    });
    this.source = new EncodedVideoPacketSource(mp4 ? 'avc' : 'vp9');
    this.output.addVideoTrack(this.source, { frameRate: s.fps, maximumPacketCount: total + 8 });
    await this.output.start();
    this.failure = null;
    this.muxing = Promise.resolve();
    this.encoder = new VideoEncoder({
      output: (chunk, meta) => {
        this.muxing = this.muxing.then(() => this.source.add(EncodedPacket.fromEncodedChunk(chunk), meta))
          .catch((error) => { this.failure ||= error; });
      },
      error: (error) => { this.failure ||= error; },
    });
    this.encoder.configure(config);
    this.keyEvery = Math.max(1, Math.round(s.fps * 2));
  }

  async add(source, index) {
    if (this.failure) throw this.failure;
    const s = this.settings;
    let t0 = now();
    const frame = new VideoFrame(source, {
      timestamp: Math.round((index * 1e6) / s.fps),
      duration: Math.round(1e6 / s.fps),
    });
    this.timings.readback += now() - t0;
    t0 = now();
    const options = { keyFrame: index % this.keyEvery === 0 };
    if (this.quantizer) options[s.format === 'mp4' ? 'avc' : 'vp9'] = { quantizer: s.crf };
    this.encoder.encode(frame, options);
    frame.close();
    // The renderer runs ahead of the encoder by a few frames at most: memory stays flat.
    while (this.encoder.encodeQueueSize > ENCODER_QUEUE)
      await new Promise((resolve) => this.encoder.addEventListener('dequeue', resolve, { once: true }));
    this.timings.encode += now() - t0;
  }

  async finish() {
    const t0 = now();
    await this.encoder.flush();
    this.encoder.close();
    await this.muxing;
    if (this.failure) throw this.failure;
    this.timings.encode += now() - t0;
    await this.output.finalize();
  }

  async cancel() {
    try { if (this.encoder && this.encoder.state !== 'closed') this.encoder.close(); } catch { /* closed already */ }
    try { if (this.output && this.output.state === 'started') await this.output.cancel(); } catch { /* nothing to keep */ }
  }
}

/** A copy of `canvas` as it is now (before any await, while a WebGL canvas still holds its frame). */
function snapshot(canvas) {
  const copy = new OffscreenCanvas(canvas.width, canvas.height);
  copy.getContext('2d').drawImage(canvas, 0, 0);
  return copy;
}

/**
 * The bytes of a PNG of an OffscreenCanvas: a page canvas's toBlob waits for the page to go
 * idle, which a render never does, and then takes a second a frame.
 */
async function pngBytes(offscreen) {
  const blob = await offscreen.convertToBlob({ type: 'image/png' });
  return new Uint8Array(await blob.arrayBuffer());
}

/** Frames whose PNG is still being made or sent while the next ones are drawn. */
const FRAMES_IN_FLIGHT = 3;

/**
 * A PNG file per frame, numbered from 0 as the frames of the render. A frame is copied at once;
 * its PNG is made and sent while the next frames are drawn.
 */
export class FramesSink {
  constructor(settings, write) {
    this.write = write;
    this.pending = [];
    // With `timings` each stage waits for the one before, so that each is timed on its own.
    this.inFlight = settings.timings ? 1 : FRAMES_IN_FLIGHT;
  }

  async start(clip, timings) { this.timings = timings; }

  async add(source, index) {
    const t0 = now();
    const copy = snapshot(source);
    this.timings.readback += now() - t0;
    const sent = this.send(copy, index);
    sent.catch(() => {});  // reported where it is awaited, not as unhandled in between
    this.pending.push(sent);
    if (this.pending.length >= this.inFlight) await this.pending.shift();
  }

  async send(copy, index) {
    let t0 = now();
    const bytes = await pngBytes(copy);
    this.timings.encode += now() - t0;
    t0 = now();
    await writePieces(this.write, 0, bytes, index);
    this.timings.transfer += now() - t0;
  }

  async finish() { await Promise.all(this.pending.splice(0)); }

  async cancel() { await Promise.allSettled(this.pending.splice(0)); }
}

/** Cells a row of a contact sheet holds. */
const SHEET_COLUMNS = 4;

/**
 * One PNG of the frames in a grid, each cell the render's size with a caption under it: its
 * time and what happens there (the moments' labels the server sends with the frames).
 */
export class SheetSink {
  constructor(settings, write) {
    this.settings = settings;
    this.write = write;
  }

  async start(clip, timings) {
    this.timings = timings;
    this.clip = clip;
    const { width, height } = this.settings;
    const n = clip.frames.rows;
    this.columns = Math.min(SHEET_COLUMNS, n);
    this.caption = Math.max(18, Math.round(height / 12));
    this.title = this.caption + 8;
    const rows = Math.ceil(n / this.columns);
    this.gap = 8;
    this.canvas = document.createElement('canvas');
    this.canvas.width = this.columns * (width + this.gap) + this.gap;
    this.canvas.height = this.title + rows * (height + this.caption + this.gap) + this.gap;
    const c = this.context = this.canvas.getContext('2d');
    c.fillStyle = '#1d2127';
    c.fillRect(0, 0, this.canvas.width, this.canvas.height);
    c.fillStyle = '#e8ecf1';
    c.font = `bold ${Math.round(this.caption * 0.6)}px sans-serif`;
    c.textBaseline = 'middle';
    c.fillText(`${clip.file} · ${clip.iterator} · ${n} shots`, this.gap, this.title / 2 + 2);
  }

  async add(source, index) {
    const t0 = now();
    const { width, height } = this.settings;
    const c = this.context, f = this.clip.frames;
    const x = this.gap + (index % this.columns) * (width + this.gap);
    const y = this.title + Math.floor(index / this.columns) * (height + this.caption + this.gap);
    c.drawImage(source, x, y, width, height);
    const since = ((f.time[index] - (this.settings.start >>> 0)) >>> 0) / 1000;
    c.fillStyle = '#e8ecf1';
    c.font = `${Math.round(this.caption * 0.55)}px sans-serif`;
    c.fillText(`${since.toFixed(3)} s · ${this.clip.frames.labels[index] || ''}`, x + 4, y + height + this.caption / 2, width - 8);
    this.timings.readback += now() - t0;
  }

  async finish() {
    let t0 = now();
    const bytes = await pngBytes(snapshot(this.canvas));
    this.timings.encode += now() - t0;
    t0 = now();
    await writePieces(this.write, 0, bytes);
    this.timings.transfer += now() - t0;
  }

  async cancel() {}
}

/** The sink for `settings.format`. */
export function sinkFor(settings, write) {
  if (settings.format === 'frames') return new FramesSink(settings, write);
  if (settings.format === 'sheet') return new SheetSink(settings, write);
  return new VideoSink(settings, write);
}

/** A `write` that keeps a single file in memory; `bytes()` gives it once complete. */
export function memoryTarget() {
  let buffer = new Uint8Array(1 << 20), size = 0;
  const write = async (offset, bytes, frame) => {
    if (frame !== undefined) throw new Error('frames can only be written beside the scene');
    const end = offset + bytes.length;
    if (end > buffer.length) {
      const grown = new Uint8Array(Math.max(end, buffer.length * 2));
      grown.set(buffer.subarray(0, size));
      buffer = grown;
    }
    buffer.set(bytes, offset);
    size = Math.max(size, end);
  };
  return { write, bytes: () => buffer.slice(0, size) };
}
