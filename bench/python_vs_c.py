#!/usr/bin/python3
"""The Python package next to the library called from C, in one run.

    bench/python_vs_c.py BUILD_DIR [--count N] [--ownership N]

Starts BUILD_DIR's velkd-sim in a private /tmp (a mount namespace of its own:
run as root), then for three calls prints the time per call from Python and
from C (BUILD_DIR/bench/call_loop), and the calls per second of 1 and 8
threads calling at once, in Python and in C. With --ownership N it instead
runs every call of the package N times each and prints the resident size and
the open descriptors at 0, N/2 and N calls: a build without sanitizers gives
the figures that count.
"""
import argparse
import datetime
import os
import pathlib
import select
import subprocess
import sys
import threading
import time

if os.environ.get("VDFE_BENCH_PRIVATE_TMP") != "1":
    os.environ["VDFE_BENCH_PRIVATE_TMP"] = "1"
    os.execvp("unshare", ["unshare", "--mount", "--propagation", "private", "--", sys.executable, *sys.argv])
subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "tmpfs", "/tmp"], check=True)

args = argparse.ArgumentParser()
args.add_argument("build")
args.add_argument("--count", type=int, default=5000)
args.add_argument("--ownership", type=int, default=0)
options = args.parse_args()
build = pathlib.Path(options.build).resolve()
sys.path.insert(0, str(build / "bindings/python"))
import velkdirectfe as v  # noqa: E402

ready_r, ready_w = os.pipe()
daemon = subprocess.Popen([str(build / "daemon/velkd-sim"), "--ready-fd", str(ready_w)], pass_fds=(ready_w,))
os.close(ready_w)
if not select.select([ready_r], [], [], 30)[0]:
    sys.exit("velkd-sim did not start")

CALLS = {
    "platform_names": v.platform_names,
    "sensor_vals": lambda: v.get_sensor_vals("mb_3v3"),
    "sensor_attrs": v.get_sensor_attrs,
}


def python_rate(call, count, threads):
    def loop():
        for _ in range(count):
            call()
    workers = [threading.Thread(target=loop) for _ in range(threads)]
    start = time.perf_counter()
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    wall = time.perf_counter() - start
    return wall / count * 1e6, count * threads / wall


def c_rate(name, count, threads):
    out = subprocess.run([str(build / "bench/call_loop"), name, str(count), str(threads)], capture_output=True,
                         text=True, check=True).stdout.split()
    return float(out[0]), float(out[1])


def every_call():
    """One of each call of the package, state put back where it changes."""
    g = v.enable_sensor_polling(5).generation
    yield lambda: v.open_handle()
    yield lambda: v.close_handle(0)
    yield lambda: v.get_sensor_attr("cpu0_temp")
    yield lambda: v.get_sensor_attr_by_logical_num(2)
    yield v.get_sensor_attrs
    yield lambda: v.get_indicator_attr("fault_led")
    yield v.get_indicator_attrs
    yield lambda: v.get_fru_attr("mainboard")
    yield v.get_fru_attrs
    yield v.get_component_attrs
    yield v.platform_names
    yield lambda: v.logical_num_to_strid(2)
    yield lambda: v.get_sensor_vals("mb_3v3")
    yield lambda: v.get_sensor_vals_by_logical_num(5)
    yield lambda: v.get_sensor_data("mb_3v3")
    yield lambda: v.get_sensor_data_by_logical_num(5)
    yield lambda: v.get_normalized_thresholds(5)
    yield lambda: v.set_threshold_vals(v.ThresholdSettings(5, 0x40, val7=2))
    yield lambda: v.set_sensor_reading(5, 100)
    yield lambda: v.disable_sensor_polling(5, g)
    yield lambda: v.enable_sensor_polling(5)
    yield lambda: v.set_poll_state(True)
    yield v.reset_all_sensors_state
    yield lambda: v.get_entity_association(0x17, 1)
    yield v.get_entity_associations
    yield lambda: v.convert_normal_to_raw("mb_3v3", 3.3)
    yield lambda: v.convert_raw_to_normal("mb_3v3", 165)
    yield lambda: v.get_indicator_mode("fault_led")
    yield lambda: v.set_indicator_mode("fault_led", 1)
    yield lambda: v.set_indicator_mode_for_duration("fault_led", 2, datetime.timedelta(seconds=5))
    yield lambda: v.read_fru("mainboard", 0, 64)
    yield lambda: v.write_fru("ioboard", 0, b"\x01\x02")
    yield lambda: list(v.inventory())
    yield lambda: v.get_sensor_attr("nope")  # a refused call


def resident_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


def ownership(n):
    calls = list(every_call())
    print(f"{len(calls)} calls, {n} times each")
    print(f"{'calls each':>10} {'RSS KiB':>9} {'fds':>4}")
    for i in range(n + 1):
        if i in (0, n // 2, n):
            print(f"{i:>10} {resident_kib():>9} {len(os.listdir('/proc/self/fd')):>4}", flush=True)
        if i == n:
            break
        for call in calls:
            try:
                call()
            except v.DaemonError:
                pass


try:
    if options.ownership:
        ownership(options.ownership)
    else:
        n = options.count
        print(f"{'call':15} {'py us/call':>10} {'C us/call':>10} {'ratio':>6}   "
              f"{'py 1 thr/s':>10} {'py 8 thr/s':>10} {'x':>5}   {'C 1 thr/s':>10} {'C 8 thr/s':>10} {'x':>5}")
        # Best of three rounds, the two languages taking turns: other load on
        # the machine touches both alike.
        for name, call in CALLS.items():
            rounds = [(python_rate(call, n, 1), c_rate(name, n, 1), python_rate(call, n // 4, 8),
                       c_rate(name, n // 4, 8)) for _ in range(3)]
            py1, py_rate1 = min(r[0] for r in rounds)[0], max(r[0][1] for r in rounds)
            c1, c_rate1 = min(r[1] for r in rounds)[0], max(r[1][1] for r in rounds)
            py_rate8, c_rate8 = max(r[2][1] for r in rounds), max(r[3][1] for r in rounds)
            print(f"{name:15} {py1:10.1f} {c1:10.1f} {py1 / c1:6.2f}   {py_rate1:10.0f} {py_rate8:10.0f} "
                  f"{py_rate8 / py_rate1:5.2f}   {c_rate1:10.0f} {c_rate8:10.0f} {c_rate8 / c_rate1:5.2f}")
finally:
    daemon.terminate()
    daemon.wait()
