#!/usr/bin/env python3
"""screenshot_find.py PICTURE QUERY [ARGUMENTS...]

Finds one of Yux's controls, or reads a state, in a picture of a window or of the screen (as xwd
writes it) for scripts/screenshots.sh. It prints what it found, in the picture's own coordinates,
and exits 0; otherwise it says on stderr what the picture shows instead and exits 1. Places come
from the colours and outlines Yux paints on the test desktop's light palette, so a control is
found wherever the layout puts it.

A query given what it should find (in brackets below) fails when the picture shows otherwise.

Queries on the trim window:
  crop-strip [on|off]   X Y on|off: the Crop segment, and whether crop editing is on
  crop-fields           four lines X Y X0 Y0 X1 Y1: the W, H, X and Y fields and their insides
  format                h264|hevc: the chosen export format
  export-button         X Y
  delete-button         X Y
  timeline [HEIGHT]     LEFT RIGHT TOP BOTTOM: the lanes' canvas (RIGHT excluded) and the rows of
                        the trim frame around them, at least HEIGHT high
  playhead [X]          X, within a frame's width of the X given
  transport NAME        X Y: NAME is split, remove, or speed-N (the Nth speed, from 0)
  sections EXPECTED     the result bar's sections, kind:share,... (kinds blue, green, orange),
                        each share within three hundredths of the bar
  lane-strip            X Y: the strip that expands the lanes
  waveforms [KIND...]   the waveforms the one lane of all sources shows (system-audio,
                        microphone), at least the KINDs given
  differs OTHER X0 Y0 X1 Y1   the region (X1, Y1 included) differs from the picture OTHER's;
                        pictures of different sizes are not compared (the window was resized)
Queries on the panel:
  panel [main [left|right]|page [about|settings]]
                        main TAB OTHER_X OTHER_Y SETTINGS_X SETTINGS_Y ABOUT_X ABOUT_Y (TAB, left
                        or right, is chosen; OTHER is the other tab), or page about|settings
                        BACK_X BACK_Y for a page pushed inside the panel (About shows the icon)
  install-button        X Y
Queries on the screen:
  shade X Y RRGGBB [bright|dim]   bright, dim or other: the pixel against the wallpaper RRGGBB
  outline X0 Y0 X1 Y1   a light outline, solid or dashed, runs along the rectangle's sides
"""

import re
import struct
import sys

# The light palette as the test desktop shows it.
LINE = (214, 214, 214)        # the trim window's outlines, dividers and result bar gaps
FRAME = (182, 182, 182)       # stock fields' frames and the panel's dividers
ACCENT = (10, 132, 255)       # the trim window's tint: chosen segments, the Export button
GREEN = (52, 199, 89)         # a faster section in the result bar
ORANGE = (255, 149, 0)        # a slower section; also the playhead
YELLOW = (255, 204, 0)        # the trim frame around the lanes
HIGHLIGHT = (48, 140, 198)    # the panel's chosen tab and default buttons
ICON = (0, 122, 255)          # the application's icon on the About page
# Waveforms over the lane of all sources: the source's colour at 65 % over the lane's blue.
WAVEFORMS = {"system-audio": (104, 193, 215), "microphone": (239, 182, 93)}
TOLERANCE = 12
# The widest rounded corner of an outline: its straight edges start this far in.
CORNER = 9
RUN = re.compile(b"\\x01+")


class NotFound(Exception):
    pass


def near(pixel, colour, tolerance=TOLERANCE):
    return all(abs(a - b) <= tolerance for a, b in zip(pixel, colour))


