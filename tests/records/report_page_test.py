#!/usr/bin/env python3
"""The report's HTML page in a real headless Chromium: it loads with no console error and no
request beyond itself, its four charts are there (the hour the line stood still too), and every
number it shows is the one `report --json` gives.

Usage: report_page_test.py BIN_DIR
Exit 77 (skipped) without python3-selenium, chromium or chromium-driver.
"""
import json
import os
import pathlib
import random
import shutil
import subprocess
import sys
import tempfile

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    print("no python3-selenium")
    sys.exit(77)

DRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
if not os.path.exists(DRIVER) or not shutil.which("chromium"):
    print("no chromium or chromium-driver")
    sys.exit(77)


def write_records(path):
    """A shift of two PCs with four ports each: results, failures and efficiencies spread, and
    no box from 09:00 to 10:00."""
    rng = random.Random(11)
    kinds = ["no-answer", "identity-refused", "damaged-data"]
    with open(path, "w", encoding="utf-8") as out:
        for n in range(600):
            station = n % 8
            roll = rng.random()
            result = "failure" if roll < 0.06 else "stopped" if roll > 0.995 else "success"
            out.write(json.dumps({
                "schema": 2, "recordId": "%08x-0000-4000-8000-%012x" % (n, n),
                "host": "pc-%d" % (station // 4 + 1),
                "start": "2026-12-08T%02d:%02d:%02d.000Z" % (6 + n // 100 + (n >= 300),
                                                             n % 60, n % 59),
                "end": "2026-12-08T23:00:00.000Z", "port": "COM%d" % (station % 4 + 1),
                "operation": "download", "box": n + 1, "file": "app.dld", "sha256": "ab" * 32,
                "header": None, "result": result,
                "failureKind": rng.choice(kinds) if result == "failure" else None,
                "failure": "Connect Fail!" if result == "failure" else None, "reason": None,
                "phase": "program", "bytesSent": 1, "bytesReceived": 1, "framesResent": 0,
                "naksSent": 0, "naksReceived": 0, "timeouts": 0, "meanAnswerDelayMs": 1.0,
                "seconds": round(40 + rng.random() * 10, 3),
                "efficiency": round(0.5 + rng.random() * 0.49, 3),
                "regionsChecked": None, "regionsDiffering": None}) + "\n")
    # A line of the old schema, without recordId, host or failureKind.
    with open(path, "a", encoding="utf-8") as out:
        out.write(json.dumps({"schema": 1, "start": "2026-12-08T12:00:00.000Z", "port": "COM9",
                              "operation": "download", "box": 1, "file": "old.dld",
                              "sha256": None, "result": "success", "seconds": 50.0,
                              "efficiency": None}) + "\n")


def main():
    bin_dir = pathlib.Path(sys.argv[1])
    cli = str(bin_dir / "vespanode-cli")
    failures = []
    with tempfile.TemporaryDirectory() as work:
        records = os.path.join(work, "line.jsonl")
        page = os.path.join(work, "report.html")
        write_records(records)
        report = json.loads(subprocess.run([cli, "report", records, "--json", "--html", page],
                                           check=True, capture_output=True, text=True).stdout)
        options = webdriver.ChromeOptions()
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--no-first-run", "--user-data-dir=" + work + "/profile"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
        driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        try:
            driver.get_log("performance")  # the browser's own start page's requests
            driver.get_log("browser")
            driver.get("file://" + page)
            errors = [entry for entry in driver.get_log("browser")
                      if entry["level"] in ("SEVERE", "WARNING")]
            if errors:
                failures.append("console: %s" % errors)
            # Nothing but the page itself was requested.
            for entry in driver.get_log("performance"):
                message = json.loads(entry["message"])["message"]
                if message["method"] == "Network.requestWillBeSent":
                    url = message["params"]["request"]["url"]
                    ours = message["params"].get("documentURL") == "file://" + page
                    if ours and url != "file://" + page:
                        failures.append("requested " + url)
            for chart in ("hours", "stations", "failures", "efficiency"):
                bars = driver.find_elements(By.CSS_SELECTOR,
                                            "svg[data-chart=%s] rect" % chart)
                shown = [bar for bar in bars if bar.size["width"] > 0 and bar.size["height"] > 0]
                if not shown:
                    failures.append("chart %s shows no bar" % chart)
            hour_bars = driver.find_elements(By.CSS_SELECTOR, "svg[data-chart=hours] rect")
            if len(hour_bars) < len(report["hours"]):
                failures.append("fewer hour bars than hours")
            idle = driver.find_elements(By.CSS_SELECTOR, "svg[data-chart=hours] rect.idle")
            if [row["boxes"] for row in report["hours"]].count(0) != 1 or len(idle) != 1 or \
                    idle[0].size["height"] <= 0:
                failures.append("the hour without a box is not drawn as one")

            def values(table):
                cells = driver.find_elements(By.CSS_SELECTOR,
                                             "table[data-table=%s] td[data-value]" % table)
                return [json.loads(cell.get_attribute("data-value")) for cell in cells]

            keys = ("boxes", "succeeded", "failed", "stopped", "unknown", "yield")
            expected = {
                "totals": [report[key] for key in keys],
                "figures": [report["boxesPerHour"], report["medianSeconds"],
                            report["efficiency"]["median"], report["efficiency"]["p5"]],
                "operations": [row[key] for row in report["operations"] for key in keys],
                "ports": [row[key] for row in report["ports"] for key in keys],
                "firmware": [row[key] for row in report["firmware"] for key in keys],
                "failureTexts": [row["boxes"] for row in report["failureTexts"]],
            }
            for table, numbers in expected.items():
                if values(table) != numbers:
                    failures.append("%s: page %s, --json %s" % (table, values(table), numbers))
            # The visible text agrees too: the yield as a percentage.
            total_yield = driver.find_element(
                By.CSS_SELECTOR, "table[data-table=totals] td:last-child").text
            if total_yield != "%.1f%%" % (report["yield"] * 100):
                failures.append("yield shown as %r" % total_yield)
            driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"media": "print"})
            pdf = driver.execute_cdp_cmd("Page.printToPDF", {})
            if len(pdf.get("data", "")) < 1000:
                failures.append("the page does not print")
        finally:
            driver.quit()
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("the report's page loads cleanly, draws its charts and agrees with --json")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
