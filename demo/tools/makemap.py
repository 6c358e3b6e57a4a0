#!/usr/bin/env python3
"""Writes a small world from a plain room description: a ".bsp" (areas, door portals, BSP),
its ".kdt" twin, a ".lmf" with a light grid and one baked lightmap, and a ".cm" collision model
("worldMap": a brush for every floor, ceiling, wall piece and box model).

Description lines (blank lines and '#' comments ignored):
  room  x0 x1                  a room spanning x0..x1 (rooms touch along x, in order)
  size  y z                    every room's extent in y and z (from 0)
  door  x y0 y1 z0 z1          a door portal in the wall at x
  model name x y z half        a box model entity
  panel name x y z w h gui     an in-world interface: a w x h screen facing -x showing the gui
  light x y z radius r g b     a point light
  speaker x y z shader         a sound speaker
  start x y z angle            the player start

Usage: makemap.py description.rooms out/maps/demo   (writes demo.bsp, demo.kdt, demo.lmf, demo.cm)
The sample map's ".bsp" then gets its lights' prelight shadow volumes from the map tool beside this
script: bakeshadows demo out/maps/demo.bsp (bakeshadows.cpp, built with the engine).
"""
import struct
import sys

WALL = "textures/samples/wall"


def fmt(v):
    s = "%.5f" % v
    s = s.rstrip("0").rstrip(".") if "." in s else s
    return "0" if s in ("-0", "") else s


def floats(vals):
    return " ".join(fmt(v) for v in vals)


# Baked light: every lit quad gets its own TILE x TILE texels of one LM x LM lightmap.
TILE = 16
LM = 256
lit_quads = []


