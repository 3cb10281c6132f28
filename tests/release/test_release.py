#!/usr/bin/python3
"""Makes the release twice into temporary folders and checks what a Windows
user gets: the entries in order with fixed dates and modes, the texts in DOS
form, the savers exactly as built, the installer's sections against the files
beside it, and the same bytes from both runs. Then builds both savers again
from a copy of the sources at another path and compares them byte for byte.

Run: test_release.py SOURCE-ROOT
"""
import hashlib, os, re, shutil, subprocess, sys, tempfile, time, zipfile

ROOT = sys.argv[1]
INF = "VELLOMIR.INF"
ENTRIES = ["Vellomire.scr", "Vellomire64.scr", INF, "README.TXT", "CREDITS.TXT", "LICENSE.TXT"]
BUILT = {"Vellomire.scr": "build/win32/vellomire.scr", "Vellomire64.scr": "build/win64/vellomire.scr"}
TOOLCHAINS = {"build/win32/vellomire.scr": "mingw-i686.cmake", "build/win64/vellomire.scr": "mingw-x86_64.cmake"}
# What each family's setup engine runs, and the saver it must install there.
SAVER_OF = {"DefaultInstall.NT": "Vellomire.scr", "DefaultInstall.NTamd64": "Vellomire64.scr"}


def read(path):
    with open(os.path.join(ROOT, path), "rb") as f:
        return f.read()


def make_release(folder, **env_changes):
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    env.update(env_changes)
    subprocess.run([os.path.join(ROOT, "tools/make-release.sh"), "--no-build", folder], env=env,
                   check=True, preexec_fn=lambda: os.umask(0o077) if env_changes else None)
    path = os.path.join(folder, "vellomire-%s.zip" % read("VERSION").decode().strip())
    digest = hashlib.sha256(read(path)).hexdigest()
    assert read(path + ".sha256").decode() == "%s  %s\n" % (digest, os.path.basename(path))
    return path, digest


def inf_sections(text):
    """{section: [lines]} of an INF without comments (it quotes no ';')."""
    sections, current = {}, None
    for line in text.split("\r\n"):
        line = line.split(";")[0].strip()
        if line.startswith("["):
            assert line.endswith("]") and line[1:-1] not in sections, line
            current = sections.setdefault(line[1:-1], [])
        elif line:
            current.append(line)
    return sections


def directives(lines):
    pairs = [line.split("=", 1) for line in lines]
    return {key.strip(): [name.strip() for name in value.split(",")] for key, value in pairs}


def check_installer(inf, names):
    """The sections that the setup engines run name only files that lie beside
    the INF, folders by DIRID 11 (system) and 17 (INF folder), and an
    uninstall that removes what the install added."""
    assert re.fullmatch(r"[A-Z0-9_]{1,8}\.INF", INF) and inf.startswith(b";"), INF
    sections = inf_sections(inf.decode("ascii"))
    assert sections["Version"][0] == 'Signature="$CHICAGO$"', sections["Version"]
    # Windows 95, 98 and Me run the undecorated sections: they change nothing.
    assert sections["DefaultInstall"] == [] and sections["DefaultUninstall"] == []
    sources = {line.split("=")[0] for line in sections["SourceDisksFiles"]}
    assert sources <= set(names), sources
    dirs = {k: v[0] for k, v in directives(sections["DestinationDirs"]).items()}
    assert set(dirs.values()) == {"11", "17"}, dirs
    for install, saver in SAVER_OF.items():
        given = directives(sections[install])
        taken = directives(sections[install.replace("Install", "Uninstall")])
        assert set(given) == {"CopyFiles", "AddReg"} and set(taken) == {"DelFiles", "DelReg"}
        assert taken["DelFiles"] == given["CopyFiles"] + ["Inf.Compiled"], (given, taken)
        assert sections["Inf.Compiled"] == [INF[:-3] + "PNF"] and dirs["Inf.Compiled"] == "17"
        assert taken["DelReg"] == [r.replace(".AddReg", ".DelReg") for r in given["AddReg"]]
        copied = {}
        for files in given["CopyFiles"]:
            for line in sections[files]:
                target, _, source = line.partition(",")
                assert (source or target) in sources, line
                copied[(source or target)] = (dirs[files], target)
        assert copied == {saver: ("11", "Vellomire.scr"), INF: ("17", INF)}, (install, copied)
        for reg in given["AddReg"] + taken["DelReg"]:
            assert sections[reg] and all(l.startswith("HKLM,") for l in sections[reg]), reg
    uninstall = [l for l in sections["Uninstall.AddReg"] if ",UninstallString," in l][0]
    assert uninstall.endswith('"RunDll32.exe setupapi.dll,InstallHinfSection DefaultUninstall '
                              '132 %17%\\' + INF + '"'), uninstall


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
        subprocess.run(["cmake", "--build", tree, "--target", "vellomire"], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(tree, "vellomire.scr"), "rb") as again:
            assert again.read() == read(built), "a second build differs from " + built


with tempfile.TemporaryDirectory() as first, tempfile.TemporaryDirectory() as second:
    (path, digest) = make_release(first)
    (_, again) = make_release(second, TZ="Pacific/Auckland")
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
                assert b"\n" not in line and (len(line) <= 76 or entry == INF), \
                    "%s:%d: %r" % (entry, n, line)
        assert archive.read("LICENSE.TXT") == read("LICENSE").replace(b"\n", b"\r\n")
        check_installer(archive.read(INF), ENTRIES)
    check_rebuild(second)
print("release: %s, sha256 %s in both runs; both savers built again alike"
      % (os.path.basename(path), digest))
