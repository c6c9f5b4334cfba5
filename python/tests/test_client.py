"""The client against a fake service on a Unix socket: framing, replies matched by id, error
mapping, gaps, and the end of a connection."""

import json
import os
import socket
import tempfile
import threading
import time

import pytest

import mcscript


class FakeService:
    """Accepts one connection; `answer(request)` returns the messages (dicts, or raw bytes) to
    send back. Every request line is kept as it came."""

    def __init__(self, answer):
        self.path = os.path.join(tempfile.mkdtemp(), "svc.sock")
        self.lines = []
        self._listener = socket.socket(socket.AF_UNIX)
        self._listener.bind(self.path)
        self._listener.listen(1)
        self._answer = answer
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        self.conn, _ = self._listener.accept()
        for line in self.conn.makefile("rb"):
            self.lines.append(line)
            for m in self._answer(json.loads(line)):
                self.send(m)

    def send(self, m):
        self.conn.sendall(m if isinstance(m, bytes) else json.dumps(m).encode() + b"\n")


def reply(req, result):
    return {"jsonrpc": "2.0", "id": req["id"], "result": result}


def samples(sid, gap, *scans):
    batch = [{"scan": k, "t": k / 100, "values": [k]} for k in scans]
    return {"jsonrpc": "2.0", "method": "samples",
            "params": {"subscription": sid, "gap": gap, "samples": batch}}


def test_each_call_is_one_line_and_replies_find_their_caller_by_id():
    held = []

    def answer(req):  # the second read is answered first, a notification between
        held.append(req)
        if len(held) < 2:
            return []
        return [reply(held[1], {"names": ["B"], "samples": [{"scan": 2, "t": 0.2, "values": [2]}]}),
                samples(9, 0, 1),
                reply(held[0], {"names": ["A"], "samples": [{"scan": 1, "t": 0.1, "values": [1]}]})]

    svc = FakeService(answer)
    got = {}
    with mcscript.connect(path=svc.path) as c:
        threads = [threading.Thread(target=lambda n=n: got.update({n: c.value(n)})) for n in "AB"]
        for t in threads:
            t.start()
        for t in threads:
            t.join(5)
    assert got == {"A": 1, "B": 2}
    requests = [json.loads(line) for line in svc.lines]
    assert all(line.count(b"\n") == 1 for line in svc.lines)
    assert {r["jsonrpc"] for r in requests} == {"2.0"}
    assert len({r["id"] for r in requests}) == 2


@pytest.mark.parametrize("code,text", [
    (mcscript.METHOD_NOT_FOUND, "Method not found: calibrate"),
    (mcscript.INVALID_PARAMS, "Var FOO not defined (close: FOLLOW)"),
    (mcscript.LINK_DOWN, "/dev/ttyUSB0 is in use by another program"),
    (mcscript.WRITE_FAILED, "Var SINE outside the settable window"),
    (mcscript.RECORDING, "No recording is running"),
])
def test_an_error_carries_the_code_and_the_text_and_the_connection_goes_on(code, text):
    def answer(req):
        if req["method"] == "status":
            return [reply(req, {"subscriptions": 0})]
        return [{"jsonrpc": "2.0", "id": req["id"], "error": {"code": code, "message": text}}]

    with mcscript.connect(path=FakeService(answer).path) as c:
        with pytest.raises(mcscript.ServiceError) as e:
            c.write("SINE", 3)
        assert (e.value.code, e.value.text) == (code, text)
        assert c.status() == {"subscriptions": 0}


def test_a_long_reply_is_taken_and_a_subscription_given_up_on_ends_when_its_reply_comes():
    many = [{"scan": k, "t": k / 100, "values": [k]} for k in range(5000)]
    late = []

    def answer(req):
        if "id" not in req:
            return []
        if req["method"] == "subscribe":
            late.append(req)  # answered only after the caller gave up, samples around it
            return []
        if req["method"] == "status":
            return [samples(7, 0, 1), reply(late.pop(), {"subscription": 7, "names": ["X"]}),
                    samples(7, 0, 2), reply(req, {})]
        return [reply(req, {"names": ["X"], "samples": many})]

    svc = FakeService(answer)
    with mcscript.connect(path=svc.path) as c:
        assert [s.scan for s in c.read("X", n=5000)] == list(range(5000))
        c.timeout = 0.2
        with pytest.raises(TimeoutError):
            c.subscribe("X")
        c.timeout = 5
        assert c.status() == {}
        deadline = time.monotonic() + 5
        while len(svc.lines) < 4 and time.monotonic() < deadline:
            time.sleep(0.01)
        last = json.loads(svc.lines[-1])
        assert (last["method"], last["params"], "id" in last) == \
            ("unsubscribe", {"subscription": 7}, False)


def subscribed(before, after, limit=100000):
    def answer(req):  # batches may come before the reply that names their subscription
        if req["method"] == "subscribe":
            return before + [reply(req, {"subscription": 4, "names": ["X"]})] + after
        return [reply(req, True)]

    c = mcscript.connect(path=FakeService(answer).path)
    c.queue_limit = limit
    return c


def scans(sub, count):
    return [s.scan if isinstance(s, mcscript.Sample) else s for s in (sub.get(5) for _ in range(count))]


def test_a_gap_from_the_service_is_raised_before_the_samples_after_it():
    with subscribed([samples(4, 0, 1, 2)], [samples(4, 3, 6)]) as c:
        sub = c.subscribe("X")
        assert scans(sub, 2) == [1, 2]
        with pytest.raises(mcscript.SampleGap) as gap:
            sub.get(5)
        assert gap.value.lost == 3
        assert sub.get(5)["X"] == 6


def test_a_gap_is_yielded_as_a_marker_when_asked_and_scans_dropped_here_count_as_one():
    # Both batches are taken before subscribe() returns, so the queue is full before any read.
    with subscribed([samples(4, 0, 1), samples(4, 2, 4, 5, 6, 7)], [], limit=4) as c:
        sub = c.subscribe("X", on_gap="yield")
        got = scans(sub, 4)
        assert [getattr(g, "lost", g) for g in got] == [1, 2, 4, 5]
        # 6 and 7 did not fit while nobody read: the next thing is their gap.
        assert sub.get(5).lost == 2
        sub.close()
        assert list(sub) == []


@pytest.mark.parametrize("last_words,error", [
    (b"", mcscript.ConnectionClosed),
    (b"not json\n", mcscript.ProtocolError),
    (b"[" * (mcscript.MAX_LINE + 10) + b"\n", mcscript.ProtocolError),
])
def test_a_closed_or_broken_stream_ends_waiting_calls_and_subscriptions(last_words, error):
    svc = None

    def answer(req):
        if req["method"] == "subscribe":
            return [reply(req, {"subscription": 1, "names": ["X"]})]
        svc.send(last_words)
        svc.conn.shutdown(socket.SHUT_RDWR)
        return []

    svc = FakeService(answer)
    with mcscript.connect(path=svc.path) as c:
        sub = c.subscribe("X")
        with pytest.raises(error):
            c.describe()
        with pytest.raises(error):
            sub.get(5)
        with pytest.raises(error):
            c.status()
