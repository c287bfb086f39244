#!/usr/bin/env python3
"""Assembles the Chromium extension: unpacked in a folder and as a zip.

  build.py --engine glintmark-worker-engine.js OUT_DIR OUT.zip

OUT_DIR gets the manifest, the service worker, the content script (joined
with web/protocol.js, web/options_word.js and web/page.js), the options page
with the options word (web/options_word.js), the service worker's engine (as engine/glintmark-engine.js) and the product's
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

TOOLS = os.path.dirname(os.path.abspath(__file__))
HERE = os.path.dirname(TOOLS)  # extension/: the files the extension is made of
RESOURCES = os.path.join(HERE, "..", "resources")
FILES = ["manifest.json", "service_worker.js", "options.html", "options.css", "options.js"]
# Scripts of the engine's folder (web/) that the extension's own scripts load.
WEB = os.path.join(HERE, "..", "web")
WEB_FILES = ["options_word.js"]
# The content script: the page's half of a pass (no engine) joined into one
# file, in this order.
CONTENT_SCRIPT = [os.path.join(WEB, "protocol.js"), os.path.join(WEB, "options_word.js"),
                  os.path.join(WEB, "page.js"), os.path.join(HERE, "painter_highlight.js"),
                  os.path.join(HERE, "mutation_passes.js"), os.path.join(HERE, "navigation.js"),
                  os.path.join(HERE, "content_script.js")]
# (icon file, image size, scale, output name)
ICONS = [
    ("button.ico", 16, 1, "button-16.png"),
    ("button.ico", 32, 1, "button-32.png"),
    ("button.ico", 32, 4, "button-128.png"),
    ("options.ico", 32, 1, "options-32.png"),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--engine", required=True, help="glintmark-worker-engine.js of the wasm build")
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
    for name in WEB_FILES:
        shutil.copyfile(os.path.join(WEB, name), os.path.join(args.out_dir, name))
    # Every frame of every page loads it: without its comment lines and blank
    # lines (the sources keep them).
    with open(os.path.join(args.out_dir, "content_script.js"), "w", encoding="utf-8") as out:
        for part in CONTENT_SCRIPT:
            with open(part, encoding="utf-8") as source:
                out.writelines(line for line in source
                               if line.strip() and not line.lstrip().startswith("//"))
    shutil.copyfile(args.engine, os.path.join(args.out_dir, "engine", "glintmark-engine.js"))
    for icon, size, scale, name in ICONS:
        subprocess.run([sys.executable, os.path.join(TOOLS, "ico_to_png.py"), os.path.join(RESOURCES, icon),
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
