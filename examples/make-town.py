#!/usr/bin/env python3
"""Writes examples/town.glb, the level examples/flythrough.json flies through.

A small town in plain colours: ground, streets, houses, a walled square entered through a gate
arch, the tower, the statue, the fountain and the balloon where the flight's targets stand, trees.
Everything is made in the world's axes (+z up, units as the scene's) and written as glTF
(+y up): a world point (x, y, z) is (x, z, -y) in the file. Every surface keeps 2 units or more
from the eye of `camsys fly examples/flythrough.json` (either iterator).

    python3 examples/make-town.py [OUT.glb]      (default: town.glb beside this script)
    python3 examples/make-town.py --clearance FLY.csv...   the least distance from the eyes of
                                                          `camsys fly` rows to each object

Standard library only; the output is the same bytes on every run.
"""

import json
import math
import os
import struct
import sys

# -- shapes: lists of triangles, each three (x, y, z) corners counter-clockwise from outside ----


def quad(a, b, c, d):
    return [(a, b, c), (a, c, d)]


def box(x0, y0, z0, x1, y1, z1):
    p = [(x0, y0, z0), (x1, y0, z0), (x1, y1, z0), (x0, y1, z0),
         (x0, y0, z1), (x1, y0, z1), (x1, y1, z1), (x0, y1, z1)]
    faces = [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)]
    return [t for f in faces for t in quad(*(p[i] for i in f))]


def gable_roof(x0, y0, x1, y1, z0, z1, along_x):
    """A pitched roof over the rectangle, its ridge at z1 along x (or y)."""
    if along_x:
        ym = (y0 + y1) / 2
        a, b, c, d = (x0, y0, z0), (x1, y0, z0), (x1, y1, z0), (x0, y1, z0)
        r0, r1 = (x0, ym, z1), (x1, ym, z1)
        return quad(a, b, r1, r0) + quad(c, d, r0, r1) + [(d, a, r0), (b, c, r1)]
    xm = (x0 + x1) / 2
    a, b, c, d = (x0, y0, z0), (x1, y0, z0), (x1, y1, z0), (x0, y1, z0)
    r0, r1 = (xm, y0, z1), (xm, y1, z1)
    return quad(b, c, r1, r0) + quad(d, a, r0, r1) + [(a, b, r0), (c, d, r1)]


def ring(cx, cy, z, r, n):
    return [(cx + r * math.cos(2 * math.pi * i / n), cy + r * math.sin(2 * math.pi * i / n), z) for i in range(n)]


def cylinder(cx, cy, z0, z1, r, n=16):
    lo, hi = ring(cx, cy, z0, r, n), ring(cx, cy, z1, r, n)
    tris = []
    for i in range(n):
        j = (i + 1) % n
        tris += quad(lo[i], lo[j], hi[j], hi[i])
        tris.append(((cx, cy, z1), hi[i], hi[j]))
        tris.append(((cx, cy, z0), lo[j], lo[i]))
    return tris


def cone(cx, cy, z0, z1, r, n=16):
    lo = ring(cx, cy, z0, r, n)
    tris = []
    for i in range(n):
        j = (i + 1) % n
        tris.append((lo[i], lo[j], (cx, cy, z1)))
        tris.append(((cx, cy, z0), lo[j], lo[i]))
    return tris


def sphere(cx, cy, cz, r, n=16, m=10):
    def at(i, k):  # k from 0 (bottom pole) to m (top pole)
        polar = math.pi * k / m - math.pi / 2
        a = 2 * math.pi * i / n
        return (cx + r * math.cos(polar) * math.cos(a), cy + r * math.cos(polar) * math.sin(a), cz + r * math.sin(polar))
    tris = []
    for k in range(m):
        for i in range(n):
            j = (i + 1) % n
            a, b, c, d = at(i, k), at(j, k), at(j, k + 1), at(i, k + 1)
            if k == 0:
                tris.append((a, c, d))
            elif k == m - 1:
                tris.append((a, b, c))
            else:
                tris += quad(a, b, c, d)
    return tris


