// Bundles the studio page: `node build.mjs OUTDIR` writes exactly OUTDIR/index.html,
// OUTDIR/studio.js (one minified ES module, src/main.js and its packages), OUTDIR/studio.css
// (the page's own CSS and uPlot's) and OUTDIR/generateMeshBVH.worker.js (the worker that builds
// a level's ray hierarchies), and beside each its brotli (.br) and gzip (.gz) forms. The server
// embeds these files and serves them at "/" and under "/assets/", compressed as the browser
// accepts; nothing may be fetched from elsewhere.
// Compressing here, once and at the highest settings, costs the build about a second; the
// server would otherwise spend that on every load of the page.

import { build } from 'esbuild';
import { mkdtemp, readFile, readdir, rename, rm, mkdir, writeFile } from 'node:fs/promises';
import { dirname, join, resolve } from 'node:path';
import { brotliCompressSync, constants, gzipSync } from 'node:zlib';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const outDir = process.argv[2];
if (!outDir) {
  console.error('usage: node build.mjs OUTDIR');
  process.exit(2);
}

async function main() {
  const out = resolve(outDir);
  await mkdir(out, { recursive: true });
  // Built beside the target and moved in at the end: a failed build leaves the old page whole.
  const work = await mkdtemp(join(out, '.build-'));
  try {
    const result = await build({
      absWorkingDir: here,
      // The level's ray hierarchies are built in a worker the page starts from its own folder.
      entryPoints: { studio: 'src/main.js', 'generateMeshBVH.worker': 'node_modules/three-mesh-bvh/src/workers/generateMeshBVH.worker.js' },
      bundle: true,
      format: 'esm',
      target: ['chrome111', 'firefox115', 'safari16.4'],
      minify: true,
      sourcemap: false,
      legalComments: 'none',
      outdir: work,
      logLevel: 'warning',
      metafile: true,
    });
    const made = (await readdir(work)).sort();
    if (made.join(',') !== 'generateMeshBVH.worker.js,studio.css,studio.js')
      throw new Error(`the bundle should be studio.js, studio.css and generateMeshBVH.worker.js, not ${made.join(', ')}`);
    for (const file of made) {
      const text = await readFile(join(work, file), 'utf8');
      // The page must work offline: no reference to another site may slip in with a package.
      const external = text.match(/(?:url\(\s*["']?|import\s*\(?\s*["']|src=["'])(?:https?:)?\/\/[^"')\s]+/);
      if (external) throw new Error(`${file} refers to ${external[0]}`);
    }
    const html = await readFile(join(here, 'index.html'), 'utf8');
    for (const asset of ['/assets/studio.js', '/assets/studio.css'])
      if (!html.includes(asset)) throw new Error(`index.html does not load ${asset}`);
    await writeFile(join(work, 'index.html'), html);
    const files = ['index.html', 'studio.js', 'studio.css', 'generateMeshBVH.worker.js'];
    for (const file of files) {
      const bytes = await readFile(join(work, file));
      await writeFile(join(work, `${file}.br`), brotliCompressSync(bytes, {
        params: { [constants.BROTLI_PARAM_QUALITY]: 11, [constants.BROTLI_PARAM_SIZE_HINT]: bytes.length },
      }));
      await writeFile(join(work, `${file}.gz`), gzipSync(bytes, { level: 9 }));
    }
    for (const file of files.flatMap((f) => [f, `${f}.br`, `${f}.gz`])) await rename(join(work, file), join(out, file));
    const sizes = Object.entries(result.metafile.outputs).map(([f, o]) => `${f.split('/').pop()} ${(o.bytes / 1024).toFixed(0)} KiB`);
    console.log(`studio page: ${sizes.join(', ')} -> ${out}`);
  } finally {
    await rm(work, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(`build.mjs: ${error.message}`);
  process.exit(1);
});
