"""Code and data size of PE images, not counting their resources.

    /usr/bin/python3 bench/code_size.py OUT.json LABEL=FILE...

For each image: every section's size in memory (VirtualSize; .bss has no
bytes in the file) and in the file, and the sum of all sections but .rsrc.
"""

import json
import os
import sys

import pefile


def measure(path):
    pe = pefile.PE(path, fast_load=True)
    sections = {}
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode("latin-1")
        sections[name] = {"memory": section.Misc_VirtualSize, "file": section.SizeOfRawData}
    kept = {k: v for k, v in sections.items() if k != ".rsrc"}
    result = {
        "file": os.path.getsize(path),
        "machine": {0x14C: "i386", 0x8664: "x86-64"}.get(pe.FILE_HEADER.Machine,
                                                        hex(pe.FILE_HEADER.Machine)),
        "sections": sections,
        "code_and_data_memory": sum(v["memory"] for v in kept.values()),
        "code_and_data_file": sum(v["file"] for v in kept.values()),
        "resources": sections.get(".rsrc", {"memory": 0})["memory"],
    }
    pe.close()
    return result


def main():
    out = {}
    for argument in sys.argv[2:]:
        label, path = argument.split("=", 1)
        out[label] = measure(path)
        out[label]["path"] = path
    with open(sys.argv[1], "w") as f:
        json.dump(out, f, indent=1)


if __name__ == "__main__":
    main()
