#!/usr/bin/env python3
"""Reads a launcher's crash report (a Windows minidump) and says what happened.

    crash-report.py DUMP [--symbols DIR_OR_DEBUG_ZIP]

Prints the exception and its name, the faulting address as module + offset, each
thread's instruction pointer and the module list with versions. With --symbols (the
debug ZIP of the release, or a folder of its .debug files) each address also gets its
function and source line, from the cross binutils' addr2line for the dump's processor
(x86 or x64). A file that is not a minidump, or is cut short, gets one line and exit
code 2.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

SIGNATURE = 0x504D444D  # "MDMP"
THREAD_LIST, MODULE_LIST, EXCEPTION, SYSTEM_INFO = 3, 4, 6, 7
X86, AMD64 = 0, 9
# Where the instruction pointer lies in each processor's CONTEXT (winnt.h).
INSTRUCTION_POINTER = {X86: (0xB8, "<I", "Eip"), AMD64: (0xF8, "<Q", "Rip")}
ADDR2LINE = {X86: "i686-w64-mingw32-addr2line", AMD64: "x86_64-w64-mingw32-addr2line"}
PROCESSORS = {X86: "x86", AMD64: "x64", 5: "ARM", 12: "ARM64"}
# Bounds: a hostile count must not make the reader loop or allocate for long.
MOST_STREAMS = 1024
MOST_THREADS = 4096
MOST_MODULES = 4096
MOST_NAME_BYTES = 2 * 32768
ADDR2LINE_SECONDS = 60
MOST_DUMP_BYTES = 256 << 20  # a report of this launcher is well under 10 MiB

EXCEPTION_NAMES = {
    0x80000003: "EXCEPTION_BREAKPOINT",
    0x80000004: "EXCEPTION_SINGLE_STEP",
    0xC0000005: "EXCEPTION_ACCESS_VIOLATION",
    0xC0000006: "EXCEPTION_IN_PAGE_ERROR",
    0xC0000008: "EXCEPTION_INVALID_HANDLE",
    0xC000001D: "EXCEPTION_ILLEGAL_INSTRUCTION",
    0xC0000025: "EXCEPTION_NONCONTINUABLE_EXCEPTION",
    0xC0000026: "EXCEPTION_INVALID_DISPOSITION",
    0xC000008C: "EXCEPTION_ARRAY_BOUNDS_EXCEEDED",
    0xC000008D: "EXCEPTION_FLT_DENORMAL_OPERAND",
    0xC000008E: "EXCEPTION_FLT_DIVIDE_BY_ZERO",
    0xC000008F: "EXCEPTION_FLT_INEXACT_RESULT",
    0xC0000090: "EXCEPTION_FLT_INVALID_OPERATION",
    0xC0000091: "EXCEPTION_FLT_OVERFLOW",
    0xC0000092: "EXCEPTION_FLT_STACK_CHECK",
    0xC0000093: "EXCEPTION_FLT_UNDERFLOW",
    0xC0000094: "EXCEPTION_INT_DIVIDE_BY_ZERO",
    0xC0000095: "EXCEPTION_INT_OVERFLOW",
    0xC0000096: "EXCEPTION_PRIV_INSTRUCTION",
    0xC00000FD: "EXCEPTION_STACK_OVERFLOW",
    0xC0000409: "STATUS_STACK_BUFFER_OVERRUN",
    0xC0000374: "STATUS_HEAP_CORRUPTION",
    0xE06D7363: "C++ exception (Visual C++)",
    0x20474343: "C++ exception (GCC)",
}
ACCESS = {0: "reading", 1: "writing", 8: "executing"}


class BadDump(Exception):
    pass


class BadSymbols(Exception):
    pass


class Dump:
    def __init__(self, data):
        self.data = data

    def unpack(self, fmt, offset, what):
        size = struct.calcsize(fmt)
        if offset < 0 or offset + size > len(self.data):
            raise BadDump(f"cut short: {what} at {offset:#x} runs past the end ({len(self.data)} bytes)")
        return struct.unpack_from(fmt, self.data, offset)

    def region(self, size, rva, what):
        if rva + size > len(self.data):
            raise BadDump(f"cut short: {what} at {rva:#x} ({size} bytes) runs past the end ({len(self.data)} bytes)")
        return rva, size

    def string(self, rva):
        (length,) = self.unpack("<I", rva, "a module name")
        if length > MOST_NAME_BYTES or length % 2:
            raise BadDump(f"a module name at {rva:#x} claims {length} bytes")
        self.region(length, rva + 4, "a module name")
        return self.data[rva + 4:rva + 4 + length].decode("utf-16-le", errors="replace")


def read_dump(data):
    dump = Dump(data)
    if len(data) < 4 or struct.unpack_from("<I", data)[0] != SIGNATURE:
        raise BadDump("not a minidump (no MDMP signature)")
    _, _, count, directory = dump.unpack("<IIII", 0, "the header")[:4]
    if count > MOST_STREAMS:
        raise BadDump(f"the header claims {count} streams")
    streams = {}
    for i in range(count):
        kind, size, rva = dump.unpack("<III", directory + 12 * i, "the stream directory")
        dump.region(size, rva, f"stream {kind}")
        streams.setdefault(kind, (size, rva))

    report = {"processor": None, "threads": [], "modules": [], "exception": None}
    if SYSTEM_INFO in streams:
        size, rva = streams[SYSTEM_INFO]
        if size < 2:
            raise BadDump("the system information is cut short")
        (report["processor"],) = dump.unpack("<H", rva, "the system information")
    processor = report["processor"]

    def instruction_pointer(context_size, context_rva, what):
        if processor not in INSTRUCTION_POINTER:
            return None
        offset, fmt, _ = INSTRUCTION_POINTER[processor]
        if context_size < offset + struct.calcsize(fmt):
            raise BadDump(f"the context of {what} is cut short")
        dump.region(context_size, context_rva, f"the context of {what}")
        return dump.unpack(fmt, context_rva + offset, f"the context of {what}")[0]

    if MODULE_LIST in streams:
        size, rva = streams[MODULE_LIST]
        (n,) = dump.unpack("<I", rva, "the module list")
        if n > MOST_MODULES or 4 + 108 * n > size:
            raise BadDump(f"the module list claims {n} modules in {size} bytes")
        for i in range(n):
            at = rva + 4 + 108 * i
            base, image_size, _, _, name_rva = dump.unpack("<QIIII", at, "a module")
            fixed = dump.unpack("<13I", at + 24, "a module's version")
            version = None
            if fixed[0] == 0xFEEF04BD:
                ms, ls = fixed[2], fixed[3]
                version = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
            report["modules"].append({"base": base, "size": image_size, "path": dump.string(name_rva),
                                      "version": version})

    if THREAD_LIST in streams:
        size, rva = streams[THREAD_LIST]
        (n,) = dump.unpack("<I", rva, "the thread list")
        if n > MOST_THREADS or 4 + 48 * n > size:
            raise BadDump(f"the thread list claims {n} threads in {size} bytes")
        for i in range(n):
            at = rva + 4 + 48 * i
            (thread_id,) = dump.unpack("<I", at, "a thread")
            context_size, context_rva = dump.unpack("<II", at + 40, "a thread")
            report["threads"].append({"id": thread_id,
                                      "ip": instruction_pointer(context_size, context_rva, f"thread {thread_id}")})

    if EXCEPTION in streams:
        size, rva = streams[EXCEPTION]
        if size < 168:
            raise BadDump("the exception is cut short")
        thread_id, _ = dump.unpack("<II", rva, "the exception")
        code, flags, _, address, parameters, _ = dump.unpack("<IIQQII", rva + 8, "the exception")
        information = dump.unpack("<15Q", rva + 40, "the exception")[:min(parameters, 15)]
        context_size, context_rva = dump.unpack("<II", rva + 160, "the exception")
        report["exception"] = {"thread": thread_id, "code": code, "flags": flags, "address": address,
                               "information": information,
                               "context_ip": instruction_pointer(context_size, context_rva, "the exception")}
    return report


class Symbols:
    """Function and line of an address, from the .debug files of a folder or a debug ZIP."""

    def __init__(self, where, processor, temp):
        self.files = {}
        self.addr2line = None
        self.problem = None
        if where is None:
            return
        if os.path.isdir(where):
            for folder, _, names in os.walk(where):
                for name in names:
                    if name.lower().endswith(".debug"):
                        self.files.setdefault(name[:-6].lower(), os.path.join(folder, name))
        else:
            try:
                with zipfile.ZipFile(where) as archive:
                    for entry in archive.infolist():
                        name = os.path.basename(entry.filename)
                        if name.lower().endswith(".debug") and name[:-6].lower() not in self.files:
                            target = os.path.join(temp, f"{len(self.files)}-{name}")
                            with archive.open(entry) as source, open(target, "wb") as copy:
                                shutil.copyfileobj(source, copy)
                            self.files[name[:-6].lower()] = target
            except (OSError, zipfile.BadZipFile) as error:
                raise BadSymbols(f"--symbols {where}: neither a folder nor a readable ZIP ({error})")
        tool = ADDR2LINE.get(processor)
        self.addr2line = tool and shutil.which(tool)
        if not self.addr2line:
            self.problem = f"{tool or 'an addr2line for this processor'} is not installed: no functions or lines"

    def image_base(self, path):
        """The preferred load address the .debug file's addresses are relative to."""
        with open(path, "rb") as f:
            head = f.read(4096)
        if len(head) < 0x40 or head[:2] != b"MZ":
            return None
        (pe,) = struct.unpack_from("<I", head, 0x3C)
        if pe + 24 + 32 > len(head) or head[pe:pe + 4] != b"PE\0\0":
            return None
        magic = struct.unpack_from("<H", head, pe + 24)[0]
        if magic == 0x20B:
            return struct.unpack_from("<Q", head, pe + 24 + 24)[0]
        return struct.unpack_from("<I", head, pe + 24 + 28)[0]

    def lookup(self, module, offset):
        path = self.files.get(os.path.basename(module["path"].replace("\\", "/")).lower())
        if not path or not self.addr2line:
            return None
        base = self.image_base(path)
        if base is None:
            return None
        try:
            result = subprocess.run([self.addr2line, "-f", "-C", "-i", "-e", path, f"{base + offset:#x}"],
                                    capture_output=True, text=True, timeout=ADDR2LINE_SECONDS, check=False)
        except (OSError, subprocess.TimeoutExpired):
            return None
        lines = result.stdout.split("\n")
        # Pairs of function and file:line, the innermost inlined one first.
        frames = [f"{lines[i]} at {tidy(lines[i + 1])}" for i in range(0, len(lines) - 1, 2) if lines[i] != "??"]
        return " inlined into ".join(frames) or None


