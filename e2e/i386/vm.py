"""The emulated i386 machine of the 32-bit end-to-end tests, seen from the host.

Vm starts the cached image (built by build-image.sh) under qemu-system-i386
with software emulation and talks to the job agent in it over a virtio-serial
port: a job is a shell script plus files put into the machine, and its result
is the script's exit status, output and the files asked back. A test run does
not boot: it restores the state that the image build saved of a machine
ready for a session (Xvfb and the wineserver running): qemu starts and
loads it in 3 to 6 s.
The disk is opened with snapshot=on, so a test run never changes the image.
"""

import io
import json
import os
import shlex
import shutil
import socket
import subprocess
import tarfile
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
# What the image is made of, this file too: its machine (devices, processor,
# kernel arguments) must be the one whose state the image saved.
RECIPE = [HERE / "build-image.sh", HERE / "guest" / "initrd-init",
          HERE / "guest" / "vellomire-init", HERE / "guest" / "vellomire-agent",
          HERE / "guest" / "setup.sh", HERE / "guest" / "vellomire-session", HERE / "vm.py"]


class VmError(RuntimeError):
    """The machine itself failed (did not boot, channel broke, job timed out)."""


def qemu_version():
    """qemu's first line of --version: a saved state loads only into the qemu
    that saved it (its "max" processor has the features of its version)."""
    try:
        done = subprocess.run(["qemu-system-i386", "--version"], capture_output=True)
    except OSError:
        return b""
    return done.stdout.split(b"\n")[0]


def recipe_hash():
    """The same hash build-image.sh computes: sha256 of the recipe files and
    of qemu's version."""
    import hashlib
    h = hashlib.sha256()
    for path in RECIPE:
        h.update(hashlib.sha256(path.read_bytes()).hexdigest().encode() + b"  " +
                 path.name.encode() + b"\n")
    h.update(qemu_version() + b"\n")
    return h.hexdigest()[:16]


