"""The client of the script service: JSON-RPC 2.0, one message per line.

One reader thread per connection takes every line the service sends, hands replies to the
callers waiting for them (matched by id) and notifications to their subscriptions, so that
calls may be made from several threads and a subscription's samples keep flowing while a
call waits for its reply.
"""

import collections
import contextlib
import glob
import itertools
import json
import os
import shutil
import socket
import stat
import subprocess
import threading
import time

MAX_LINE = 65536
# The service's own lines may be longer than a request: a read of many scans is one reply.
# Its largest (the most values a read may ask for) stays well below this.
MAX_REPLY_LINE = 64 << 20

PARSE_ERROR = -32700
INVALID_REQUEST = -32600
METHOD_NOT_FOUND = -32601
INVALID_PARAMS = -32602
LINK_DOWN = -32000
WRITE_FAILED = -32001
READ_FAILED = -32002
RECORDING = -32003


class ServiceError(Exception):
    """An error the service answered: `code` is the JSON-RPC code, `text` the service's words."""

    def __init__(self, code, text, data=None):
        super().__init__(f"{text} (code {code})")
        self.code = code
        self.text = text
        self.data = data


class ConnectionClosed(ConnectionError):
    """The service went away; every waiting call and subscription gets this."""


class ProtocolError(ConnectionClosed):
    """The service sent something that is not a message of the protocol; the connection ends,
    as nothing after a misframed line can be trusted."""


class SampleGap(Exception):
    """Scans were lost before the next sample (the service's queue was full, or this client
    did not take its samples fast enough). The subscription goes on after it."""

    def __init__(self, lost):
        super().__init__(f"{lost} scan(s) lost")
        self.lost = lost


class Gap:
    """The marker a subscription with on_gap="yield" gives in place of raising SampleGap."""

    __slots__ = ("lost",)

    def __init__(self, lost):
        self.lost = lost

    def __repr__(self):
        return f"Gap(lost={self.lost})"


class Sample:
    """One scan: its number, its time (seconds since the host started) and a value per name
    (None for a failed read)."""

    __slots__ = ("scan", "t", "values")

    def __init__(self, scan, t, values):
        self.scan = scan
        self.t = t
        self.values = values

    def __getitem__(self, name):
        return self.values[name]

    def __repr__(self):
        return f"Sample(scan={self.scan}, t={self.t}, values={self.values})"


def _samples(names, raw):
    out = []
    for s in raw:
        values = s["values"]
        if len(values) != len(names):
            raise ProtocolError(f"a sample has {len(values)} values for {len(names)} names")
        out.append(Sample(s["scan"], s["t"], dict(zip(names, values))))
    return out