class Picture:
    """An X window dump of 32 bits a pixel, read into three bytes (RGB) a pixel."""

    def __init__(self, path):
        with open(path, "rb") as file:
            dump = file.read()
        fields = struct.unpack(">25I", dump[:100]) if len(dump) >= 100 else None
        if not fields or fields[11] != 32:
            raise NotFound(f"{path} is not an X window dump of 32 bits a pixel")
        header, width, height, byte_order, line = fields[0], fields[4], fields[5], fields[7], fields[12]
        start = header + 12 * fields[19]
        pixels = dump[start:start + line * height]
        if len(pixels) < line * height:
            raise NotFound(f"{path} ends before its last row")
        if line != 4 * width:
            pixels = b"".join(pixels[y * line:y * line + 4 * width] for y in range(height))
        # Where each channel's byte sits in a pixel, from its mask and the dump's byte order.
        offsets = [(mask.bit_length() - 1) // 8 for mask in fields[14:17]]
        if byte_order != 0:
            offsets = [3 - offset for offset in offsets]
        rgb = bytearray(3 * width * height)
        for channel, offset in enumerate(offsets):
            rgb[channel::3] = pixels[offset::4]
        self.data, self.width, self.height = bytes(rgb), width, height
        self.masks = {}

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return self.data[i], self.data[i + 1], self.data[i + 2]

    def mask(self, colour, tolerance=TOLERANCE):
        """One byte a pixel, 1 where the pixel is within `tolerance` of `colour` in every channel."""
        key = (colour, tolerance)
        if key not in self.masks:
            size = self.width * self.height
            together = (1 << (8 * size)) - 1 if size else 0
            for channel, value in enumerate(colour):
                table = bytes(1 if abs(v - value) <= tolerance else 0 for v in range(256))
                together &= int.from_bytes(self.data[channel::3].translate(table), "big")
            self.masks[key] = together.to_bytes(size, "big")
        return self.masks[key]

    def has(self, colour, x, y, tolerance=TOLERANCE):
        return self.mask(colour, tolerance)[y * self.width + x] == 1

    def runs(self, y, x0, x1, colour, tolerance=TOLERANCE):
        """[start, end) of each run of `colour` in row y between x0 and x1."""
        row = y * self.width
        return [(m.start() - row, m.end() - row) for m in RUN.finditer(self.mask(colour, tolerance), row + x0, row + x1)]

    def longest_run(self, y, x0, x1, colour):
        return max((b - a for a, b in self.runs(y, x0, x1, colour)), default=0)

    def span(self, y, x0, x1, colour, gap=20):
        """The longest [start, end) of `colour` in row y, across gaps (a label's letters) up to `gap`."""
        best, current = (0, 0), None
        for a, b in self.runs(y, x0, x1, colour):
            current = (current[0], b) if current and a - current[1] <= gap else (a, b)
            if current[1] - current[0] > best[1] - best[0]:
                best = current
        return best

    def count(self, colour, x0, y0, x1, y1, tolerance=TOLERANCE):
        """Pixels of `colour` in the region [x0, x1) x [y0, y1)."""
        mask = self.mask(colour, tolerance)
        return sum(mask.count(1, y * self.width + x0, y * self.width + x1) for y in range(y0, y1))

    def bands(self, x0, y0, x1, y1, colour, min_run):
        """[top, bottom) of each band of rows holding `colour` across at least min_run pixels."""
        result, top = [], None
        for y in range(y0, y1):
            start, end = self.span(y, x0, x1, colour)
            if end - start >= min_run:
                if top is None:
                    top = y
            elif top is not None:
                result.append((top, y))
                top = None
        if top is not None:
            result.append((top, y1))
        return result

    def boxes(self, region, colour, widths, heights):
        """(left, top, right, bottom), all included, of each rectangle outlined in `colour`."""
        x0, y0, x1, y1 = region
        shortest = max(widths[0] - 2 * CORNER, 3)
        edges = {y: [r for r in self.runs(y, x0, x1, colour) if r[1] - r[0] >= shortest] for y in range(y0, y1)}
        used, found = set(), []
        for y in range(y0, y1):
            for a, b in edges[y]:
                if (y, a) in used:
                    continue
                bottom = None
                for y2 in range(y + heights[0] - 1, min(y + heights[1], y1)):
                    bottom = next(((a2, b2) for a2, b2 in edges[y2] if abs(a2 - a) <= 2 and abs(b2 - b) <= 2), None)
                    if bottom:
                        break
                if not bottom:
                    continue
                middle = (y + y2) // 2
                left = next((x for x in range(a - 1, max(a - CORNER - 3, x0 - 1), -1)
                             if self.has(colour, x, middle)), None)
                right = next((x for x in range(b, min(b + CORNER + 3, x1)) if self.has(colour, x, middle)), None)
                if left is None or right is None or not widths[0] <= right - left + 1 <= widths[1]:
                    continue
                # Both sides are outlined along their straight part, not only in the middle.
                sides = range(y + CORNER // 2, y2 - CORNER // 2 + 1)
                if any(sum(self.has(colour, x, row) for row in sides) < 0.7 * len(sides) for x in (left, right)):
                    continue
                used.add((y2, bottom[0]))
                found.append((left, y, right, y2))
        return found

    def share(self, box, colour):
        left, top, right, bottom = box
        inside = (right - left - 2) * (bottom - top - 2)
        return self.count(colour, left + 2, top + 2, right - 1, bottom - 1) / max(inside, 1)


def expect(shown, expected, what):
    """`shown` when it starts with the words `expected` (all when none are given)."""
    if expected and shown.split()[:len(expected)] != list(expected):
        raise NotFound(f"{what} shows \"{shown}\", not \"{' '.join(expected)}\"")
    return shown


def centre(box):
    left, top, right, bottom = box
    return (left + right) // 2, (top + bottom) // 2


# The trim window.

class Trim:
    def __init__(self, picture):
        self.p = picture

    def divider(self):
        """The column between the left column and the sidebar (the sidebar is 299 wide)."""
        p = self.p
        mask = p.mask(LINE)
        for x in range(max(p.width - 340, 0), max(p.width - 250, 0)):
            if mask[x::p.width].count(1) >= 0.95 * p.height:
                return x
        raise NotFound("no divider between the left column and the sidebar")

    def sidebar(self):
        d = self.divider()
        return d + 1, 0, self.p.width, self.p.height

    def strips(self):
        """The sidebar's full-width segment strips: Crop | Reset, then the export formats."""
        x0, y0, x1, y1 = self.sidebar()
        inner = x1 - x0 - 2 * 16
        found = self.p.boxes((x0, y0, x1, y1), LINE, (int(0.8 * inner), inner + 4), (16, 40))
        if len(found) != 2:
            raise NotFound(f"{len(found)} full-width strips in the sidebar, not the Crop strip and the FORMAT strip"
                           f" ({found})")
        return found

    def halves(self, strip):
        left, top, right, bottom = strip
        middle = (left + right) // 2
        return (left, top, middle, bottom), (middle + 1, top, right, bottom)

    def crop_strip(self, *expected):
        crop, _ = self.halves(self.strips()[0])
        x, y = centre(crop)
        state = "on" if self.p.share(crop, ACCENT) > 0.5 else "off"
        if expected and state != expected[0]:
            raise NotFound(f"the Crop segment at ({x}, {y}) is {state}, not {expected[0]}")
        return f"{x} {y} {state}"

    def format(self):
        h264, hevc = self.halves(self.strips()[1])
        chosen = [name for name, half in (("h264", h264), ("hevc", hevc)) if self.p.share(half, ACCENT) > 0.5]
        if len(chosen) != 1:
            raise NotFound(f"the FORMAT strip shows {len(chosen)} chosen formats")
        return chosen[0]

    def crop_fields(self):
        crop, formats = self.strips()
        x0, _, x1, _ = self.sidebar()
        found = sorted(self.p.boxes((x0, crop[3] + 1, x1, formats[1]), FRAME, (50, 160), (16, 40)),
                       key=lambda box: (box[1], box[0]))
        if len(found) != 4:
            raise NotFound(f"{len(found)} crop fields between the Crop and FORMAT strips, not four ({found})")
        return "\n".join("%d %d %d %d %d %d" % (*centre(box), box[0] + 2, box[1] + 2, box[2] - 2, box[3] - 2)
                         for box in found)

    def export_band(self):
        x0, y0, x1, y1 = self.sidebar()
        bands = self.p.bands(x0, y0, x1, y1, ACCENT, 60)
        if not bands:
            raise NotFound("no Export button (a wide accent-coloured button) in the sidebar")
        top, bottom = bands[-1]
        left, right = self.p.span((top + bottom) // 2, x0, x1, ACCENT)
        return left, top, right - 1, bottom - 1

    def export_button(self):
        return "%d %d" % centre(self.export_band())

    def delete_button(self):
        left, top, right, bottom = self.export_band()
        x0, _, _, _ = self.sidebar()
        found = self.p.boxes((x0, top - 8, left, bottom + 9), LINE, (30, 200), (16, 40))
        if len(found) != 1:
            raise NotFound(f"{len(found)} buttons left of the Export button, not the Delete button")
        return "%d %d" % centre(found[0])

    def timeline(self):
        p = self.p
        d = self.divider()
        bands = p.bands(0, 0, d, p.height, YELLOW, 200)
        if len(bands) < 2:
            raise NotFound("no trim frame (the yellow frame around the lanes)")
        top, bottom = bands[0][0], bands[-1][1] - 1
        row = p.runs((top + bottom) // 2, 0, d, YELLOW)
        if not row:
            raise NotFound(f"no trim handles between the trim frame's rows {top} and {bottom}")
        return row[0][0], row[-1][1], top, bottom

    def timeline_text(self, *expected):
        left, right, top, bottom = self.timeline()
        if expected and bottom - top + 1 < int(expected[0]):
            raise NotFound(f"the lanes are {bottom - top + 1} pixels high, not at least {expected[0]}")
        return f"{left} {right} {top} {bottom}"

    def playhead(self, *expected):
        left, right, top, _ = self.timeline()
        for y in range(top - 1, max(top - 4, 0), -1):
            runs = self.p.runs(y, left, right, ORANGE)
            if runs:
                a, b = runs[0]
                x = (a + b - 1) // 2
                # A seek lands on a frame: up to a frame's width (under 5 pixels here) away.
                if expected and abs(x - int(expected[0])) > 6:
                    raise NotFound(f"the playhead is at {x}, not at {expected[0]}")
                return str(x)
        raise NotFound("no playhead above the lanes")

    def transport(self, name):
        p = self.p
        _, _, top, _ = self.timeline()
        found = p.boxes((0, 0, self.divider(), top), LINE, (20, 400), (18, 40))
        speeds = [box for box in found if p.share(box, ACCENT) > 0.1]
        if len(speeds) != 1:
            raise NotFound(f"{len(speeds)} speed strips (outlined, one speed chosen) above the lanes")
        strip = speeds[0]
        if name.startswith("speed-"):
            return self.speed(strip, int(name[len("speed-"):]))
        row = centre(strip)[1]
        before = sorted((box for box in found if box[2] < strip[0] and abs(centre(box)[1] - row) <= 4),
                        key=lambda box: -box[2])
        index = {"remove": 0, "split": 1}[name]
        if len(before) <= index:
            raise NotFound(f"{len(before)} buttons left of the speed strip: no {name.capitalize()} button")
        return "%d %d" % centre(before[index])

    def speed(self, strip, index):
        """The Nth speed's label: the labels are ink between blank columns inside the strip."""
        p = self.p
        left, top, right, bottom = strip
        ink = [any(not p.has((255, 255, 255), x, y, 30) and not p.has(ACCENT, x, y, 30)
                   for y in range(top + 3, bottom - 2)) for x in range(left + 2, right - 1)]
        labels, start, blank = [], None, 0
        for i, inked in enumerate(ink + [False] * 6):
            if inked:
                if start is None:
                    start = i
                blank = 0
            elif start is not None:
                blank += 1
                if blank == 5:
                    labels.append((start, i - 5))
                    start = None
        if len(labels) != 5 or index >= len(labels):
            raise NotFound(f"{len(labels)} speed labels in the speed strip, not five")
        a, b = labels[index]
        return "%d %d" % (left + 2 + (a + b) // 2, (top + bottom) // 2)

    def sections(self, expected):
        """The result bar: the widest band of section colours below the lanes."""
        p = self.p
        _, _, _, bottom = self.timeline()
        d = self.divider()
        colours = {"blue": ACCENT, "green": GREEN, "orange": ORANGE}
        for y in range(bottom + 1, p.height):
            shown = sorted((a, k, b - a) for k, c in colours.items() for a, b in p.runs(y, 0, d, c) if b - a >= 3)
            shown = [(k, w) for _, k, w in shown]
            if sum(w for _, w in shown) >= 0.8 * d:
                break
        else:
            raise NotFound("no result bar below the lanes")
        total = sum(w for _, w in shown)
        text = " ".join(f"{k}:{w}" for k, w in shown)
        want = [(k, float(s)) for k, s in (item.split(":") for item in expected.split(","))]
        whole = sum(s for _, s in want)
        if len(want) != len(shown) or any(
                k != kind or abs(w / total - s / whole) > 0.03 for (k, s), (kind, w) in zip(want, shown)):
            raise NotFound(f"the result bar shows the sections {text} (pixels), not {expected}")
        return text

    def waveforms(self, *expected):
        left, right, top, bottom = self.timeline()
        shown = [kind for kind, colour in WAVEFORMS.items()
                 if self.p.count(colour, left, top, right, bottom + 1) >= 20]
        missing = [kind for kind in expected if kind not in shown]
        if missing:
            raise NotFound(f"no waveform of the {', '.join(missing)} in the lanes (they show: {' '.join(shown) or 'none'})")
        return " ".join(shown)

    def lane_strip(self):
        p = self.p
        _, _, top, _ = self.timeline()
        dark = [(x, y) for y in range(max(top - 22, 0), top + 40) for x in range(4, 40) if max(p.pixel(x, y)) < 170]
        if len(dark) < 4:
            raise NotFound("no chevron left of the lanes")
        return "%d %d" % (sum(x for x, _ in dark) // len(dark), sum(y for _, y in dark) // len(dark))


def differs(picture, other_path, x0, y0, x1, y1):
    # The region's place comes from OTHER: in a picture of another size (a window that was
    # resized, or dumped while its size changed) the layout has moved, so nothing can be told
    # about the region; the caller looks again, and says so should the size not come back.
    other = Picture(other_path)
    if (other.width, other.height) != (picture.width, picture.height):
        raise NotFound(f"the picture is {picture.width}x{picture.height}, {other_path} is {other.width}x{other.height}:"
                       " the window's size changed, so its region cannot be compared")
    if all(picture.pixel(x, y) == other.pixel(x, y) for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)):
        raise NotFound(f"the region ({x0}, {y0})-({x1}, {y1}) did not change")
    return "changed"


# The panel.

def panel(p, *expected):
    return expect(panel_page(p), expected, "the panel")


def panel_page(p):
    dividers = [y for y in range(p.height) if p.longest_run(y, 0, p.width, FRAME) >= p.width - 2]
    if not dividers:
        ink = [(x, y) for y in range(0, 45) for x in range(0, 120) if max(p.pixel(x, y)) < 160]
        if not ink:
            raise NotFound("neither the main page (full-width dividers) nor a page with a Back button")
        xs, ys = [x for x, _ in ink], [y for _, y in ink]
        kind = "about" if p.count(ICON, 0, 45, min(p.width, 120), min(p.height, 140)) >= 400 else "settings"
        return "page %s %d %d" % (kind, (min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2)
    if len(dividers) < 4:
        raise NotFound(f"{len(dividers)} dividers on the main page, not those of the tabs, Settings and About")
    chosen = [(x, y) for y in range(dividers[0]) for x in range(p.width) if p.has(HIGHLIGHT, x, y)]
    if not chosen:
        raise NotFound("no chosen tab above the first divider")
    xs, ys = [x for x, _ in chosen], [y for _, y in chosen]
    x, y = (min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2
    # The two tabs share the width of the panel evenly.
    tab = "left" if x < p.width // 2 else "right"
    settings = (dividers[-3] + dividers[-2]) // 2
    about = (dividers[-2] + dividers[-1]) // 2
    return f"main {tab} {p.width - 1 - x} {y} {p.width // 3} {settings} {p.width // 3} {about}"


def install_button(p):
    bands = p.bands(0, 45, p.width, p.height, HIGHLIGHT, 40)
    if not bands:
        raise NotFound("no Install button (a wide highlighted button) on the page")
    top, bottom = bands[0]
    left, right = p.span((top + bottom) // 2, 0, p.width, HIGHLIGHT)
    return "%d %d" % ((left + right - 1) // 2, (top + bottom - 1) // 2)


# The screen.

def shade(p, x, y, wallpaper, *expected):
    return expect(shade_of(p.pixel(x, y), wallpaper), expected, f"the wallpaper at ({x}, {y})")


def shade_of(pixel, wallpaper):
    reference = tuple(int(wallpaper[i:i + 2], 16) for i in (0, 2, 4))
    if near(pixel, reference, 16):
        return "bright"
    ratios = [a / b for a, b in zip(pixel, reference) if b > 0]
    if all(0.35 <= r <= 0.85 for r in ratios) and max(ratios) - min(ratios) < 0.15:
        return "dim"
    return "other"


def outline(p, x0, y0, x1, y1):
    """A light line, solid or dashed, along each side of the rectangle, a few pixels either side of
    it, near a quarter and three quarters of its length."""
    def light(x, y):
        return 0 <= x < p.width and 0 <= y < p.height and min(p.pixel(x, y)) >= 230

    def lit(points):
        return any(light(x, y) for x, y in points)

    along, across = range(-20, 21), range(-4, 5)
    quarters_x = ((3 * x0 + x1) // 4, (x0 + 3 * x1) // 4)
    quarters_y = ((3 * y0 + y1) // 4, (y0 + 3 * y1) // 4)
    sides = {
        "top": [[(x + a, y0 + c) for a in along for c in across] for x in quarters_x],
        "bottom": [[(x + a, y1 + c) for a in along for c in across] for x in quarters_x],
        "left": [[(x0 + c, y + a) for a in along for c in across] for y in quarters_y],
        "right": [[(x1 + c, y + a) for a in along for c in across] for y in quarters_y],
    }
    missing = [name for name, stretches in sides.items() if not all(lit(points) for points in stretches)]
    if missing:
        raise NotFound(f"no outline along the {', '.join(missing)} of ({x0}, {y0})-({x1}, {y1})")
    return "outlined"


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    path, query, arguments = argv[1], argv[2], argv[3:]
    picture = Picture(path)
    trim = Trim(picture)
    queries = {
        "crop-strip": trim.crop_strip,
        "crop-fields": trim.crop_fields,
        "format": trim.format,
        "export-button": trim.export_button,
        "delete-button": trim.delete_button,
        "timeline": trim.timeline_text,
        "playhead": trim.playhead,
        "transport": trim.transport,
        "sections": trim.sections,
        "lane-strip": trim.lane_strip,
        "waveforms": trim.waveforms,
        "differs": lambda other, *box: differs(picture, other, *map(int, box)),
        "panel": lambda *expected: panel(picture, *expected),
        "install-button": lambda: install_button(picture),
        "shade": lambda x, y, wallpaper, *expected: shade(picture, int(x), int(y), wallpaper, *expected),
        "outline": lambda *box: outline(picture, *map(int, box)),
    }
    if query not in queries:
        sys.exit(f"screenshot_find: no query {query}")
    print(queries[query](*arguments))


if __name__ == "__main__":
    try:
        main(sys.argv)
    except NotFound as reason:
        print(reason, file=sys.stderr)
        sys.exit(1)
