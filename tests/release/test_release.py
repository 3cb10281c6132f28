#!/usr/bin/python3
"""Makes the release twice into temporary folders and checks what a Windows
user gets: the entries in order with fixed dates and modes, the texts in DOS
form, the savers exactly as built and taken from the build folders given,
the installer's lines against what each platform must get, and the same
bytes from both runs. Then builds both savers again from a copy of the
sources at another path and compares them byte for byte.

Run: test_release.py SOURCE-ROOT
"""
import csv, hashlib, itertools, os, re, shutil, subprocess, sys, tempfile, time, zipfile

ROOT = sys.argv[1]
ENTRIES = ["Vellomire.scr", "Vellomire64.scr", "VELLOMIR.INF", "README.TXT", "CREDITS.TXT", "LICENSE.TXT"]
BUILT = {"Vellomire.scr": "build/win32/vellomire.scr", "Vellomire64.scr": "build/win64/vellomire.scr"}
TOOLCHAINS = {"build/win32/vellomire.scr": "mingw-i686.cmake", "build/win64/vellomire.scr": "mingw-x86_64.cmake"}
MAPPING = r"Software\Microsoft\Windows NT\CurrentVersion\IniFileMapping\control.ini"
MAPPED = r"@USR:Control Panel\ScreenSaver.Vellomire"
ENTRY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellomire"
REMOVE = "RunDll32.exe setupapi.dll,InstallHinfSection DefaultUninstall 132 %17%\\VELLOMIR.INF"
# FLG_ADDREG_32BITKEY; the view flags, with FLG_ADDREG_64BITKEY (DelReg's are alike)
VIEW32, VIEWS = 0x4000, 0x5000
# What each platform's decorated sections must install: the saver from the
# zip, the folder (DIRID) it goes into as Vellomire.scr, the mapping's views.
PLATFORMS = {".NT": ("Vellomire.scr", "11", {0}),                    # x86 and NT 4.0
             ".NTamd64": ("Vellomire64.scr", "11", {0, VIEW32}),     # x64
             ".NTarm64": ("Vellomire.scr", "16425", {0, VIEW32})}    # ARM64: SysWOW64


def read(path):
    with open(os.path.join(ROOT, path), "rb") as f:
        return f.read()


# The Add/Remove Programs entry: each value's AddReg flags (0 a string, 0x10001 a DWORD) and data.
ENTRY_VALUES = {"DisplayName": ("0x0", "Vellomire Screen Saver"),
                "DisplayVersion": ("0x0", read("VERSION").decode().strip()),
                "Publisher": ("0x0", "the Vellomire authors"), "UninstallString": ("0x0", REMOVE),
                "NoModify": ("0x10001", "1"), "NoRepair": ("0x10001", "1")}


def make_release(folder, **env_changes):
    env = {k: v for k, v in os.environ.items() if k not in (
        "SOURCE_DATE_EPOCH", "VELLOMIRE_WIN32_DIR", "VELLOMIRE_WIN64_DIR")}
    env.update(env_changes)
    subprocess.run([os.path.join(ROOT, "tools/make-release.sh"), "--no-build", folder], env=env,
                   check=True, preexec_fn=lambda: os.umask(0o077) if env_changes else None)
    path = os.path.join(folder, "vellomire-%s.zip" % read("VERSION").decode().strip())
    digest = hashlib.sha256(read(path)).hexdigest()
    assert read(path + ".sha256").decode() == "%s  %s\n" % (digest, os.path.basename(path))
    return path, digest


def inf_sections(text):
    """{section: [lines]} of an INF without comments (it quotes no ';').
    Setupapi merges sections whose names differ in case only: none may."""
    sections, current = {}, None
    for line in text.split("\r\n"):
        line = line.split(";")[0].strip()
        if line.startswith("["):
            assert line.endswith("]") and line[1:-1].lower() not in map(str.lower, sections), line
            current = sections.setdefault(line[1:-1], [])
        elif line:
            current.append(line)
    return sections


def directives(lines):
    pairs = [line.split("=", 1) for line in lines]
    return {key.strip(): [name.strip() for name in value.split(",")] for key, value in pairs}


def registry(sections, strings, names):
    """(root, key, value or None, flags in hex, data) of each line of the
    AddReg or DelReg sections named, with the [Strings] put in."""
    for name in names:
        for line in sections[name]:
            line = re.sub(r"%(\w+)%", lambda m: strings.get(m.group(1), m.group(0)), line)
            root, key, value, flags, data = (next(csv.reader([line])) + [""] * 3)[:5]
            yield root, key, value or None, hex(int(flags or "0", 0)), data