class Subscription:
    """The samples of a subscription, in scan order. Iterating blocks until the next sample;
    `get(timeout)` and `during(seconds)` bound the wait. A gap is raised as SampleGap (or
    yielded as a Gap with on_gap="yield") before the samples that follow it."""

    def __init__(self, client, sid, names, on_gap, limit):
        if on_gap not in ("raise", "yield"):
            raise ValueError('on_gap is "raise" or "yield"')
        self.id = sid
        self.names = names
        self._client = client
        self._on_gap = on_gap
        self._limit = limit
        self._items = collections.deque()
        self._lost = 0  # counted here, not yet handed to the reader
        self._ended = None  # None while live, else the exception to raise (StopIteration...)
        self._cond = threading.Condition()

    # Called on the reader thread.
    def _deliver(self, gap, raw):
        samples = _samples(self.names, raw)
        with self._cond:
            if gap:
                self._push_gap(gap)
            for s in samples:
                if len(self._items) >= self._limit:
                    # Never block the reader (replies would stall): drop, and say so.
                    self._lost += 1
                else:
                    if self._lost:
                        self._push_gap(0)
                    self._items.append(s)
            self._cond.notify_all()

    def _push_gap(self, lost):
        lost += self._lost
        self._lost = 0
        if self._items and isinstance(self._items[-1], Gap):
            self._items[-1].lost += lost
        else:
            self._items.append(Gap(lost))

    def _end(self, exc):
        with self._cond:
            if self._ended is None:
                self._ended = exc
            self._cond.notify_all()

    def get(self, timeout=None):
        """The next sample (or Gap marker); TimeoutError when none comes within timeout."""
        deadline = None if timeout is None else time.monotonic() + timeout
        with self._cond:
            while not self._items:
                if self._lost:
                    self._push_gap(0)
                    break
                if self._ended is not None:
                    raise StopIteration() if self._ended is StopIteration else self._ended
                left = None if deadline is None else deadline - time.monotonic()
                if left is not None and left <= 0:
                    raise TimeoutError(f"no sample of {', '.join(self.names)} in {timeout} s")
                self._cond.wait(left)
            item = self._items.popleft()
        if isinstance(item, Gap) and self._on_gap == "raise":
            raise SampleGap(item.lost)
        return item

    def __iter__(self):
        return self

    def __next__(self):
        return self.get()

    def during(self, seconds):
        """The samples of the next `seconds` (by this machine's clock)."""
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            if left <= 0:
                return
            try:
                yield self.get(left)
            except (TimeoutError, StopIteration):
                return

    def close(self):
        """Ends the subscription at the service; iterating then stops."""
        if self._ended is None:
            self._end(StopIteration)
            with contextlib.suppress(ConnectionClosed):
                self._client._forget(self)
                self._client.call("unsubscribe", {"subscription": self.id})

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Recording:
    """What record() gives: the file, and after the block the rows the service wrote."""

    def __init__(self, path):
        self.path = path
        self.rows = None


