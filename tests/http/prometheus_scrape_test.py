#!/usr/bin/env python3
"""A real Prometheus scrapes a run's /metrics on loopback; after the boxes, its query API must
give vespanode_boxes_total as the records count them. Prometheus keeps its data in a scratch
folder and listens on loopback only; it is stopped at the end, also after a failure. The records
go to an SQLite database, and the run's /api/v1/boxes serves them from there.

usage: prometheus_scrape_test.py BIN_DIR"""
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from line_run import SKIP, LineRun, free_port, wait_for  # noqa: E402

PROMETHEUS = "/usr/bin/prometheus"


def query(port, expression):
    url = "http://127.0.0.1:%d/api/v1/query?%s" % (port, urllib.parse.urlencode({"query": expression}))
    try:
        with urllib.request.urlopen(url, timeout=5) as answer:
            return json.load(answer)["data"]["result"]
    except (OSError, ValueError, KeyError):
        return None


def get_json(url):
    with urllib.request.urlopen(url, timeout=5) as answer:
        return json.load(answer)


EARLIER = "00000000-0000-4000-8000-000000000000"  # a recordId no run makes


def check_boxes_from_database(run):
    """/api/v1/boxes reads the database: a row another run left there is served too."""
    with sqlite3.connect(run.record) as db:
        columns = [row[1] for row in db.execute("PRAGMA table_info(boxes)")
                   if row[1] not in ("id", "record_id", "record", "end_time")]
        db.execute("INSERT INTO boxes (record_id, record, end_time, %s) SELECT ?, "
                   "json_set(record, '$.recordId', ?, '$.end', '2000-01-01T00:00:00.000Z'), "
                   "'2000-01-01T00:00:00.000Z', %s FROM boxes LIMIT 1" % (", ".join(columns), ", ".join(columns)),
                   (EARLIER, EARLIER))
    base = "http://127.0.0.1:%d/api/v1/boxes" % run.http_port
    served = get_json(base + "?limit=1000")
    stored = run.records()
    if sorted(r["recordId"] for r in served) != sorted(r["recordId"] for r in stored):
        raise AssertionError("/api/v1/boxes has %s, the database %s" % (served, stored))
    if served[0]["recordId"] != EARLIER:
        raise AssertionError("not oldest first: %s" % [r["recordId"] for r in served])
    later = get_json(base + "?since=2000-01-01T00:00:00Z&limit=2")
    if [r["recordId"] for r in later] != [r["recordId"] for r in served[:2]]:
        raise AssertionError("since and limit: %s" % later)
    if get_json(base + "?since=2000-01-01T00:00:01Z")[0]["recordId"] == EARLIER:
        raise AssertionError("since let an earlier box through")
    # Each one a record as docs/schema describes it.
    served_file = os.path.join(run.scratch, "served.jsonl")
    with open(served_file, "w") as f:
        f.writelines(json.dumps(record) + "\n" for record in served)
    here = os.path.dirname(os.path.abspath(__file__))
    check = subprocess.run([sys.executable, os.path.join(here, "..", "support", "check_json.py"),
                            os.path.join(here, "..", "..", "docs", "schema"), served_file],
                           capture_output=True, text=True)
    if check.returncode != 0:
        raise AssertionError("served records: %s%s" % (check.stdout, check.stderr))


def main():
    bin_dir = sys.argv[1]
    if not os.path.exists(PROMETHEUS):
        print("no prometheus: skipped")
        return SKIP
    run = LineRun(bin_dir, good=1, faulted=1, boxes=3, record="line.sqlite")
    storage = tempfile.mkdtemp(prefix="vespanode-prometheus-")
    prometheus = None
    try:
        run.start()
        config = os.path.join(storage, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: 500ms\n  evaluation_interval: 500ms\n"
                    "scrape_configs:\n  - job_name: vespanode\n    static_configs:\n"
                    "      - targets: ['127.0.0.1:%d']\n" % run.http_port)
        web = free_port()
        prometheus = subprocess.Popen(
            [PROMETHEUS, "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(storage, "data"),
             "--web.listen-address=127.0.0.1:%d" % web, "--log.level=warn"],
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(storage, "prometheus.log"), "w"))
        if not wait_for(run.ended_boxes, 60):
            raise AssertionError("the boxes did not all end: %s" % run.counts())
        expected = {}
        counts = run.counts()
        for port in run.ports:
            done, failed = counts.get(port, (0, 0))
            expected[(port, "success")] = done
            expected[(port, "failure")] = failed

        def scraped():
            result = query(web, "vespanode_boxes_total")
            if not result:
                return None
            got = {(r["metric"]["port"], r["metric"]["result"]): int(float(r["value"][1]))
                   for r in result if r["metric"]["result"] != "stopped"}
            return got if got == expected else None
        got = wait_for(scraped, 20, step=0.5)
        if not got:
            raise AssertionError("Prometheus has %s, the records %s" %
                                 (query(web, "vespanode_boxes_total"), expected))
        # What the run serves passes Prometheus's own checker, real port names and all.
        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % run.http_port, timeout=5) as answer:
            text = answer.read()
        check = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True)
        if check.returncode != 0 or check.stdout or check.stderr:
            raise AssertionError("promtool check metrics: %s%s" % (check.stdout, check.stderr))
        up = query(web, 'up{job="vespanode"}')
        if not up or up[0]["value"][1] != "1":
            raise AssertionError("the target is not up: %s" % up)
        check_boxes_from_database(run)
        print("ok: %s" % sorted(got.items()))
        return 0
    finally:
        if prometheus and prometheus.poll() is None:
            prometheus.terminate()
            try:
                prometheus.wait(15)
            except subprocess.TimeoutExpired:
                prometheus.kill()
                prometheus.wait()
        run.stop()
        shutil.rmtree(storage, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
