#!/usr/bin/env python3
"""Reads a launcher's crash or hang report (a Windows minidump) and says what happened.

    crash-report.py REPORT [--symbols DIR_OR_DEBUG_ZIP] [--json]

Prints how the process ended (the exception, or a hang of the main thread), where, what
the launcher was doing (the calls under way, a download's URL and bytes so far, how long
the main thread had been silent), every thread's whole stack, the faulting thread first
and then the main thread, and the module list with versions. Each frame is named by
module and offset; with --symbols (the release's debug ZIP, or a folder of its .debug
files) the launcher's frames also get their function and source line, through the cross
binutils' addr2line for the dump's processor (x86 or x64), with C++ names demangled by
its c++filt (x86's calling-convention decorations, such as stdcall's @N, taken off).

The stack walk works from the dump's own memory: the thread's context, then the chain of
saved frame pointers (x86), and where that gives out, a scan of the stack for values that
point into a module's code. Where the chain holds, what lies between two links is a
frame's own data and is not scanned; between the context and the first link only the
first return address is taken (a system call's stub keeps no frame). A scanned value in
the launcher's own code (whose bytes the report carries) must follow a call instruction;
elsewhere the code is not in the report, and a value that only points into a code
section is a guess. Each frame says how it was found: context, frame pointer, scan, or
scan, a guess; a return address found twice in a row is listed once, the better way. A
scan can find a return address that an earlier call left behind.

--json prints the same as one JSON object. A file that is not a minidump, or is cut short,
gets one line and exit code 2.
"""
import argparse
import bisect
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

SIGNATURE = 0x504D444D  # "MDMP"
THREAD_LIST, MODULE_LIST, MEMORY_LIST, EXCEPTION, SYSTEM_INFO = 3, 4, 5, 6, 7
# The launcher's own streams (src/reports/CrashReport.h).
NOTES_STREAM, CODE_MAP_STREAM, OWN_CODE_STREAM = 0x544C0001, 0x544C0002, 0x544C0003
X86, AMD64 = 0, 9
# Where each processor's CONTEXT (winnt.h) keeps the registers the walk needs, and the
# size of a pointer on its stack.
REGISTERS = {
    X86: {"ip": (0xB8, "<I"), "sp": (0xC4, "<I"), "fp": (0xB4, "<I"), "pointer": 4},
    AMD64: {"ip": (0xF8, "<Q"), "sp": (0x98, "<Q"), "fp": (0xA0, "<Q"), "pointer": 8},
}
ADDR2LINE = {X86: "i686-w64-mingw32-addr2line", AMD64: "x86_64-w64-mingw32-addr2line"}
CXXFILT = {X86: "i686-w64-mingw32-c++filt", AMD64: "x86_64-w64-mingw32-c++filt"}
PROCESSORS = {X86: "x86", AMD64: "x64", 5: "ARM", 12: "ARM64"}
# Bounds: a hostile count must not make the reader loop or allocate for long.
MOST_STREAMS = 1024
MOST_THREADS = 4096
MOST_MODULES = 4096
MOST_MEMORY_RANGES = 1 << 20  # Wine's 64-bit dbghelp writes about 16,000
MOST_OVERLAPS = 64  # ranges looked at for one address
MOST_NAME_BYTES = 2 * 32768
MOST_NOTES_BYTES = 64 * 1024
MOST_FRAMES = 256  # per thread
MOST_STACK_SCANNED = 1 << 20  # bytes per thread: a whole default stack
MOST_SCANNED = 16 << 20  # bytes in all threads
ADDR2LINE_SECONDS = 60
MOST_DUMP_BYTES = 256 << 20  # a report of this launcher is a few MiB

HANG_CODE = 0xE0544C10
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
    0xC0000417: "STATUS_INVALID_CRUNTIME_PARAMETER (the runtime's invalid-parameter handler)",
    0xE06D7363: "C++ exception (Visual C++)",
    0x20474343: "C++ exception (GCC)",
    0xE0544C01: "std::terminate",
    0xE0544C02: "abort (SIGABRT)",
    0xE0544C03: "a pure virtual call",
    HANG_CODE: "hang: the main thread stopped answering",
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


