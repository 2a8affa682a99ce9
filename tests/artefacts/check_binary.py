# SPDX-License-Identifier: MIT
"""One check of a built glow_ctl, read from its own headers and code with the
binutils of its architecture:

  check_binary.py size BINARY LIMIT STRIP          stripped, at most LIMIT bytes
  check_binary.py needed BINARY READELF LIB...     exactly these NEEDED entries
  check_binary.py static BINARY READELF ARCH       no dynamic section; Tag_CPU_arch ARCH
  check_binary.py hardened BINARY READELF OBJDUMP PROTECTION...
  check_binary.py pages BINARY READELF PAGE       every segment mappable with PAGE-byte pages

The protections: pie (a position-independent executable), ssp (main's own
frame guarded by the stack protector: a static glibc brings
__stack_chk_fail along anyway, so main's code is what counts), fortify
(glibc's checked functions called), relro (read-only relocations) and now
(immediate binding). The build states the limits and what each binary must
carry; this file only measures.
"""

import os
import re
import subprocess
import sys
import tempfile


def output(*argv):
    return subprocess.run(argv, check=True, capture_output=True, text=True).stdout


def size(binary, limit, strip):
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "stripped")
        subprocess.run([strip, "-o", copy, binary], check=True)
        found = os.path.getsize(copy)
    print(f"{binary}: {found} bytes stripped (limit {limit})")
    return found <= int(limit)


def needed(binary, readelf, *libraries):
    found = sorted(re.findall(r"\(NEEDED\).*\[(.*)\]", output(readelf, "-dW", binary)))
    print(f"{binary}: NEEDED {' '.join(found) or 'nothing'} (wanted {' '.join(sorted(libraries))})")
    return found == sorted(libraries)


def static(binary, readelf, arch):
    dynamic = "no dynamic section" not in output(readelf, "-dW", binary)
    found = re.search(r"Tag_CPU_arch: (\S+)", output(readelf, "-A", binary))
    found = found.group(1) if found else "none"
    print(f"{binary}: {'a dynamic section' if dynamic else 'static'}; CPU arch {found} (wanted static, {arch})")
    return not dynamic and found == arch


def protections(binary, readelf, objdump):
    found = set()
    if re.search(r"Type: +DYN", output(readelf, "-hW", binary)):
        found.add("pie")
    if "<__stack_chk_fail" in output(objdump, "-d", "--disassemble=main", binary):
        found.add("ssp")
    if re.search(r" __[a-z_]+_chk(@|$)", output(readelf, "-sW", binary), re.M):
        found.add("fortify")
    if "GNU_RELRO" in output(readelf, "-lW", binary):
        found.add("relro")
    if re.search(r"BIND_NOW|Flags:.* NOW", output(readelf, "-dW", binary)):
        found.add("now")
    return found


def hardened(binary, readelf, objdump, *wanted):
    found = protections(binary, readelf, objdump)
    missing = [name for name in wanted if name not in found]
    print(f"{binary}: {' '.join(sorted(found)) or 'no protection'}"
          + (f" (missing: {' '.join(missing)})" if missing else ""))
    return not missing


def pages(binary, readelf, page):
    """A kernel maps a segment only where its address and its offset in the
    file differ by a whole number of pages."""
    segments = re.findall(r"^ +LOAD +(0x[0-9a-f]+) +(0x[0-9a-f]+) .* (0x[0-9a-f]+)$", output(readelf, "-lW", binary),
                          re.M)
    off = [f"{address} at {offset}" for offset, address, _ in segments
           if (int(address, 16) - int(offset, 16)) % int(page) != 0]
    print(f"{binary}: {len(segments)} segments"
          + (f"; not on {page}-byte pages: {', '.join(off)}" if off else f", each on {page}-byte pages"))
    return bool(segments) and not off


CHECKS = {"size": size, "needed": needed, "static": static, "hardened": hardened, "pages": pages}

if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] not in CHECKS:
        sys.exit(__doc__)
    sys.exit(0 if CHECKS[sys.argv[1]](*sys.argv[2:]) else 1)
