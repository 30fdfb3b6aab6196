"""Every state of the install folder that a power cut during traced setup runs may leave, checked.
Usage: power_cut_check.py WORK PREFIX (WORK as tests/install/power_cut_test.sh fills it)

WORK/trace holds strace -ff -ttt -y output of the prefix's wineserver (it creates, renames and
deletes) and of each run's programs (they write and flush); WORK/runs one line per run, "NAME KIND
START END" (KIND install or removal, times in seconds since the epoch); WORK/NAME.after what the
folder held after the run, against which the traced operations are checked.

The model (NTFS journals names and sizes, not contents, as ext4 does): a cut may fall after any
operation under the install folder; every name operation before it (create, mkdir, rename, delete)
survives; a file's data written or truncated since its last fsync may read as empty or zeros;
files there before a run are whole. Each state must hold:
- guncel, with content, names a version whose required files are all whole, and Talvor.exe is
  whole;
- onceki, with content, names a whole version or the same one as guncel;
- the service's program is in a whole version. The trace does not see the service manager: the
  service names a version from the setup's log line "hizmet calisiyor: <program>" on (no line
  marks the repoint itself, but guncel names that version before it). A removal deletes the
  service before it touches the folder, so its states are checked for the pointers only.
"""
import codecs
import glob
import os
import re
import sys

REQUIRED = ["talvor_svc.exe", "talvor_gui.exe", "Talvor.exe", "talvor_guncelle.exe", "WinDivert.dll",
            "WinDivert64.sys"]
WRITES = ("write", "pwrite64", "writev", "pwritev")
CALL = re.compile(r'^(\d+\.\d+) (\w+)\((.*)\) += (-?\d+)')
PATH_ARGUMENT = re.compile(r'(?:(?:AT_FDCWD|\d+)<([^>]*)>, )?"((?:[^"\\]|\\.)*)"')
FD_ARGUMENT = re.compile(r'^\d+<([^>]*?)(?: \(deleted\))?>(?:, "((?:[^"\\]|\\.)*)")?')
SERVICE_LINE = re.compile(rb'hizmet calisiyor: .*\\surumler\\([^\\]+)\\talvor_svc\.exe')
VERSION = re.compile(r'^[0-9A-Za-z.+-]{1,31}$')


class Entry:
    def __init__(self, folder=False):
        self.folder = folder
        self.unflushed = not folder
        self.data = b""  # the first bytes written, enough for a pointer


def operations(work, roots):
    """The traced operations under the install folder in time order: (time, call, paths, detail),
    detail being the bytes written or the call's arguments."""
    def inside(path):
        path = os.path.normpath(path)
        for root in roots:
            if path == root or path.startswith(root + "/"):
                return path[len(root) + 1:]
        return None

    found = []
    for name in glob.glob(os.path.join(work, "trace", "*")):
        with open(name, encoding="utf-8", errors="replace") as trace:
            for line in trace:
                call = CALL.match(line)
                if not call or int(call.group(4)) < 0:
                    continue
                time, function, arguments = float(call.group(1)), call.group(2), call.group(3)
                if function in WRITES + ("fsync", "fdatasync", "ftruncate"):
                    fd = FD_ARGUMENT.match(arguments)
                    paths = [fd.group(1)] if fd else []
                    detail = codecs.escape_decode(fd.group(2))[0] if fd and fd.group(2) else b""
                else:
                    paths = [path if path.startswith("/") or not folder else os.path.join(folder, path)
                             for folder, path in PATH_ARGUMENT.findall(arguments)[:2]]
                    detail = arguments
                paths = [inside(path) for path in paths]
                if paths and None not in paths:
                    found.append((time, function, paths, detail))
    return sorted(found, key=lambda operation: operation[0])


