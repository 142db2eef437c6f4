"""The Python package against velkd-sim: every call and its failures in one
table, the walk against velkdirect's tree, an absent, refusing or faulty
daemon, and what a long run of calls leaves behind."""
import ctypes
import datetime
import json
import math
import os
import socket
import struct
import subprocess

import pytest

import velkdirectfe as v
from conftest import CHILD_ENV, SOCKET, TOOL, Daemon

D = v.DaemonError
MB_3V3 = pytest.approx(v.Thresholds(2.8, 2.97, 3.1, 3.5, 3.63, 3.8).__dict__, rel=1e-6)


def thresholds_of(t):
    return t.__dict__


def polling_round_trip():
    generation = v.enable_sensor_polling(5).generation
    with pytest.raises(D) as stale:
        v.disable_sensor_polling(5, (generation + 1) & 0xFFFF)
    return stale.value.status, v.disable_sensor_polling(5, generation), v.get_sensor_data("mb_3v3").flags & 1


def override_then_reset():
    v.set_sensor_reading(5, 100)
    overridden = (v.get_sensor_vals_by_logical_num(5).reading, v.get_sensor_data("mb_3v3").flags & 4)
    v.reset_all_sensors_state()
    return overridden, v.get_sensor_vals("mb_3v3").reading


def timed_mode(set_mode, duration):
    set_mode("fault_led", v.IndicatorMode.SLOW_BLINK, duration)
    return v.get_indicator_mode("fault_led"), v.get_indicator_attr("fault_led").opaque0[0]


def poll_state_off():
    v.set_poll_state(False)
    return v.get_sensor_data_by_logical_num(5).flags & 2


def write_then_read():
    return v.write_fru("ioboard", 16, bytearray(b"\xaa\xbb")), v.read_fru("ioboard", 15, 4)[1:3]