class Memory:
    """The process memory a report holds: ranges of (address, bytes), looked up by address.
    Ranges may overlap: the launcher's own code stream covers the few bytes of code that
    dbghelp keeps around the faulting instruction."""

    def __init__(self):
        self.starts = []
        self.ranges = []
        self.ends = []  # the furthest end of the ranges up to each one, in order of start

    def add(self, address, data):
        if data:
            self.ranges.append((address, data))

    def sort(self):
        self.ranges.sort(key=lambda found: found[0])
        self.starts = [address for address, _ in self.ranges]
        self.ends, furthest = [], 0
        for address, data in self.ranges:
            furthest = max(furthest, address + len(data))
            self.ends.append(furthest)

    def read(self, address, size):
        """The `size` bytes at `address`, or None where the report does not hold them all."""
        at = bisect.bisect_right(self.starts, address) - 1
        # Back from the last range that starts at or before it, while one may still reach
        # past it; a bounded look, since a hostile report may overlap its ranges at will.
        for _ in range(MOST_OVERLAPS):
            if at < 0 or self.ends[at] < address + size:
                return None
            start, data = self.ranges[at]
            offset = address - start
            if offset + size <= len(data):
                return data[offset:offset + size]
            at -= 1
        return None


def parse_notes(raw):
    """The launcher's "key=value" lines (src/reports/ReportNotes.cpp), as values."""
    fields = {}
    for line in raw.decode("latin-1").split("\n"):
        key, equals, value = line.partition("=")
        if equals and key:
            fields[key] = value
    def number(text):
        return int(text) if text.isdigit() else None

    notes = {"main_thread": number(fields.get("main_thread", "")),
             "reporting_thread": number(fields.get("reporting_thread", "")),
             "main_silent_ms": number(fields.get("main_silent_ms", "")), "calls": []}
    count = number(fields.get("calls", "")) or 0
    for index in range(1, min(count, 64) + 1):
        prefix = f"call{index}."
        call = {"method": fields.get(prefix + "method", ""), "ms": number(fields.get(prefix + "ms", ""))}
        if prefix + "url" in fields:
            call["url"] = fields[prefix + "url"]
        if prefix + "bytes" in fields:
            call["bytes"] = number(fields[prefix + "bytes"])
        notes["calls"].append(call)
    notes["calls_under_way"] = count
    return notes


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
        dump.region(size, rva, f"stream {kind:#x}")
        streams.setdefault(kind, (size, rva))

    report = {"processor": None, "threads": [], "modules": [], "exception": None, "notes": None,
              "code_map": {}, "memory": Memory()}
    if SYSTEM_INFO in streams:
        size, rva = streams[SYSTEM_INFO]
        if size < 2:
            raise BadDump("the system information is cut short")
        (report["processor"],) = dump.unpack("<H", rva, "the system information")
    processor = report["processor"]
    memory = report["memory"]

    def context(context_size, context_rva, what):
        """The registers the walk needs, or None for a processor it does not know."""
        if processor not in REGISTERS:
            return None
        dump.region(context_size, context_rva, f"the context of {what}")
        registers = {}
        for name in ("ip", "sp", "fp"):
            offset, fmt = REGISTERS[processor][name]
            if context_size < offset + struct.calcsize(fmt):
                raise BadDump(f"the context of {what} is cut short")
            registers[name] = dump.unpack(fmt, context_rva + offset, f"the context of {what}")[0]
        return registers

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

    if MEMORY_LIST in streams:
        size, rva = streams[MEMORY_LIST]
        (n,) = dump.unpack("<I", rva, "the memory list")
        if n > MOST_MEMORY_RANGES or 4 + 16 * n > size:
            raise BadDump(f"the memory list claims {n} ranges in {size} bytes")
        for i in range(n):
            start, length, data_rva = dump.unpack("<QII", rva + 4 + 16 * i, "the memory list")
            dump.region(length, data_rva, "a memory range")
            memory.add(start, data[data_rva:data_rva + length])

    if THREAD_LIST in streams:
        size, rva = streams[THREAD_LIST]
        (n,) = dump.unpack("<I", rva, "the thread list")
        if n > MOST_THREADS or 4 + 48 * n > size:
            raise BadDump(f"the thread list claims {n} threads in {size} bytes")
        for i in range(n):
            at = rva + 4 + 48 * i
            (thread_id,) = dump.unpack("<I", at, "a thread")
            stack_start, stack_size, stack_rva = dump.unpack("<QII", at + 24, "a thread")
            dump.region(stack_size, stack_rva, f"the stack of thread {thread_id}")
            context_size, context_rva = dump.unpack("<II", at + 40, "a thread")
            report["threads"].append({"id": thread_id, "context": context(context_size, context_rva,
                                                                          f"thread {thread_id}"),
                                      "stack": (stack_start, data[stack_rva:stack_rva + stack_size])})

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
                               "context": context(context_size, context_rva, "the exception")}

    if NOTES_STREAM in streams:
        size, rva = streams[NOTES_STREAM]
        report["notes"] = parse_notes(data[rva:rva + min(size, MOST_NOTES_BYTES)])

    if CODE_MAP_STREAM in streams:
        size, rva = streams[CODE_MAP_STREAM]
        _, n, own_code, own_size = dump.unpack("<IIQI", rva, "the code map")
        if n > MOST_MODULES or 24 + 48 * n > size:
            raise BadDump(f"the code map claims {n} modules in {size} bytes")
        for i in range(n):
            at = rva + 24 + 48 * i
            base, _, sections = dump.unpack("<QII", at, "the code map")
            ranges = dump.unpack("<8I", at + 16, "the code map")
            report["code_map"][base] = [(ranges[2 * j], ranges[2 * j + 1]) for j in range(min(sections, 4))]
        if OWN_CODE_STREAM in streams:
            size, rva = streams[OWN_CODE_STREAM]
            memory.add(own_code, data[rva:rva + min(size, own_size)])
    memory.sort()
    return report


