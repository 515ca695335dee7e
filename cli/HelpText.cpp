#include "cli/HelpText.h"

namespace tbcli {

std::string helpText() {
  return R"(tintbridge - make one picture look like another, with the Tintbridge OFX plug-in

Usage:
  tintbridge match SOURCE REFERENCE -o OUTPUT [options]
  tintbridge describe [--plugin BUNDLE] [--verbose]
  tintbridge grade INPUT -o OUTPUT [--slope R,G,B] [--offset R,G,B] [--power R,G,B]
                   [--saturation S] [--depth D]
  tintbridge --help | --version

match renders SOURCE through the colour match that carries it onto REFERENCE
and writes the result to OUTPUT, in the format of OUTPUT's extension (EXR,
TIFF, PNG, JPEG, DPX and whatever else OpenImageIO writes).

Options of match:
  -o, --output FILE         the matched picture (required)
  --mode different|same     Different Clips (default): match separate footage;
                            Same Frame: match two grades of the same picture
                            (Source and Reference of one size)
  --preserve none|brightness|colors
                            keep nothing (default), the Source's brightness,
                            or the Source's colors
  --mix X                   how much of the match to apply, 0 to 1 (default 1)
  --mix-red X, --mix-green X, --mix-blue X
                            per-channel mixes, 0 to 1 (default 1)
  --source-mask FILE        measure only where this matte is at least 0.5
  --reference-mask FILE     the same for the Reference (Different Clips only);
                            a matte is its alpha when that is not opaque
                            everywhere, else its first channel
  --cube FILE               also save the match as a 65-point .cube 3D LUT
  --cdl FILE                also save an ASC CDL fitted to the match
  --compare FILE            also save Source | Reference | Result side by side
  --depth 8|16|half|float   bit depth of OUTPUT (default: that of SOURCE)
  --frames FIRST-LAST       render a sequence: SOURCE, OUTPUT and optionally
                            REFERENCE, the masks and --compare name frames
                            with a pattern such as shot.%04d.exr or
                            shot.####.exr (without --frames, '#' and '%d'
                            are part of a still's name); each frame is
                            matched at its own time; .cube and .cdl hold the
                            last frame's match
  --analysis every|range|rolling
                            what the match is measured on: each frame alone
                            (default), frames spread over a range of the
                            sequence for one match of the whole shot, or the
                            frames round each frame
  --analysis-range FIRST-LAST
                            the range of range (default: the --frames range)
  --analysis-frames N       how many frames of the range are measured, spread
                            evenly with both ends included, 1 to 250
                            (default 12)
  --analysis-window K       rolling measures the frames from K before to K
                            after each frame, 1 to 100 (default 12)
  --threads N               render each frame as tiles on N threads
                            (default: one per processor)
  --plugin BUNDLE           the Bridgetint.ofx.bundle to load (default: the
                            one built beside this command, else the
                            installed one)
  -q, --quiet               no progress lines
  -v, --verbose             also show the plug-in's debug lines
                            ("Tintbridge: ..."), which are held back otherwise

describe lists what a host sees of the plug-in: its label, grouping,
contexts, clips and parameters with their labels, defaults and ranges.

grade applies an ASC CDL grade (slope, offset, power, then saturation) to a
picture, to make test material. Slopes go from 0 to 100, offsets from -10 to
10, powers above 0 up to 10, saturation from 0 to 10.

A job is all or nothing: its files appear whole, and all of them or none.
On any error the command says why, changes no file and exits with status 2;
interrupted by SIGINT, SIGTERM or SIGHUP it changes no file either and exits
with status 130, 143 or 129.

Example:
  tintbridge match day.png night.jpg -o day-as-night.png --preserve brightness \
      --cube day-to-night.cube --compare check.jpg
)";
}

}  // namespace tbcli
