#!/usr/bin/python3
"""Reads a picture of the virtual unit's screen (PPM, as QEMU's screendump writes it) and checks
what the console shows, from the colours of its style sheet (service/default.css): the window
background, the push buttons' face and the dark text.

  main PPM          the main window: not blank, the window background over most of the screen,
                    and a menu column of at least six buttons
  dialog PPM REF... a new window in front: the main window's menu is hidden (the console hides
                    it while it asks or works), the screen differs from every REF picture (the
                    main window, the dialog before) and shows buttons
  button PPM N      prints the centre "X Y" of the N-th button of the menu column (from the top)
  text PPM          prints the words on the screen, line by line, as tesseract reads them
  find PPM WORDS    prints the centre "X Y" of the first line on the screen that holds WORDS
                    (letter case and blanks aside), to click it as a technician would

Exit status 0 when the check holds; otherwise 1 with the reason on the error output.
"""
import os
import subprocess
import sys
import tempfile

BACKGROUND = (236, 240, 245)
BUTTON_FACE = (250, 251, 253)
# A button under the pointer (QPushButton:hover): the pointer stays where the last click left it,
# so after a row's flow the main window shows that row's button in this colour.
HOVER_FACE = (220, 232, 250)
MENU_MIN_BUTTONS = 6


def read_ppm(path):
    with open(path, 'rb') as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b'#':
            pos = data.index(b'\n', pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b'P6' or fields[3] != b'255':
        raise SystemExit('%s: not an 8-bit PPM picture' % path)
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:pos + 1 + width * height * 3]


