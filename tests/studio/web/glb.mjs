// Binary glTF files made in the tests, in glTF's axes (+y up) as a modelling tool writes them: a
// level of boxes (each a node with its own mesh and colour), and a large terrain in one mesh.

// Counter-clockwise seen from outside, as glTF's front faces are.
const BOX_FACES = [[0, 2, 1, 0, 3, 2], [4, 5, 6, 4, 6, 7], [0, 5, 4, 0, 1, 5], [1, 6, 5, 1, 2, 6], [2, 7, 6, 2, 3, 7], [3, 4, 7, 3, 0, 4]];

/** A .glb of axis-aligned boxes {name, min: [x, y, z], max: [x, y, z], colour: [r, g, b]} in file axes. */
export function boxesGlb(boxes) {
  const bin = [];
  const gltf = { asset: { version: '2.0', generator: 'camsys tests' }, scene: 0, scenes: [{ nodes: [] }], nodes: [],
    meshes: [], materials: [], accessors: [], bufferViews: [] };
  let offset = 0;
  const view = (array, target) => {
    bin.push(Buffer.from(array.buffer, array.byteOffset, array.byteLength));
    gltf.bufferViews.push({ buffer: 0, byteOffset: offset, byteLength: array.byteLength, target });
    offset += array.byteLength;
    return gltf.bufferViews.length - 1;
  };
  boxes.forEach((box, i) => {
    const [a, b] = [box.min, box.max];
    const p = new Float32Array([a[0], a[1], a[2], b[0], a[1], a[2], b[0], b[1], a[2], a[0], b[1], a[2],
      a[0], a[1], b[2], b[0], a[1], b[2], b[0], b[1], b[2], a[0], b[1], b[2]]);
    const indices = new Uint16Array(BOX_FACES.flat());
    gltf.accessors.push({ bufferView: view(p, 34962), componentType: 5126, count: 8, type: 'VEC3', min: a, max: b });
    gltf.accessors.push({ bufferView: view(indices, 34963), componentType: 5123, count: indices.length, type: 'SCALAR' });
    gltf.materials.push({ pbrMetallicRoughness: { baseColorFactor: [...box.colour, 1], metallicFactor: 0 } });
    gltf.meshes.push({ primitives: [{ attributes: { POSITION: 2 * i }, indices: 2 * i + 1, material: i }] });
    gltf.nodes.push({ name: box.name, mesh: i });
    gltf.scenes[0].nodes.push(i);
  });
  const binary = Buffer.concat(bin);
  gltf.buffers = [{ byteLength: binary.length }];
  return glbOf(gltf, binary);
}

/** The .glb container of a glTF document and its one binary buffer. */
function glbOf(gltf, binary) {
  const pad = (buffer, fill) => Buffer.concat([buffer, Buffer.alloc((4 - (buffer.length % 4)) % 4, fill)]);
  const json = pad(Buffer.from(JSON.stringify(gltf)), 0x20);
  const data = pad(binary, 0);
  const header = Buffer.alloc(12);
  header.write('glTF', 0, 'ascii');
  header.writeUInt32LE(2, 4);
  header.writeUInt32LE(12 + 8 + json.length + 8 + data.length, 8);
  const chunk = (buffer, type) => {
    const h = Buffer.alloc(8);
    h.writeUInt32LE(buffer.length, 0);
    h.write(type, 4, 'ascii');
    return Buffer.concat([h, buffer]);
  };
  return Buffer.concat([header, chunk(json, 'JSON'), chunk(data, 'BIN\0')]);
}

/**
 * A .glb of one rolling terrain mesh of `cells` x `cells` quads (2 cells² triangles) spanning
 * [-size/2, size/2] in x and z, heights up to `height`, with normals: a large level in one draw.
 */
export function terrainGlb(cells, size, height) {
  const n = cells + 1;
  const positions = new Float32Array(n * n * 3), normals = new Float32Array(n * n * 3);
  const h = (x, z) => height * Math.sin(x * 0.05) * Math.cos(z * 0.04);
  for (let j = 0; j < n; ++j) {
    for (let i = 0; i < n; ++i) {
      const x = -size / 2 + (size * i) / cells, z = -size / 2 + (size * j) / cells, k = 3 * (j * n + i);
      positions.set([x, h(x, z) - height, z], k);
      const dx = h(x + 0.5, z) - h(x - 0.5, z), dz = h(x, z + 0.5) - h(x, z - 0.5), l = Math.hypot(dx, 1, dz);
      normals.set([-dx / l, 1 / l, -dz / l], k);
    }
  }
  const indices = new Uint32Array(cells * cells * 6);
  let t = 0;
  for (let j = 0; j < cells; ++j) {
    for (let i = 0; i < cells; ++i) {
      const a = j * n + i, b = a + 1, c = a + n, d = c + 1;
      indices.set([a, c, b, b, c, d], t);
      t += 6;
    }
  }
  const views = [positions, normals, indices].map((a) => Buffer.from(a.buffer, a.byteOffset, a.byteLength));
  const binary = Buffer.concat(views);
  let offset = 0;
  const bufferViews = views.map((v, k) => {
    const view = { buffer: 0, byteOffset: offset, byteLength: v.length, target: k < 2 ? 34962 : 34963 };
    offset += v.length;
    return view;
  });
  const gltf = {
    asset: { version: '2.0', generator: 'camsys tests' }, scene: 0, scenes: [{ nodes: [0] }],
    nodes: [{ name: 'Terrain', mesh: 0 }],
    meshes: [{ primitives: [{ attributes: { POSITION: 0, NORMAL: 1 }, indices: 2, material: 0 }] }],
    materials: [{ pbrMetallicRoughness: { baseColorFactor: [0.4, 0.55, 0.35, 1], metallicFactor: 0 } }],
    accessors: [
      { bufferView: 0, componentType: 5126, count: n * n, type: 'VEC3', min: [-size / 2, -2 * height, -size / 2], max: [size / 2, 0, size / 2] },
      { bufferView: 1, componentType: 5126, count: n * n, type: 'VEC3' },
      { bufferView: 2, componentType: 5125, count: indices.length, type: 'SCALAR' }],
    bufferViews, buffers: [{ byteLength: binary.length }],
  };
  return glbOf(gltf, binary);
}
