#!/usr/bin/python3
"""Draws Pictrove's own icon: a chest of tiles, a grid of small pictures on a
rounded plate. Writes pictrove.ico with 16, 32, 48 and 256 pixel images
(32-bit bitmaps for the small sizes, PNG for 256). Needs Pillow."""
from PIL import Image, ImageDraw

TILES = [(0xE8, 0x4A, 0x3C), (0xF2, 0xB1, 0x34), (0x3C, 0xA5, 0x5C),
         (0x3B, 0x7D, 0xD8), (0xFF, 0xFF, 0xFF), (0x9B, 0x59, 0xB6),
         (0x1A, 0xBC, 0x9C), (0xE6, 0x7E, 0x22), (0xBD, 0xC3, 0xC7)]


def draw(size):
    scale = 4
    big = size * scale
    image = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(image)
    margin = big // 16
    d.rounded_rectangle([margin, margin, big - margin - 1, big - margin - 1], radius=big // 6,
                        fill=(0x27, 0x3C, 0x4E, 255), outline=(0x10, 0x1A, 0x24, 255), width=max(scale, big // 40))
    inner = big - 2 * margin
    gap = inner // 14
    tile = (inner - 4 * gap) // 3
    for i, colour in enumerate(TILES):
        x = margin + gap + (i % 3) * (tile + gap)
        y = margin + gap + (i // 3) * (tile + gap)
        d.rounded_rectangle([x, y, x + tile, y + tile], radius=max(1, tile // 5), fill=colour + (255,))
    return image.resize((size, size), Image.LANCZOS)


def bmp_entry(image):
    """A 32-bit icon bitmap: header with doubled height, BGRA rows bottom-up, AND mask."""
    import struct
    w, h = image.size
    pixels = image.load()
    rows = b""
    for y in reversed(range(h)):
        rows += b"".join(struct.pack("BBBB", *(pixels[x, y][2::-1] + (pixels[x, y][3],))) for x in range(w))
    stride = (w + 31) // 32 * 4
    mask = b""
    for y in reversed(range(h)):
        bits = bytearray(stride)
        for x in range(w):
            if pixels[x, y][3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(rows) + len(mask), 0, 0, 0, 0)
    return header + rows + mask


def main():
    import io
    import struct
    images = []
    for size in (16, 32, 48):
        images.append((size, 32, bmp_entry(draw(size))))
    png = io.BytesIO()
    draw(256).save(png, "PNG")
    images.append((256, 32, png.getvalue()))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    with open("pictrove.ico", "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
