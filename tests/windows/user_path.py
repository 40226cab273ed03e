#!/usr/bin/env python3
"""The user's PATH (HKCU\\Environment\\Path) for tests/windows/setup_check.sh, as .reg files;
`check` reads the machine's as well (HKLM\\...\\Session Manager\\Environment), for
tests/windows/setup_folders.sh.

  user_path.py make long|short FILE.reg  a .reg file that sets the user's PATH (REG_EXPAND_SZ):
                                         long, like a developer's: variables, spaces, non-ASCII
                                         folders, an empty entry, 171 entries, over 8192
                                         characters; short: C:\tools;D:\bin
  user_path.py check EXPORT.reg MADE.reg [FOLDER]
                                         the Path in the export (`reg export`) is the one in
                                         MADE.reg byte for byte, with FOLDER as one more entry
                                         at its end if given
"""
import re
import sys

HEADER = "Windows Registry Editor Version 5.00"


def make_list():
    entries = []
    for i in range(170):
        kind = i % 5
        if kind == 0:
            entries.append(f"C:\\Program Files\\Studio Tools {i:03d}\\Video Converter Suite\\bin")
        elif kind == 1:
            entries.append(f"%USERPROFILE%\\AppData\\Local\\Programs\\tool-{i:03d}\\bin\\")
        elif kind == 2:
            entries.append(f"D:\\Projets\\r\u00e9glages vid\u00e9o\\{i:03d}\\\u8a2d\u5b9a\\scripts")
        elif kind == 3:
            entries.append(f"C:\\msys64\\ucrt64\\opt\\toolchain-{i:03d}\\x86_64-w64-mingw32\\bin")
        else:
            entries.append(f"%SystemRoot%\\System32\\WindowsPowerShell\\v1.0\\Modules\\m{i:03d}")
    entries.insert(60, "")  # ";;" as people leave it
    return ";".join(entries)


def reg_hex(data):
    """The hex(2) form regedit writes: bytes in lines of 25, continued with a backslash."""
    pairs = [f"{b:02x}" for b in data]
    lines = [",".join(pairs[i:i + 25]) for i in range(0, len(pairs), 25)]
    return ",\\\r\n  ".join(lines)


def read_path(reg_file):
    """(type, bytes) of the Path value in a .reg file in regedit's UTF-16 form."""
    text = open(reg_file, "rb").read().decode("utf-16").replace("\\\r\n", "").replace("\\\n", "")
    section = None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line.strip("[]").lower()
            continue
        # The user's or, exported from HKLM, the machine's.
        if not section or not section.endswith("\\environment"):
            continue
        m = re.match(r'"path"=(hex\(2\)|hex|"(.*)")\s*:?(.*)$', line, re.IGNORECASE)
        if not m:
            continue
        if m.group(2) is not None:  # a plain string
            return "REG_SZ", (m.group(2).replace('\\"', '"').replace("\\\\", "\\") + "\0").encode("utf-16-le")
        data = bytes(int(h, 16) for h in m.group(3).replace(" ", "").split(",") if h)
        return ("REG_EXPAND_SZ" if m.group(1) == "hex(2)" else "REG_BINARY"), data
    return None, None


def main():
    if sys.argv[1] == "make":
        value = make_list() if sys.argv[2] == "long" else "C:\\tools;D:\\bin"
        data = (value + "\0").encode("utf-16-le")
        body = f'{HEADER}\r\n\r\n[HKEY_CURRENT_USER\\Environment]\r\n"Path"=hex(2):{reg_hex(data)}\r\n\r\n'
        open(sys.argv[3], "wb").write(b"\xff\xfe" + body.encode("utf-16-le"))
        print(f"{len(value.split(';'))} entries, {len(value)} characters")
        return 0
    if sys.argv[1] == "check":
        kind, data = read_path(sys.argv[2])
        _, made = read_path(sys.argv[3])
        expected = made
        if len(sys.argv) > 4:
            expected = made[:-2] + (";" + sys.argv[4] + "\0").encode("utf-16-le")
        if kind == "REG_EXPAND_SZ" and data == expected:
            return 0
        print(f"user_path: Path is {kind}, {len(data or b'') // 2} characters; expected REG_EXPAND_SZ, "
              f"{len(expected) // 2} characters", file=sys.stderr)
        if data:
            at = next((i for i in range(min(len(data), len(expected))) if data[i] != expected[i]),
                      min(len(data), len(expected)))
            at -= at % 2
            print(f"  first difference at character {at // 2}:\n  found    "
                  f"{data[at:at + 120].decode('utf-16-le', 'replace')!r}\n  expected "
                  f"{expected[at:at + 120].decode('utf-16-le', 'replace')!r}", file=sys.stderr)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