class Symbols:
    """Function and line of addresses, from the .debug files of a folder or a debug ZIP."""

    def __init__(self, where, processor, temp):
        self.files = {}
        self.addr2line = None
        self.cxxfilt = None
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
            return
        # addr2line's own demangling (-C) fails on x86: it takes the target's leading
        # underscore off a name whose own underscore the demangler then lacks.
        self.cxxfilt = shutil.which(CXXFILT[processor])
        if not self.cxxfilt:
            self.problem = f"{CXXFILT[processor]} is not installed: C++ names are left mangled"

    @staticmethod
    def image_base(path):
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

    def resolve(self, module, offsets):
        """{offset: [(function, place), ...] innermost first} for the offsets addr2line knows."""
        path = self.files.get(os.path.basename(module["path"].replace("\\", "/")).lower())
        if not path or not self.addr2line or not offsets:
            return {}
        base = self.image_base(path)
        if base is None:
            return {}
        offsets = sorted(set(offsets))
        try:
            result = subprocess.run([self.addr2line, "-a", "-f", "-i", "-e", path] +
                                    [f"{base + offset:#x}" for offset in offsets],
                                    capture_output=True, text=True, timeout=ADDR2LINE_SECONDS, check=False)
        except (OSError, subprocess.TimeoutExpired):
            return {}
        found, current = {}, None
        lines = result.stdout.split("\n")
        i = 0
        while i < len(lines):
            line = lines[i]
            if line.startswith("0x"):
                try:
                    current = int(line, 16) - base
                except ValueError:
                    current = None
                i += 1
                continue
            if current is not None and i + 1 < len(lines) and line != "??":
                found.setdefault(current, []).append((undecorated(line), tidy(lines[i + 1])))
            i += 2
        names = self.demangle({function for places in found.values() for function, _ in places})
        return {offset: [(names.get(function, function), where) for function, where in places]
                for offset, places in found.items()}

    def demangle(self, functions):
        """{mangled: demangled} for the C++ names among `functions`, by one c++filt run."""
        mangled = sorted(name for name in functions if name.startswith("_Z"))
        if not self.cxxfilt or not mangled:
            return {}
        try:
            # -n: the names have no target's underscore left to strip.
            result = subprocess.run([self.cxxfilt, "-n"], input="\n".join(mangled) + "\n", capture_output=True,
                                    text=True, timeout=ADDR2LINE_SECONDS, check=False)
        except (OSError, subprocess.TimeoutExpired):
            return {}
        plain = result.stdout.split("\n")[:len(mangled)]
        return dict(zip(mangled, plain)) if len(plain) == len(mangled) and all(plain) else {}


def undecorated(function):
    """A function's name without x86's calling-convention decoration: stdcall's `name@N`
    and fastcall's `@name@N` (a split-off part's `.cold` kept)."""
    match = re.fullmatch(r"@?([^@]+)@[0-9]+((?:\.[A-Za-z0-9_]+)*)", function)
    return match.group(1) + match.group(2) if match else function