# -- the town ------------------------------------------------------------------------------------

COLOURS = {
    "grass": (0.36, 0.55, 0.27), "street": (0.42, 0.41, 0.40), "plaster": (0.86, 0.80, 0.68),
    "brick": (0.66, 0.36, 0.27), "roof": (0.55, 0.20, 0.15), "slate": (0.30, 0.32, 0.38),
    "stone": (0.62, 0.60, 0.56), "bronze": (0.55, 0.42, 0.22), "water": (0.25, 0.50, 0.75),
    "leaf": (0.18, 0.42, 0.20), "bark": (0.40, 0.28, 0.18), "balloon": (0.85, 0.25, 0.22),
    "basket": (0.55, 0.40, 0.22), "sign": (0.85, 0.75, 0.30),
}


def town():
    """(name, colour, triangles) of every object, in the file's order."""
    objects = [("Ground", "grass", quad((-90, -40, -0.05), (170, -40, -0.05), (170, 200, -0.05), (-90, 200, -0.05)))]
    streets = [(-90, -6, 170, 2), (12, -40, 18, 200), (-90, 98, 170, 104), (130, -40, 136, 200)]
    for i, (x0, y0, x1, y1) in enumerate(streets):
        objects.append((f"Street {i + 1}", "street", quad((x0, y0, 0), (x1, y0, 0), (x1, y1, 0), (x0, y1, 0))))

    # The walled square, x 20..125, y 10..92, entered from the south through the gate at x 30.
    wall, h = 1.0, 4.0
    walls = [box(20, 10, 0, 26, 10 + wall, h), box(34, 10, 0, 125, 10 + wall, h),  # south, the gate between
             box(20, 92 - wall, 0, 125, 92, h), box(20, 10, 0, 20 + wall, 92, h), box(125 - wall, 10, 0, 125, 92, h)]
    objects.append(("Square walls", "stone", [t for w in walls for t in w]))
    gate = box(25, 9.5, 0, 27, 11.5, 7) + box(33, 9.5, 0, 35, 11.5, 7) + box(25, 9.5, 7, 35, 11.5, 8.5)
    objects.append(("Gate", "stone", gate))
    objects.append(("Square paving", "street", quad((21, 11, 0.02), (124, 11, 0.02), (124, 91, 0.02), (21, 91, 0.02))))

    objects.append(("Tower", "brick", cylinder(40, 120, 0, 30, 4, 20)))
    objects.append(("Tower roof", "slate", cone(40, 120, 30, 38, 5, 20)))
    objects.append(("Statue", "bronze", box(93.5, 58.5, 2, 96.5, 61.5, 3) + cylinder(95, 60, 3, 7, 0.7, 10)
                    + sphere(95, 60, 7.6, 0.7, 10, 6)))
    objects.append(("Statue plinth", "stone", box(93, 58, 0, 97, 62, 2)))
    objects.append(("Fountain", "stone", cylinder(100, 80, 0, 0.8, 4, 24) + cylinder(100, 80, 0.8, 3, 0.5, 10)
                    + cylinder(100, 80, 3, 3.3, 1.5, 16)))
    objects.append(("Fountain water", "water", cylinder(100, 80, 0.8, 0.9, 3.6, 24)))
    objects.append(("Balloon", "balloon", sphere(70, 140, 36, 3.5, 20, 12)))
    objects.append(("Balloon basket", "basket", box(69, 139, 30.5, 71, 141, 31.5)))
    objects.append(("Intro sign", "sign", box(-20.2, 9.8, 0, -19.8, 10.2, 1.5) + box(-21.5, 9.9, 1.5, -18.5, 10.1, 2.5)))
    objects.append(("Finale stage", "stone", box(-56, 84, 0, -44, 96, 0.5)))

    # Houses along the streets, outside the square: walls and a pitched roof, below 8 units.
    lots = [(-60, 6), (-44, 6), (-28, 6), (-60, -20), (-44, -20), (-10, -20), (40, -20), (60, -20), (85, -20),
            (110, -20), (145, -20), (145, 6), (145, 30), (145, 60), (145, 110), (145, 140), (110, 108), (85, 108),
            (60, 130), (-30, 108), (-60, 108), (-70, 140), (-30, 170), (0, 130), (100, 170)]
    for i, (x, y) in enumerate(lots):
        wide = i % 3 == 0
        w, d = (10, 7) if wide else (8, 8)
        colour = "plaster" if i % 2 == 0 else "brick"
        body = box(x, y, 0, x + w, y + d, 4 + (i % 2))
        roof = gable_roof(x - 0.3, y - 0.3, x + w + 0.3, y + d + 0.3, 4 + (i % 2), 7 + (i % 2) * 0.5, wide)
        objects.append((f"House {i + 1}", colour, body))
        objects.append((f"House {i + 1} roof", "roof", roof))

    trees = [(-75, 30), (-70, 60), (-20, 60), (0, 60), (-5, 85), (50, 150), (75, 180), (-40, 70), (150, 90), (160, 20),
             (120, 150), (90, 190), (20, 160), (-50, 150), (-80, 180), (160, 180)]
    for i, (x, y) in enumerate(trees):
        objects.append((f"Tree {i + 1}", "leaf", cone(x, y, 2, 8, 2.5, 12)))
        objects.append((f"Tree {i + 1} trunk", "bark", cylinder(x, y, 0, 2, 0.4, 8)))
    return objects