def quad(corners, normal, surf):
    """Appends a quad (four corners, counter-clockwise seen from where the normal points)."""
    base = len(surf["verts"])
    st = [(0, 0), (1, 0), (1, 1), (0, 1)]
    tile = len(lit_quads)
    if surf["lightmap"] >= 0:
        lit_quads.append((corners, normal))
    for c, (s, t) in zip(corners, st):
        if surf["lightmap"] >= 0:
            # Texel centres at the tile's edges, so filtering never reads the next tile.
            ls = ((tile % (LM // TILE)) * TILE + 0.5 + s * (TILE - 1)) / LM
            lt = ((tile // (LM // TILE)) * TILE + 0.5 + t * (TILE - 1)) / LM
        else:
            ls, lt = s * 0.5, t * 0.5
        surf["verts"].append(list(c) + [s, t, ls, lt] + list(normal))
    surf["indexes"] += [base, base + 1, base + 2, base, base + 2, base + 3]


def bake_lightmap(lights, rooms, doors):
    """The lightmap of the lit quads: a little ambient, then each point light with a linear falloff
    and the cosine at the surface; the walls between rooms block it except through their doors."""
    walls = [x0 for (x0, x1) in rooms[1:]]

    def blocked(p, l):
        for x in walls:
            if (p[0] - x) * (l[0] - x) >= 0:
                continue
            f = (x - p[0]) / (l[0] - p[0])
            y = p[1] + (l[1] - p[1]) * f
            z = p[2] + (l[2] - p[2]) * f
            if not any(dx == x and dy0 <= y <= dy1 and dz0 <= z <= dz1 for (dx, dy0, dy1, dz0, dz1) in doors):
                return True
        return False

    pixels = bytearray([20, 20, 22]) * (LM * LM)
    for tile, (c, n) in enumerate(lit_quads):
        tx, ty = (tile % (LM // TILE)) * TILE, (tile // (LM // TILE)) * TILE
        for j in range(TILE):
            for i in range(TILE):
                u, v = i / (TILE - 1), j / (TILE - 1)
                w = [(1 - u) * (1 - v), u * (1 - v), u * v, (1 - u) * v]
                # Nudged off the surface so a wall's own plane does not block it.
                p = [sum(w[k] * c[k][a] for k in range(4)) + n[a] * 0.5 for a in range(3)]
                rgb = [0.13, 0.13, 0.14]
                for (lx, ly, lz, r, cr, cg, cb) in lights:
                    d = [lx - p[0], ly - p[1], lz - p[2]]
                    dist = (d[0] ** 2 + d[1] ** 2 + d[2] ** 2) ** 0.5
                    if dist >= r or dist == 0 or blocked(p, (lx, ly, lz)):
                        continue
                    cos = max(0.0, (d[0] * n[0] + d[1] * n[1] + d[2] * n[2]) / dist)
                    k = (1 - dist / r) * (0.35 + 0.65 * cos) * 0.6
                    rgb = [rgb[0] + cr * k, rgb[1] + cg * k, rgb[2] + cb * k]
                o = ((ty + j) * LM + tx + i) * 3
                pixels[o:o + 3] = bytes(min(255, int(255 * x + 0.5)) for x in rgb)
    return bytes(pixels)


def wall_pieces(x, y0, y1, z0, z1, doors):
    """The rectangles (y0, y1, z0, z1) of the wall at x that the doors leave standing."""
    pieces = [(y0, y1, z0, z1)]
    for (dx, dy0, dy1, dz0, dz1) in doors:
        if dx != x:
            continue
        out = []
        for (a0, a1, b0, b1) in pieces:
            if dy1 <= a0 or dy0 >= a1:
                out.append((a0, a1, b0, b1))
                continue
            if dy0 > a0:
                out.append((a0, dy0, b0, b1))
            if dy1 < a1:
                out.append((dy1, a1, b0, b1))
            if dz1 < b1:
                out.append((max(a0, dy0), min(a1, dy1), dz1, b1))
        pieces = out
    return pieces


def wall_x(x, y0, y1, z0, z1, inward, doors, surf):
    """The wall at x facing `inward` (+1 or -1 along x), with the door holes cut out."""
    for (a0, a1, b0, b1) in wall_pieces(x, y0, y1, z0, z1, doors):
        c = [(x, a0, b0), (x, a1, b0), (x, a1, b1), (x, a0, b1)]
        if inward < 0:
            c.reverse()
        quad(c, (inward, 0, 0), surf)


def box_faces(x0, x1, y0, y1, z0, z1, surf, inward):
    s = 1 if inward else -1
    # floor, ceiling, y walls
    f = [(x0, y0, z0), (x1, y0, z0), (x1, y1, z0), (x0, y1, z0)]
    quad(f if inward else f[::-1], (0, 0, s), surf)
    c = [(x0, y0, z1), (x0, y1, z1), (x1, y1, z1), (x1, y0, z1)]
    quad(c if inward else c[::-1], (0, 0, -s), surf)
    w = [(x0, y0, z0), (x0, y0, z1), (x1, y0, z1), (x1, y0, z0)]
    quad(w if inward else w[::-1], (0, s, 0), surf)
    e = [(x0, y1, z0), (x1, y1, z0), (x1, y1, z1), (x0, y1, z1)]
    quad(e if inward else e[::-1], (0, -s, 0), surf)


def model_block(name, surfaces):
    out = ['\nmodel { /* name = */ "%s" /* numSurfaces = */ %d\n' % (name, len(surfaces))]
    for i, surf in enumerate(surfaces):
        out.append('/* surface %d */ { "%s" /* numVerts = */ %d /* numIndexes = */ %d /* lightmap = */ %d \n'
                   % (i, surf["material"], len(surf["verts"]), len(surf["indexes"]), surf["lightmap"]))
        for v in surf["verts"]:
            out.append("( %s ) ( %s ) ( %s ) ( %s )\n" % (floats(v[0:3]), floats(v[3:5]), floats(v[5:7]),
                                                         floats(v[7:10])))
        out.append(" ".join(str(i) for i in surf["indexes"]) + "\n}\n")
    out.append("}\n")
    return "".join(out)


def box_brush(mins, maxs):
    """An axial box as a brush: six planes, the solid behind each."""
    planes = []
    for axis in range(3):
        n = [0, 0, 0]
        n[axis] = 1
        planes.append(n + [maxs[axis]])
        n = [0, 0, 0]
        n[axis] = -1
        planes.append(n + [-mins[axis]])
    return planes


def collision_model(rooms, ysize, zsize, doors, models):
    """The "worldMap" collision model: brushes 8 units thick behind every floor, ceiling and wall
    (walls between rooms stand 4 units either side of their plane, with the doors cut out) and a
    brush for every box model; the tree splits at the room boundaries."""
    T = 8
    brushes = []
    for (x0, x1) in rooms:
        brushes.append(box_brush((x0, -T, -T), (x1, ysize + T, 0)))                  # floor
        brushes.append(box_brush((x0, -T, zsize), (x1, ysize + T, zsize + T)))      # ceiling
        brushes.append(box_brush((x0, -T, 0), (x1, 0, zsize)))                      # wall at y = 0
        brushes.append(box_brush((x0, ysize, 0), (x1, ysize + T, zsize)))           # wall at y = ysize
    walls = sorted(set([x for (x0, x1) in rooms for x in (x0, x1)]))
    for x in walls:
        if x == rooms[0][0]:
            lo, hi = x - T, x
        elif x == rooms[-1][1]:
            lo, hi = x, x + T
        else:
            lo, hi = x - T / 2, x + T / 2
        for (a0, a1, b0, b1) in wall_pieces(x, 0, ysize, 0, zsize, doors):
            brushes.append(box_brush((lo, a0, b0), (hi, a1, b1)))
    for (name, x, y, z, h) in models:
        brushes.append(box_brush((x - h, y - h, z - h), (x + h, y + h, z + h)))

    # Node n splits at a room boundary: rooms above it in front (child 0), below behind; a child
    # below 0 names leaf -(child + 1), one per room.
    nodes = []

    def build(lo, hi):
        if hi - lo == 1 and nodes:
            return -(lo + 1)
        idx = len(nodes)
        nodes.append(None)
        if hi - lo == 1:  # a single room still needs a root node
            nodes[idx] = (rooms[lo][0], -1, -2)
            return idx
        mid = (lo + hi) // 2
        front = build(mid, hi)
        back = build(lo, mid)
        nodes[idx] = (rooms[mid][0], front, back)
        return idx

    build(0, len(rooms))
    out = ['!CM\n', 'collisionModel "worldMap" {\n', '\n', 'nodes { /* numNodes = */ %d\n' % len(nodes)]
    for i, (x, front, back) in enumerate(nodes):
        out.append("/* node %d */ 1 0 0 %s %d %d\n" % (i, fmt(x), front, back))
    out.append("}\n")
    out.append("brushes { /* numBrushes = */ %d\n" % len(brushes))
    for i, planes in enumerate(brushes):
        out.append("   /* brush %d */ %d %s \"%s\"\n" % (i, len(planes), " ".join(floats(p) for p in planes), WALL))
    out.append("}\n}\n")
    return "".join(out)


def entities_block(ents):
    out = ["\nentities { /* numEntities = */ %d\n" % len(ents)]
    for e in ents:
        out.append("{\n")
        for k, v in e:
            out.append('"%s" "%s"\n' % (k, v))
        out.append("}\n")
    out.append("}\n")
    return "".join(out)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    rooms, doors, models, lights, speakers, panels = [], [], [], [], [], []
    size = (256, 128)
    start = (64, 128, 48, 0)
    for line in open(sys.argv[1]):
        w = line.split("#")[0].split()
        if not w:
            continue
        k, a = w[0], w[1:]
        if k == "room":
            rooms.append((float(a[0]), float(a[1])))
        elif k == "size":
            size = (float(a[0]), float(a[1]))
        elif k == "door":
            doors.append(tuple(float(x) for x in a))
        elif k == "model":
            models.append((a[0],) + tuple(float(x) for x in a[1:]))
        elif k == "panel":
            panels.append((a[0],) + tuple(float(x) for x in a[1:6]) + (a[6],))
        elif k == "light":
            lights.append(tuple(float(x) for x in a))
        elif k == "speaker":
            speakers.append((float(a[0]), float(a[1]), float(a[2]), a[3]))
        elif k == "start":
            start = tuple(float(x) for x in a)
        else:
            sys.exit("unknown line: " + line)
    ysize, zsize = size
    base = sys.argv[2]

    # Area models: one surface per room, inward faces with door holes.
    area_text = []
    for n, (x0, x1) in enumerate(rooms):
        surf = {"material": WALL, "lightmap": 0, "verts": [], "indexes": []}
        box_faces(x0, x1, 0, ysize, 0, zsize, surf, True)
        wall_x(x0, 0, ysize, 0, zsize, 1, doors, surf)
        wall_x(x1, 0, ysize, 0, zsize, -1, doors, surf)
        area_text.append(model_block("_area%d" % n, [surf]))

    # Entity models: small boxes with outward faces.
    model_text = []
    ents = [[("classname", "worldspawn")],
            [("classname", "info_player_start"), ("origin", floats(start[:3])), ("angle", fmt(start[3]))]]
    for (name, x, y, z, h) in models:
        surf = {"material": WALL, "lightmap": -1, "verts": [], "indexes": []}
        box_faces(-h, h, -h, h, -h, h, surf, False)
        quad([(-h, -h, -h), (-h, h, -h), (-h, h, h), (-h, -h, h)][::-1], (-1, 0, 0), surf)
        quad([(h, -h, -h), (h, h, -h), (h, h, h), (h, -h, h)], (1, 0, 0), surf)
        model_text.append(model_block(name, [surf]))
        ents.append([("classname", "func_static"), ("name", name), ("model", name),
                     ("origin", floats((x, y, z)))])
    # Panels: one screen quad facing -x, its s along the viewer's right and t upwards.
    for (name, x, y, z, pw, ph, gui) in panels:
        surf = {"material": "guis/panel_screen", "lightmap": -1, "verts": [], "indexes": []}
        hw, hh = pw * 0.5, ph * 0.5
        quad([(0, hw, -hh), (0, -hw, -hh), (0, -hw, hh), (0, hw, hh)], (-1, 0, 0), surf)
        model_text.append(model_block(name, [surf]))
        ents.append([("classname", "func_static"), ("name", name), ("model", name),
                     ("origin", floats((x, y, z))), ("gui", gui)])
    for i, (x, y, z, r, cr, cg, cb) in enumerate(lights):
        ents.append([("classname", "light"), ("name", "light_%d" % i), ("origin", floats((x, y, z))),
                     ("light", fmt(r)), ("color", floats((cr, cg, cb)))])
    for i, (x, y, z, shader) in enumerate(speakers):
        ents.append([("classname", "speaker"), ("name", "speaker_%d" % i), ("origin", floats((x, y, z))),
                     ("s_shader", shader), ("s_looping", "1"), ("s_maxdistance", "20")])

    # Portals: areas[0] on the positive (+x) side; wound so the plane normal points along +x.
    portal_lines = []
    for (x, y0, y1, z0, z1) in doors:
        neg = next(i for i, (a, b) in enumerate(rooms) if b == x)
        pos = next(i for i, (a, b) in enumerate(rooms) if a == x)
        pts = [(x, y0, z0), (x, y1, z0), (x, y1, z1), (x, y0, z1)]
        portal_lines.append("/* ap %d */ 4 %d %d %s\n" % (len(portal_lines), pos, neg,
                                                          " ".join("( %s )" % floats(p) for p in pts)))

    # BSP: node 0 splits off the solid below the floor, then one node per room boundary.
    nodes = ["/* node 0 */ ( 0 0 1 0 ) %d 0\n" % (1 if len(rooms) > 1 else -1)]
    leafs = list(range(len(rooms)))
    for i in range(1, len(rooms)):
        x = rooms[i][0]
        pos = i + 1 if i + 1 < len(rooms) else -(i + 1)
        nodes.append("/* node %d */ ( 1 0 0 %s ) %d %d\n" % (i, fmt(x), pos, -(i - 1) - 1))

    bsp = ["!BSP02\n\n",
           "areaPortals { /* numAreas = */ %d /* numAreaPortals = */ %d\n" % (len(rooms), len(doors)),
           "// areaPortal format is: numPoints positiveSideArea negativeSideArea ( point) ...\n"]
    bsp += portal_lines
    bsp.append("}\n")
    bsp += model_text + area_text
    bsp.append("\nleafs { /* numLeafs = */ %d\n" % len(leafs))
    bsp += ["{ /* areaId = */ %d }\n" % a for a in leafs]
    bsp.append("}\n\nnodes { /* numNodes = */ %d\n" % len(nodes))
    bsp += nodes
    bsp.append("}\n")
    bsp.append(entities_block(ents))
    open(base + ".bsp", "w").write("".join(bsp))

    # kd-tree twin: interior nodes split at the room boundaries, leaves name the rooms.
    kd_nodes = []

    def build(lo, hi):
        idx = len(kd_nodes)
        kd_nodes.append(None)
        if hi - lo == 1:
            kd_nodes[idx] = "-1 %d\n" % lo
        else:
            mid = (lo + hi) // 2
            a = build(lo, mid)
            b = build(mid, hi)
            kd_nodes[idx] = "0 %s %d %d\n" % (fmt(rooms[mid][0]), a, b)
        return idx

    build(0, len(rooms))
    kdt = ["!KDT\n"] + model_text + area_text
    kdt.append("\nnodes { %d\n" % len(kd_nodes))
    kdt += kd_nodes
    kdt.append("}\n")
    kdt.append(entities_block(ents))
    open(base + ".kdt", "w").write("".join(kdt))

    open(base + ".cm", "w").write(collision_model(rooms, ysize, zsize, doors, models))

    # Light grid: 64-unit cells over the rooms; ambient falls off from the nearest light.
    cell = 64
    x_min, x_max = rooms[0][0], rooms[-1][1]
    nx, ny, nz = int((x_max - x_min) // cell) + 1, int(ysize // cell) + 1, int(zsize // cell) + 1
    cells = bytearray()
    for z in range(nz):
        for y in range(ny):
            for x in range(nx):
                p = (x_min + x * cell, y * cell, z * cell)
                level = 0.15
                for (lx, ly, lz, r, cr, cg, cb) in lights:
                    d = ((p[0] - lx) ** 2 + (p[1] - ly) ** 2 + (p[2] - lz) ** 2) ** 0.5
                    level = max(level, 1.0 - d / r)
                amb = max(1, int(255 * level * 0.5))
                cells += bytes([amb, amb, amb, int(255 * level), int(255 * level), int(255 * level)])
                cells += struct.pack("<H", 0)  # straight-up direction in packed form
    grid = struct.pack("<4s4si3i3i3i", b"!LMF", b"GRID", 36 + len(cells), int(x_min), 0, 0, cell, cell, cell,
                       nx, ny, nz)
    lm_size = LM
    pixels = bake_lightmap(lights, rooms, doors)
    lmap = struct.pack("<4s4i", b"LMAP", 1, lm_size, 3, 0)
    open(base + ".lmf", "wb").write(grid + bytes(cells) + lmap + pixels)


if __name__ == "__main__":
    main()