def image_dir():
    cache = Path(os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache")
    return cache / "vellomire" / f"i386-{recipe_hash()}"


@dataclass
class JobResult:
    rc: int
    stdout: bytes
    stderr: bytes
    files: dict = field(default_factory=dict)   # guest path -> bytes

    def text(self):
        return self.stdout.decode("utf-8", "replace")

    def check(self, what="job"):
        if self.rc != 0:
            raise VmError(f"{what} failed with {self.rc}:\n--- stdout\n"
                          f"{self.stdout.decode('utf-8', 'replace')}\n--- stderr\n"
                          f"{self.stderr.decode('utf-8', 'replace')}")
        return self


class Vm:
    """One running machine, from start() to stop(); see the module text."""

    def __init__(self, image=None, snapshot=True):
        self.image = Path(image) if image else image_dir()
        self.snapshot = snapshot
        self.tmp = Path(tempfile.mkdtemp(prefix="vellomire-vm-"))
        self.socket_path = self.tmp / "job.sock"
        self.qmp_path = self.tmp / "qmp.sock"
        self.console = self.tmp / "console.log"
        self.qemu = None
        self.sock = None
        self.buf = b""
        self.counter = 0
        self.boot_seconds = None

    def command(self, disk, state=None):
        # One processor: two emulated ones made the same Wine work take
        # about 1.5 times as long and 1.7 times the host's processor time
        # (their clocks drift apart, so the guest reads time from the slow
        # HPET). Spectre mitigations cost time and protect nothing here.
        drive = f"file={disk},if=virtio,format=qcow2,cache=unsafe"
        if self.snapshot:
            drive += ",snapshot=on"
        # The machine type is named, not left to qemu's default of the day.
        return ["qemu-system-i386", "-machine", "pc-i440fx-7.2", "-accel", "tcg",
                "-smp", "1", "-m", "1536",
                "-cpu", "max,-smap", "-display", "none", "-nic", "none", "-no-reboot",
                "-nodefaults", "-vga", "none",
                "-drive", drive,
                "-kernel", str(self.image / "vmlinuz"), "-initrd", str(self.image / "initrd.img"),
                "-append", "console=ttyS0 quiet panic=-1 mitigations=off",
                "-serial", f"file:{self.console}",
                "-device", "virtio-serial-pci",
                "-chardev", f"socket,id=job,path={self.socket_path},server=on,wait=off",
                "-device", "virtserialport,chardev=job,name=org.vellomire.job",
                "-qmp", f"unix:{self.qmp_path},server=on,wait=off"] + (
                    ["-incoming", f"exec:cat {shlex.quote(str(state))}"] if state else [])

    def start(self, disk=None, timeout=180, restore=False):
        """Boots the machine, or restores its saved state, and waits for its
        agent; on any failure the machine is stopped again before the error
        goes on."""
        try:
            return self._start(disk, timeout, restore)
        except BaseException:
            if self.qemu is not None and self.qemu.poll() is None:
                self.qemu.kill()
                self.qemu.wait(30)
            self.stop(timeout=5)
            raise

    def _start(self, disk, timeout, restore):
        disk = Path(disk) if disk else self.image / "disk.qcow2"
        state = self.image / "state" if restore else None
        for name in ("vmlinuz", "initrd.img") + (("state",) if restore else ()):
            if not (self.image / name).exists():
                raise VmError(f"no machine image at {self.image} (run e2e/i386/build-image.sh)")
        if not disk.exists():
            raise VmError(f"no disk {disk}")
        started = time.monotonic()
        tmp = os.environ.get("TMPDIR")
        env = dict(os.environ, TMPDIR=str(self.tmp)) if not tmp else dict(os.environ)
        self.qemu_log = open(self.tmp / "qemu.log", "wb")
        self.qemu = subprocess.Popen(self.command(disk, state), stdin=subprocess.DEVNULL,
                                     stdout=self.qemu_log, stderr=subprocess.STDOUT, env=env)
        deadline = started + timeout
        while True:
            if self.qemu.poll() is not None:
                raise VmError(f"qemu ended with {self.qemu.returncode}: {self._tail()}")
            if self.socket_path.exists():
                try:
                    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                    s.connect(str(self.socket_path))
                    self.sock = s
                    break
                except OSError:
                    s.close()
            if time.monotonic() > deadline:
                raise VmError("qemu did not open its job socket")
            time.sleep(0.05)
        if restore:
            # The saved machine was stopped before it was saved, and its agent
            # said READY long ago: run it, then ask it for a first job.
            while self.qmp("query-status")[0]["status"] == "inmigrate":
                if time.monotonic() > deadline:
                    raise VmError(f"the saved state did not load\n{self._tail()}")
                time.sleep(0.05)
            self.qmp("cont")
            self.job("true", timeout=max(1, deadline - time.monotonic())).check("a first job")
        else:
            line = self._readline(deadline)
            if line != b"READY":
                raise VmError(f"agent said {line!r} instead of READY")
        self.boot_seconds = time.monotonic() - started
        return self

    def qmp(self, *commands):
        """Runs QEMU monitor commands (names, or {"execute": ..} objects);
        their return values."""
        answers = []
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(60)
            try:
                s.connect(str(self.qmp_path))
            except OSError:
                # qemu ended (a saved state it cannot load, say): its own words
                # say why, before its folder goes. Else the monitor was not
                # listening yet, which the caller may try again.
                try:
                    self.qemu.wait(5)
                except subprocess.TimeoutExpired:
                    raise
                raise VmError(f"qemu ended with {self.qemu.returncode}\n{self._tail()}") from None
            stream = s.makefile("rwb")
            stream.readline()                                   # the greeting
            for command in ("qmp_capabilities",) + commands:
                command = {"execute": command} if isinstance(command, str) else command
                stream.write(json.dumps(command).encode() + b"\n")
                stream.flush()
                while True:                                     # events come between
                    answer = json.loads(stream.readline() or b"null")
                    if answer is None or "error" in answer:
                        raise VmError(f"QEMU refused {command}: {answer}")
                    if "return" in answer:
                        answers.append(answer["return"])
                        break
        return answers[1:]

    def save_state(self, path, timeout=600):
        """Stops the machine, saves its whole state to `path` (the disk as it
        is then belongs with it) and ends QEMU."""
        self.qmp("stop", {"execute": "migrate",
                          "arguments": {"uri": f"exec:cat > {shlex.quote(str(path))}"}})
        deadline = time.monotonic() + timeout
        while (status := self.qmp("query-migrate")[0].get("status")) != "completed":
            if status == "failed" or time.monotonic() > deadline:
                raise VmError(f"saving the machine's state: {status}")
            time.sleep(0.2)
        self.qmp("quit")
        self.qemu.wait(60)

    def _tail(self):
        parts = []
        for path in (self.tmp / "qemu.log", self.console):
            if path.exists():
                parts.append(f"--- {path.name}\n" + path.read_bytes()[-3000:].decode("utf-8", "replace"))
        return "\n".join(parts)

    # ----- the channel ------------------------------------------------------
    def _fill(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise VmError(f"timed out waiting for the machine\n{self._tail()}")
        self.sock.settimeout(min(remaining, 1.0))
        try:
            chunk = self.sock.recv(1 << 16)
        except socket.timeout:
            if self.qemu.poll() is not None:
                raise VmError(f"qemu ended with {self.qemu.returncode}\n{self._tail()}")
            return
        if not chunk:
            raise VmError(f"the machine closed its job channel\n{self._tail()}")
        self.buf += chunk

    def _readline(self, deadline):
        while b"\n" not in self.buf:
            self._fill(deadline)
        line, self.buf = self.buf.split(b"\n", 1)
        return line

    def _read_exact(self, n, deadline):
        while len(self.buf) < n:
            self._fill(deadline)
        data, self.buf = self.buf[:n], self.buf[n:]
        return data

    def job(self, script, put=None, fetch=(), timeout=120):
        """Runs `script` (bash) in the machine after copying `put` (guest path
        -> bytes or host Path) into it; returns a JobResult with the files of
        `fetch` that exist afterwards. `timeout` bounds the script itself."""
        self.counter += 1
        archive = io.BytesIO()
        with tarfile.open(fileobj=archive, mode="w") as tar:
            def add(name, data, mode=0o644):
                info = tarfile.TarInfo(name)
                info.size = len(data)
                info.mode = mode
                info.mtime = int(time.time())
                tar.addfile(info, io.BytesIO(data))
            add("script", script.encode())
            add("fetch", "".join(f"{p}\n" for p in fetch).encode())
            for path, data in (put or {}).items():
                mode = 0o755 if str(path).endswith((".exe", ".scr", ".dll", ".cpl", ".sh")) else 0o644
                if isinstance(data, Path):
                    data = data.read_bytes()
                add("put/" + str(path).lstrip("/"), data, mode)
        payload = archive.getvalue()
        # Reads poll with short timeouts; a send must never stop half-way.
        self.sock.settimeout(600)
        try:
            self.sock.sendall(f"JOB {self.counter} {len(payload)} {int(timeout)}\n".encode() + payload)
        except OSError as error:
            raise VmError(f"sending a job failed: {error}\n{self._tail()}")
        deadline = time.monotonic() + timeout + 60 + len(payload) / 1e6
        line = self._readline(deadline).split()
        if len(line) != 3 or line[0] != b"RESULT" or int(line[1]) != self.counter:
            raise VmError(f"unexpected answer {line!r}")
        data = self._read_exact(int(line[2]), deadline)
        files, rc, out, err = {}, None, b"", b""
        with tarfile.open(fileobj=io.BytesIO(data)) as tar:
            for member in tar.getmembers():
                if not member.isfile():
                    continue
                content = tar.extractfile(member).read()
                name = member.name.lstrip("./") if member.name.startswith("./") else member.name
                name = name[2:] if name.startswith("./") else name
                if name == "rc":
                    rc = int(content.strip())
                elif name == "stdout":
                    out = content
                elif name == "stderr":
                    err = content
                elif name.startswith("got/"):
                    files["/" + name[len("got/"):]] = content
        if rc is None:
            raise VmError("job result without an exit status")
        return JobResult(rc, out, err, files)

    def stop(self, timeout=120):
        """Ends the machine: one on a snapshot of its disk at once, another
        by asking the agent to end, which powers it off; kills qemu if it does
        not end in time. VELLOMIRE_KEEP_PREFIX keeps the console and qemu
        logs."""
        try:
            if self.snapshot and self.qemu is not None:
                self.qemu.terminate()
            elif self.sock is not None and self.qemu and self.qemu.poll() is None:
                try:
                    self.sock.settimeout(30)
                    self.sock.sendall(b"QUIT\n")
                    deadline = time.monotonic() + 30
                    while self._readline(deadline) != b"BYE":
                        pass
                except (VmError, OSError):
                    pass
            if self.qemu is not None:
                try:
                    self.qemu.wait(timeout)
                except subprocess.TimeoutExpired:
                    self.qemu.kill()
                    self.qemu.wait(30)
        finally:
            if self.sock is not None:
                self.sock.close()
                self.sock = None
            if getattr(self, "qemu_log", None):
                self.qemu_log.close()
            if os.environ.get("VELLOMIRE_KEEP_PREFIX"):
                print(f"kept {self.tmp}", flush=True)
            else:
                shutil.rmtree(self.tmp, ignore_errors=True)


def main():
    """Command line used by build-image.sh: boot a disk writably, run the
    setup script in it, bring it to the state a session starts from and save
    that state."""
    import argparse
    parser = argparse.ArgumentParser()
    parser.add_argument("--image", required=True)
    parser.add_argument("--disk", required=True)
    parser.add_argument("--setup", required=True)
    parser.add_argument("--state", required=True)
    parser.add_argument("--timeout", type=int, default=1800)
    args = parser.parse_args()
    vm = Vm(args.image, snapshot=False)
    try:
        vm.start(args.disk)
        print(f"vm: agent ready after {vm.boot_seconds:.1f} s", flush=True)
        for what, script in (("setup", Path(args.setup).read_text()),
                             ("session", "/usr/local/sbin/vellomire-session")):
            started = time.monotonic()
            result = vm.job(script, timeout=args.timeout)
            print(result.stdout.decode("utf-8", "replace")[-4000:])
            print(result.stderr.decode("utf-8", "replace")[-4000:])
            print(f"vm: {what} took {time.monotonic() - started:.1f} s, exit {result.rc}", flush=True)
            if result.rc != 0:
                raise SystemExit(1)
        started = time.monotonic()
        vm.save_state(args.state)
        print(f"vm: state saved in {time.monotonic() - started:.1f} s", flush=True)
    finally:
        vm.stop()


if __name__ == "__main__":
    main()
