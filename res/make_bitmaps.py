#!/usr/bin/python3
"""Draws the panel's bitmaps (bmp/<id>.bmp) and its icon (vantrel.ico).

Every bitmap is a row of bitmaps.csv: id, width, height, label, look. The look is "grey" (a
control's normal look), "blue" (its lit or pressed look) or "background" (the window's
background, whose group boxes and captions are laid out below in dialog units and checked
against the controls of vantrel.rc so that no text ends up under a control).

Button faces are flat, so a test can tell the two looks apart from one screen pixel:
  grey face (192, 192, 192) with a black label,
  blue face (40, 90, 200) with a white label.

Bitmaps are written 24 bits per pixel with no alpha: a 32-bit bitmap put into a picture control
under common controls 6 is copied, and the copy handed back would leak.

Every bitmap is drawn twice: at its size (bmp/<id>.bmp, for 96 dpi) and at twice its size,
drawn anew rather than enlarged (bmp/2x/<id>.bmp, resource 1000 + id, listed in bitmaps2x.rc),
so that a panel at 200% shows sharp labels and one between the two scales a 2x bitmap down.

Run with Debian's python3 and python3-pil from the res/ folder or anywhere:
  /usr/bin/python3 res/make_bitmaps.py              writes bmp/*.bmp, bmp/2x/*.bmp, bitmaps2x.rc
                                                    and vantrel.ico
  /usr/bin/python3 res/make_bitmaps.py --mockup X   also renders the whole panel to X (PNG)
The output is committed, so the Windows build needs no Python.
"""

import csv
import re
import struct
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

HERE = Path(__file__).resolve().parent
FONT_DIR = Path("/usr/share/fonts/truetype/dejavu")
BOLD = FONT_DIR / "DejaVuSans-Bold.ttf"

FACE = {"grey": (192, 192, 192), "blue": (40, 90, 200)}
LABEL = {"grey": (0, 0, 0), "blue": (255, 255, 255)}
HIGHLIGHT = {"grey": (236, 236, 236), "blue": (110, 150, 235)}
SHADOW = {"grey": (128, 128, 128), "blue": (22, 52, 130)}
OUTLINE = {"grey": (64, 64, 64), "blue": (10, 25, 80)}
BEVEL = 3  # outline plus two bevel pixels
PADDING = 4  # between the bevel and the label

# The dialog is 824 x 406 dialog units; the background is stretched over its client area.
DIALOG_W, DIALOG_H = 824, 406
# Pixels per dialog unit for the template's font, MS Sans Serif 8 at 96 dpi: base units 6 x 13
# on Windows, 6 x 12 under Wine. A picture control takes its bitmap's size in pixels; the
# smaller scale makes it cover more dialog units, so the layout is checked with that one.
PX_PER_DLU_X, PX_PER_DLU_Y = 6 / 4, 12 / 8

PANEL = (36, 40, 48)
FRAME_DARK = (18, 20, 24)
FRAME_LIGHT = (120, 130, 145)
TEXT = (232, 236, 240)
DIM_TEXT = (84, 92, 104)

TEXT_SIZE = 14  # background captions, in background pixels
TITLE_SIZE = 15


def font(path, size):
    return ImageFont.truetype(str(path), size)


def read_table():
    with open(HERE / "bitmaps.csv", newline="") as f:
        return [
            {
                "id": int(row["id"]),
                "size": (int(row["width"]), int(row["height"])),
                "label": row["label"],
                "look": row["look"],
            }
            for row in csv.DictReader(f)
        ]


# --- labels ---------------------------------------------------------------------------------


def line_splits(label):
    """The label on one line, then every way of breaking it into two lines at a space."""
    words = label.split(" ")
    yield label
    for i in range(1, len(words)):
        yield " ".join(words[:i]) + "\n" + " ".join(words[i:])


def fit_label(draw, label, box, font_path, largest, smallest=10):
    """The largest font size and line split that puts the label inside box, centred."""
    left, top, right, bottom = box
    centre = ((left + right) / 2, (top + bottom) / 2)
    for size in range(largest, smallest - 1, -1):
        f = font(font_path, size)
        for text in line_splits(label):
            bbox = draw.multiline_textbbox(centre, text, font=f, anchor="mm", align="center",
                                           spacing=1)
            if bbox[0] >= left and bbox[1] >= top and bbox[2] <= right and bbox[3] <= bottom:
                return text, f, centre
    sys.exit(f"make_bitmaps: '{label}' does not fit in {box} at {smallest} px")


