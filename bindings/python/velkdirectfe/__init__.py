"""velkdirectfe: the platform management daemon's client library, in Python.

Every function below is one call of libvelkdirectfe: it opens a connection to
the daemon's socket (/tmp/velkdirect.sock), asks one thing and closes it. What
the library hands out is copied into Python objects (frozen dataclasses,
``str``, ``bytes``, ``dict``) and released at once: there is nothing to free
and no handle to keep. The package keeps no state, and the interpreter lock
is released while a call waits, so threads may call at once.

Failures raise:

* :class:`DaemonUnreachable`: no answer from the daemon (no socket, permission
  denied, untrusted peer, nothing listening, timed out...), with its reason
  and the same diagnosis the velkdirect tool gives;
* :class:`DaemonError`: the daemon refused the call, with its status and the
  status's name;
* ``TypeError`` or ``ValueError``: an argument the call cannot carry, before
  anything is sent.

Example::

    import velkdirectfe as v
    print(v.platform_names().name1)
    for s in v.get_sensor_attrs():
        print(s.strid, v.get_sensor_vals(s.strid).normal_value, s.props.get("unit"))
"""
from __future__ import annotations

import datetime
import math
import operator
import threading
import time
from typing import Any, Callable, Iterator, List, Optional, Union

from . import _facts
from ._errors import (SOCKET_PATH, DaemonError, DaemonUnreachable, Unreachable, VelkdirectfeError, check,
                      status_name)
from ._native import ffi, lib
from ._records import (ComponentAttr, EntityAssociation, EntityMember, FruAttr, IndicatorAttr, IndicatorMode,
                       InventoryNode, PlatformNames, Polling, Properties, SensorAttr, SensorData, SensorValues,
                       ThresholdSettings, Thresholds)
from ._tree import InventoryTree

__version__: str = _facts.VERSION

__all__ = [
    "SOCKET_PATH", "VelkdirectfeError", "DaemonUnreachable", "DaemonError", "Unreachable", "status_name",
    "SensorAttr", "IndicatorAttr", "FruAttr", "ComponentAttr", "PlatformNames", "SensorValues", "SensorData",
    "Thresholds", "ThresholdSettings", "Polling", "EntityMember", "EntityAssociation", "IndicatorMode",
    "InventoryNode", "InventoryTree", "Duration",
    "open_handle", "close_handle",
    "get_sensor_attr", "get_sensor_attr_by_logical_num", "get_sensor_attrs", "get_indicator_attr",
    "get_indicator_attrs", "get_fru_attr", "get_fru_attrs", "get_component_attrs",
    "platform_names", "logical_num_to_strid",
    "get_sensor_vals", "get_sensor_vals_by_logical_num", "get_sensor_data", "get_sensor_data_by_logical_num",
    "get_normalized_thresholds",
    "set_threshold_vals", "set_sensor_reading", "enable_sensor_polling", "disable_sensor_polling",
    "set_poll_state", "reset_all_sensors_state",
    "get_entity_association", "get_entity_associations",
    "convert_normal_to_raw", "convert_raw_to_normal",
    "get_indicator_mode", "set_indicator_mode", "set_indicator_mode_for_duration",
    "read_fru", "write_fru",
    "inventory_direct", "inventory", "inventory_tree",
]

#: A duration: seconds as an int or float, or a datetime.timedelta.
Duration = Union[float, int, datetime.timedelta]

_HANDLE = 0  # the library gives the handle no meaning

# ---- Arguments: checked before any call --------------------------------------


def _integer(value: Any, low: int, high: int, what: str) -> int:
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{what} must be an int, not {type(value).__name__}")
    value = operator.index(value)
    if not low <= value <= high:
        raise ValueError(f"{what} must be {low} to {high}, not {value}")
    return value


def _u8(value: Any, what: str) -> int:
    return _integer(value, 0, 0xFF, what)


def _u16(value: Any, what: str) -> int:
    return _integer(value, 0, 0xFFFF, what)


def _u32(value: Any, what: str) -> int:
    return _integer(value, 0, 0xFFFFFFFF, what)


def _i32(value: Any, what: str) -> int:
    return _integer(value, -0x80000000, 0x7FFFFFFF, what)


