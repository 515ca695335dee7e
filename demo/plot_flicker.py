#!/usr/bin/env python3
"""SVG plot of the demo pan's frame-to-frame difference for each analysis choice.

    demo/plot_flicker.py PAN_FLICKER_CSV OUTPUT_SVG

The CSV is the demo's demo-out/pan-flicker.csv: columns from,to and one
column of mean CIEDE2000 per analysis choice (every, range, rolling).
Standard library only.
"""
import csv
import math
import sys
from xml.sax.saxutils import escape

LABELS = {"every": "Every Frame", "range": "Frame Range", "rolling": "Rolling Window"}
COLOURS = {"every": "#d1495b", "range": "#00798c", "rolling": "#edae49"}
OTHER_COLOURS = ["#30638e", "#8d6a9f", "#3f7d20"]

WIDTH, HEIGHT = 760, 380
LEFT, RIGHT, TOP, BOTTOM = 70, 190, 46, 56


def nice_step(span, ticks=5):
    """A round tick step (1, 2 or 5 times a power of ten) for about `ticks` ticks."""
    raw = span / ticks
    power = 10 ** math.floor(math.log10(raw))
    for m in (1, 2, 5, 10):
        if m * power >= raw:
            return m * power
    return 10 * power


def read_table(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    if len(rows) < 2 or rows[0][:2] != ["from", "to"]:
        raise ValueError(f"{path}: expected a header 'from,to,...' and at least one row")
    names = rows[0][2:]
    pairs = [int(r[0]) for r in rows[1:]]
    series = {n: [float(r[2 + i]) for r in rows[1:]] for i, n in enumerate(names)}
    return pairs, series


def plot(pairs, series):
    plot_w, plot_h = WIDTH - LEFT - RIGHT, HEIGHT - TOP - BOTTOM
    top_value = max([v for vals in series.values() for v in vals] + [1e-3])
    step = nice_step(top_value)
    y_max = step * math.ceil(top_value / step)
    x_min, x_max = pairs[0], max(pairs[-1], pairs[0] + 1)

    def x_of(p):
        return LEFT + (p - x_min) / (x_max - x_min) * plot_w

    def y_of(v):
        return TOP + plot_h - v / y_max * plot_h

    out = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
        f'viewBox="0 0 {WIDTH} {HEIGHT}" font-family="Helvetica, Arial, sans-serif" font-size="12">',
        f'<rect width="{WIDTH}" height="{HEIGHT}" fill="#ffffff"/>',
        f'<text x="{LEFT}" y="24" font-size="15" font-weight="bold">'
        "Frame-to-frame difference over a camera pan (mean CIEDE2000)</text>",
    ]
    # Grid and value axis.
    ticks = int(round(y_max / step))
    decimals = max(0, -int(math.floor(math.log10(step))))
    for i in range(ticks + 1):
        v = i * step
        y = y_of(v)
        out.append(f'<line x1="{LEFT}" y1="{y:.1f}" x2="{LEFT + plot_w}" y2="{y:.1f}" stroke="#e3e3e3"/>')
        out.append(f'<text x="{LEFT - 8}" y="{y + 4:.1f}" text-anchor="end">{v:.{decimals}f}</text>')
    # Frame axis.
    x_step = max(1, int(nice_step(x_max - x_min, 8)))
    first_tick = x_step * math.ceil(x_min / x_step)
    for p in range(first_tick, x_max + 1, x_step):
        x = x_of(p)
        out.append(f'<line x1="{x:.1f}" y1="{TOP + plot_h}" x2="{x:.1f}" y2="{TOP + plot_h + 5}" stroke="#444"/>')
        out.append(f'<text x="{x:.1f}" y="{TOP + plot_h + 19}" text-anchor="middle">{p}</text>')
    out.append(f'<rect x="{LEFT}" y="{TOP}" width="{plot_w}" height="{plot_h}" fill="none" stroke="#444"/>')
    out.append(
        f'<text x="{LEFT + plot_w / 2:.1f}" y="{HEIGHT - 14}" text-anchor="middle">'
        "frame n (difference from frame n to n + 1)</text>"
    )
    out.append(
        f'<text transform="translate(18 {TOP + plot_h / 2:.1f}) rotate(-90)" text-anchor="middle">'
        "\u0394E 2000</text>"
    )
    # One line per choice, and the legend with its mean.
    for i, (name, values) in enumerate(series.items()):
        colour = COLOURS.get(name, OTHER_COLOURS[i % len(OTHER_COLOURS)])
        points = " ".join(f"{x_of(p):.1f},{y_of(v):.1f}" for p, v in zip(pairs, values))
        out.append(f'<polyline points="{points}" fill="none" stroke="{colour}" stroke-width="2" '
                   'stroke-linejoin="round"/>')
        ly = TOP + 14 + 40 * i
        lx = LEFT + plot_w + 16
        mean = sum(values) / len(values)
        out.append(f'<line x1="{lx}" y1="{ly}" x2="{lx + 22}" y2="{ly}" stroke="{colour}" stroke-width="3"/>')
        out.append(f'<text x="{lx + 30}" y="{ly + 4}">{escape(LABELS.get(name, name))}</text>')
        out.append(f'<text x="{lx + 30}" y="{ly + 20}" fill="#555">mean {mean:.3f}</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 1
    try:
        pairs, series = read_table(argv[1])
    except (OSError, ValueError, IndexError) as e:
        sys.stderr.write(f"plot_flicker: {e}\n")
        return 1
    with open(argv[2], "w", encoding="utf-8") as f:
        f.write(plot(pairs, series))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