# (call, expected): expected is a value, an exception class (raised before
# any call: these rows run with no daemon at all), or D(status).
ROWS = {
    "open_handle": (v.open_handle, 0),
    "close_handle": (lambda: v.close_handle(0), None),
    "close_handle type": (lambda: v.close_handle("0"), TypeError),
    "get_sensor_attr": (lambda: v.get_sensor_attr("cpu0_temp"), v.SensorAttr(
        path="/chassis/mb/cpu0/temp", strid="cpu0_temp", kind=3, desc=bytes([3, 1, 1, 1]) + bytes(6),
        note="CPU 0 die", props={"unit": "degrees C"}, opaque0=struct.pack("=I", 2) + bytes(4),
        opaque1=struct.pack("=ffIB", 0.5, 0.0, 1000, 1) + bytes(15), opaque2=bytes(50), opaque3=bytes(28))),
    "get_sensor_attr unknown": (lambda: v.get_sensor_attr("nope"), D(1)),
    "get_sensor_attr NUL": (lambda: v.get_sensor_attr("cpu0\0temp"), ValueError),
    "get_sensor_attr bytes": (lambda: v.get_sensor_attr(b"cpu0_temp"), TypeError),
    "get_sensor_attr_by_logical_num": (lambda: v.get_sensor_attr_by_logical_num(2) == v.get_sensor_attr(
        "/chassis/mb/cpu0/temp"), True),
    "get_sensor_attr_by_logical_num unknown": (lambda: v.get_sensor_attr_by_logical_num(99), D(1)),
    "get_sensor_attr_by_logical_num negative": (lambda: v.get_sensor_attr_by_logical_num(-1), ValueError),
    "get_sensor_attr_by_logical_num bool": (lambda: v.get_sensor_attr_by_logical_num(True), TypeError),
    "get_sensor_attrs": (lambda: [s.strid for s in v.get_sensor_attrs()][:3],
                         ["inlet_temp", "cpu0_temp", "cpu1_temp"]),
    "get_indicator_attr": (lambda: (v.get_indicator_attr("locate_led").path, v.get_indicator_attr(
        "locate_led").opaque1[:4]), ("/chassis/front/locate_led", bytes([3, 0, 1, 3]))),
    "get_indicator_attr unknown": (lambda: v.get_indicator_attr("nope"), D(1)),
    "get_indicator_attrs": (lambda: [i.name for i in v.get_indicator_attrs()],
                            ["power_led", "fault_led", "locate_led", "psu0_ok_led"]),
    "get_fru_attr": (lambda: (v.get_fru_attr("psu0").props, v.get_fru_attr("psu0").opaque2[:5]), (
        {"vendor": "Aurel Power", "part": "AP-750W", "serial": "AP75-88213", "watts": "750"},
        struct.pack("=IB", 256, 1))),
    "get_fru_attr unknown": (lambda: v.get_fru_attr("nope"), D(1)),
    "get_fru_attrs": (lambda: [f.name for f in v.get_fru_attrs()],
                      ["chassis", "mainboard", "ioboard", "fantray", "psu0"]),
    "get_component_attrs": (lambda: [c.path for c in v.get_component_attrs()][:2],
                            ["/chassis/mb/cpu0", "/chassis/mb/cpu1"]),
    "platform_names": (v.platform_names, v.PlatformNames(1, "Velk V-440 Server", "VLK-440-SIM")),
    "logical_num_to_strid": (lambda: v.logical_num_to_strid(10), "psu0_vout"),
    "logical_num_to_strid unknown": (lambda: v.logical_num_to_strid(99), D(1)),
    "logical_num_to_strid range": (lambda: v.logical_num_to_strid(2**31), ValueError),
    "get_sensor_vals": (lambda: v.get_sensor_vals("mb_3v3"), v.SensorValues(165, pytest.approx(3.3))),
    "get_sensor_vals unknown": (lambda: v.get_sensor_vals("nope"), D(1)),
    "get_sensor_vals_by_logical_num": (lambda: v.get_sensor_vals_by_logical_num(5),
                                       v.SensorValues(165, pytest.approx(3.3))),
    "get_sensor_data": (lambda: (lambda d: (d.reading, d.threshold_state, d.hysteresis, d.flags, d.sensor_type,
                                            d.poll_interval_ms, thresholds_of(d.thresholds)))(
        v.get_sensor_data("mb_3v3")), (165, 0, 0, 3, 2, 1000, MB_3V3)),
    "get_sensor_data unknown": (lambda: v.get_sensor_data("nope"), D(1)),
    "get_sensor_data_by_logical_num": (lambda: v.get_sensor_data_by_logical_num(1).hysteresis, 0x0202),
    "get_normalized_thresholds": (lambda: thresholds_of(v.get_normalized_thresholds(5)), MB_3V3),
    "get_normalized_thresholds unknown": (lambda: v.get_normalized_thresholds(99), D(1)),
    "set_threshold_vals": (lambda: (v.set_threshold_vals(v.ThresholdSettings(5, ctrl=0xC0, val7=3, val8=1)),
                                    v.get_sensor_data("mb_3v3").hysteresis), (None, 0x0301)),
    "set_threshold_vals unknown bit": (lambda: v.set_threshold_vals(v.ThresholdSettings(5, ctrl=0x100)), D(3)),
    "set_threshold_vals out of order": (lambda: v.set_threshold_vals(
        v.ThresholdSettings(5, ctrl=0x01, val1=255)), D(3)),
    "set_threshold_vals val range": (lambda: v.set_threshold_vals(v.ThresholdSettings(5, 1, val1=256)),
                                     ValueError),
    "set_threshold_vals type": (lambda: v.set_threshold_vals((5, 1)), TypeError),
    "set_sensor_reading, reset_all_sensors_state": (override_then_reset, ((100, 4), 165)),
    "set_sensor_reading invalid": (lambda: v.set_sensor_reading(5, 300), D(3)),
    "set_sensor_reading range": (lambda: v.set_sensor_reading(5, 0x10000), ValueError),
    "enable_sensor_polling, disable_sensor_polling": (polling_round_trip, (7, 1000, 0)),
    "enable_sensor_polling unknown": (lambda: v.enable_sensor_polling(99), D(1)),
    "disable_sensor_polling range": (lambda: v.disable_sensor_polling(5, -1), ValueError),
    "set_poll_state": (poll_state_off, 0),
    "set_poll_state invalid": (lambda: v.set_poll_state(2), D(3)),
    "set_poll_state range": (lambda: v.set_poll_state(256), ValueError),
    "get_entity_association": (lambda: v.get_entity_association(0x1E, 1), v.EntityAssociation(
        0x1E, 1, 2, (v.EntityMember(0x1D, 1), v.EntityMember(0x1D, 2)))),
    "get_entity_association unknown": (lambda: v.get_entity_association(9, 9), D(1)),
    "get_entity_association range": (lambda: v.get_entity_association(0x100, 1), ValueError),
    "get_entity_associations": (lambda: [(a.key0, len(a.members)) for a in v.get_entity_associations()],
                                [(0x17, 4), (0x07, 4), (0x1E, 2)]),
    "convert_normal_to_raw": (lambda: (v.convert_normal_to_raw("mb_3v3", 3.3), v.convert_normal_to_raw(
        "mb_3v3", 1000)), (165, 255)),
    "convert_normal_to_raw NaN": (lambda: v.convert_normal_to_raw("mb_3v3", math.nan), D(3)),
    "convert_normal_to_raw type": (lambda: v.convert_normal_to_raw("mb_3v3", "3.3"), TypeError),
    "convert_raw_to_normal": (lambda: v.convert_raw_to_normal("mb_12v", 128), 12.0),
    "convert_raw_to_normal unknown": (lambda: v.convert_raw_to_normal("nope", 1), D(1)),
    "convert_raw_to_normal range": (lambda: v.convert_raw_to_normal("mb_12v", 256), ValueError),
    "get_indicator_mode": (lambda: v.get_indicator_mode("power_led"), v.IndicatorMode.ON),
    "get_indicator_mode unknown": (lambda: v.get_indicator_mode("nope"), D(1)),
    "set_indicator_mode": (lambda: (v.set_indicator_mode("fault_led", v.IndicatorMode.FAST_BLINK),
                                    v.get_indicator_mode("fault_led")), (None, v.IndicatorMode.FAST_BLINK)),
    "set_indicator_mode not accepted": (lambda: v.set_indicator_mode("psu0_ok_led", 3), D(3)),
    "set_indicator_mode range": (lambda: v.set_indicator_mode("fault_led", 256), ValueError),
    "set_indicator_mode timedelta": (lambda: timed_mode(v.set_indicator_mode, datetime.timedelta(minutes=1)),
                                     (v.IndicatorMode.SLOW_BLINK, 1)),
    "set_indicator_mode_for_duration": (lambda: timed_mode(v.set_indicator_mode_for_duration, 30.5),
                                        (v.IndicatorMode.SLOW_BLINK, 1)),
    "set_indicator_mode_for_duration zero": (lambda: timed_mode(v.set_indicator_mode_for_duration, 0),
                                             (v.IndicatorMode.SLOW_BLINK, 0)),
    "set_indicator_mode_for_duration negative": (lambda: v.set_indicator_mode_for_duration(
        "fault_led", 1, -1), ValueError),
    "set_indicator_mode_for_duration too short": (lambda: v.set_indicator_mode_for_duration(
        "fault_led", 1, 1e-5), ValueError),
    "set_indicator_mode_for_duration too long": (lambda: v.set_indicator_mode_for_duration(
        "fault_led", 1, datetime.timedelta(days=50)), ValueError),
    "set_indicator_mode_for_duration type": (lambda: v.set_indicator_mode_for_duration("fault_led", 1, "1"),
                                             TypeError),
    "read_fru": (lambda: (v.read_fru("mainboard", 0, 1), len(v.read_fru("mainboard", 500, 12)),
                          v.read_fru("mainboard", 512, 0)), (b"\x01", 12, b"")),
    "read_fru beyond": (lambda: v.read_fru("mainboard", 510, 4), D(2)),
    "read_fru unknown": (lambda: v.read_fru("nope", 0, 1), D(1)),
    "read_fru range": (lambda: v.read_fru("mainboard", 0, 2**32), ValueError),
    "write_fru": (write_then_read, (2, b"\xaa\xbb")),
    "write_fru read only": (lambda: v.write_fru("chassis", 0, b"x"), D(4)),
    "write_fru beyond": (lambda: v.write_fru("fantray", 127, b"xy"), D(2)),
    "write_fru str": (lambda: v.write_fru("ioboard", 0, "xy"), TypeError),
    "inventory_direct": (lambda: {a.path for every in (v.get_fru_attrs, v.get_sensor_attrs, v.get_indicator_attrs,
                                                      v.get_component_attrs) for a in every()}
                         <= {n.path for n in v.inventory()}, True),
    "inventory_direct type": (lambda: v.inventory_direct(None), TypeError),
}