def apply(names, function, paths, detail):
    """Applies an operation to the names; returns how it reads when it changed anything."""
    path = paths[0]
    shown = " -> ".join(p.replace("/", "\\") for p in paths)
    if function == "openat":
        if "O_CREAT" in detail and path not in names:
            names[path] = Entry()
            return "create " + shown
        if "O_TRUNC" not in detail or path not in names:
            return None
        function = "ftruncate"
    if function in ("mkdir", "mkdirat"):
        names[path] = Entry(folder=True)
        return "mkdir " + shown
    if function.startswith("rename"):
        for name in [n for n in names if n == paths[1] or n.startswith(paths[1] + "/")]:
            del names[name]
        for name in [n for n in names if n == path or n.startswith(path + "/")]:
            names[paths[1] + name[len(path):]] = names.pop(name)
        return "rename " + shown
    if path not in names:
        sys.exit("the trace does not show where %s came from before its %s" % (path, function))
    if function in ("unlink", "unlinkat", "rmdir"):
        del names[path]
        return "delete " + shown
    if function in ("fsync", "fdatasync"):
        names[path].unflushed = False
        return "fsync " + shown
    names[path].unflushed = True
    if function == "ftruncate":
        names[path].data = b""
        return "truncate " + shown
    names[path].data = (names[path].data + detail)[:64]
    return "write " + shown


def pointer(names, name):
    """The text a pointer holds, or None when it is absent or empty."""
    entry = names.get(name)
    if entry is None or entry.folder:
        return None
    return entry.data.rstrip(b"\r\n ").decode("ascii", "replace") or None


def not_whole(names, version):
    """What of a version is not whole, or an empty text when all of it is."""
    if not VERSION.match(version):
        return "no version"
    missing = [f for f in REQUIRED if "surumler/%s/%s" % (version, f) not in names]
    unflushed = [f for f in REQUIRED if f not in missing and names["surumler/%s/%s" % (version, f)].unflushed]
    return "; ".join((["missing: " + " ".join(missing)] if missing else []) +
                     (["not flushed: " + " ".join(unflushed)] if unflushed else []))


def broken(names, service):
    found = []
    current = pointer(names, "guncel")
    if current:
        if not_whole(names, current):
            found.append("guncel -> %s [%s]" % (current, not_whole(names, current)))
        if "Talvor.exe" not in names or names["Talvor.exe"].unflushed:
            found.append("Talvor.exe [%s]" % ("missing" if "Talvor.exe" not in names else "not flushed"))
    previous = pointer(names, "onceki")
    if previous and previous != current and not_whole(names, previous):
        found.append("onceki -> %s [%s]" % (previous, not_whole(names, previous)))
    if service and not_whole(names, service):
        found.append("service -> %s [%s]" % (service, not_whole(names, service)))
    return "; ".join(found)


def main():
    work, prefix = sys.argv[1], os.path.normpath(sys.argv[2])
    roots = [prefix + "/drive_c/Program Files/Talvor", prefix + "/dosdevices/c:/Program Files/Talvor"]
    with open(os.path.join(work, "runs")) as listed:
        runs = [line.split() for line in listed if line.strip()]
    pending = operations(work, roots)
    names = {}
    service = None
    failed = False
    for run, kind, start, end in runs:
        for entry in names.values():
            entry.unflushed = False
        while pending and pending[0][0] < float(start):
            apply(names, *pending.pop(0)[1:])
        cuts = 0
        states = []
        while pending and pending[0][0] <= float(end):
            _, function, paths, detail = pending.pop(0)
            operation = apply(names, function, paths, detail)
            if operation is None:
                continue
            line = SERVICE_LINE.search(detail) if function in WRITES and paths[0] == "kurulum.log" else None
            if line:
                service = line.group(1).decode("ascii", "replace")
            cuts += 1
            problem = broken(names, service if kind != "removal" else None)
            if problem:
                states.append("  after #%d %s: %s" % (cuts, operation, problem))
        print("%s: %d cut points checked, %d leave the store broken" % (run, cuts, len(states)))
        for state in states:
            print(state)
        with open(os.path.join(work, run + ".after")) as listing:
            held = sorted(line.rstrip("\n") for line in listing if line.strip())
        traced = sorted(name for name in names if name)
        if traced != held:
            print("  the trace does not give what the folder holds: only traced %s, only there %s" %
                  (sorted(set(traced) - set(held)), sorted(set(held) - set(traced))))
        failed = failed or bool(states) or cuts == 0 or traced != held
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