# -- glTF ----------------------------------------------------------------------------------------


def to_gltf(p):
    return (p[0], p[2], -p[1])


def normal(a, b, c):
    u = [b[i] - a[i] for i in range(3)]
    v = [c[i] - a[i] for i in range(3)]
    n = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
    length = math.sqrt(sum(x * x for x in n))
    return tuple(x / length for x in n)


def glb(objects):
    buffer = bytearray()
    gltf = {"asset": {"version": "2.0", "generator": "camsys examples/make-town.py"},
            "scene": 0, "scenes": [{"name": "Town", "nodes": []}], "nodes": [], "meshes": [], "materials": [],
            "accessors": [], "bufferViews": [], "buffers": []}
    material_of = {}
    for name, colour in COLOURS.items():
        material_of[name] = len(gltf["materials"])
        gltf["materials"].append({"name": name, "pbrMetallicRoughness": {
            "baseColorFactor": [*COLOURS[name], 1.0], "metallicFactor": 0.0, "roughnessFactor": 0.9}})

    def view(data, target):
        gltf["bufferViews"].append({"buffer": 0, "byteOffset": len(buffer), "byteLength": len(data), "target": target})
        buffer.extend(data)
        return len(gltf["bufferViews"]) - 1

    for name, colour, triangles in objects:
        positions, normals = [], []
        for t in triangles:
            g = [tuple(float(struct.unpack("<f", struct.pack("<f", c))[0]) for c in to_gltf(p)) for p in t]
            n = normal(*g)
            positions += g
            normals += [n, n, n]
        pos = view(b"".join(struct.pack("<3f", *p) for p in positions), 34962)
        nrm = view(b"".join(struct.pack("<3f", *n) for n in normals), 34962)
        lo = [min(p[i] for p in positions) for i in range(3)]
        hi = [max(p[i] for p in positions) for i in range(3)]
        gltf["accessors"].append({"bufferView": pos, "componentType": 5126, "count": len(positions), "type": "VEC3",
                                  "min": lo, "max": hi})
        gltf["accessors"].append({"bufferView": nrm, "componentType": 5126, "count": len(normals), "type": "VEC3"})
        gltf["meshes"].append({"name": name, "primitives": [{
            "attributes": {"POSITION": len(gltf["accessors"]) - 2, "NORMAL": len(gltf["accessors"]) - 1},
            "material": material_of[colour]}]})
        gltf["nodes"].append({"name": name, "mesh": len(gltf["meshes"]) - 1})
        gltf["scenes"][0]["nodes"].append(len(gltf["nodes"]) - 1)
    gltf["buffers"].append({"byteLength": len(buffer)})

    text = json.dumps(gltf, separators=(",", ":")).encode()
    text += b" " * (-len(text) % 4)
    buffer.extend(b"\0" * (-len(buffer) % 4))
    length = 12 + 8 + len(text) + 8 + len(buffer)
    return (struct.pack("<4sII", b"glTF", 2, length) + struct.pack("<I4s", len(text), b"JSON") + text
            + struct.pack("<I4s", len(buffer), b"BIN\0") + bytes(buffer))