def label_box(width, height):
    inner = BEVEL + PADDING
    return (inner, inner, width - inner, height - inner)


def label_size(size, labels):
    """One font size for all the labels of one bitmap size, so that alike buttons look alike."""
    draw = ImageDraw.Draw(Image.new("RGB", size))
    largest = min(18, int(size[1] * 0.4))
    return min(fit_label(draw, label, label_box(*size), BOLD, largest)[1].size
               for label in labels)


def draw_button(size, label, look, text_size, scale=1):
    """A button face at size (1x pixels) times scale; the outline and bevel grow with it."""
    width, height = size[0] * scale, size[1] * scale
    image = Image.new("RGB", (width, height), FACE[look])
    draw = ImageDraw.Draw(image)
    for i in range(scale):
        draw.rectangle((i, i, width - 1 - i, height - 1 - i), outline=OUTLINE[look])
    for i in range(scale, BEVEL * scale):
        draw.line((i, i, width - 1 - i, i), fill=HIGHLIGHT[look])
        draw.line((i, i, i, height - 1 - i), fill=HIGHLIGHT[look])
        draw.line((i, height - 1 - i, width - 1 - i, height - 1 - i), fill=SHADOW[look])
        draw.line((width - 1 - i, i, width - 1 - i, height - 1 - i), fill=SHADOW[look])
    box = tuple(v * scale for v in label_box(*size))
    text, f, centre = fit_label(draw, label, box, BOLD, text_size * scale, 10 * scale)
    draw.multiline_text(centre, text, font=f, fill=LABEL[look], anchor="mm", align="center",
                        spacing=1)
    return image


# --- the controls of the dialog template -----------------------------------------------------


def read_defines():
    text = (HERE / "resource.h").read_text()
    return {m[1]: int(m[2]) for m in re.finditer(r"#define\s+(\w+)\s+(-?\d+)", text)}


CONTROL = re.compile(
    r'^\s*CONTROL\s+("[^"]*"|\w+)\s*,\s*(\w+|-1)\s*,\s*"(\w+)"\s*,\s*([^,]+?)\s*,'
    r"\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)",
    re.M,
)


def read_controls(table):
    """The template's visible controls: class, text, left, top, right, bottom in dialog units.

    A picture's rectangle is widened to its bitmap's size, which it takes when it is shown.
    """
    defines = read_defines()
    sizes = {row["id"]: row["size"] for row in table}
    rc = (HERE / "vantrel.rc").read_text()
    # The panel's template only: the firmware update dialog is a window of its own.
    rc = rc[rc.index("IDD_PANEL DIALOGEX"):]
    rc = rc[:re.search(r"^END\b", rc, re.M).start()]
    matches = list(CONTROL.finditer(rc))
    if len(matches) != len(re.findall(r"^\s*CONTROL\s", rc, re.M)):
        sys.exit("make_bitmaps: a CONTROL line of vantrel.rc is not in the expected form")
    controls = []
    for m in matches:
        text, cls, style = m[1], m[3], m[4]
        if "NOT WS_VISIBLE" in style:
            continue
        x, y, w, h = (int(v) for v in m.group(5, 6, 7, 8))
        right, bottom = x + w, y + h
        bitmap = None
        if "SS_BITMAP" in style:
            bitmap = defines[text]
            bw, bh = sizes[bitmap]
            right = max(right, x + bw / PX_PER_DLU_X)
            bottom = max(bottom, y + bh / PX_PER_DLU_Y)
        controls.append({"class": cls, "text": text.strip('"'), "bitmap": bitmap,
                         "rect": (x, y, right, bottom)})
    return controls