def tidy(place):
    """file:line with the build's "./" prefixes folded away."""
    source, colon, line = place.rpartition(":")
    return f"{os.path.normpath(source)}{colon}{line}" if colon and source else place


def module_of(modules, address):
    for module in modules:
        if module["base"] <= address < module["base"] + module["size"]:
            return module
    return None


def follows_call(before):
    """Whether the bytes just before a return address end with a call instruction."""
    n = len(before)

    def modrm(at):
        return before[n - at] if n >= at else None

    if n >= 5 and before[-5] == 0xE8:  # call rel32
        return True
    for length in range(2, 8):  # call r/m: FF /2, its operand `length - 1` bytes long
        if n < length or before[-length] != 0xFF:
            continue
        byte = modrm(length - 1)
        if (byte >> 3) & 7 != 2:
            continue
        mod, rm = byte >> 6, byte & 7
        operand = 1 + (rm == 4 and mod != 3) + {0: 4 if rm == 5 else 0, 1: 1, 2: 4, 3: 0}[mod]
        if mod == 0 and rm == 4 and n >= length - 2 and (before[n - length + 2] & 7) == 5:
            operand += 4  # a SIB with no base register carries a 32-bit displacement
        if operand == length - 1:
            return True
    return False


class Walker:
    """Walks one thread's stack in the report's memory.

    On x86 (the launcher as it ships) every function of the launcher, and Windows' own
    code, saves the caller's frame pointer below its return address: the walk follows that
    chain, and scans only where it gives out. Where a link holds, what lies between it and
    the next is the frame's own data: an address of code there is a return address an
    earlier call left behind, and is not listed. On x64 a frame pointer may point anywhere
    inside its frame (GCC sets it past the saved registers) and Windows' code keeps none:
    frames are unwound from the tables of each image, which a report does not hold, so the
    x64 walk is the context and the scan alone."""

    # How a frame was found, the most certain first: a return address found two ways is
    # listed once, as the better one.
    RANK = {"context": 0, "frame pointer": 1, "scan": 2, "guess": 3}

    def __init__(self, report):
        self.report = report
        self.pointer = REGISTERS[report["processor"]]["pointer"]
        self.frame_pointers = report["processor"] == X86
        self.budget = MOST_SCANNED

    def code(self, address):
        """Whether `address` lies in a module's code: in a code section where the report
        maps them, else anywhere in the image past its headers."""
        module = module_of(self.report["modules"], address)
        if not module:
            return False
        offset = address - module["base"]
        sections = self.report["code_map"].get(module["base"])
        if sections is None:
            return offset >= 0x1000
        return any(rva <= offset < rva + size for rva, size in sections)

    def return_address(self, value):
        """How far a stack value can be a return address: None when it is none (outside
        code, or after no call where the code is at hand), "scan" when it follows a call in
        code the report holds, "guess" in code it does not hold (the system's)."""
        if value is None or not self.code(value):
            return None
        before = self.report["memory"].read(value - 7, 7)
        if before is None:
            return "guess"
        return "scan" if follows_call(before) else None

    def walk(self, registers, stack):
        start, data = stack
        end = start + len(data)
        fmt = "<I" if self.pointer == 4 else "<Q"

        def word(address):
            if start <= address and address + self.pointer <= end:
                return struct.unpack_from(fmt, data, address - start)[0]
            return None

        frames = [(registers["ip"], "context")]
        position = max(registers["sp"], start)
        scan_end = min(end, position + MOST_STACK_SCANNED)

        def holds(frame):
            """Whether a saved frame pointer at `frame`, above what is walked, is followed
            by a return address."""
            return (frame is not None and position <= frame < scan_end - self.pointer and frame % self.pointer == 0
                    and self.return_address(word(frame + self.pointer)) is not None)

        def room():
            return position < scan_end and len(frames) < MOST_FRAMES and self.budget > 0

        frame = registers["fp"] if self.frame_pointers else None
        innermost = True
        while room():
            if holds(frame):
                if innermost:
                    # Between the context and the first link: the innermost function's own
                    # frame. One that keeps no frame pointer (a system call's stub) has its
                    # caller's return address on top; the rest belongs to the frame the
                    # link saves, where a code address is stale. The first one is taken.
                    while position < frame and self.budget > 0:
                        how = self.return_address(word(position))
                        position += self.pointer
                        self.budget -= self.pointer
                        if how:
                            frames.append((word(position - self.pointer), how))
                            break
                value, saved = word(frame + self.pointer), word(frame)
                frames.append((value, "frame pointer"))
                position = frame + 2 * self.pointer
                frame = saved if saved is not None and saved > frame else None
            else:
                # No chain here: a scan, until a return address whose callee saved the
                # caller's frame pointer just below it picks the chain up again.
                frame = None
                while room() and frame is None:
                    value = word(position)
                    position += self.pointer
                    self.budget -= self.pointer
                    how = self.return_address(value)
                    if how:
                        frames.append((value, how))
                        saved = word(position - 2 * self.pointer)
                        if self.frame_pointers and holds(saved):
                            frame = saved
            innermost = False
        # The same return address twice in a row is one frame (found by the chain and by
        # the scan, or left twice on the stack), listed as found the better way.
        walked = []
        for address, how in frames:
            if walked and walked[-1][0] == address:
                if self.RANK[how] < self.RANK[walked[-1][1]]:
                    walked[-1] = (address, how)
                continue
            walked.append((address, how))
        return walked


