#!/usr/bin/env python3
"""The line page in a real browser (headless Chromium) during a four-port run on virtual boxes:
two good boxes, one whose program step fails, one port with no box. The tiles follow the boxes,
the final counts equal the records, the failed station is red with its failure text, outside text
stays text, and the console stays clean.

usage: line_page_browser_test.py BIN_DIR [--screenshot PNG]"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from line_run import SKIP, LineRun, wait_for  # noqa: E402

HOSTILE_FILE = "<img src=x onerror=alert(1)>.dld"
FAILURE_TEXT = "Program flash failed!"
# The window's tones (form/status_tone.cpp) as the browser reports them.
RED = "rgb(192, 0, 0)"
GREEN = "rgb(0, 128, 0)"

TILES_JS = """
return Array.from(document.querySelectorAll('.tile')).map(function (t) {
  return {port: t.dataset.port, state: t.dataset.state, done: +t.dataset.done,
          failed: +t.dataset.failed, band: getComputedStyle(t.querySelector('.band')).backgroundColor,
          failure: t.querySelector('.failure').hidden ? null : t.querySelector('.failure .text').textContent,
          kind: t.querySelector('.failure .meta').textContent,
          portText: t.querySelector('.port').textContent};
});"""


def browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.mkdtemp(prefix="vespanode-chromium-")
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--disable-dev-shm-usage", "--window-size=1600,760",
                 "--user-data-dir=" + profile]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    return driver, profile


def check_stations_schema(url):
    """/api/v1/stations as docs/schema/stations.schema.json publishes it."""
    import json
    import urllib.request
    import jsonschema
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "..", "docs", "schema", "stations.schema.json")) as f:
        schema = json.load(f)
    with urllib.request.urlopen(url + "api/v1/stations", timeout=5) as answer:
        stations = json.load(answer)
    jsonschema.Draft202012Validator(schema).validate(stations)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def main():
    bin_dir = sys.argv[1]
    screenshot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
    if not (os.path.exists("/usr/bin/chromium") and os.path.exists("/usr/bin/chromedriver")):
        print("no chromium or chromedriver: skipped")
        return SKIP
    try:
        import selenium  # noqa: F401
    except ImportError:
        print("no python3-selenium: skipped")
        return SKIP
    run = LineRun(bin_dir, good=2, faulted=1, boxes=3, file_name=HOSTILE_FILE, quoted_port=True)
    driver = profile = None
    try:
        driver, profile = browser()
        driver.get("about:blank")
        url = run.start()
        driver.get(url)
        check(wait_for(lambda: len(driver.execute_script(TILES_JS)) == 4, 10), "four tiles")

        # Follow the tiles while the boxes go.
        seen_states = {}
        seen_done = {}
        def follow():
            for tile in driver.execute_script(TILES_JS):
                seen_states.setdefault(tile["port"], set()).add(tile["state"])
                seen_done.setdefault(tile["port"], set()).add(tile["done"] + tile["failed"])
            return run.ended_boxes()
        check(wait_for(follow, 60, step=0.05), "the boxes did not all end: %s" % run.counts())
        counts = run.counts()

        def tiles_counted():
            """The tiles once the last records have reached the page."""
            tiles = {tile["port"]: tile for tile in driver.execute_script(TILES_JS)}
            return all((tiles[p]["done"], tiles[p]["failed"]) == counts.get(p, (0, 0))
                       for p in run.ports) and tiles
        tiles = wait_for(tiles_counted, 20) or {t["port"]: t for t in driver.execute_script(TILES_JS)}
        for port in run.ports:
            tile = tiles[port]
            check(tile["portText"] == port, "the port's name as text: %r" % tile["portText"])
            check((tile["done"], tile["failed"]) == counts.get(port, (0, 0)),
                  "%s: the tile says %s, the records %s" % (port, tile, counts.get(port)))
            if port == run.empty_port:
                check(tile["state"] == "waiting", "no box: waiting, not %s" % tile["state"])
                continue
            # Every box's tile went through several states and counted up one box at a time.
            check(len(seen_states[port]) >= 2, "%s: only %s" % (port, seen_states[port]))
            check(len(seen_done[port]) >= 3, "%s: counts seen %s" % (port, seen_done[port]))
        faulted = tiles[run.faulted_port]
        check(faulted["state"] == "failure" and faulted["band"] == RED, "faulted: %s" % faulted)
        check(faulted["failure"] == FAILURE_TEXT, "failure text: %r" % faulted["failure"])
        check("program-failed" in faulted["kind"], "failure kind: %r" % faulted["kind"])
        good = tiles[run.ports[0]]
        check(good["state"] == "success" and good["band"] == GREEN, "good: %s" % good)
        header = driver.find_element("id", "file").text
        check(HOSTILE_FILE in header, "the file's name as text: %r" % header)
        check(driver.execute_script("return document.querySelectorAll('img').length") == 0,
              "the file's name became markup")
        check(driver.find_element("id", "done").text == str(sum(c[0] for c in counts.values())),
              "header total")

        check_stations_schema(run.url)

        errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
        check(not errors, "console errors: %s" % errors)
        if screenshot:
            driver.save_screenshot(screenshot)
        status = run.stop()
        check(status == 130, "a stop request ends the run with 130, not %s" % status)
        print("ok: %s" % counts)
        return 0
    finally:
        if driver:
            driver.quit()
        if profile:
            shutil.rmtree(profile, ignore_errors=True)
        run.stop()


if __name__ == "__main__":
    sys.exit(main())