class Client:
    """A connection to the script service over a byte stream (a socket or a pipe pair)."""

    def __init__(self, rfile, wfile, closers=(), timeout=30.0, queue_limit=100000,
                 explain=None):
        self.timeout = timeout
        self.queue_limit = queue_limit
        self._rfile = rfile
        self._wfile = wfile
        self._closers = list(closers)
        self._ids = itertools.count(1)
        self._send_lock = threading.Lock()
        self._lock = threading.Lock()
        self._pending = {}  # id -> [event, reply, on_result]
        self._subs = {}
        self._early = {}  # subscription id -> notifications that came before its reply
        self._gone = set()  # closed subscriptions, whose late notifications are dropped
        self._explain = explain  # gives the reason the connection ended in better words
        self._closed = None
        self._reader = threading.Thread(target=self._read_loop, name="mcscript-reader",
                                        daemon=True)
        self._reader.start()

    # The reader thread.
    def _read_loop(self):
        reason = ConnectionClosed("the service closed the connection")
        try:
            while True:
                line = self._rfile.readline(MAX_REPLY_LINE + 2)
                if not line:
                    break
                if len(line) > MAX_REPLY_LINE + 1 or not line.endswith(b"\n"):
                    if len(line) > MAX_REPLY_LINE:
                        reason = ProtocolError("the service sent a line longer than the limit")
                    break
                self._dispatch(line)
        except ProtocolError as e:
            reason = e
        except (OSError, ValueError) as e:
            reason = ConnectionClosed(f"the connection broke: {e}")
        except Exception as e:  # a message of the wrong shape
            reason = ProtocolError(f"the service sent a malformed message: {e!r}")
        self._fail(reason)

    def _dispatch(self, line):
        try:
            msg = json.loads(line)
        except ValueError:
            raise ProtocolError(f"the service sent a line that is not JSON: {line[:80]!r}")
        if not isinstance(msg, dict):
            raise ProtocolError(f"the service sent a message that is not an object: {msg!r}")
        if "id" not in msg:
            if msg.get("method") == "samples":
                p = msg.get("params") or {}
                sid = p.get("subscription")
                with self._lock:
                    sub = self._subs.get(sid)
                    if sub is None:
                        if sid not in self._gone:
                            self._early.setdefault(sid, []).append(p)
                        return
                sub._deliver(p.get("gap", 0), p.get("samples", []))
            return
        with self._lock:
            slot = self._pending.pop(msg["id"], None)
        if slot is None:
            return  # a reply to a call that timed out
        try:
            if "error" in msg:
                e = msg["error"]
                slot[1] = ServiceError(e["code"], e["message"], e.get("data"))
            else:
                result = msg["result"]
                slot[1] = slot[2](result) if slot[2] else result
        except Exception as e:
            slot[1] = ProtocolError(f"the service sent a malformed reply: {e!r}")
            raise slot[1]
        finally:
            slot[0].set()

    def _fail(self, reason):
        self._shut(self._explain(reason) if self._explain else reason)

    def _shut(self, reason):
        with self._lock:
            if self._closed is None:
                self._closed = reason
            pending, self._pending = self._pending, {}
            subs, self._subs = list(self._subs.values()), {}
        for slot in pending.values():
            slot[1] = self._closed
            slot[0].set()
        for sub in subs:
            sub._end(self._closed)

    # Calls.
    def call(self, method, params=None, on_result=None, timeout=None, on_late=None):
        """Sends one request and waits for its reply; on_result runs on the reader thread
        before any later message is taken, on_late instead when the reply comes after the
        call timed out."""
        rid = next(self._ids)
        msg = {"jsonrpc": "2.0", "id": rid, "method": method}
        if params is not None:
            msg["params"] = params
        data = json.dumps(msg, separators=(",", ":")).encode() + b"\n"
        if len(data) > MAX_LINE + 1:
            raise ValueError(f"the request is longer than {MAX_LINE} bytes")
        slot = [threading.Event(), None, on_result]
        with self._lock:
            if self._closed is not None:
                raise self._closed
            self._pending[rid] = slot
        try:
            with self._send_lock:
                self._wfile.write(data)
                self._wfile.flush()
        except (OSError, ValueError) as e:
            self._fail(ConnectionClosed(f"the connection broke: {e}"))
        wait = self.timeout if timeout is None else timeout
        if not slot[0].wait(wait):
            with self._lock:
                if on_late is not None and rid in self._pending:
                    # The reply may still come; what it started must then be undone.
                    slot[2] = on_late
                else:
                    self._pending.pop(rid, None)
            raise TimeoutError(f"no reply to {method} in {wait} s")
        if isinstance(slot[1], Exception):
            raise slot[1]
        return slot[1]

    def describe(self):
        return self.call("describe")

    def status(self):
        return self.call("status")

    def read(self, *names, n=1):
        """n scans of the names, in order: a list of Samples."""
        r = self.call("read", {"names": list(names), "n": n})
        return _samples(list(names), r["samples"])

    def value(self, name):
        """One read of one variable."""
        return self.read(name)[0][name]

    def write(self, name, value):
        """Writes and returns the value the MC echoed."""
        return self.call("write", {"name": name, "value": value})["value"]

    def subscribe(self, *names, on_gap="raise"):
        names = list(names)
        holder = {}

        def register(result):
            sub = Subscription(self, result["subscription"], names, on_gap, self.queue_limit)
            with self._lock:
                self._subs[sub.id] = sub
                early = self._early.pop(sub.id, [])
            for p in early:
                sub._deliver(p.get("gap", 0), p.get("samples", []))
            holder["sub"] = sub
            return result

        def abandon(result):
            # A subscription whose caller gave up: its samples would pile up unread.
            sid = result["subscription"]
            with self._lock:
                self._gone.add(sid)
                self._early.pop(sid, None)
            # Not sent from the reader itself: a write may wait for the service, which may
            # wait for this reader to take its answers first.
            threading.Thread(target=self._notify, args=("unsubscribe", {"subscription": sid}),
                             daemon=True).start()

        self.call("subscribe", {"names": names}, on_result=register, on_late=abandon)
        return holder["sub"]

    def _notify(self, method, params):
        """A request nobody answers (no id); a broken connection is the reader's to report."""
        msg = {"jsonrpc": "2.0", "method": method, "params": params}
        with contextlib.suppress(OSError, ValueError), self._send_lock:
            self._wfile.write(json.dumps(msg, separators=(",", ":")).encode() + b"\n")
            self._wfile.flush()

    def _forget(self, sub):
        with self._lock:
            self._subs.pop(sub.id, None)
            self._gone.add(sub.id)

    def wait_until(self, name, predicate, timeout):
        """Waits for a read of name whose value satisfies predicate (failed reads are not
        offered) and returns that Sample; TimeoutError with the last value otherwise."""
        last = None
        with self.subscribe(name, on_gap="yield") as sub:
            for s in sub.during(timeout):
                if isinstance(s, Gap) or s[name] is None:
                    continue
                last = s[name]
                if predicate(last):
                    return s
        raise TimeoutError(f"{name} did not reach the condition in {timeout} s (last: {last})")

    @contextlib.contextmanager
    def record(self, path, *names):
        """Records the names to a CSV file for the duration of the block."""
        # The service may run in another folder: the path is this script's.
        path = os.path.abspath(path)
        rec = Recording(self.call("record_start", {"path": path, "names": list(names)})["path"])
        try:
            yield rec
        finally:
            rec.rows = self.call("record_stop")["rows"]

    def close(self):
        self._shut(ConnectionClosed("the client closed the connection"))
        for c in self._closers:
            with contextlib.suppress(Exception):
                c()
        if self._reader is not threading.current_thread():
            self._reader.join(5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def window_sockets():
    """The sockets of running scope windows, newest first (the first is what `mcctl --find`
    prints)."""
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    folder = os.path.join(runtime, "ombrix") if runtime else f"/tmp/ombrix-{os.getuid()}"
    found = []
    for path in glob.glob(os.path.join(folder, "scope-*.sock")):
        digits = os.path.basename(path)[len("scope-"):-len(".sock")]
        if not digits.isdigit() or int(digits) <= 0:
            continue
        try:
            os.kill(int(digits), 0)
        except ProcessLookupError:
            continue  # left behind by a window that ended without removing it
        except PermissionError:
            pass
        try:
            info = os.stat(path)
        except OSError:
            continue
        if stat.S_ISSOCK(info.st_mode):
            found.append((info.st_mtime_ns, path))
    return [p for _, p in sorted(found, reverse=True)]


def _over_socket(path, timeout):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(path)

    def stop():  # shutdown, as close waits for the reader's file to be closed too
        s.shutdown(socket.SHUT_RDWR)
        s.close()

    return Client(s.makefile("rb"), s.makefile("wb"), [stop], timeout)


def _over_mcctl(program, port, workdir, timeout):
    args = [program] + (["--port", str(port)] if port is not None else [])
    proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, cwd=workdir)
    err = collections.deque(maxlen=20)

    def drain():  # keeps its last words for the error when it ends
        for line in proc.stderr:
            err.append(line.decode(errors="replace").rstrip())

    drainer = threading.Thread(target=drain, daemon=True)
    drainer.start()

    def stop():  # the end of its input ends mcctl; a stuck one is terminated
        with contextlib.suppress(OSError):
            proc.stdin.close()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.terminate()
            proc.wait(5)

    def explain(reason):
        if type(reason) is not ConnectionClosed:
            return reason
        try:
            code = proc.wait(2)  # its output ends a moment before it does
        except subprocess.TimeoutExpired:
            return reason
        drainer.join(1)
        words = "; ".join(err)
        return ConnectionClosed(f"mcctl ended with code {code}" + (f": {words}" if words else ""))

    return Client(proc.stdout, proc.stdin, [stop], timeout, explain=explain)


def connect(path=None, mcctl=None, port=None, workdir=None, timeout=30.0):
    """A Client: over the socket at path; or over a new `mcctl` process on standard
    input/output (mcctl is its path; port, when given, is its --port; workdir its folder);
    without either, to the newest running scope window, else to `mcctl` found on PATH."""
    if path is not None:
        return _over_socket(str(path), timeout)
    if mcctl is None and port is None and workdir is None:
        windows = window_sockets()
        if windows:
            return _over_socket(windows[0], timeout)
    program = str(mcctl) if mcctl is not None else shutil.which("mcctl")
    if program is None:
        raise FileNotFoundError("no scope window is running and mcctl is not on PATH; "
                                "pass path= or mcctl=")
    return _over_mcctl(program, port, workdir, timeout)