def tidy(place):
    """file:line with the build's "./" prefixes folded away."""
    source, colon, line = place.rpartition(":")
    return f"{os.path.normpath(source)}{colon}{line}" if colon and source else place


def module_of(modules, address):
    for module in modules:
        if module["base"] <= address < module["base"] + module["size"]:
            return module
    return None


def place(report, symbols, address):
    if address is None:
        return "(unknown)"
    module = module_of(report["modules"], address)
    if not module:
        return f"{address:#x} (in no module)"
    offset = address - module["base"]
    text = f"{address:#x} {os.path.basename(module['path'].replace(chr(92), '/'))}+{offset:#x}"
    found = symbols.lookup(module, offset)
    return f"{text}  {found}" if found else text


def show(report, symbols):
    processor = report["processor"]
    print(f"processor: {PROCESSORS.get(processor, 'unknown' if processor is None else f'type {processor}')}")
    exception = report["exception"]
    if exception:
        code = exception["code"]
        print(f"exception: {code:#010x} {EXCEPTION_NAMES.get(code, '(no name known)')}")
        info = exception["information"]
        if code in (0xC0000005, 0xC0000006) and len(info) >= 2:
            print(f"  {ACCESS.get(info[0], 'touching')} address {info[1]:#x}")
        print(f"  at {place(report, symbols, exception['address'])}")
        print(f"  in thread {exception['thread']}")
    else:
        print("exception: none recorded")
    print("threads:")
    for thread in report["threads"]:
        ip = thread["ip"]
        if exception and thread["id"] == exception["thread"] and exception["context_ip"] is not None:
            ip = exception["context_ip"]  # the thread's context at the fault, not inside the filter
        mark = " (faulted)" if exception and thread["id"] == exception["thread"] else ""
        print(f"  {thread['id']}{mark}: {place(report, symbols, ip)}")
    print("modules:")
    for module in report["modules"]:
        version = module["version"] or "no version"
        print(f"  {module['base']:#018x} {module['size']:#10x} {version:<16} {module['path']}")
    if symbols.problem:
        print(f"note: {symbols.problem}")


def main(argv):
    parser = argparse.ArgumentParser(description="Reads a crash report (minidump) of the launcher.")
    parser.add_argument("dump")
    parser.add_argument("--symbols", help="the release's debug ZIP, or a folder of its .debug files")
    args = parser.parse_args(argv)
    try:
        with open(args.dump, "rb") as f:
            data = f.read(MOST_DUMP_BYTES + 1)
        if len(data) > MOST_DUMP_BYTES:
            print(f"crash-report: {args.dump}: over {MOST_DUMP_BYTES} bytes, not a report of the launcher",
                  file=sys.stderr)
            return 2
    except OSError as error:
        print(f"crash-report: {args.dump}: {error.strerror or error}", file=sys.stderr)
        return 2
    try:
        report = read_dump(data)
        with tempfile.TemporaryDirectory() as temp:
            symbols = Symbols(args.symbols, report["processor"], temp)
            show(report, symbols)
    except BadDump as error:
        print(f"crash-report: {args.dump}: {error}", file=sys.stderr)
        return 2
    except BadSymbols as error:
        print(f"crash-report: {error}", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except BrokenPipeError:
        # The reader stopped reading (`| head`): nothing more to say, and no traceback.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