def overlaps(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


# --- the background --------------------------------------------------------------------------

BG_W, BG_H = 1252, 636


def px(x, y, scale=1):
    return (round(x * BG_W * scale / DIALOG_W), round(y * BG_H * scale / DIALOG_H))


def dlu(x, y, scale=1):
    return (x * DIALOG_W / (BG_W * scale), y * DIALOG_H / (BG_H * scale))


# Group boxes: left, top, right, bottom in dialog units, and the title on the top edge (None
# where the titles are the link choices painted beside their radio buttons). Ethernet and RS232
# share the link frame: the address and the COM port list take the same place.
GROUPS = [
    ((8, 29, 380, 100), None),
    ((8, 107, 380, 304), "IP Address Setting"),
    ((8, 312, 380, 400), "System"),
    ((388, 16, 818, 322), "Control"),
]

# Captions: text, then where it stands: ("right of", x, centre y) starts at x, ("left of",
# x, centre y) ends at x. Radio buttons carry no text, so their names are painted here.
CAPTIONS = [
    ("Ethernet", "right of", 35, 29),
    ("RS232", "right of", 117, 28),
    ("Static IP", "right of", 49, 123),
    ("DHCP", "right of", 125, 122),
    ("IP Address", "left of", 112, 157),
    ("Subnet Mask", "left of", 112, 186),
    ("Gateway", "left of", 112, 214.5),
    ("MAC Address", "left of", 112, 244),
]

# The meter rows' names stand in the column right of the Up and Mute pictures, one per row,
# centred on the row (Down pictures' top and bottom edges).
METER_NAMES = [
    ("Volume", 153, 185),
    ("LCD Brightness", 194, 226),
    ("LCD Contrast", 237, 269),
    ("LCD Saturation", 280, 312),
]
METER_NAME_COLUMN = (749, 815)

GAP = 2  # dialog units kept clear around a caption and a control on a frame's edge


def draw_text(draw, painted, xy, text, f, anchor, scale, fill=TEXT):
    draw.multiline_text(xy, text, font=f, fill=fill, anchor=anchor, align="center",
                        spacing=scale)
    bbox = draw.multiline_textbbox(xy, text, font=f, anchor=anchor, align="center",
                                   spacing=scale)
    painted.append((text, dlu(bbox[0], bbox[1], scale) + dlu(bbox[2], bbox[3], scale)))


def edge_segments(x0, x1, y, blockers):
    """Pieces of the horizontal edge x0..x1 at height y that no blocker covers."""
    cuts = sorted((b[0] - GAP, b[2] + GAP) for b in blockers if b[1] - GAP <= y <= b[3] + GAP)
    pieces, start = [], x0
    for left, right in cuts:
        if left > start:
            pieces.append((start, min(left, x1)))
        start = max(start, right)
    if start < x1:
        pieces.append((start, x1))
    return [p for p in pieces if p[1] > p[0]]


def draw_frame(draw, rect, blockers, scale):
    """An etched frame; its top edge leaves gaps for titles and for controls standing on it."""
    left, top, right, bottom = rect
    lines = [(i, FRAME_DARK) for i in range(scale)] + [(scale + i, FRAME_LIGHT)
                                                        for i in range(scale)]
    for offset, colour in lines:
        for a, b in edge_segments(left, right, top, blockers):
            (xa, y), (xb, _) = px(a, top, scale), px(b, top, scale)
            draw.line((xa + offset, y + offset, xb + offset, y + offset), fill=colour)
        (l, t), (r, b) = px(left, top, scale), px(right, bottom, scale)
        draw.line((l + offset, t + offset, l + offset, b + offset), fill=colour)
        draw.line((l + offset, b + offset, r + offset, b + offset), fill=colour)
        draw.line((r + offset, t + offset, r + offset, b + offset), fill=colour)


def draw_background(controls, scale=1):
    image = Image.new("RGB", (BG_W * scale, BG_H * scale), PANEL)
    draw = ImageDraw.Draw(image)
    painted = []
    text_font = font(BOLD, TEXT_SIZE * scale)

    def at(x, y):
        return px(x, y, scale)

    for text, side, x, y in CAPTIONS:
        anchor = "lm" if side == "right of" else "rm"
        draw_text(draw, painted, at(x, y), text, text_font, anchor, scale)
    for (left, top, _, _), title in GROUPS:
        if title:
            draw_text(draw, painted, at(left + 8, top), title, font(BOLD, TITLE_SIZE * scale),
                      "lm", scale)
    for name, top, bottom in METER_NAMES:
        l, t = at(METER_NAME_COLUMN[0], top)
        r, b = at(METER_NAME_COLUMN[1], bottom)
        text, f, centre = fit_label(draw, name, (l, t, r, b), BOLD, TEXT_SIZE * scale)
        draw_text(draw, painted, centre, text, f, "mm", scale)
    l, t = at(430, 340)
    r, b = at(700, 392)
    text, f, centre = fit_label(draw, "VANTREL", (l, t, r, b), BOLD, 48 * scale)
    draw_text(draw, painted, centre, text, f, "mm", scale, fill=DIM_TEXT)

    blockers = [c["rect"] for c in controls] + [rect for _, rect in painted]
    for rect, _ in GROUPS:
        draw_frame(draw, rect, blockers, scale)

    for text, rect in painted:
        for c in controls:
            if overlaps(rect, c["rect"]):
                sys.exit(f"make_bitmaps: '{text}' at {rect} lies under control {c}")
        if rect[0] < 0 or rect[1] < 0 or rect[2] > DIALOG_W or rect[3] > DIALOG_H:
            sys.exit(f"make_bitmaps: '{text}' at {rect} leaves the panel")
    return image


# --- the icon --------------------------------------------------------------------------------


def draw_icon(size):
    """A dark rounded tile with three blue level bars."""
    image = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    draw.rounded_rectangle((0, 0, size - 1, size - 1), radius=size // 6, fill=PANEL + (255,),
                           outline=FRAME_LIGHT + (255,))
    bar = max(2, size // 8)
    for i, level in enumerate((0.45, 0.75, 0.6)):
        x = size * (0.22 + 0.22 * i)
        top = (size - 3) * (1 - level)
        draw.rectangle((x, top, x + bar, size - 1 - size // 6), fill=FACE["blue"] + (255,))
    return image


def icon_entry(image):
    """One icon image: BITMAPINFOHEADER (height doubled), 32-bit BGRA rows bottom-up, AND mask."""
    size = image.width
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = image.getpixel((x, y))
            rows.append(struct.pack("<BBBB", b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for y in reversed(range(size)):
        bits = 0
        for x in range(size):
            if image.getpixel((x, y))[3] == 0:
                bits |= 1 << (mask_stride * 8 - 1 - x)
        mask += bits.to_bytes(mask_stride, "big")
    return header + b"".join(rows) + mask


def write_icon(path, sizes):
    entries = [icon_entry(draw_icon(size)) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, entries):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    path.write_bytes(out + b"".join(entries))


# --- the whole panel, to look at -------------------------------------------------------------


def render_mockup(path, background, bitmaps, controls):
    """The panel as it shows at start: background stretched, each control at its place."""
    size = (round(DIALOG_W * PX_PER_DLU_X), round(DIALOG_H * PX_PER_DLU_Y))
    image = background.resize(size)
    draw = ImageDraw.Draw(image)
    small = font(BOLD, 11)
    for c in controls:
        left, top, right, bottom = c["rect"]
        x, y = round(left * PX_PER_DLU_X), round(top * PX_PER_DLU_Y)
        if c["bitmap"]:
            image.paste(bitmaps[c["bitmap"]], (x, y))
            continue
        box = (x, y, round(right * PX_PER_DLU_X), round(bottom * PX_PER_DLU_Y))
        draw.rectangle(box, fill=(240, 240, 240), outline=(0, 0, 0))
        draw.text((x + 2, y + 2), c["text"], font=small, fill=(0, 0, 0))
    image.save(path)


DOUBLE_SCALE_OFFSET = 1000  # IDB_DOUBLE_SCALE_OFFSET of resource.h


def write_double_scale_rc(table):
    lines = ["// Generated by make_bitmaps.py: the bitmaps at twice their size, each under 1000 + its",
             "// own id, for screens at 200% and the scales between 100% and 200%."]
    lines += [f'{DOUBLE_SCALE_OFFSET + row["id"]} BITMAP "bmp/2x/{row["id"]}.bmp"' for row in table]
    (HERE / "bitmaps2x.rc").write_text("\n".join(lines) + "\n")


def main():
    table = read_table()
    controls = read_controls(table)
    (HERE / "bmp").mkdir(exist_ok=True)
    buttons = [row for row in table if row["look"] != "background"]
    text_sizes = {row["size"]: label_size(row["size"], [b["label"] for b in buttons
                                                          if b["size"] == row["size"]])
                  for row in buttons}
    bitmaps = {}
    for scale, folder in ((1, HERE / "bmp"), (2, HERE / "bmp" / "2x")):
        folder.mkdir(exist_ok=True)
        for row in table:
            if row["look"] == "background":
                image = draw_background(controls, scale)
            else:
                image = draw_button(row["size"], row["label"], row["look"],
                                    text_sizes[row["size"]], scale)
            assert image.size == tuple(v * scale for v in row["size"]) and image.mode == "RGB"
            image.save(folder / f"{row['id']}.bmp")
            if scale == 1:
                bitmaps[row["id"]] = image
    write_double_scale_rc(table)
    write_icon(HERE / "vantrel.ico", (16, 32))
    if len(sys.argv) == 3 and sys.argv[1] == "--mockup":
        render_mockup(sys.argv[2], bitmaps[224], bitmaps, controls)


if __name__ == "__main__":
    main()