class Screen:
    def __init__(self, path):
        self.width, self.height, self.pixels = read_ppm(path)

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def share(self, colour):
        count = sum(1 for i in range(0, len(self.pixels), 3 * 7) if tuple(self.pixels[i:i + 3]) == colour)
        return count / (len(self.pixels) / (3 * 7))

    def dark_share(self):
        step = 3 * 7
        count = sum(1 for i in range(0, len(self.pixels), step) if sum(self.pixels[i:i + 3]) < 240)
        return count / (len(self.pixels) / step)

    def runs(self, x, colours, least=14):
        """Vertical runs of any of `colours` at column x, at least `least` pixels tall: (top, bottom)."""
        found, top = [], None
        for y in range(self.height + 1):
            inside = y < self.height and self.at(x, y) in colours
            if inside and top is None:
                top = y
            elif not inside and top is not None:
                if y - top >= least:
                    found.append((top, y - 1))
                top = None
        return found

    def menu(self):
        """The menu column: the column (left half of the screen) crossing the most button faces
        (the one under the pointer among them), and those faces' vertical extents."""
        best = (0, None, [])
        for x in range(4, self.width // 2, 4):
            faces = self.runs(x, (BUTTON_FACE, HOVER_FACE))
            if len(faces) > best[0]:
                best = (len(faces), x, faces)
        return best[1], best[2]

    def buttons(self):
        """Button faces anywhere: rows of at least 40 face pixels in a horizontal run."""
        count = 0
        for y in range(0, self.height, 3):
            run = 0
            for x in range(self.width):
                run = run + 1 if self.at(x, y) == BUTTON_FACE else 0
                if run == 40:
                    count += 1
        return count


def check_main(screen):
    if screen.share(BACKGROUND) < 0.25:
        return 'the window background covers %.0f %% of the screen' % (100 * screen.share(BACKGROUND))
    if screen.dark_share() < 0.002:
        return 'no text on the screen'
    x, faces = screen.menu()
    if len(faces) < MENU_MIN_BUTTONS:
        return 'the menu column shows %d buttons' % len(faces)
    return None


def differing_share(screen, other):
    if (screen.width, screen.height) != (other.width, other.height):
        return 1.0
    step = 3 * 11
    count = sum(1 for i in range(0, len(screen.pixels), step) if screen.pixels[i:i + 3] != other.pixels[i:i + 3])
    return count / (len(screen.pixels) / step)


def check_dialog(screen, references):
    # The console hides its menu while a flow asks something or runs.
    x, faces = screen.menu()
    if len(faces) >= MENU_MIN_BUTTONS:
        return 'the main window\'s menu is in front (%d buttons)' % len(faces)
    for path in references:
        share = differing_share(screen, Screen(path))
        if share < 0.005:
            return 'the screen still shows %s (%.2f %% of it differs)' % (path, 100 * share)
    if screen.buttons() == 0:
        return 'no buttons on the screen'
    return None


def read_lines(path):
    """The screen's lines as tesseract reads them: [(text, left, top, right, bottom)]. The picture
    is scaled up twice first (the console's small fonts read better)."""
    with tempfile.TemporaryDirectory() as tmp:
        width, height, pixels = read_ppm(path)
        big = bytearray()
        for y in range(height):
            row = bytearray()
            for x in range(width):
                row += pixels[(y * width + x) * 3:(y * width + x) * 3 + 3] * 2
            big += row * 2
        scaled = os.path.join(tmp, 'screen.ppm')
        with open(scaled, 'wb') as f:
            f.write(b'P6\n%d %d\n255\n' % (width * 2, height * 2) + bytes(big))
        tsv = subprocess.run(['tesseract', scaled, '-', '--psm', '11', 'tsv'], capture_output=True,
                             text=True, check=True).stdout
    words = {}
    for row in tsv.splitlines()[1:]:
        f = row.split('\t')
        if len(f) < 12 or f[0] != '5' or not f[11].strip():
            continue
        left, top, w, h = (int(v) // 2 for v in f[6:10])
        key = (f[2], f[3], f[4])
        words.setdefault(key, []).append((f[11].strip(), left, top, left + w, top + h))
    lines = []
    for parts in words.values():
        text = ' '.join(p[0] for p in parts)
        lines.append((text, min(p[1] for p in parts), min(p[2] for p in parts),
                      max(p[3] for p in parts), max(p[4] for p in parts)))
    lines.sort(key=lambda l: (l[2], l[1]))
    return lines


def squeeze(text):
    return ''.join(text.lower().split())


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    mode, screen = argv[1], Screen(argv[2])
    problem = None
    if mode == 'main':
        problem = check_main(screen)
    elif mode == 'dialog':
        problem = check_dialog(screen, argv[3:])
    elif mode == 'button':
        problem = check_main(screen)
        if problem is None:
            x, faces = screen.menu()
            n = int(argv[3])
            if n > len(faces):
                problem = 'the menu has only %d buttons' % len(faces)
            else:
                top, bottom = faces[n - 1]
                y = (top + bottom) // 2
                left, right = x, x
                face = screen.at(x, y)
                while left > 0 and screen.at(left - 1, y) == face:
                    left -= 1
                # The button's label interrupts its face: look past short gaps to its right end.
                probe = x
                while probe < screen.width - 1 and any(screen.at(probe + k, y) == face for k in range(1, 40)
                                                       if probe + k < screen.width):
                    probe += 1
                    if screen.at(probe, y) == face:
                        right = probe
                print((left + right) // 2, y)
    elif mode == 'text':
        for line in read_lines(argv[2]):
            print(line[0])
    elif mode == 'find':
        wanted = squeeze(' '.join(argv[3:]))
        lines = read_lines(argv[2])
        hits = [l for l in lines if wanted in squeeze(l[0])]
        if hits:
            text, left, top, right, bottom = hits[0]
            # A line holding more than the words: the words' own share of it, from its left.
            start = squeeze(text).index(wanted)
            share = (start + len(wanted) / 2) / max(1, len(squeeze(text)))
            print(left + int((right - left) * share), (top + bottom) // 2)
        else:
            problem = 'no line reads %r (the screen reads: %s)' % (' '.join(argv[3:]), ' | '.join(l[0] for l in lines))
    else:
        sys.stderr.write(__doc__)
        return 2
    if problem:
        sys.stderr.write('%s: %s\n' % (argv[2], problem))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
