"""The scope window as the script service's host, end to end: the built ombrix (Qt offscreen)
on the demo MC (mcsim on a pseudo-terminal) serves its socket in the runtime folder; scripts
read, write and subscribe while its own channel runs, two at a time, one of them leaving in the
middle of a subscription; the window ends normally and takes its socket with it.
The programs come from OMBRIX_PATH, MCSIM_PATH, MCCTL_PATH and DEMO_DIR (ctest sets them)."""

import os
import shutil
import signal
import socket
import stat
import subprocess
import time

import pytest

import mcscript

PROGRAMS = {name: os.environ.get(name) for name in ("OMBRIX_PATH", "MCSIM_PATH", "MCCTL_PATH")}
DEMO = os.environ.get("DEMO_DIR", "")


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() > deadline:
            pytest.fail(f"{what} within {seconds} s")
        time.sleep(0.05)


@pytest.fixture(scope="module")
def window(tmp_path_factory):
    missing = [name for name, path in PROGRAMS.items() if not path or not os.access(path, os.X_OK)]
    if missing or not DEMO:
        pytest.skip("not given: " + ", ".join(missing or ["DEMO_DIR"]))
    root = tmp_path_factory.mktemp("root")
    run = root / "run"
    run.mkdir(mode=0o700)
    (root / "bin").mkdir()
    shutil.copy(PROGRAMS["OMBRIX_PATH"], root / "bin" / "ombrix")
    (root / "bin" / "ombrix.ini").write_text(f"[COM]\n{root}/mc\n[FILE_PATH]\n{DEMO}\n")
    # Channel 1 shows SINE: the window acquires for itself while the scripts come and go.
    recent = root / "user" / "dsf" / "ombrix" / "DEMO" / "recent.dsw"
    recent.parent.mkdir(parents=True)
    recent.write_text("[TComboBox0]\nText=SINE\n")
    sim = subprocess.Popen([PROGRAMS["MCSIM_PATH"], os.path.join(DEMO, "demo.scenario"),
                            str(root / "mc")], stdout=subprocess.PIPE, text=True)
    env = dict(os.environ, XDG_RUNTIME_DIR=str(run), QT_QPA_PLATFORM="offscreen")
    scope = None
    try:
        assert sim.stdout.readline(), "mcsim did not start"
        scope = subprocess.Popen([str(root / "bin" / "ombrix")], env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        path = run / "ombrix" / f"scope-{scope.pid}.sock"
        wait_for(lambda: path.exists() or scope.poll() is not None, 30, "the window's socket")
        assert scope.poll() is None, "ombrix ended: " + scope.stderr.read()
        yield {"scope": scope, "path": str(path), "env": env}
    finally:
        if scope and scope.poll() is None:
            scope.kill()
            scope.wait(10)
        sim.terminate()
        sim.wait(5)


def test_the_socket_is_the_users_alone_and_mcctl_finds_it(window):
    path = window["path"]
    assert stat.S_IMODE(os.stat(path).st_mode) == 0o600
    assert stat.S_IMODE(os.stat(os.path.dirname(path)).st_mode) == 0o700
    found = subprocess.run([PROGRAMS["MCCTL_PATH"], "--find"], env=window["env"],
                           capture_output=True, text=True, timeout=10)
    assert found.returncode == 0, found.stderr
    assert found.stdout.strip() == path


def test_two_scripts_share_the_window_and_one_leaving_mid_stream_harms_neither(window):
    with mcscript.connect(path=window["path"]) as watcher, \
            mcscript.connect(path=window["path"]) as driver:
        assert watcher.describe()["application"] == "DEMO"
        with watcher.subscribe("SAW", "FOLLOW") as sub:
            # The second script closes its socket in the middle of a subscription of its own.
            leaver = socket.socket(socket.AF_UNIX)
            leaver.connect(window["path"])
            leaver.sendall(b'{"jsonrpc":"2.0","id":1,"method":"subscribe",'
                           b'"params":{"names":["SINE","SAW"]}}\n')
            assert leaver.recv(4096)
            leaver.close()
            # The third sets the loop's set point and waits for it to settle, meanwhile.
            driver.write("SETPOINT", 200)
            driver.wait_until("FOLLOW", lambda v: abs(v - 200) <= 2, timeout=5.0)
            samples = list(sub.during(0.5))
        assert len(samples) > 20
        scans = [s.scan for s in samples]
        assert scans == sorted(scans) and len(set(scans)) == len(scans)
        assert all(0 <= s["SAW"] <= 255 for s in samples)
        driver.write("SETPOINT", 60)
        assert driver.read("SETPOINT")[0]["SETPOINT"] == 60
        assert watcher.status()["link"]["state"] == "up"
    assert window["scope"].poll() is None, "the window ended"


def test_errors_are_answered_and_the_window_serves_on(window):
    with mcscript.connect(path=window["path"]) as mc:
        with pytest.raises(mcscript.ServiceError) as unknown:
            mc.read("SINUS")
        assert unknown.value.code == -32602 and "SINE" in unknown.value.text
        assert mc.read("SINE", n=3)[2].scan > 0


def test_the_window_ends_normally_and_removes_its_socket(window):
    scope = window["scope"]
    scope.send_signal(signal.SIGTERM)
    assert scope.wait(30) == 0, scope.stderr.read()
    assert not os.path.exists(window["path"])
