"""The fixture `mc`: the demo MC (mcsim on a pseudo-terminal, demo/demo.scenario) and a client
connected to it through an mcctl of its own. The programs come from the environment that ctest
sets (MCSIM_PATH, MCCTL_PATH, DEMO_DIR) or from build/ beside this folder; when they are not
built, the tests are skipped and say which is missing."""

import glob
import os
import shutil
import subprocess
import sys

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "python"))  # the client without pip install

import mcscript  # noqa: E402


def program(variable, pattern):
    path = os.environ.get(variable)
    if path:
        return path if os.access(path, os.X_OK) else None
    found = [p for p in glob.glob(os.path.join(REPO, "build", pattern)) if os.access(p, os.X_OK)]
    return found[0] if found else None


@pytest.fixture(scope="module")
def mc(tmp_path_factory):
    mcsim = program("MCSIM_PATH", "sim/mcsim")
    mcctl = program("MCCTL_PATH", "*/mcctl")
    if not mcsim or not mcctl:
        pytest.skip("not built: " + " and ".join(
            name for name, path in (("mcsim", mcsim), ("mcctl", mcctl)) if not path)
            + " (build the targets, or set MCSIM_PATH and MCCTL_PATH)")
    demo = os.environ.get("DEMO_DIR", os.path.join(REPO, "demo"))
    root = tmp_path_factory.mktemp("root")
    link = str(root / "link")
    # mcctl finds param.ini from its own folder (ROOT/bin -> ROOT/config), so it gets a copy
    # in a root of its own; the link is given with --port.
    (root / "bin").mkdir()
    (root / "config").mkdir()
    shutil.copy(mcctl, root / "bin" / "mcctl")
    (root / "config" / "param.ini").write_text(
        f"[COM] the link\n{root}/nobody\n[FILE_PATH] the demo's files\n{demo}\n")
    sim = subprocess.Popen([mcsim, os.path.join(demo, "demo.scenario"), link],
                           stdout=subprocess.PIPE, text=True)
    try:
        assert sim.stdout.readline(), "mcsim did not start"
        with mcscript.connect(mcctl=root / "bin" / "mcctl", port=link, timeout=10) as client:
            yield client
    finally:
        sim.terminate()
        sim.wait(5)
