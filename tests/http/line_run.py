"""A production line on virtual boxes with the line page served, for the browser and Prometheus
tests: good boxes, a box whose program step fails, and a port with no box on it (it waits)."""
import json
import os
import pty
import re
import signal
import socket
import sqlite3
import subprocess
import tempfile
import time

SKIP = 77


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, timeout, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


class LineRun:
    """Starts the boxes and vespanode-cli; stop() ends everything, also after a failure."""

    def __init__(self, bin_dir, good=2, faulted=1, boxes=3, file_name="firmware.dld",
                 quoted_port=False, record="line.jsonl"):
        self.bin = os.path.abspath(bin_dir)
        self.scratch = tempfile.mkdtemp(prefix="vespanode-line-")
        self.children = []
        self.ptys = []
        self.boxes = boxes
        # The run works in its scratch folder: the page shows the names as given.
        self.file = file_name
        self.record = os.path.join(self.scratch, record)
        self.ports = []
        self.faulted_port = None
        self.empty_port = None
        self.cli = None
        try:
            self._set_up(good, faulted, quoted_port)
        except BaseException:
            self.stop()
            raise

    def _set_up(self, good, faulted, quoted_port):
        self._pack()
        for index in range(good + faulted):
            faults = ["--fault", "program-fail-at=1"] if index >= good else []
            link = "ttyUSB%d" % index
            if quoted_port and index == 0:
                link = "port \"7\" 'line'"
            port = self._start_box(faults, link)
            self.ports.append(port)
            if faults:
                self.faulted_port = port
        # A port with nothing on it: the station waits for a box there until it is stopped.
        master, slave = pty.openpty()
        self.ptys += [master, slave]
        self.empty_port = "ttyUSB%d" % len(self.ports)
        os.symlink(os.ttyname(slave), os.path.join(self.scratch, self.empty_port))
        self.ports.append(self.empty_port)
        self.http_port = free_port()
        self.url = None

    def _pack(self):
        flash = os.path.join(self.scratch, "flash.img")
        with open(flash, "wb") as f:
            f.write(b"Vespanode line page test flash image. " * 4000)
            f.write(os.urandom(60000))
        subprocess.run([os.path.join(self.bin, "vespanode-cli"), "pack", "--set", "key", "--flash",
                        flash, "-o", os.path.join(self.scratch, self.file), "--manufacture-ident", "VESPANODE-LAB",
                        "--hardware-module", "VN-HW1", "--hardware-version", "1.00",
                        "--software-module", "VN-SW1", "--software-version", "3.1.05"],
                       check=True, stdout=subprocess.DEVNULL)

    def _start_box(self, faults, link):
        out = os.path.join(self.scratch, "box%d.out" % len(self.children))
        args = [os.path.join(self.bin, "vespanode-box"), "--quiet", "--pace", "--erase-ms", "700",
                "--program-ms", "700"] + faults
        if link:
            args += ["--link", link]
        with open(out, "w") as f:
            child = subprocess.Popen(args, stdout=f, cwd=self.scratch)
        self.children.append(child)

        def said():
            with open(out) as f:
                match = re.search(r"^pty: (.*)$", f.read(), re.M)
            return match and match.group(1)
        pty_path = wait_for(said, 5)
        if not pty_path:
            raise RuntimeError("the virtual box did not start")
        return link or pty_path

    def start(self, json_out=None):
        args = [os.path.join(self.bin, "vespanode-cli"), "download"]
        for port in self.ports:
            args += ["--port", port]
        args += ["--boxes", str(self.boxes), "--keep-going", "--record", self.record,
                 "--http", "127.0.0.1:%d" % self.http_port, self.file]
        self.err_path = os.path.join(self.scratch, "cli.err")
        self.cli = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=open(self.err_path, "w"),
                                    cwd=self.scratch)

        def address():
            with open(self.err_path) as f:
                match = re.search(r"the line page is at (\S+)", f.read())
            return match and match.group(1)
        self.url = wait_for(address, 10)
        if not self.url:
            raise RuntimeError("no page address: " + open(self.err_path).read())
        return self.url

    def records(self):
        if not os.path.exists(self.record):
            return []
        if self.record.endswith(".sqlite"):
            with sqlite3.connect(self.record) as db:
                return [json.loads(row[0]) for row in db.execute("SELECT record FROM boxes")]
        with open(self.record) as f:
            return [json.loads(line) for line in f if line.strip()]

    def ended_boxes(self):
        """Whether every port with a box has served all its boxes."""
        return len(self.records()) >= self.boxes * (len(self.ports) - 1)

    def counts(self):
        """(done, failed) per port, from the records."""
        result = {}
        for record in self.records():
            done, failed = result.get(record["port"], (0, 0))
            if record["result"] == "success":
                done += 1
            elif record["result"] == "failure":
                failed += 1
            result[record["port"]] = (done, failed)
        return result

    def stop(self):
        status = None
        if self.cli and self.cli.poll() is None:
            self.cli.send_signal(signal.SIGINT)
            try:
                status = self.cli.wait(20)
            except subprocess.TimeoutExpired:
                self.cli.kill()
                status = self.cli.wait()
        for child in self.children:
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(5)
                except subprocess.TimeoutExpired:
                    child.kill()
        for fd in self.ptys:
            os.close(fd)
        self.ptys = []
        subprocess.run(["rm", "-rf", self.scratch])
        return status