def point_triangle_distance(p, t):
    """The distance from p to the triangle t (closest point by regions, as in Ericson's book)."""
    a, b, c = t
    sub = lambda u, v: (u[0] - v[0], u[1] - v[1], u[2] - v[2])
    dot = lambda u, v: u[0] * v[0] + u[1] * v[1] + u[2] * v[2]
    ab, ac, ap = sub(b, a), sub(c, a), sub(p, a)
    d1, d2 = dot(ab, ap), dot(ac, ap)
    if d1 <= 0 and d2 <= 0:
        q = a
    else:
        bp = sub(p, b)
        d3, d4 = dot(ab, bp), dot(ac, bp)
        cp = sub(p, c)
        d5, d6 = dot(ab, cp), dot(ac, cp)
        vc, vb, va = d1 * d4 - d3 * d2, d5 * d2 - d1 * d6, d3 * d6 - d5 * d4
        if d3 >= 0 and d4 <= d3:
            q = b
        elif d6 >= 0 and d5 <= d6:
            q = c
        elif vc <= 0 and d1 >= 0 and d3 <= 0:
            v = d1 / (d1 - d3)
            q = tuple(a[i] + v * ab[i] for i in range(3))
        elif vb <= 0 and d2 >= 0 and d6 <= 0:
            w = d2 / (d2 - d6)
            q = tuple(a[i] + w * ac[i] for i in range(3))
        elif va <= 0 and d4 - d3 >= 0 and d5 - d6 >= 0:
            w = (d4 - d3) / ((d4 - d3) + (d5 - d6))
            q = tuple(b[i] + w * (c[i] - b[i]) for i in range(3))
        else:
            denom = 1 / (va + vb + vc)
            v, w = vb * denom, vc * denom
            q = tuple(a[i] + ab[i] * v + ac[i] * w for i in range(3))
    return math.dist(p, q)


def clearance(files):
    eyes = []
    for name in files:
        with open(name) as f:
            rows = f.read().split("\n")[1:]
        eyes += [tuple(float(x) for x in row.split(",")[2:5]) for row in rows if row]
    nearest = []
    for name, _, triangles in town():
        lo = [min(p[i] for t in triangles for p in t) for i in range(3)]
        hi = [max(p[i] for t in triangles for p in t) for i in range(3)]
        best = (math.inf, None)
        for e in eyes:
            box = math.dist(e, [min(max(e[i], lo[i]), hi[i]) for i in range(3)])
            if box >= best[0]:
                continue
            best = min(best, (min(point_triangle_distance(e, t) for t in triangles), e))
        nearest.append((best[0], name, best[1]))
    for d, name, e in sorted(nearest)[:8]:
        print(f"{d:8.3f}  {name}  (eye {e})")


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--clearance":
        clearance(sys.argv[2:])
        return
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "town.glb")
    objects = town()
    data = glb(objects)
    with open(out, "wb") as f:
        f.write(data)
    print(f"{out}: {len(objects)} objects, {sum(len(t) for _, _, t in objects)} triangles, {len(data)} bytes")


if __name__ == "__main__":
    main()