def describe(report, symbols, stacks):
    """Each frame's module, offset and, where known, function and line, for a list of
    stacks: one addr2line a module for all of them."""
    located = []
    wanted = {}
    for frames in stacks:
        located.append([])
        for address, how in frames:
            module = module_of(report["modules"], address)
            # A return address's call is the instruction before it.
            lookup = address if how == "context" else address - 1
            located[-1].append((address, how, module, lookup))
            if module:
                wanted.setdefault(id(module), (module, set()))[1].add(lookup - module["base"])
    resolved = {key: symbols.resolve(module, offsets) for key, (module, offsets) in wanted.items()}
    described = []
    for frames in located:
        described.append([])
        for address, how, module, lookup in frames:
            # A guess is a scanned value in code the report does not hold: nothing says a
            # call came before it.
            frame = {"address": address, "found_by": "scan" if how == "guess" else how, "guess": how == "guess",
                     "module": None, "offset": None, "symbols": []}
            if module:
                frame["module"] = os.path.basename(module["path"].replace("\\", "/"))
                frame["offset"] = address - module["base"]
                frame["symbols"] = resolved[id(module)].get(lookup - module["base"], [])
            described[-1].append(frame)
    return described


def place_text(frame):
    if frame["module"] is None:
        return f"{frame['address']:#x} (in no module)"
    text = f"{frame['address']:#x} {frame['module']}+{frame['offset']:#x}"
    if frame["symbols"]:
        text += "  " + " inlined into ".join(f"{function} at {where}" for function, where in frame["symbols"])
    return text


def analyse(report, symbols):
    """The report as plain values: what --json prints, and what the text is made from."""
    exception = report["exception"]
    notes = report["notes"]
    main = notes["main_thread"] if notes else None
    reporting = notes["reporting_thread"] if notes else None
    faulted = exception["thread"] if exception else None
    walker = Walker(report) if report["processor"] in REGISTERS else None
    threads, stacks = [], []
    for thread in report["threads"]:
        registers = thread["context"]
        if thread["id"] == faulted and exception["context"] is not None:
            registers = exception["context"]  # the thread at the fault, not inside the filter
        frames = []
        if thread["id"] == reporting and thread["id"] != faulted:
            registers = None  # its stack is the report's own writing
        if registers is not None:
            frames = walker.walk(registers, thread["stack"]) if walker else [(registers["ip"], "context")]
        threads.append({"id": thread["id"], "faulted": thread["id"] == faulted, "main": thread["id"] == main,
                        "reporting": thread["id"] == reporting})
        stacks.append(frames)
    stacks.append([(exception["address"], "context")] if exception else [])
    described = describe(report, symbols, stacks)
    for thread, frames in zip(threads, described):
        thread["frames"] = frames
    # The faulting thread first, then the main thread, then the others as the report lists them.
    threads.sort(key=lambda t: 0 if t["faulted"] else 1 if t["main"] else 2)
    result = {"processor": PROCESSORS.get(report["processor"], None if report["processor"] is None
                                          else f"type {report['processor']}"),
              "kind": "hang" if exception and exception["code"] == HANG_CODE else "crash" if exception else None,
              "exception": None, "notes": notes, "threads": threads,
              "modules": [{"base": m["base"], "size": m["size"], "version": m["version"], "path": m["path"]}
                          for m in report["modules"]],
              "note": symbols.problem}
    if exception:
        code = exception["code"]
        info = exception["information"]
        place = described[-1][0]
        result["exception"] = {"code": code, "name": EXCEPTION_NAMES.get(code), "thread": faulted,
                               "address": place, "access": None}
        if code in (0xC0000005, 0xC0000006) and len(info) >= 2:
            result["exception"]["access"] = {"kind": ACCESS.get(info[0], "touching"), "address": info[1]}
    return result


