#!/usr/bin/python3
"""Checks a built downloader image without executing it.

  check_image.py EXE --nm NM --system-dlls DIR [--pointer-size 4|8]

- PE32 for a 4-byte build, PE32+ for an 8-byte one, GUI subsystem, ASLR,
  DEP and terminal-server aware, subsystem version 6.3 (Windows 8.1);
- imports only DLLs that ship with Windows, and at load time only those that
  Windows always takes from System32 (the rest are delay-loaded, so that the
  entry point can restrict the DLL search first);
- every delay-load address-table slot points at code inside the image: until
  the first call it must hold the address of the lazy-binding stub, and a
  slot that holds anything else makes that call jump there;
- every imported name, regular and delay-loaded, is exported by the system
  DLL it is taken from (DIR holds the platform's DLLs as PE files).

Prints one line per finding and exits 1 if there is any.
"""
import argparse
import os
import struct
import subprocess
import sys

import pefile

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "ole32.dll",
    "oleaut32.dll", "advapi32.dll", "winhttp.dll", "bcrypt.dll", "wintrust.dll",
    "crypt32.dll", "version.dll", "msvcrt.dll",
}
LOAD_TIME_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
DELAY_DESCRIPTOR_PREFIXES = ("__DELAY_IMPORT_DESCRIPTOR_", "_DELAY_IMPORT_DESCRIPTOR_")
DESCRIPTOR_RVA_ATTRIBUTE = 1
IMAGE_SCN_MEM_EXECUTE = 0x20000000
REQUIRED_DLL_CHARACTERISTICS = ("IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE",
                                "IMAGE_DLLCHARACTERISTICS_NX_COMPAT",
                                "IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE")
OLDEST_WINDOWS = (6, 3)


class Exports:
    """Names and ordinals exported by the system DLLs, read on first use."""

    def __init__(self, folder):
        self.folder = folder
        self.cache = {}

    def of(self, dll):
        if dll not in self.cache:
            path = os.path.join(self.folder, dll)
            names, ordinals = set(), set()
            if os.path.exists(path):
                image = pefile.PE(path, fast_load=True)
                image.parse_data_directories(
                    directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])
                directory = getattr(image, "DIRECTORY_ENTRY_EXPORT", None)
                for symbol in directory.symbols if directory else []:
                    ordinals.add(symbol.ordinal)
                    if symbol.name:
                        names.add(symbol.name.decode("ascii"))
                self.cache[dll] = (names, ordinals)
            else:
                self.cache[dll] = None
        return self.cache[dll]


def delay_descriptors(image, exe, nm):
    """Virtual addresses of the delay-load descriptors, from the symbol table
    (mingw's linker leaves the delay-import data directory empty)."""
    listing = subprocess.run([nm, "--defined-only", exe], check=True, capture_output=True,
                             text=True).stdout
    found = set()
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[2].startswith(DELAY_DESCRIPTOR_PREFIXES):
            found.add(int(fields[0], 16))
    directory = image.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]]
    if directory.VirtualAddress:  # an MSVC-style table, if a linker fills it
        rva = directory.VirtualAddress
        while True:
            fields = struct.unpack("<8I", image.get_data(rva, 32))
            if not any(fields):
                break
            found.add(image.OPTIONAL_HEADER.ImageBase + rva)
            rva += 32
    return sorted(found)


