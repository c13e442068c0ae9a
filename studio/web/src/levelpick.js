// Pointing at the level: each of its meshes gets a bounding volume hierarchy (three-mesh-bvh),
// built in a worker so that a level of a million triangles does not stall the page, and rays
// against it then cost microseconds. Until a mesh has its hierarchy, rays pass through it.

import * as THREE from 'three';
import { GenerateMeshBVHWorker } from 'three-mesh-bvh/worker';

/**
 * Builds the hierarchies of the level's meshes, one after the other in one worker; resolves once
 * all are ready. The worker borrows a mesh's arrays while it works on them: call this once the
 * level has been drawn (its buffers are on the GPU).
 */
export async function indexLevel(level) {
  const meshes = [];
  level.traverse((o) => { if (o.isMesh && o.geometry.attributes.position) meshes.push(o); });
  const worker = new GenerateMeshBVHWorker();
  try {
    for (const mesh of meshes) {
      mesh.geometry.boundsTree = await worker.generate(mesh.geometry);
      mesh.userData.pickable = true;
    }
  } finally {
    worker.dispose();
  }
  level.userData.indexed = true;
}

const local = new THREE.Ray();
const inverse = new THREE.Matrix4();

/**
 * The first surface of the level along `raycaster`'s ray, from either side (levels come with
 * faces wound either way): {point, normal} in world axes, the normal facing the ray's origin;
 * null when the ray meets none.
 */
export function surfaceHit(level, raycaster) {
  if (!level || !level.visible || !level.userData.indexed) return null;
  const ray = raycaster.ray;
  let best = null;
  level.traverse((mesh) => {
    if (!mesh.userData.pickable || !mesh.visible) return;
    local.copy(ray).applyMatrix4(inverse.copy(mesh.matrixWorld).invert());
    const hit = mesh.geometry.boundsTree.raycastFirst(local, THREE.DoubleSide);
    if (!hit) return;
    const point = hit.point.clone().applyMatrix4(mesh.matrixWorld);
    const distance = point.distanceTo(ray.origin);
    if (best && best.distance <= distance) return;
    const normal = hit.face.normal.clone().transformDirection(mesh.matrixWorld);
    if (normal.dot(ray.direction) > 0) normal.negate();
    best = { point, normal, distance };
  });
  return best && { point: best.point, normal: best.normal };
}
