#!/usr/bin/env python3
"""Draws the row images of the certificate list as 8-bit RGBA PNG files:
SystemCertificate.png and KeyCertificate.png (128 x 128), CertificateFrame.png
(62 x 62). Run from this folder; the files it writes are committed."""
import struct
import zlib

SAMPLES = 4  # per axis, for smooth edges


def png(path, width, height, pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    rows = b"".join(b"\0" + bytes(c for px in pixels[y * width:(y + 1) * width] for c in px)
                    for y in range(height))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        out.write(chunk(b"IEND", b""))


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def ring(shape_outer, shape_inner):
    return lambda x, y: shape_outer(x, y) and not shape_inner(x, y)


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def polygon(points):
    def inside(x, y):
        hit = False
        for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                hit = not hit
        return hit
    return inside


def render(width, height, layers):
    """layers: (shape, (r, g, b, a)) painted in order over transparency."""
    pixels = []
    step = 1.0 / SAMPLES
    for py in range(height):
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x, y = px + (sx + 0.5) * step, py + (sy + 0.5) * step
                    r = g = b = a = 0.0
                    for shape, (cr, cg, cb, ca) in layers:
                        if shape(x, y):
                            fa = ca / 255.0
                            r, g, b = cr * fa + r * (1 - fa), cg * fa + g * (1 - fa), cb * fa + b * (1 - fa)
                            a = fa + a * (1 - fa)
                    acc = [acc[0] + r, acc[1] + g, acc[2] + b, acc[3] + a]
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha <= 0:
                pixels.append((0, 0, 0, 0))
            else:
                pixels.append(tuple(int(round(c / n / alpha)) for c in acc[:3]) + (int(round(alpha * 255)),))
    return pixels


def paper_layers():
    layers = [
        (rounded_rect(14, 22, 118, 100, 6), (120, 130, 150, 90)),  # shadow
        (rounded_rect(10, 18, 114, 96, 6), (90, 110, 140, 255)),
        (rounded_rect(12, 20, 112, 94, 5), (250, 250, 244, 255)),
        (ring(rounded_rect(17, 25, 107, 89, 3), rounded_rect(19, 27, 105, 87, 2)), (200, 170, 90, 255)),
    ]
    for top, right in ((34, 96), (46, 84), (56, 78), (66, 70)):
        layers.append((rounded_rect(26, top, right, top + 4, 2), (150, 160, 175, 255)))
    return layers


def system_certificate():
    seal = [
        (polygon([(86, 88), (80, 118), (88, 112), (94, 120), (96, 92)]), (190, 40, 40, 255)),
        (polygon([(98, 92), (100, 120), (106, 112), (114, 118), (106, 88)]), (170, 30, 30, 255)),
        (circle(96, 82, 15), (215, 60, 50, 255)),
        (ring(circle(96, 82, 11), circle(96, 82, 9)), (250, 210, 120, 255)),
    ]
    return render(128, 128, paper_layers() + seal)


def key_certificate():
    token = [
        (rounded_rect(70, 100, 122, 116, 2), (120, 130, 150, 90)),
        (rounded_rect(100, 84, 124, 104, 2), (175, 180, 190, 255)),  # connector
        (rounded_rect(104, 89, 109, 93, 1), (90, 95, 105, 255)),
        (rounded_rect(114, 89, 119, 93, 1), (90, 95, 105, 255)),
        (rounded_rect(54, 78, 104, 110, 8), (30, 80, 160, 255)),  # body
        (rounded_rect(58, 82, 100, 92, 5), (70, 130, 210, 255)),
        (circle(66, 100, 4), (120, 230, 120, 255)),  # light
    ]
    return render(128, 128, paper_layers() + token)


def certificate_frame():
    outer = rounded_rect(1, 1, 61, 61, 8)
    inner = rounded_rect(3, 3, 59, 59, 6)
    return render(62, 62, [(ring(outer, inner), (180, 200, 220, 255)),
                           (ring(inner, rounded_rect(4, 4, 58, 58, 5)), (235, 242, 250, 255))])


if __name__ == "__main__":
    png("SystemCertificate.png", 128, 128, system_certificate())
    png("KeyCertificate.png", 128, 128, key_certificate())
    png("CertificateFrame.png", 62, 62, certificate_frame())