def show(result):
    print(f"processor: {result['processor'] or 'unknown'}")
    exception = result["exception"]
    if exception:
        print(f"report: {result['kind']}")
        print(f"exception: {exception['code']:#010x} {exception['name'] or '(no name known)'}")
        if exception["access"]:
            print(f"  {exception['access']['kind']} address {exception['access']['address']:#x}")
        print(f"  at {place_text(exception['address'])}")
        print(f"  in thread {exception['thread']}")
    else:
        print("exception: none recorded")
    notes = result["notes"]
    if notes:
        print("what was going on:")
        silent = notes["main_silent_ms"]
        print(f"  main thread {notes['main_thread']}: "
              + ("not watched" if silent is None else f"last answered {silent / 1000:.1f} s before the report"))
        print(f"  calls under way: {notes['calls_under_way']}")
        for index, call in enumerate(notes["calls"], 1):
            since = "" if call["ms"] is None else f", for {call['ms'] / 1000:.1f} s"
            print(f"    {index}. {printable(call['method'])}{since}")
            if "url" in call:
                print(f"       url: {printable(call['url'])}")
            if "bytes" in call:
                print(f"       bytes written so far: {call['bytes']}")
    print("threads (the faulting thread first, then the main thread):")
    for thread in result["threads"]:
        marks = [mark for mark, on in (("hung" if result["kind"] == "hang" else "faulted", thread["faulted"]),
                                       ("main", thread["main"]), ("writing this report", thread["reporting"])) if on]
        print(f"  {thread['id']}" + (f" ({', '.join(marks)})" if marks else "") + ":")
        for index, frame in enumerate(thread["frames"]):
            how = "scan, a guess" if frame["guess"] else frame["found_by"]
            print(f"    #{index:<3}{place_text(frame)}  [{how}]")
    print("modules:")
    for module in result["modules"]:
        version = module["version"] or "no version"
        print(f"  {module['base']:#018x} {module['size']:#10x} {version:<16} {module['path']}")
    if result["note"]:
        print(f"note: {result['note']}")


def printable(text):
    return "".join(c if c.isprintable() else "?" for c in text)


def as_json(result):
    def frame(f):
        return {"address": f"{f['address']:#x}", "module": f["module"],
                "offset": None if f["offset"] is None else f"{f['offset']:#x}", "found_by": f["found_by"],
                "guess": f["guess"], "symbols": [{"function": function, "source": where} for function, where in f["symbols"]]}

    out = dict(result)
    if result["exception"]:
        e = result["exception"]
        out["exception"] = {"code": f"{e['code']:#010x}", "name": e["name"], "thread": e["thread"],
                            "address": frame(e["address"]),
                            "access": e["access"] and {"kind": e["access"]["kind"],
                                                       "address": f"{e['access']['address']:#x}"}}
    out["threads"] = [{"id": t["id"], "faulted": t["faulted"], "main": t["main"], "reporting": t["reporting"],
                       "frames": [frame(f) for f in t["frames"]]} for t in result["threads"]]
    out["modules"] = [{"base": f"{m['base']:#x}", "size": m["size"], "version": m["version"], "path": m["path"]}
                      for m in result["modules"]]
    return json.dumps(out, indent=1)


def main(argv):
    parser = argparse.ArgumentParser(description="Reads a crash or hang report (minidump) of the launcher.")
    parser.add_argument("dump")
    parser.add_argument("--symbols", help="the release's debug ZIP, or a folder of its .debug files")
    parser.add_argument("--json", action="store_true", help="one JSON object, for tools")
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
            result = analyse(report, Symbols(args.symbols, report["processor"], temp))
    except BadDump as error:
        print(f"crash-report: {args.dump}: {error}", file=sys.stderr)
        return 2
    except BadSymbols as error:
        print(f"crash-report: {error}", file=sys.stderr)
        return 2
    if args.json:
        print(as_json(result))
    else:
        show(result)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except BrokenPipeError:
        # The reader stopped reading (`| head`): nothing more to say, and no traceback.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
