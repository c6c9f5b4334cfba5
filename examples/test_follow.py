"""A control loop's test, the way a user writes one: set the MC's SETPOINT and check that
FOLLOW (the demo's controlled value, one count per 5 ms towards SETPOINT) gets into a band
around it within a time limit and stays there."""

import time

import pytest

BAND = 2  # counts around the set point
LIMIT_S = 3.0  # a full swing (255 counts) takes 1.3 s, plus the reads on a loaded machine
HOLD_S = 0.5


@pytest.mark.parametrize("target", [30, 220, 128])
def test_follow_settles_in_the_band_within_the_limit(mc, target):
    mc.write("SETPOINT", target)
    start = time.monotonic()
    mc.wait_until("FOLLOW", lambda v: abs(v - target) <= BAND, timeout=LIMIT_S)
    settled_after = time.monotonic() - start
    with mc.subscribe("FOLLOW") as sub:
        held = [s["FOLLOW"] for s in sub.during(HOLD_S)]
    assert held, "no samples of FOLLOW"
    outside = [v for v in held if abs(v - target) > BAND]
    assert not outside, f"FOLLOW left the band {target}±{BAND} after {settled_after:.2f} s: {outside}"
    assert mc.read("SETPOINT")[0]["SETPOINT"] == target
