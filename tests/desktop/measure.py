#!/usr/bin/python3
"""Reads the tray reading back from a panel screenshot, as a person would see it.

measure.py HOST SCREENSHOT X,Y,W,H CROP_OUT DEGREES...
measure.py --drawn SCREENSHOT X,Y,W,H: exits 0 when anything is drawn on the panel.

Cuts the panel region out of the screenshot (the part around the item saved as CROP_OUT),
takes its commonest colour as the panel's and everything else as drawn, OCRs the drawing
with tesseract, and checks that one of DEGREES is read, that its digits are at least
MIN_HEIGHT px tall and that they stand out from the ground around them by at least
MIN_CONTRAST:1 (WCAG contrast). Prints what it measured either way; exits 1 when a check fails.
"""
import html
import re
import subprocess
import sys
import tempfile
from collections import Counter
from pathlib import Path

from PIL import Image, ImageOps

# Xfce's and waybar's panels draw tray icons 16 px tall: the reading is to fill half of that
# at least, and be read (the wide picture squeezed into a square was 3 px tall).
MIN_HEIGHT = 8
MIN_CONTRAST = 3.0
SCALE = 4
# Channels further than this from the panel's colour are drawn, not panel.
INK_DISTANCE = 40


def luminance(rgb):
    def linear(c):
        c /= 255
        return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = (linear(c) for c in rgb[:3])
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    la, lb = sorted((luminance(a), luminance(b)), reverse=True)
    return (la + 0.05) / (lb + 0.05)


def differs(a, b):
    return max(abs(x - y) for x, y in zip(a, b)) > INK_DISTANCE


def ink_box(image, grounds, box):
    """The bounding box of what differs from every colour in grounds inside box, or None."""
    x0, y0, x1, y1 = box
    points = [(x, y) for y in range(y0, y1) for x in range(x0, x1)
              if all(differs(image.getpixel((x, y)), g) for g in grounds)]
    if not points:
        return None
    xs, ys = zip(*points)
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def commonest(image, box):
    return Counter(image.crop(box).getdata()).most_common(1)[0][0]


def ocr_characters(image, panel):
    """tesseract's characters in the image, each (character, box in the image's pixels)."""
    gray = ImageOps.grayscale(image.resize((image.width * SCALE, image.height * SCALE),
                                           Image.LANCZOS))
    # tesseract reads black text on white best: the text is what stands out from the ground
    # the reading sits on (a tray module may have its own), the opposite way from its
    # outline, so the outline goes with the ground.
    ground = ImageOps.grayscale(Image.new("RGB", (1, 1), commonest(image, (0, 0, *image.size))))
    level = ground.getpixel((0, 0))
    if luminance(panel) < 0.5:
        gray = gray.point(lambda v: 0 if v > (level + 255) / 2 else 255)
    else:
        gray = gray.point(lambda v: 0 if v < level / 2 else 255)
    pad = 16 * SCALE
    gray = ImageOps.expand(gray, border=pad, fill=255)
    with tempfile.TemporaryDirectory() as folder:
        source = Path(folder) / "reading.png"
        gray.save(source)
        hocr = subprocess.run(["tesseract", str(source), "stdout", "--psm", "7",
                               "-c", "hocr_char_boxes=1", "hocr"],
                              check=True, capture_output=True, text=True).stdout
    found = re.findall(r"x_bboxes (\d+) (\d+) (\d+) (\d+);[^>]*>([^<]+)</span>", hocr)
    return [(html.unescape(text), ((int(x0) - pad) // SCALE, (int(y0) - pad) // SCALE,
                                   (int(x1) - pad) // SCALE + 1, (int(y1) - pad) // SCALE + 1))
            for x0, y0, x1, y1, text in found]


def digits_box(characters, degrees):
    """The box around the first run of characters that spells one of degrees, or None."""
    text = "".join(c for c, _ in characters)
    for number in degrees:
        at = text.find(number)
        if at >= 0:
            boxes = [box for _, box in characters[at:at + len(number)]]
            return (min(b[0] for b in boxes), min(b[1] for b in boxes),
                    max(b[2] for b in boxes), max(b[3] for b in boxes))
    return None


def panel_region(screenshot, region):
    """The region's pixels, its commonest colour and the box of all else, or None."""
    x, y, w, h = (int(v) for v in region.split(","))
    image = Image.open(screenshot).convert("RGB").crop((x, y, x + w, y + h))
    panel = commonest(image, (0, 0, w, h))
    return image, panel, ink_box(image, [panel], (0, 0, w, h))


def main():
    if sys.argv[1] == "--drawn":
        return 0 if panel_region(*sys.argv[2:4])[2] else 1
    host, screenshot, region, crop_out = sys.argv[1:5]
    degrees = sorted(set(sys.argv[5:]))
    image, panel, drawn = panel_region(screenshot, region)
    w, h = image.size
    if drawn is None:
        image.save(crop_out)
        print(f"{host}: nothing drawn on the panel (#{bytes(panel).hex()})")
        return 1
    # The panel around the item, where a reader looks.
    image.crop((max(drawn[0] - 120, 0), 0, min(drawn[2] + 120, w), h)).save(crop_out)
    margin = 3
    area = (max(drawn[0] - margin, 0), max(drawn[1] - margin, 0),
            min(drawn[2] + margin, w), min(drawn[3] + margin, h))
    characters = ocr_characters(image.crop(area), panel)
    print(f"{host}: OCR read {''.join(c for c, _ in characters) or 'nothing'!r}, "
          f"looking for {' or '.join(degrees)}")
    found = digits_box(characters, degrees)
    failures = []
    if found:
        left, top, right, bottom = found
        word = (max(area[0] + left - 1, 0), max(area[1] + top - 1, 0),
                min(area[0] + right + 1, w), min(area[1] + bottom + 1, h))
    else:
        failures.append("the temperature was not read")
        word = drawn
    # The item may sit on a ground of its own (waybar's tray module): the commonest colour
    # around the reading, which is mostly ground.
    ground = commonest(image, (max(word[0] - margin, 0), max(word[1] - margin, 0),
                               min(word[2] + margin, w), min(word[3] + margin, h)))
    grounds = [panel, ground]
    picture = ink_box(image, grounds, drawn) or drawn
    reading = ink_box(image, grounds, word) or word
    print(f"{host}: the item's picture is {picture[2] - picture[0]}x{picture[3] - picture[1]} px "
          f"at {picture[0]},{picture[1]} of the {w}x{h} region")
    height = reading[3] - reading[1]
    strengths = sorted((contrast(image.getpixel((px, py)), ground), (px, py))
                       for py in range(reading[1], reading[3])
                       for px in range(reading[0], reading[2])
                       if differs(image.getpixel((px, py)), ground))
    # Near the top of the drawn pixels: the strokes' own colour, not their anti-aliased
    # edges nor an outline around them, which small digits have more of than fill.
    ratio, at = strengths[int(len(strengths) * 0.98)]
    print(f"{host}: the digits are {reading[2] - reading[0]}x{height} px; contrast "
          f"{ratio:.2f}:1 (#{bytes(image.getpixel(at)).hex()} on #{bytes(ground).hex()})")
    if height < MIN_HEIGHT:
        failures.append(f"the reading is {height} px tall, under {MIN_HEIGHT}")
    if ratio < MIN_CONTRAST:
        failures.append(f"contrast {ratio:.2f}:1 is under {MIN_CONTRAST}:1")
    for failure in failures:
        print(f"{host}: FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
