#!/usr/bin/env python3
"""The properties of the shipped programs, read from their files.

    pe_properties.py --nm <nm> --timestamp <seconds> [--verify <osslsigncode> <ca file>]
                     <exe>=<gui|console> ...

For each program: PE32 for i386; a GUI or a console program as given; an
import table that names allowed Windows system DLLs only, winhttp.dll and
bcrypt.dll not among them but delay-loaded (both, and nothing else); ASLR
and DEP set and relocations present for ASLR to use; the header's time
stamp as the build set it; and with --verify a signature that osslsigncode
verifies against the given authorities, without it no signature at all.
Prints one line per failed property and ends with 1 when there is any.
"""
import argparse
import struct
import subprocess
import sys

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "msvcrt.dll",
                   "advapi32.dll"}
DELAY_LOADED = {"winhttp.dll", "bcrypt.dll"}
SUBSYSTEMS = {"gui": 2, "console": 3}
DYNAMIC_BASE = 0x0040  # ASLR
NX_COMPAT = 0x0100     # DEP
RELOCS_STRIPPED = 0x0001
# Data directory entries.
IMPORT, SECURITY, BASERELOC = 1, 4, 5


class Pe:
    """The headers and sections of one PE file, and reads by RVA."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, self.timestamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, self.pe + 4)
        self.optional = self.pe + 24
        self.magic = struct.unpack_from("<H", data, self.optional)[0]
        self.image_base = struct.unpack_from("<I", data, self.optional + 28)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, self.optional + 68)
        count = struct.unpack_from("<I", data, self.optional + 92)[0]
        self.directories = [struct.unpack_from("<II", data, self.optional + 96 + 8 * i) for i in range(count)]
        self.sections = []
        table = self.optional + optional_size
        for i in range(sections):
            name, vsize, va, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((va, max(vsize, raw_size), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("RVA 0x%x lies in no section" % rva)

    def string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        rva, size = self.directories[IMPORT]
        names = []
        while size:
            fields = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if fields == (0, 0, 0, 0, 0):
                return names
            names.append(self.string(fields[3]))
            rva += 20


def delay_loaded(pe, nm, exe):
    """The DLL names of the delay-import descriptors the symbol table names
    (this linker leaves the delay-import directory entry empty)."""
    symbols = subprocess.run([nm, exe], capture_output=True, text=True, check=True).stdout
    names = []
    for line in symbols.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[2].startswith("__DELAY_IMPORT_DESCRIPTOR_"):
            rva = int(parts[0], 16) - pe.image_base
            attributes, name_rva = struct.unpack_from("<II", pe.data, pe.offset(rva))
            if attributes != 1:
                raise ValueError("a delay-import descriptor that is not RVA-based")
            names.append(pe.string(name_rva))
    return names


def check(exe, kind, args):
    failures = []
    try:
        with open(exe, "rb") as f:
            pe = Pe(f.read())
    except (OSError, ValueError) as error:
        return ["cannot read the PE file: %s" % error]
    if pe.machine != 0x14C:
        failures.append("machine is 0x%x, not i386" % pe.machine)
    if pe.magic != 0x10B:
        failures.append("optional header magic 0x%x, not PE32" % pe.magic)
    if pe.subsystem != SUBSYSTEMS[kind]:
        failures.append("subsystem %d, not a %s program" % (pe.subsystem, kind))
    imports = [name.lower() for name in pe.imports()]
    for name in imports:
        if name in DELAY_LOADED:
            failures.append("imports %s at start-up instead of delay-loading it" % name)
        elif name not in ALLOWED_IMPORTS:
            failures.append("imports %s, which is not an allowed Windows system DLL" % name)
    delayed = sorted(name.lower() for name in delay_loaded(pe, args.nm, exe))
    if delayed != sorted(DELAY_LOADED):
        failures.append("delay-loads %s, not exactly %s" % (delayed, sorted(DELAY_LOADED)))
    if not pe.dll_characteristics & DYNAMIC_BASE:
        failures.append("ASLR (dynamic base) not set")
    if not pe.dll_characteristics & NX_COMPAT:
        failures.append("DEP (NX compatible) not set")
    if pe.characteristics & RELOCS_STRIPPED or pe.directories[BASERELOC][1] == 0:
        failures.append("no relocations")
    if pe.timestamp != args.timestamp:
        failures.append("header time stamp %d, not %d" % (pe.timestamp, args.timestamp))
    signature_size = pe.directories[SECURITY][1]
    if args.verify:
        tool, ca_file = args.verify
        if signature_size == 0:
            failures.append("not signed")
        verify = subprocess.run([tool, "verify", "-in", exe, "-CAfile", ca_file], capture_output=True, text=True)
        if verify.returncode != 0 or "\nSignature verification: ok" not in verify.stdout:
            failures.append("the signature does not verify:\n" + verify.stdout + verify.stderr)
    elif signature_size != 0:
        failures.append("signed, where no signing was set up")
    print("%s: imports %s; delay-loads %s; characteristics 0x%04x; time stamp %d; signature %d bytes" %
          (exe, " ".join(imports), " ".join(delayed), pe.dll_characteristics, pe.timestamp, signature_size))
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nm", required=True)
    parser.add_argument("--timestamp", type=int, required=True)
    parser.add_argument("--verify", nargs=2, metavar=("OSSLSIGNCODE", "CAFILE"))
    parser.add_argument("programs", nargs="+", metavar="EXE=KIND")
    args = parser.parse_args()
    failed = 0
    for program in args.programs:
        exe, kind = program.rsplit("=", 1)
        for failure in check(exe, kind, args):
            print("FAIL: %s: %s" % (exe, failure))
            failed = 1
    return failed


if __name__ == "__main__":
    sys.exit(main())
