#!/usr/bin/env python3
"""Assembles the Chromium extension: unpacked in a folder and as a zip.

  build.py --engine ENGINE.js OUT_DIR OUT.zip

OUT_DIR gets the manifest, the service worker, the content script, the
options page, the engine (as engine/glintmark-engine.js) and the product's
icons turned into PNG (resources/*.ico: the toolbar button's icon for the
action and the extension, the dialog's icon for the options page). The zip
holds the same files at its top level, as the Chrome Web Store and "Load
unpacked" (after unzipping) expect. Standard library only.
"""
import argparse
import os
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(HERE, "..", "resources")
FILES = ["manifest.json", "service_worker.js", "content_script.js", "painter_highlight.js",
         "mutation_passes.js", "navigation.js",
         "options.html", "options.css", "options.js"]
# (icon file, image size, scale, output name)
ICONS = [
    ("button.ico", 16, 1, "button-16.png"),
    ("button.ico", 32, 1, "button-32.png"),
    ("button.ico", 32, 4, "button-128.png"),
    ("options.ico", 32, 1, "options-32.png"),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--engine", required=True, help="glintmark-engine.js")
    parser.add_argument("out_dir")
    parser.add_argument("out_zip")
    args = parser.parse_args()
    if not os.path.isfile(args.engine):
        print(f"build.py: no engine at {args.engine}", file=sys.stderr)
        return 1
    shutil.rmtree(args.out_dir, ignore_errors=True)
    os.makedirs(os.path.join(args.out_dir, "icons"))
    os.makedirs(os.path.join(args.out_dir, "engine"))
    for name in FILES:
        shutil.copyfile(os.path.join(HERE, name), os.path.join(args.out_dir, name))
    shutil.copyfile(args.engine, os.path.join(args.out_dir, "engine", "glintmark-engine.js"))
    for icon, size, scale, name in ICONS:
        subprocess.run([sys.executable, os.path.join(HERE, "ico_to_png.py"), os.path.join(RESOURCES, icon),
                        str(size), os.path.join(args.out_dir, "icons", name), "--scale", str(scale)],
                       check=True)
    tmp = args.out_zip + ".tmp"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as archive:
        for folder, _, names in sorted(os.walk(args.out_dir)):
            for name in sorted(names):
                path = os.path.join(folder, name)
                archive.write(path, os.path.relpath(path, args.out_dir))
    os.replace(tmp, args.out_zip)
    print(f"built {args.out_dir}/ and {args.out_zip}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