@pytest.mark.parametrize("row", ROWS)
def test_every_call(row, request):
    call, expected = ROWS[row]
    if isinstance(expected, type):
        request.getfixturevalue("no_daemon")
        with pytest.raises(expected):
            call()
        return
    request.getfixturevalue("daemon")
    if isinstance(expected, D):
        with pytest.raises(D) as failure:
            call()
        assert (failure.value.status, failure.value.name) == (expected.status, v.status_name(expected.status))
        assert failure.value.name and failure.value.name in str(failure.value)
        return
    assert call() == expected


def test_walk_is_the_tools_tree(daemon):
    tool = json.loads(subprocess.run([TOOL, "tree", "--json"], capture_output=True, text=True, check=True,
                                     env=CHILD_ENV).stdout)

    def plain(node):
        out = {k: node[k] for k in ("path", "kind", "properties", "children") if k in node}
        if "desc" in node:
            out["desc"] = bytes(node["desc"]).hex() if isinstance(node["desc"], list) else node["desc"]
        out["children"] = [plain(c) for c in node["children"]]
        return out

    tree = v.inventory_tree()
    assert plain(tree.to_dict())["children"] == plain(tool)["children"]
    fan = tree.find("/chassis/fantray/fan0/speed")
    assert fan.parent.path == "/chassis/fantray/fan0" and fan in tree.children(fan.parent)


