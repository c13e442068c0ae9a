// The page as `camsys render` opens it (?render=1): no studio, only the render the server holds,
// sent back to the server piece by piece with its progress, and its end or its failure.

import { prepareClip, renderClip } from './render.js';
import { sinkFor } from './clipsinks.js';

/** How often the progress goes to the server, ms. */
const PROGRESS_EVERY = 250;

export async function runRenderPage(api) {
  document.body.dataset.render = 'running';
  try {
    const { settings } = await api.render();
    const clip = await prepareClip(api, settings);
    let said = 0;
    await api.renderProgress(0, clip.frames.rows);
    const timings = await renderClip(clip, sinkFor(settings, (offset, bytes, frame) => api.renderData(offset, bytes, frame)), {
      onProgress: (done, total) => {
        const t = performance.now();
        if (t - said < PROGRESS_EVERY && done < total) return;
        said = t;
        api.renderProgress(done, total).catch(() => {});
      },
    });
    await api.renderFinish(timings);
    document.body.dataset.render = 'finished';
  } catch (error) {
    document.body.dataset.render = 'failed';
    await api.renderFail(String((error && error.message) || error)).catch(() => {});
  }
}