def check_installer(archive):
    """Each platform's sections install, from files that lie beside the INF,
    the saver meant for it, the INF's copy, the mapping in the registry views
    its programs read and the Add/Remove Programs entry; each uninstall
    deletes exactly that, with the PNF beside the INF: the mapping's values
    only (the key holds Windows' own mappings) and the entry's whole key."""
    names = archive.namelist()
    (name,) = [n for n in names if n.upper().endswith(".INF")]
    assert re.fullmatch(r"[A-Z0-9_]{1,8}\.INF", name), "the INF's name is not 8.3: " + name
    inf = archive.read(name)
    assert inf.startswith(b";"), inf[:40]
    sections = inf_sections(inf.decode("ascii"))
    strings = dict(line.replace('"', "").split("=", 1) for line in sections["Strings"])
    assert sections["Version"][0] == 'Signature="$CHICAGO$"', sections["Version"]
    # Windows 95, 98 and Me run the undecorated sections: they change nothing.
    assert sections["DefaultInstall"] == [] and sections["DefaultUninstall"] == []
    sources = {line.split("=")[0] for line in sections["SourceDisksFiles"]}
    assert sources <= set(names), sources
    dirs = {k: v[0] for k, v in directives(sections["DestinationDirs"]).items()}
    # Each install's decoration has its uninstall's, and no other (case is not told apart).
    platforms = [{s[len(kind):] for s in sections if s.lower().startswith(kind.lower() + ".")}
                 for kind in ("DefaultInstall", "DefaultUninstall")]
    assert platforms == [set(PLATFORMS)] * 2, "(un)install decorations: %s" % platforms
    for platform, (saver, folder, views) in PLATFORMS.items():
        given = directives(sections["DefaultInstall" + platform])
        taken = directives(sections["DefaultUninstall" + platform])
        assert set(given) == {"CopyFiles", "AddReg"} and set(taken) == {"DelFiles", "DelReg"}
        copied = {(dirs[files], line.split(",")[0], line.split(",")[-1])
                  for files in given["CopyFiles"] for line in sections[files]}
        assert copied == {(folder, "Vellomire.scr", saver), ("17", name, name)}, (platform, copied)
        assert {source for _, _, source in copied} <= sources, (platform, sources)
        deleted = {(dirs[files], line.split(",")[0])
                   for files in taken["DelFiles"] for line in sections[files]}
        expected = {(d, target) for d, target, _ in copied} | {("17", name[:-3] + "PNF")}
        assert deleted == expected, (platform, deleted ^ expected)
        added = set(registry(sections, strings, given["AddReg"]))
        mapping = {("HKLM", MAPPING, "ScreenSaver.Vellomire", hex(view), MAPPED) for view in views}
        mapped = {a for a in added if a[:2] != ("HKLM", ENTRY)}
        assert mapped == mapping, "%s: AddReg maps %s, not %s" % (
            platform, sorted(mapped, key=str), sorted(mapping, key=str))
        values = [(value, (flags, data)) for _, _, value, flags, data in added - mapping]
        entry = dict(values)
        assert len(entry) == len(values), "%s: a value written twice: %s" % (platform, sorted(values))
        assert entry == ENTRY_VALUES, "%s: the entry's (flags, data) differ: %s" % (
            platform, sorted(set(entry.items()) ^ set(ENTRY_VALUES.items())))
        # Each deletion undoes an addition in the same root, key and view.
        undo = {(root, key, None if key == ENTRY else value, hex(int(flags, 16) & VIEWS))
                for root, key, value, flags, _ in added}
        done = {line[:4] for line in registry(sections, strings, taken["DelReg"])}
        assert done == undo, "%s: DelReg also deletes %s and misses %s" % (
            platform, sorted(done - undo, key=str), sorted(undo - done, key=str))


def check_rebuild(work):
    """Both savers built again from a copy of the sources at another path, at
    another time, equal the savers in the build trees."""
    listed = subprocess.check_output(["git", "-C", ROOT, "ls-files", "-z", "--cached", "--others",
                                      "--exclude-standard"]).decode().split("\0")
    source = os.path.join(work, "elsewhere", "src")
    for name in filter(None, listed):
        if os.path.isfile(os.path.join(ROOT, name)):
            os.makedirs(os.path.dirname(os.path.join(source, name)), exist_ok=True)
            shutil.copy2(os.path.join(ROOT, name), os.path.join(source, name))
    for built, toolchain in TOOLCHAINS.items():
        tree = os.path.join(work, os.path.basename(toolchain))
        subprocess.run(["cmake", "-S", source, "-B", tree, "-G", "Ninja",
                        "-DCMAKE_TOOLCHAIN_FILE=%s/cmake/%s" % (source, toolchain)],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", tree, "--target", "vellomire", "--parallel", "2"],
                       check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(tree, "vellomire.scr"), "rb") as again:
            assert again.read() == read(built), "a second build differs from " + built


with tempfile.TemporaryDirectory() as first, tempfile.TemporaryDirectory() as second:
    (path, digest) = make_release(first)
    (_, again) = make_release(second, TZ="Pacific/Auckland")
    assert again == digest, "two runs differ: %s and %s" % (digest, again)
    # A folder without a saver; with the build step, any folder but the tree it builds.
    for tree, (build, said) in itertools.product(("VELLOMIRE_WIN32_DIR", "VELLOMIRE_WIN64_DIR"), (
            (["--no-build"], second + "/vellomire.scr is missing"), ([], "refusing to pack"))):
        run = subprocess.run([os.path.join(ROOT, "tools/make-release.sh")] + build + [second],
                             env=dict(os.environ, **{tree: second}), capture_output=True, text=True)
        assert run.returncode and said in run.stderr, "%s %s: %r" % (tree, build, run)
    commit = int(subprocess.check_output(["git", "-C", ROOT, "log", "-1", "--format=%ct"]))
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        check_installer(archive)
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
                assert b"\n" not in line and (len(line) <= 76 or entry.endswith(".INF")), \
                    "%s:%d: %r" % (entry, n, line)
        assert archive.read("LICENSE.TXT") == read("LICENSE").replace(b"\n", b"\r\n")
    check_rebuild(second)
print("release: %s, sha256 %s in both runs; both savers built again alike"
      % (os.path.basename(path), digest))