def test_exception_in_walk_stops_it_and_reaches_the_caller(daemon):
    visited = []

    def visit(path, kind, desc, props, parent):
        visited.append(path)
        raise KeyError(path)

    with pytest.raises(KeyError):
        v.inventory_direct(visit)
    assert len(visited) == 1
    assert v.platform_names().name2 == "VLK-440-SIM"  # the library is fine afterwards


def unreachable(call=v.platform_names):
    with pytest.raises(v.DaemonUnreachable) as failure:
        call()
    return failure.value.reason, str(failure.value)


def test_missing_refusing_and_faulty_daemons(no_daemon):
    assert unreachable() == (v.Unreachable.NO_SOCKET, f"cannot reach the management daemon at {SOCKET}: there "
                             "is no socket file (is the daemon running? velkd-sim starts one)")
    with socket.socket(socket.AF_UNIX) as stale:
        stale.bind(SOCKET)
    assert unreachable()[0] == v.Unreachable.NOT_LISTENING
    os.unlink(SOCKET)

    faults = ('[[fault]]\nobject = "cpu1_temp"\nstatus = 42\n'
              '[[fault]]\nobject = "fault_led"\nstatus = 5\n'
              '[[fault]]\nobject = "psu0_temp"\ndelay_ms = 26000\n')
    d = Daemon("--socket-mode", "0600", description=faults)
    try:
        with pytest.raises(D) as undefined:
            v.get_sensor_vals("cpu1_temp")
        assert (undefined.value.status, undefined.value.name) == (42, "")
        assert str(undefined.value) == "sensor 'cpu1_temp': failed with status 42"
        with pytest.raises(D, match=r"^indicator 'fault_led': injected fault \(status 5\)$"):
            v.get_indicator_mode("fault_led")
        # Another user may not connect to a socket of mode 0600.
        os.seteuid(65534)
        try:
            denied = unreachable()
        finally:
            os.seteuid(0)
        assert denied[0] == v.Unreachable.PERMISSION
        assert denied[1].startswith(f"permission denied on {SOCKET} (root:root, mode 0600)\nhint: "), denied
        assert unreachable(lambda: v.get_sensor_vals("psu0_temp")) == (
            v.Unreachable.TIMED_OUT, f"the daemon at {SOCKET} accepted the call about sensor 'psu0_temp' but did "
            "not answer within 25 s (timed out)")
    finally:
        d.stop()

    d = Daemon("--socket-mode", "0666", user="nobody")
    try:
        reason, message = unreachable()
        assert reason == v.Unreachable.UNTRUSTED_PEER and "served by user nobody" in message
    finally:
        d.stop()


def descriptors():
    return sorted(os.listdir("/proc/self/fd"))


def resident_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


def test_calls_leave_nothing_behind(daemon):
    """Every call, many times: no descriptor stays open and the resident size
    stays flat (VELKDIRECTFE_OWNERSHIP_CALLS sets the count; bench/ runs
    100,000 of each against an unsanitized build)."""
    count = int(os.environ.get("VELKDIRECTFE_OWNERSHIP_CALLS", "200"))
    calls = [call for name, (call, expected) in ROWS.items()
             if not isinstance(expected, (type, D)) and name != "inventory_direct"]
    calls += [lambda: list(v.inventory()), lambda: v.get_sensor_attr("nope")]
    before = descriptors()
    for call in calls:  # warm up: first-use allocations are not growth
        try:
            call()
        except D:
            pass
    start = resident_kib()
    for _ in range(count):
        for call in calls:
            try:
                call()
            except D:
                pass
    assert descriptors() == before
    assert resident_kib() - start < 2048
    # Under the leak checker (a sanitized build), nothing the library handed
    # out may be left unreachable.
    leak_check = getattr(ctypes.CDLL(None), "__lsan_do_recoverable_leak_check", None)
    assert leak_check is None or leak_check() == 0