def delay_imports(image, exe, nm, pointer_size, findings):
    """(dll, [(name or ordinal, slot value)]) for each delay-load descriptor."""
    base = image.OPTIONAL_HEADER.ImageBase
    ordinal_flag = 1 << (8 * pointer_size - 1)
    result = []
    for address in delay_descriptors(image, exe, nm):
        attributes, name_rva, _, iat_rva, int_rva = struct.unpack(
            "<5I", image.get_data(address - base, 20))
        if attributes != DESCRIPTOR_RVA_ATTRIBUTE:
            findings.append(f"delay-load descriptor at {address:#x} does not use RVAs")
            continue
        dll = image.get_string_at_rva(name_rva).decode("ascii").lower()
        entries = []
        index = 0
        while True:
            offset = index * pointer_size
            thunk = int.from_bytes(image.get_data(int_rva + offset, pointer_size), "little")
            if thunk == 0:
                break
            slot = int.from_bytes(image.get_data(iat_rva + offset, pointer_size), "little")
            if thunk & ordinal_flag:
                entry = thunk & 0xFFFF
            else:
                entry = image.get_string_at_rva(thunk + 2).decode("ascii")
            entries.append((entry, slot))
            index += 1
        result.append((dll, entries))
    return result


def points_at_code(image, address):
    base = image.OPTIONAL_HEADER.ImageBase
    if address < base:
        return False
    section = image.get_section_by_rva(address - base)
    return section is not None and bool(section.Characteristics & IMAGE_SCN_MEM_EXECUTE)


def check(exe, nm, system_dlls, pointer_size):
    findings = []
    image = pefile.PE(exe)

    magic = 0x10B if pointer_size == 4 else 0x20B
    if image.OPTIONAL_HEADER.Magic != magic:
        findings.append(f"optional header magic is {image.OPTIONAL_HEADER.Magic:#x}, not {magic:#x}")
    header = image.OPTIONAL_HEADER
    if header.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
        findings.append("not a GUI-subsystem image")
    for flag in REQUIRED_DLL_CHARACTERISTICS:
        if not header.DllCharacteristics & pefile.DLL_CHARACTERISTICS[flag]:
            findings.append(f"{flag} is not set")
    subsystem = (header.MajorSubsystemVersion, header.MinorSubsystemVersion)
    if subsystem != OLDEST_WINDOWS:
        findings.append(f"subsystem version {subsystem} is not {OLDEST_WINDOWS} (Windows 8.1, "
                        "the oldest Windows the manifest declares)")

    exports = Exports(system_dlls)

    def check_name(dll, entry, kind):
        exported = exports.of(dll)
        if exported is None:
            findings.append(f"{kind} {dll}: no such DLL in {system_dlls}")
            return False
        names, ordinals = exported
        if isinstance(entry, int):
            if entry not in ordinals:
                findings.append(f"{kind} {dll}: ordinal {entry} is not exported")
        elif entry not in names:
            findings.append(f"{kind} {dll}: {entry} is not exported")
        return True

    regular = getattr(image, "DIRECTORY_ENTRY_IMPORT", [])
    if not regular:
        findings.append("no imports found")
    for descriptor in regular:
        dll = descriptor.dll.decode("ascii").lower()
        if dll not in SYSTEM_DLLS:
            findings.append(f"imports {dll}, which is not part of Windows")
        if dll not in LOAD_TIME_DLLS:
            findings.append(f"loads {dll} at start-up instead of delay-loading it")
        for symbol in descriptor.imports:
            entry = symbol.name.decode("ascii") if symbol.name else symbol.ordinal
            if not check_name(dll, entry, "import from"):
                break

    slots = 0
    for dll, entries in delay_imports(image, exe, nm, pointer_size, findings):
        if dll not in SYSTEM_DLLS:
            findings.append(f"delay-loads {dll}, which is not part of Windows")
        for entry, slot in entries:
            slots += 1
            if not points_at_code(image, slot):
                findings.append(f"delay-load slot of {dll}!{entry} holds {slot:#x}, "
                                "not the address of code in the image")
            if not check_name(dll, entry, "delay-load from"):
                break

    print(f"{exe}: {len(regular)} load-time DLLs, {slots} delay-load slots")
    return findings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--nm", required=True)
    parser.add_argument("--system-dlls", required=True)
    parser.add_argument("--pointer-size", type=int, choices=(4, 8), required=True)
    arguments = parser.parse_args()
    findings = check(arguments.exe, arguments.nm, arguments.system_dlls, arguments.pointer_size)
    for finding in findings:
        print(finding)
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
