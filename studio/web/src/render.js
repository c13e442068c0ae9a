// A flight rendered to a clip: the camera's view at every frame the server flew (one Run of the
// iterator at each frame's own time), drawn by the same world and the same placement of the
// camera as the studio's camera view, and handed to a sink (clipsinks.js) one frame at a time,
// at the renderer's own pace rather than in real time.

import * as THREE from 'three';
import { StudioState } from './state.js';
import { World } from './world.js';
import { placeEyeCamera } from './cameraview.js';
import { decodeFlight, eyeAxes } from './flight.js';
import { levelFromGlb } from './level.js';
import { drawOverlay, overlayFacts } from './overlay.js';

/** Milliseconds since the page started, as precise as the browser gives. */
const now = () => performance.now();

/**
 * What a render needs, fetched and built: the world as the camera view has it (with the level,
 * the path's lines only with `settings.showPath`, without the editor's ground grid), the frames
 * (decoded flight columns with `labels` and `waypoints`) and, for the overlay, the linter's
 * findings.
 */
export async function prepareClip(api, settings) {
  const lintParams = { iterator: settings.iterator || undefined, start: settings.start };
  const [scene, draw, levelBytes, answer, findings] = await Promise.all([
    api.scene(), api.draw(), api.level(), api.renderFrames(),
    settings.overlay ? api.lint(lintParams) : Promise.resolve([]),
  ]);
  const state = new StudioState();
  const world = new World(state);
  state.setScene(scene);
  state.setDraw(draw);
  state.setOption('showDrawing', !!settings.showPath);
  // The ground grid is the editor's, not the game's: a clip shows what the camera would.
  world.grid.visible = false;
  if (levelBytes) world.setLevel(await levelFromGlb(levelBytes));
  const frames = decodeFlight(answer);
  frames.labels = answer.labels || [];
  frames.waypoints = answer.waypoints || [];
  return { settings, world, frames, findings, iterator: answer.iterator, file: scene.file };
}

/** Draws frames of a prepared clip into a canvas of the render's size. */
export class FrameRenderer {
  constructor(width, height) {
    this.canvas = document.createElement('canvas');
    this.canvas.width = width;
    this.canvas.height = height;
    // The camera view's own settings (antialiased, no alpha needed: the world has a background).
    // Every frame is read in the task that draws it, so the drawing buffer need not be kept.
    this.renderer = new THREE.WebGLRenderer({ canvas: this.canvas, antialias: true, preserveDrawingBuffer: false });
    this.renderer.setPixelRatio(1);
    this.renderer.setSize(width, height, false);
    this.camera = new THREE.PerspectiveCamera(60, width / height, 0.05, 10000);
    this.axes = new Float32Array(9);
    this.eye = { x: 0, y: 0, z: 0, fov: 1 };
    this.gl = this.renderer.getContext();
    this.overlay = null;
    this.pixel = new Uint8Array(4);
  }

  /**
   * Renders frame `k` of `clip`. With the render's `timings`, reading one pixel waits for the
   * draw to complete (WebGL's finish does not wait in Chromium), so that the time it took is the
   * draw's own; without, the browser draws the next frame while the encoder reads this one.
   */
  draw(clip, k) {
    const f = clip.frames, e = this.eye;
    eyeAxes(f, k, this.axes);
    e.x = f.x[k]; e.y = f.y[k]; e.z = f.z[k]; e.fov = f.fov[k];
    placeEyeCamera(this.camera, e, this.axes, clip.settings.vfov, clip.world.extent);
    this.renderer.render(clip.world.scene, this.camera);
    if (clip.settings.timings) this.gl.readPixels(0, 0, 1, 1, this.gl.RGBA, this.gl.UNSIGNED_BYTE, this.pixel);
  }

  /** The canvas to take frame `k` from: with the overlay, a copy with the facts written over it. */
  source(clip, k) {
    if (!clip.settings.overlay) return this.canvas;
    if (!this.overlay) {
      this.overlay = document.createElement('canvas');
      this.overlay.width = this.canvas.width;
      this.overlay.height = this.canvas.height;
    }
    const context = this.overlay.getContext('2d');
    context.drawImage(this.canvas, 0, 0);
    drawOverlay(context, this.canvas.width, this.canvas.height, overlayFacts(clip, k));
    return this.overlay;
  }

  // A page allows a few WebGL contexts at once: a render in the studio gives its own back at once.
  dispose() { this.renderer.dispose(); this.renderer.forceContextLoss(); }
}

/**
 * Renders every frame of `clip` into `sink` ({start, add(source, index, clip), finish, cancel},
 * see clipsinks.js). `onProgress(done, total)` after each frame; `signal` (an AbortSignal)
 * stops it. Resolves with the time spent in each stage, in ms: drawing, reading the frame back,
 * encoding and sending it on (as the sink counts them), and the whole. The stages are the
 * render's own only with `settings.timings`: else the drawing goes on while the loop waits for
 * the encoder, and most of it shows as encoding.
 */
export async function renderClip(clip, sink, { onProgress = () => {}, signal = null } = {}) {
  const began = now();
  const total = clip.frames.rows;
  if (total === 0) throw new Error('the flight has no frame in the range asked for');
  const frames = new FrameRenderer(clip.settings.width, clip.settings.height);
  const timings = { frames: total, render: 0, readback: 0, encode: 0, transfer: 0, total: 0 };
  try {
    await sink.start(clip, timings);
    for (let k = 0; k < total; ++k) {
      if (signal && signal.aborted) throw new DOMException('the render was cancelled', 'AbortError');
      const t0 = now();
      frames.draw(clip, k);
      timings.render += now() - t0;
      await sink.add(frames.source(clip, k), k, clip);
      onProgress(k + 1, total);
    }
    await sink.finish();
  } catch (error) {
    await sink.cancel();
    throw error;
  } finally {
    frames.dispose();
  }
  timings.total = now() - began;
  for (const key of ['render', 'readback', 'encode', 'transfer', 'total']) timings[key] = Math.round(timings[key]);
  return timings;
}
