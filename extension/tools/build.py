#!/usr/bin/env python3
"""Assembles the extension for Chromium or Firefox: unpacked in a folder and as a zip (.xpi for Firefox).

  build.py --engine glintmark-worker-engine.js [--browser chromium|firefox] OUT_DIR OUT.zip

OUT_DIR gets the manifest, the service worker, the content scripts (each
joined from its parts: EARLY_SCRIPT, CONTENT_SCRIPT), the options page
with the options word (web/options_word.js), the service worker's engine (as engine/glintmark-engine.js) and the product's
icons turned into PNG (resources/*.ico: the toolbar button's icon for the
action and the extension, the dialog's icon for the options page). The zip
holds the same files at its top level, as the Chrome Web Store and "Load
unpacked" (after unzipping) expect, and Firefox as an .xpi.

Both browsers get the same files; only the manifest differs (firefox_manifest
below) and Firefox gets one more script, firefox_background.js, that lets the
service worker's code run as Firefox's background page. Standard library only.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import zipfile

TOOLS = os.path.dirname(os.path.abspath(__file__))
HERE = os.path.dirname(TOOLS)  # extension/: the files the extension is made of
RESOURCES = os.path.join(HERE, "..", "resources")
FILES = ["manifest.json", "service_worker.js", "options.html", "options.css", "options.js", "browser_options.js",
         "marks_worker.js", "popup.html", "popup.css", "popup.js"]
# Scripts of the engine's folder (web/) that the extension's own scripts load.
WEB = os.path.join(HERE, "..", "web")
WEB_FILES = ["options_word.js"]
# The content script: the page's half of a pass (no engine) joined into one
# file, in this order.
# The content scripts, each built from its parts: early_styles.js runs at
# the document's start, content_script.js once it is loaded (same world).
EARLY_SCRIPT = [os.path.join(HERE, "shadows.js"), os.path.join(HERE, "painter_highlight.js"), os.path.join(HERE, "early_styles.js")]
CONTENT_SCRIPT = [os.path.join(WEB, "protocol.js"), os.path.join(WEB, "options_word.js"),
                  os.path.join(WEB, "page.js"),
                  os.path.join(HERE, "mutation_passes.js"), os.path.join(HERE, "navigation.js"),
                  os.path.join(HERE, "marks.js"), os.path.join(HERE, "strip.js"),
                  os.path.join(HERE, "content_script.js")]
# (icon file, image size, scale, output name)
ICONS = [
    ("button.ico", 16, 1, "button-16.png"),
    ("button.ico", 32, 1, "button-32.png"),
    ("button.ico", 32, 4, "button-128.png"),
    ("options.ico", 32, 1, "options-32.png"),
]
# What Firefox runs the background in is an event page, not a service worker:
# a page, whose scripts the manifest lists in order and which has no
# importScripts. This script, listed first, makes importScripts a no-op there,
# and the scripts the worker imports are listed before the worker itself.
FIREFOX_BACKGROUND_SHIM = "firefox_background.js"
GECKO = {
    "id": "glintmark@glintmark.example",
    # MV3 with storage.session, 'wasm-unsafe-eval' and the CSS Custom
    # Highlight API: the ESR line of 140 onwards.
    "strict_min_version": "140.0",
    # Nothing leaves the browser.
    "data_collection_permissions": {"required": ["none"]},
}


def imported_scripts(worker_source):
    """The files the service worker loads with importScripts, in order."""
    found = re.search(r"^importScripts\(([^)]*)\);", worker_source, re.MULTILINE)
    if not found:
        raise SystemExit("build.py: the service worker has no importScripts(...) line to list for Firefox")
    return re.findall(r"'([^']+)'", found.group(1))


def firefox_manifest(manifest, worker_source):
    """The Chromium manifest turned into Firefox's: the service worker runs as
    an event page, and the add-on has an id of its own."""
    worker = manifest["background"]["service_worker"]
    manifest = dict(manifest)
    manifest["background"] = {"scripts": [FIREFOX_BACKGROUND_SHIM, *imported_scripts(worker_source), worker]}
    manifest["browser_specific_settings"] = {"gecko": GECKO}
    # Firefox's messages are structured clones anyway, and it knows no such key.
    manifest.pop("message_serialization", None)
    # Firefox gives a tab that a page's script opens in a new window no
    # openerTabId; the navigation that made it names its source tab
    # (firefox_background.js).
    if "webNavigation" not in manifest["permissions"]:
        manifest["permissions"] = [*manifest["permissions"], "webNavigation"]
    return manifest


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--engine", required=True, help="glintmark-worker-engine.js of the wasm build")
    parser.add_argument("--browser", choices=["chromium", "firefox"], default="chromium")
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
    if args.browser == "firefox":
        manifest_path = os.path.join(args.out_dir, "manifest.json")
        with open(manifest_path, encoding="utf-8") as source:
            manifest = json.load(source)
        with open(os.path.join(HERE, manifest["background"]["service_worker"]), encoding="utf-8") as source:
            manifest = firefox_manifest(manifest, source.read())
        with open(manifest_path, "w", encoding="utf-8") as out:
            json.dump(manifest, out, indent=2)
            out.write("\n")
        shutil.copyfile(os.path.join(HERE, FIREFOX_BACKGROUND_SHIM), os.path.join(args.out_dir, FIREFOX_BACKGROUND_SHIM))
    for name in WEB_FILES:
        shutil.copyfile(os.path.join(WEB, name), os.path.join(args.out_dir, name))
    # Every frame of every page loads them: without their comment lines and
    # blank lines (the sources keep them). Each begins with V8's compile hint
    # (Chromium; a comment elsewhere): its functions are compiled with the
    # script, not each at its first call after a preparse, since a frame's
    # pass calls most of them. On the 20 KB article the content script's own
    # time went from about 9 to 4 ms, the renderer's main thread about 8 ms
    # shorter; once per renderer process, its frames share the compiled code.
    for name, parts in (("early_styles.js", EARLY_SCRIPT), ("content_script.js", CONTENT_SCRIPT)):
        with open(os.path.join(args.out_dir, name), "w", encoding="utf-8") as out:
            out.write("//# allFunctionsCalledOnLoad\n")
            for part in parts:
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
