#!/usr/bin/python3
"""Makes the release twice into temporary folders and checks what a Windows
user gets: the entries in order with fixed dates and modes, the texts in DOS
form, the savers exactly as built, and the same bytes from both runs.

Run: test_release.py SOURCE-ROOT
"""
import hashlib, os, subprocess, sys, tempfile, time, zipfile

ROOT = sys.argv[1]
ENTRIES = ["Vellomire.scr", "64-bit/Vellomire.scr", "README.TXT", "CREDITS.TXT", "LICENSE.TXT"]
BUILT = {"Vellomire.scr": "build/win32/vellomire.scr", "64-bit/Vellomire.scr": "build/win64/vellomire.scr"}


def read(path):
    with open(os.path.join(ROOT, path), "rb") as f:
        return f.read()


def make_release(folder):
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    subprocess.run([os.path.join(ROOT, "tools/make-release.sh"), "--no-build", folder], env=env, check=True)
    path = os.path.join(folder, "vellomire-%s.zip" % read("VERSION").decode().strip())
    digest = hashlib.sha256(read(path)).hexdigest()
    assert read(path + ".sha256").decode() == "%s  %s\n" % (digest, os.path.basename(path))
    return path, digest


with tempfile.TemporaryDirectory() as first, tempfile.TemporaryDirectory() as second:
    (path, digest), (_, again) = make_release(first), make_release(second)
    assert again == digest, "two runs differ: %s and %s" % (digest, again)
    commit = int(subprocess.check_output(["git", "-C", ROOT, "log", "-1", "--format=%ct"]))
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        assert [i.filename for i in infos] == ENTRIES, [i.filename for i in infos]
        for info in infos:
            # the script dates in UTC; zip keeps even seconds, rounding up
            assert info.date_time == time.gmtime(commit + commit % 2)[:6], info
            assert info.external_attr >> 16 == 0o100644 and info.extra == b"", info
        for entry, built in BUILT.items():
            assert archive.read(entry) == read(built), entry + " differs from " + built
        for entry in ENTRIES[2:]:
            text = archive.read(entry)
            text.decode("ascii")
            assert text.endswith(b"\r\n"), entry
            for n, line in enumerate(text.split(b"\r\n")[:-1], 1):
                assert b"\n" not in line and len(line) <= 76, "%s:%d: %r" % (entry, n, line)
        assert archive.read("LICENSE.TXT") == read("LICENSE").replace(b"\n", b"\r\n")
print("release: %s, sha256 %s in both runs" % (os.path.basename(path), digest))
