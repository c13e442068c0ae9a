// Binary glTF files made in the tests, in glTF's axes (+y up) as a modelling tool writes them: a
// level of boxes (each a node with its own mesh and colour), and a large terrain in one mesh.

// Counter-clockwise seen from outside, as glTF's front faces are.
const BOX_FACES = [[0, 2, 1, 0, 3, 2], [4, 5, 6, 4, 6, 7], [0, 5, 4, 0, 1, 5], [1, 6, 5, 1, 2, 6], [2, 7, 6, 2, 3, 7], [3, 4, 7, 3, 0, 4]];

/** A .glb of axis-aligned boxes {name, min: [x, y, z], max: [x, y, z], colour: [r, g, b]} in file axes. */
export function boxesGlb(boxes) {
  return meshesGlb(boxes.map(({ name, min: a, max: b, colour }) => ({ name, colour, indices: new Uint16Array(BOX_FACES.flat()),
    positions: new Float32Array([a[0], a[1], a[2], b[0], a[1], a[2], b[0], b[1], a[2], a[0], b[1], a[2],
      a[0], a[1], b[2], b[0], a[1], b[2], b[0], b[1], b[2], a[0], b[1], b[2]]) })));
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
  for (let j = 0, t = 0; j < cells; ++j) {
    for (let i = 0; i < cells; ++i, t += 6) {
      const a = j * n + i, b = a + 1, c = a + n, d = c + 1;
      indices.set([a, c, b, b, c, d], t);
    }
  }
  return meshesGlb([{ name: 'Terrain', positions, normals, indices, colour: [0.4, 0.55, 0.35] }]);
}

/** A .glb of meshes {name, positions, normals (or none), indices, colour: [r, g, b]}, each a node of the scene. */
function meshesGlb(meshes) {
  const gltf = { asset: { version: '2.0', generator: 'camsys tests' }, scene: 0, scenes: [{ nodes: [] }], nodes: [],
    meshes: [], materials: [], accessors: [], bufferViews: [] };
  const bin = [];
  let offset = 0;
  /** The accessor of `array` in a buffer view of its own. */
  const accessor = (array, type, target, bounds = {}) => {
    bin.push(Buffer.from(array.buffer, array.byteOffset, array.byteLength));
    gltf.bufferViews.push({ buffer: 0, byteOffset: offset, byteLength: array.byteLength, target });
    offset += array.byteLength;
    const componentType = array instanceof Float32Array ? 5126 : array instanceof Uint16Array ? 5123 : 5125;
    gltf.accessors.push({ bufferView: gltf.bufferViews.length - 1, componentType, count: array.length / (type === 'VEC3' ? 3 : 1),
      type, ...bounds });
    return gltf.accessors.length - 1;
  };
  meshes.forEach(({ name, positions, normals, indices, colour }, i) => {
    const axes = [0, 1, 2].map((k) => positions.filter((_, j) => j % 3 === k));
    const attributes = { POSITION: accessor(positions, 'VEC3', 34962,
      { min: axes.map((v) => v.reduce((a, b) => Math.min(a, b))), max: axes.map((v) => v.reduce((a, b) => Math.max(a, b))) }) };
    if (normals) attributes.NORMAL = accessor(normals, 'VEC3', 34962);
    gltf.meshes.push({ primitives: [{ attributes, indices: accessor(indices, 'SCALAR', 34963), material: i }] });
    gltf.materials.push({ pbrMetallicRoughness: { baseColorFactor: [...colour, 1], metallicFactor: 0 } });
    gltf.nodes.push({ name, mesh: i });
    gltf.scenes[0].nodes.push(i);
  });
  const pad = (buffer, fill) => Buffer.concat([buffer, Buffer.alloc((4 - (buffer.length % 4)) % 4, fill)]);
  const data = pad(Buffer.concat(bin), 0);
  gltf.buffers = [{ byteLength: data.length }];
  const json = pad(Buffer.from(JSON.stringify(gltf)), 0x20);
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
