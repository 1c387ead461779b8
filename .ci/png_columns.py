"""Reads one row of pixels from a PNG that rsvg-convert wrote (8-bit RGB or
RGBA, not interlaced), with zlib alone: each pixel's darkness 0 to 255."""
import struct
import zlib


def read_row(path, y):
    with open(path, "rb") as png:
        data = png.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    at, chunks, header = 8, [], None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks.append(body)
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and interlace == 0, header
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(b"".join(chunks))
    stride = width * channels
    previous = bytearray(stride)
    for row in range(y + 1):
        start = row * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for k in range(stride):
            left = line[k - channels] if k >= channels else 0
            up = previous[k]
            corner = previous[k - channels] if k >= channels else 0
            if kind == 1:
                line[k] = (line[k] + left) & 255
            elif kind == 2:
                line[k] = (line[k] + up) & 255
            elif kind == 3:
                line[k] = (line[k] + (left + up) // 2) & 255
            elif kind == 4:
                guess = left + up - corner
                pa, pb, pc = abs(guess - left), abs(guess - up), abs(guess - corner)
                best = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                line[k] = (line[k] + best) & 255
        previous = line
    darkness = []
    for x in range(width):
        pixel = previous[x * channels:(x + 1) * channels]
        alpha = pixel[3] if channels == 4 else 255
        grey = (pixel[0] + pixel[1] + pixel[2]) / 3 * alpha / 255 + 255 * (1 - alpha / 255)
        darkness.append(255 - grey)
    return darkness