def _real(value: Any, what: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{what} must be a float, not {type(value).__name__}")
    return float(value)


def _name(value: Any, what: str) -> bytes:
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a str, not {type(value).__name__}")
    if "\0" in value:
        raise ValueError(f"{what} must not contain NUL")
    return value.encode("utf-8", "surrogateescape")


def _duration_ms(duration: Any) -> int:
    if isinstance(duration, datetime.timedelta):
        seconds = duration.total_seconds()
    else:
        seconds = _real(duration, "duration")
    if not math.isfinite(seconds) or seconds < 0:
        raise ValueError(f"duration must be a finite number of seconds, 0 or more, not {seconds}")
    ms = round(seconds * 1000)
    if seconds > 0 and ms == 0:
        raise ValueError(f"duration {seconds} s is shorter than the millisecond a duration counts in")
    if ms > 0xFFFFFFFF:
        raise ValueError(f"duration {seconds} s is beyond the 4,294,967,295 ms a duration can hold")
    return ms


# ---- Results: copied out, then released --------------------------------------


def _text(pointer: Any) -> str:
    return "" if pointer == ffi.NULL else ffi.string(pointer).decode("utf-8", "surrogateescape")


def _bytes(array: Any) -> bytes:
    return bytes(ffi.buffer(array))


def _props(node: Any) -> Properties:
    out: Properties = {}
    while node != ffi.NULL:
        out.setdefault(_text(node.name), _text(node.value))
        node = node.next
    return out


def _sensor(r: Any) -> SensorAttr:
    return SensorAttr(path=_text(r.path), strid=_text(r.aux_str), kind=r.kind, desc=_bytes(r.desc),
                      note=None if r.opt_str == ffi.NULL else _text(r.opt_str), props=_props(r.props),
                      opaque0=_bytes(r.opaque0), opaque1=_bytes(r.opaque1), opaque2=_bytes(r.opaque2),
                      opaque3=_bytes(r.opaque3))


def _indicator(r: Any) -> IndicatorAttr:
    return IndicatorAttr(path=_text(r.path), name=_text(r.aux_str), kind=r.kind, desc=_bytes(r.desc),
                         props=_props(r.props), opaque0=_bytes(r.opaque0), opaque1=_bytes(r.opaque1))


def _fru(r: Any) -> FruAttr:
    return FruAttr(path=_text(r.path), name=_text(r.aux_str), kind=r.kind, desc=_bytes(r.desc),
                   props=_props(r.props), opaque0=_bytes(r.opaque0), opaque1=_bytes(r.opaque1),
                   opaque2=_bytes(r.opaque2))


def _component(r: Any) -> ComponentAttr:
    return ComponentAttr(path=_text(r.path), kind=r.kind, desc=_bytes(r.desc), props=_props(r.props),
                         opaque0=_bytes(r.opaque0), opaque1=_bytes(r.opaque1))


def _association(r: Any) -> EntityAssociation:
    members = tuple(EntityMember(r.members[i].key0, r.members[i].key1) for i in range(r.member_count))
    return EntityAssociation(key0=r.key0, key1=r.key1, assoc_word=r.assoc_word, members=members,
                             reserved=r.reserved)


def _thresholds(values: Any) -> Thresholds:
    return Thresholds(*(float(values[i]) for i in range(6)))


def _call(subject: str, function: Callable[..., int], *args: Any) -> None:
    started = time.monotonic()
    status = function(_HANDLE, *args)
    check(status, started, subject, time.monotonic())


def _records(subject: str, query: Callable[..., int], record: str, free: Callable[..., int],
             convert: Callable[[Any], Any], *args: Any, count: Optional[Any] = None) -> List[Any]:
    """Runs a query that hands out an array of ``record``, copies every
    record and gives the array back to its free function, whatever happens."""
    array = ffi.new(record + " **")
    if count is None:
        _call(subject, query, *args, array)
        n = 1
    else:
        _call(subject, query, *args, count, array)
        n = count[0]
    if array[0] == ffi.NULL:
        return []
    try:
        return [convert(array[0][i]) for i in range(n)]
    finally:
        free(_HANDLE, n, array[0])


def _list(query: Callable[..., int], record: str, free: Callable[..., int],
          convert: Callable[[Any], Any]) -> List[Any]:
    return _records("", query, record, free, convert, count=ffi.new("uint32_t *"))


def _heap_text(pointer: Any) -> str:
    try:
        return _text(pointer)
    finally:
        lib.free(pointer)


# ---- Open and close ----------------------------------------------------------


def open_handle() -> int:
    """The library's handle (always 0). Calls need none; it exists for symmetry."""
    handle = ffi.new("int *")
    _call("", lambda _h, out: lib.velkdirectfe_open(out), handle)
    return int(handle[0])


def close_handle(handle: int) -> None:
    """Gives a handle back; does nothing."""
    _call("", lambda _h, h: lib.velkdirectfe_close(h), _i32(handle, "handle"))


# ---- Attribute queries -------------------------------------------------------


def get_sensor_attr(name: str) -> SensorAttr:
    """A sensor's attributes, by its string id (or path)."""
    return _records(f"sensor {name!r}", lib.velkdirectfe_get_sensor_attr, "velkdirectfe_sensor_attr_t", lib.velkdirectfe_free_sensor_attrs,
                    _sensor, _name(name, "name"))[0]


def get_sensor_attr_by_logical_num(logical_num: int) -> SensorAttr:
    """A sensor's attributes, by its logical number."""
    n = _u32(logical_num, "logical_num")
    return _records(f"sensor {n}", lib.velkdirectfe_get_sensor_attr_by_logical_num,
                    "velkdirectfe_sensor_attr_t", lib.velkdirectfe_free_sensor_attrs, _sensor, n)[0]


def get_sensor_attrs() -> List[SensorAttr]:
    """Every sensor's attributes."""
    return _list(lib.velkdirectfe_get_sensor_attrs, "velkdirectfe_sensor_attr_t", lib.velkdirectfe_free_sensor_attrs, _sensor)


def get_indicator_attr(name: str) -> IndicatorAttr:
    """An indicator's attributes, by its name (or path)."""
    return _records(f"indicator {name!r}", lib.velkdirectfe_get_indicator_attr,
                    "velkdirectfe_ind_attr_t", lib.velkdirectfe_free_indicator_attrs, _indicator, _name(name, "name"))[0]


def get_indicator_attrs() -> List[IndicatorAttr]:
    """Every indicator's attributes."""
    return _list(lib.velkdirectfe_get_indicator_attrs, "velkdirectfe_ind_attr_t", lib.velkdirectfe_free_indicator_attrs, _indicator)


def get_fru_attr(name: str) -> FruAttr:
    """A FRU's attributes, by its name (or path)."""
    return _records(f"FRU {name!r}", lib.velkdirectfe_get_fru_attr, "velkdirectfe_fru_attr_t", lib.velkdirectfe_free_fru_attrs, _fru,
                    _name(name, "name"))[0]


def get_fru_attrs() -> List[FruAttr]:
    """Every FRU's attributes."""
    return _list(lib.velkdirectfe_get_fru_attrs, "velkdirectfe_fru_attr_t", lib.velkdirectfe_free_fru_attrs, _fru)


def get_component_attrs() -> List[ComponentAttr]:
    """Every component's attributes."""
    return _list(lib.velkdirectfe_get_component_attrs, "velkdirectfe_comp_attr_t", lib.velkdirectfe_free_component_attrs, _component)


# ---- Platform names and sensor string ids -------------------------------------


def platform_names() -> PlatformNames:
    """The platform's names and lead byte."""
    names = ffi.new("velkdirectfe_plat_names_t *")
    _call("", lib.velkdirectfe_get_platform_names, names)
    name1, name2 = _heap_text(names.name1), _heap_text(names.name2)
    return PlatformNames(lead_byte=names.lead_byte, name1=name1, name2=name2)


def logical_num_to_strid(logical_num: int) -> str:
    """The string id of the sensor with this logical number."""
    n = _i32(logical_num, "logical_num")
    strid = ffi.new("char **")
    _call(f"sensor {n}", lib.velkdirectfe_logical_num_to_strid, n, strid)
    return _heap_text(strid[0])


# ---- Sensor values, data and thresholds --------------------------------------


def _values(subject: str, function: Callable[..., int], key: Any) -> SensorValues:
    reading, value = ffi.new("uint16_t *"), ffi.new("float *")
    _call(subject, function, key, reading, value)
    return SensorValues(reading=reading[0], normal_value=value[0])


def get_sensor_vals(sensor: str) -> SensorValues:
    """A sensor's raw reading and normalized value, by string id."""
    return _values(f"sensor {sensor!r}", lib.velkdirectfe_get_sensor_vals, _name(sensor, "sensor"))


def get_sensor_vals_by_logical_num(logical_num: int) -> SensorValues:
    """A sensor's raw reading and normalized value, by logical number."""
    n = _u32(logical_num, "logical_num")
    return _values(f"sensor {n}", lib.velkdirectfe_get_sensor_vals_by_logical_num, n)


def _data(subject: str, function: Callable[..., int], key: Any) -> SensorData:
    d = ffi.new("velkdirectfe_sensor_data_t *")
    _call(subject, function, key, d)
    return SensorData(reading=d.reading, normal_value=d.normal_value, threshold_state=d.byte1,
                      hysteresis=d.word1, flags=d.byte2, sensor_type=d.byte3, poll_interval_ms=d.word2,
                      thresholds=_thresholds(d.thresholds))


def get_sensor_data(sensor: str) -> SensorData:
    """A sensor's full reading, by string id."""
    return _data(f"sensor {sensor!r}", lib.velkdirectfe_get_sensor_data, _name(sensor, "sensor"))


def get_sensor_data_by_logical_num(logical_num: int) -> SensorData:
    """A sensor's full reading, by logical number."""
    n = _u32(logical_num, "logical_num")
    return _data(f"sensor {n}", lib.velkdirectfe_get_sensor_data_by_logical_num, n)


def get_normalized_thresholds(sensor_num: int) -> Thresholds:
    """The six normalized thresholds of the sensor with this logical number."""
    n = _i32(sensor_num, "sensor_num")
    values = ffi.new("float[6]")
    _call(f"sensor {n}", lib.velkdirectfe_get_normalized_thresholds, n, values)
    return _thresholds(values)


# ---- Sensor control and polling ----------------------------------------------


def set_threshold_vals(settings: ThresholdSettings) -> None:
    """Sends threshold settings as given (see :class:`ThresholdSettings`)."""
    if not isinstance(settings, ThresholdSettings):
        raise TypeError(f"settings must be a ThresholdSettings, not {type(settings).__name__}")
    c = ffi.new("pollctrl_thresh_t *")
    c.sensor_num = _u32(settings.sensor_num, "sensor_num")
    c.ctrl = _u16(settings.ctrl, "ctrl")
    for i in range(1, 9):
        setattr(c, f"val{i}", _u8(getattr(settings, f"val{i}"), f"val{i}"))
    _call(f"sensor {c.sensor_num}", lib.velkdirectfe_set_threshold_vals_internal, c)


def set_sensor_reading(sensor_num: int, reading: int) -> None:
    """Overrides the sensor's reading with a raw value until
    :func:`reset_all_sensors_state`."""
    n = _u32(sensor_num, "sensor_num")
    _call(f"sensor {n}", lib.velkdirectfe_set_sensor_reading, n, _u16(reading, "reading"))


def enable_sensor_polling(sensor_num: int) -> Polling:
    """Starts polling the sensor; answers the interval and the new generation."""
    n = _u32(sensor_num, "sensor_num")
    word, short = ffi.new("uint32_t *"), ffi.new("uint16_t *")
    _call(f"sensor {n}", lib.velkdirectfe_enable_sensor_polling, n, word, short)
    return Polling(interval_ms=word[0], generation=short[0])


def disable_sensor_polling(sensor_num: int, generation: int = 0) -> int:
    """Stops polling the sensor and answers the interval that was in force.
    ``generation`` is what enabling answered, or 0 for whatever it is now."""
    n = _u32(sensor_num, "sensor_num")
    word, short = ffi.new("uint32_t *"), ffi.new("uint16_t *", _u16(generation, "generation"))
    _call(f"sensor {n}", lib.velkdirectfe_disable_sensor_polling, n, word, short)
    return int(word[0])


def set_poll_state(poll_state: Union[bool, int]) -> None:
    """Daemon-wide polling: False (0) stops it for every sensor, True (1)
    starts it again."""
    state = int(poll_state) if isinstance(poll_state, bool) else _u8(poll_state, "poll_state")
    _call("", lib.velkdirectfe_set_poll_state, state)


def reset_all_sensors_state() -> None:
    """Drops every override and restores every sensor's thresholds,
    hysteresis and polling as described; daemon-wide polling starts."""
    _call("", lib.velkdirectfe_reset_all_sensors_state)


# ---- Entity associations -----------------------------------------------------


def get_entity_association(key0: int, key1: int) -> EntityAssociation:
    """The association of the entity (key0, key1)."""
    k0, k1 = _u8(key0, "key0"), _u8(key1, "key1")
    return _records(f"association {k0:#04x} {k1}", lib.velkdirectfe_get_entity_association,
                    "velkdirectfe_entity_assoc_t", lib.velkdirectfe_free_entity_associations, _association, k0, k1)[0]


def get_entity_associations() -> List[EntityAssociation]:
    """Every entity association."""
    return _list(lib.velkdirectfe_get_entity_associations, "velkdirectfe_entity_assoc_t", lib.velkdirectfe_free_entity_associations,
                 _association)


# ---- Reading conversions -----------------------------------------------------


def convert_normal_to_raw(sensor: str, normal_value: float) -> int:
    """A value in the sensor's unit to its raw byte (the daemon rounds and
    clamps)."""
    raw = ffi.new("uint8_t *")
    _call(f"sensor {sensor!r}", lib.velkdirectfe_convert_normal_to_raw, _name(sensor, "sensor"),
          _real(normal_value, "normal_value"), raw)
    return int(raw[0])


def convert_raw_to_normal(sensor: str, raw_value: int) -> float:
    """A raw byte of the sensor to the value in its unit."""
    value = ffi.new("float *")
    _call(f"sensor {sensor!r}", lib.velkdirectfe_convert_raw_to_normal, _name(sensor, "sensor"),
          _u8(raw_value, "raw_value"), value)
    return float(value[0])


# ---- Indicator modes ---------------------------------------------------------


def get_indicator_mode(indicator: str) -> Union[IndicatorMode, int]:
    """The indicator's mode: an :class:`IndicatorMode`, or an ``int`` outside it."""
    mode = ffi.new("int32_t *")
    _call(f"indicator {indicator!r}", lib.velkdirectfe_get_indicator_mode, _name(indicator, "indicator"), mode)
    try:
        return IndicatorMode(mode[0])
    except ValueError:
        return int(mode[0])


def set_indicator_mode(indicator: str, mode: Union[IndicatorMode, int],
                       duration: Optional[Duration] = None) -> None:
    """Sets the indicator's mode, for good, or for ``duration`` (seconds or
    a timedelta, counted in milliseconds) after which it returns to the mode
    it had before. A duration of 0 sets it for good and cancels a pending
    return."""
    name, m = _name(indicator, "indicator"), _u8(mode, "mode")
    if duration is None:
        _call(f"indicator {indicator!r}", lib.velkdirectfe_set_indicator_mode, name, m)
    else:
        _call(f"indicator {indicator!r}", lib.velkdirectfe_set_indicator_mode_for_duration, name, m,
              _duration_ms(duration))


def set_indicator_mode_for_duration(indicator: str, mode: Union[IndicatorMode, int], duration: Duration) -> None:
    """As :func:`set_indicator_mode` with a duration."""
    set_indicator_mode(indicator, mode, duration)


# ---- FRU direct access -------------------------------------------------------


def read_fru(fru: str, offset: int, length: int) -> bytes:
    """Up to ``length`` bytes of the FRU's data area from ``offset``."""
    name, off, n = _name(fru, "fru"), _u32(offset, "offset"), _u32(length, "length")
    buffer, read = (ffi.new("uint8_t[]", n) if n else ffi.NULL), ffi.new("uint32_t *")
    _call(f"FRU {fru!r}", lib.velkdirectfe_read_fru_direct, name, off, n, buffer, read)
    return bytes(ffi.buffer(buffer, read[0])) if n else b""


def write_fru(fru: str, offset: int, data: Union[bytes, bytearray, memoryview]) -> int:
    """Writes ``data`` into the FRU's data area at ``offset``; answers the
    daemon's result (velkd-sim: the number of bytes written)."""
    name, off = _name(fru, "fru"), _u32(offset, "offset")
    if isinstance(data, str) or not isinstance(data, (bytes, bytearray, memoryview)):
        raise TypeError(f"data must be bytes, not {type(data).__name__}")
    size = _u32(len(data), "len(data)")
    result = ffi.new("int32_t *")
    buffer = ffi.from_buffer("uint8_t[]", data) if size else ffi.NULL
    _call(f"FRU {fru!r}", lib.velkdirectfe_write_fru_direct, name, off, size, buffer, result)
    return int(result[0])


# ---- Inventory walk ----------------------------------------------------------
# The walk's C callback has no context pointer of its own: it reaches the walk
# through the parent data of each node (a cffi handle), and nodes the library
# hands null parent data through the walk under way on this thread.

_walks = threading.local()

Visit = Callable[[str, int, bytes, Properties, Any], Any]


class _Walk:
    def __init__(self, visit: Visit) -> None:
        self.visit = visit
        self.handles: List[Any] = []  # alive until the walk returns
        self.error: Optional[BaseException] = None


@ffi.def_extern(name="_velkdirectfe_visit")
def _visit(path: Any, kind: int, desc: Any, props: Any, parent: Any) -> Any:
    walk: _Walk = _walks.current
    if walk.error is not None:
        return ffi.NULL  # a visit failed: the rest of the walk runs no Python code
    try:
        data = None if parent == ffi.NULL else ffi.from_handle(parent)
        desc_bytes = b"" if desc == ffi.NULL else bytes(ffi.buffer(desc, _DESC_SIZE))
        handle = ffi.new_handle(walk.visit(_text(path), kind, desc_bytes, _props(props), data))
        walk.handles.append(handle)
        return handle
    except BaseException as e:  # never into C: kept and raised to the caller
        walk.error = e
        return ffi.NULL


_DESC_SIZE = len(ffi.new("velkdirectfe_comp_attr_t *").desc)


def inventory_direct(visit: Visit, root_data: Any = None) -> None:
    """The library's inventory walk: calls ``visit(path, kind, desc, props,
    parent_data)`` once per FRU, sensor, indicator and component, level by
    level; what a call returns is the ``parent_data`` of that node's
    children (``root_data`` for the nodes right below the root; ``None`` for
    a node the library cannot place).

    An exception raised by ``visit`` stops the walk: no further visit runs
    and the exception reaches the caller once the library returns. A
    platform without objects is walked without a visit."""
    if not callable(visit):
        raise TypeError(f"visit must be callable, not {type(visit).__name__}")
    # The walk fails alike when the daemon is absent (after each of its four
    # queries waited out the library's retries) and when it lists no object:
    # one call first tells them apart, as the velkdirect tool does.
    platform_names()
    walk = _Walk(visit)
    root = ffi.new_handle(root_data)
    outer = getattr(_walks, "current", None)
    _walks.current = walk
    try:
        lib.velkdirectfe_inventory_direct(_HANDLE, lib._velkdirectfe_visit, root)  # -1: no object at all
    finally:
        _walks.current = outer
    if walk.error is not None:
        raise walk.error


def inventory() -> Iterator[InventoryNode]:
    """Every object of the inventory as a node with its parent, parents
    before their children. The walk is done whole before the first node is
    yielded (a walk in C cannot pause), so breaking off costs no call."""
    nodes: List[InventoryNode] = []

    def add(path: str, kind: int, desc: bytes, props: Properties, parent: Any) -> InventoryNode:
        node = InventoryNode(path=path, kind=kind, desc=desc, props=props, parent=parent)
        nodes.append(node)
        return node

    inventory_direct(add)
    yield from nodes


def inventory_tree() -> InventoryTree:
    """The whole inventory as an :class:`InventoryTree`."""
    return InventoryTree(inventory())
