"""The records calls return: frozen dataclasses holding copies of what the
library handed out (nothing in them points into C memory)."""
from __future__ import annotations

import enum
from dataclasses import dataclass, field
from typing import Dict, Optional, Tuple

Properties = Dict[str, str]


@dataclass(frozen=True)
class SensorAttr:
    """A sensor's attributes (velkdirectfe_sensor_attr_t).

    ``props`` holds the properties in the daemon's order; the opaque runs
    carry bytes only the daemon interprets (velkd-sim puts the logical number
    in the first four bytes of ``opaque0``)."""

    path: str
    strid: str
    kind: int
    desc: bytes
    note: Optional[str]
    props: Properties
    opaque0: bytes
    opaque1: bytes
    opaque2: bytes
    opaque3: bytes


@dataclass(frozen=True)
class IndicatorAttr:
    """An indicator's attributes (velkdirectfe_ind_attr_t)."""

    path: str
    name: str
    kind: int
    desc: bytes
    props: Properties
    opaque0: bytes
    opaque1: bytes


@dataclass(frozen=True)
class FruAttr:
    """A FRU's attributes (velkdirectfe_fru_attr_t)."""

    path: str
    name: str
    kind: int
    desc: bytes
    props: Properties
    opaque0: bytes
    opaque1: bytes
    opaque2: bytes


@dataclass(frozen=True)
class ComponentAttr:
    """A component's attributes (velkdirectfe_comp_attr_t)."""

    path: str
    kind: int
    desc: bytes
    props: Properties
    opaque0: bytes
    opaque1: bytes


@dataclass(frozen=True)
class PlatformNames:
    """The platform's names: ``name1`` (velkd-sim: its name), ``name2`` (its
    model) and ``lead_byte``."""

    lead_byte: int
    name1: str
    name2: str


@dataclass(frozen=True)
class SensorValues:
    """A sensor's raw reading and the reading in its unit."""

    reading: int
    normal_value: float


@dataclass(frozen=True)
class Thresholds:
    """Six normalized thresholds in the sensor's unit, lowest first: lower
    non-recoverable, critical and non-critical, upper non-critical, critical
    and non-recoverable."""

    lnr: float
    lcr: float
    lnc: float
    unc: float
    ucr: float
    unr: float


@dataclass(frozen=True)
class SensorData:
    """The full reading of a sensor (velkdirectfe_sensor_data_t).

    ``threshold_state``: bit i set when the reading is at or beyond threshold
    i (in the order of :class:`Thresholds`); ``hysteresis``: raw counts,
    positive in the high byte, negative in the low byte; ``flags``: bit 0 the
    sensor is polled, bit 1 daemon-wide polling runs, bit 2 the reading is
    overridden; ``sensor_type``: the sensor's type byte;
    ``poll_interval_ms``: the polling interval."""

    reading: int
    normal_value: float
    threshold_state: int
    hysteresis: int
    flags: int
    sensor_type: int
    poll_interval_ms: int
    thresholds: Thresholds


@dataclass(frozen=True)
class ThresholdSettings:
    """Threshold settings of one sensor, sent as given (pollctrl_thresh_t).

    With velkd-sim: bit i (0 to 5) of ``ctrl`` sets threshold i to the raw
    value ``val<i+1>``; bit 6 sets the positive hysteresis to ``val7`` and
    bit 7 the negative one to ``val8`` (raw counts)."""

    sensor_num: int
    ctrl: int
    val1: int = 0
    val2: int = 0
    val3: int = 0
    val4: int = 0
    val5: int = 0
    val6: int = 0
    val7: int = 0
    val8: int = 0


@dataclass(frozen=True)
class Polling:
    """What enabling a sensor's polling answers: the interval and the polling
    generation (hand it back to :func:`disable_sensor_polling`)."""

    interval_ms: int
    generation: int


@dataclass(frozen=True)
class EntityMember:
    """One member entity of an association."""

    key0: int
    key1: int


@dataclass(frozen=True)
class EntityAssociation:
    """An entity association (velkdirectfe_entity_assoc_t): its entity
    (``key0``, ``key1``), ``assoc_word`` and every member slot (slots beyond
    the members the daemon listed are zero)."""

    key0: int
    key1: int
    assoc_word: int
    members: Tuple[EntityMember, ...]
    reserved: int = 0


class IndicatorMode(enum.IntEnum):
    """Indicator modes by convention; each indicator accepts its own set, and
    a mode outside this enum is a plain ``int``."""

    OFF = 0
    ON = 1
    SLOW_BLINK = 2
    FAST_BLINK = 3


@dataclass(frozen=True, eq=False)
class InventoryNode:
    """One object of the inventory walk, with the node it sits under
    (``None`` for the nodes right below the root). Nodes compare and hash by
    identity."""

    path: str
    kind: int
    desc: bytes
    props: Properties
    parent: Optional["InventoryNode"] = field(default=None, repr=False)
