#!/usr/bin/python3
"""A KX880 worked out from phasors, apart from kx880-sim: what the meter's registers hold for
an installation (wiring mode, voltage, currents, power factors) and a wiring fault, and a
pymodbus 3.0 RTU slave on a pseudo-terminal that serves them, answering the moment a request
is read. The wiring checks are tried on numbers that the project's own code did not make.

Usage: phasor_meter.py selftest
       phasor_meter.py show CASE [OPTIONS]
       phasor_meter.py DEVICE BAUD PARITY ADDR[,ADDR...] CASE[,CASE...] [OPTIONS]
PARITY is N, E or O (or none, even, odd; 2 stop bits with none). One CASE serves every
address, or one CASE per address in order. Prints "ready" once the terminal is open: what
is sent after that line is answered.
OPTIONS override the case: --mode M, --voltage V (phase, secondary), --current A[,B,C],
--pf X[,Y,Z] (> 0 lagging, < 0 leading), --fault KIND:PHASES (repeatable: ct-reversed:b,
ct-crossed:a,b, voltage-missing:c, pt-reversed:a), --frequency HZ, --pt N, --ct N,
--class N, --energy-steps a,b,c,... (the forward active counter takes these values in
turn, one per read of the measurement block, and keeps the last).
"""
import argparse
import asyncio
import cmath
import logging
import math
import sys

MEASUREMENTS = 45  # 0x0000-0x002C
FORWARD_ACTIVE = 0x21  # low word; the high word follows
FREQUENCY_STEP = 0.00106813  # Hz per count of 0x1B
SQRT3 = math.sqrt(3.0)
GROUP = {"a": 0x00, "b": 0x08, "c": 0x10}
FOUR_WIRE, SINGLE_PHASE, THREE_WIRE, SPLIT_PHASE = (0, 5), (1,), (2, 3), (4,)
# The meter's codes for the line settings, as its parameter block reports them.
BAUD_CODES = {1200: 0, 2400: 1, 4800: 2, 9600: 3, 19200: 4}
PARITY_CODES = {"N": 0, "O": 1, "E": 2}

CASES = {
    # A legal installation: 230 V star, equal loads at PF 0.95 lagging.
    "healthy-balanced": dict(mode=0, v=230.0, i=(2.0, 2.0, 2.0), pf=0.95),
    # Still legal: no voltage unbalance, currents 15 % off their mean of 2.0 A at most.
    "healthy-unbalanced": dict(mode=0, v=230.0, i=(2.0, 1.7, 2.3), pf=(0.95, 0.9, 0.97)),
    "ct-reversed-b": dict(mode=0, v=230.0, i=(2.0, 2.0, 2.0), pf=0.95,
                          faults=("ct-reversed:b",)),
    "ct-crossed-ab": dict(mode=0, v=230.0, i=(2.0, 2.0, 2.0), pf=0.95,
                          faults=("ct-crossed:a,b",)),
    "voltage-missing-c": dict(mode=0, v=230.0, i=(2.0, 2.0, 2.0), pf=0.95,
                              faults=("voltage-missing:c",)),
    "pt-reversed-a": dict(mode=0, v=230.0, i=(2.0, 2.0, 2.0), pf=0.95,
                          faults=("pt-reversed:a",)),
    # Two elements behind 100 V PTs and 5 A CTs; below PF 0.5 element 1 runs backwards.
    "three-wire-low-pf": dict(mode=2, v=100.0 / SQRT3, i=(5.0, 5.0, 5.0), pf=0.4),
    "no-load": dict(mode=0, v=230.0, i=(0.0, 0.0, 0.0), pf=1.0),
    # Every CT the wrong way round: as the meter sees it, a generator feeding the grid.
    "all-reversed": dict(mode=0, v=230.0, i=(2.0, 2.0, 2.0), pf=0.95,
                         faults=("ct-reversed:a", "ct-reversed:b", "ct-reversed:c")),
    # 180 V on every phase: 18 % below the nearest standard voltage, 220 V.
    "undervoltage": dict(mode=0, v=180.0, i=(2.0, 2.0, 2.0), pf=0.95),
    # 2.5 Hz below 50 Hz.
    "off-frequency": dict(mode=0, v=230.0, i=(2.0, 2.0, 2.0), pf=0.95, freq=47.5),
}
DEFAULT_ENERGY = (123456, 0, 40000, 0)  # Wh and varh: an importer of inductive load


def phasor(magnitude, degrees):
    return cmath.rect(magnitude, math.radians(degrees))


def per_phase(value):
    return tuple(value) if isinstance(value, (tuple, list)) else (value,) * 3


def terminals(mode, v, i, pf, faults):
    """The voltages (to neutral) and currents at the meter's terminals: the installation's
    phasors, then each fault as it changes what the meter sees."""
    angles = {"a": 0.0, "b": 180.0, "c": 0.0} if mode in SPLIT_PHASE else \
        {"a": 0.0, "b": -120.0, "c": 120.0}
    volts, amps = {}, {}
    for x, current, factor in zip("abc", per_phase(i), per_phase(pf)):
        phi = math.degrees(math.acos(min(1.0, abs(factor))))
        lag = phi if factor >= 0 else -phi  # a leading current is ahead of its voltage
        volts[x] = phasor(v, angles[x])
        amps[x] = phasor(current, angles[x] - lag)
    for fault in faults:
        kind, _, where = fault.partition(":")
        xs = [p.strip().lower() for p in where.split(",")]
        if not xs or any(x not in "abc" or len(x) != 1 for x in xs):
            raise ValueError(f"fault {fault!r}: phases are a, b, c")
        if kind == "ct-reversed" and len(xs) == 1:
            amps[xs[0]] = -amps[xs[0]]
        elif kind == "ct-crossed" and len(xs) == 2:
            amps[xs[0]], amps[xs[1]] = amps[xs[1]], amps[xs[0]]
        elif kind == "voltage-missing" and len(xs) == 1:
            volts[xs[0]] = 0j
        elif kind == "pt-reversed" and len(xs) == 1:
            volts[xs[0]] = -volts[xs[0]]
        else:
            raise ValueError(f"fault {fault!r}: not a fault this model knows")
    unused = {1: "bc", 4: "c"}.get(mode, "")
    for x in unused:  # terminals the mode leaves unconnected
        volts[x], amps[x] = 0j, 0j
    return volts, amps


def word(value, scale, signed=False, what="register"):
    """A quantity as the meter's 16-bit register holds it: scaled, rounded half away from
    zero, two's complement when signed. Out of range is an error, never a wrap."""
    raw = value * scale
    n = int(math.floor(abs(raw) + 0.5)) * (1 if raw >= 0 else -1)
    low, high = (-32768, 32767) if signed else (0, 65535)
    if not low <= n <= high:
        raise ValueError(f"{what}: {value} x {scale} = {n} does not fit in {low}..{high}")
    return n & 0xFFFF


def registers(mode=0, v=230.0, i=(2.0, 2.0, 2.0), pf=0.95, faults=(), freq=50.0,
              energy=(0, 0, 0, 0)):
    """The 45 measurement registers (0x0000-0x002C) on the secondary side."""
    if mode not in FOUR_WIRE + SINGLE_PHASE + THREE_WIRE + SPLIT_PHASE:
        raise ValueError(f"wiring mode {mode}: 0-5")
    volts, amps = terminals(mode, v, i, pf, faults)
    regs = [0] * MEASUREMENTS

    # Line voltages from the voltages the meter sees, in each group's +1 register.
    line = {"a": abs(volts["c"] - volts["a"]), "b": abs(volts["a"] - volts["b"]),
            "c": abs(volts["b"] - volts["c"])}
    if mode in SINGLE_PHASE:
        line = {"a": 0.0, "b": 0.0, "c": 0.0}
    elif mode in SPLIT_PHASE:
        line = {"a": 0.0, "b": line["b"], "c": 0.0}  # 2 V between the two halves

    if mode in THREE_WIRE:
        # Two elements against B; phase B's current is what the other two bring back.
        elements = {"a": (volts["a"] - volts["b"], amps["a"]),
                    "c": (volts["c"] - volts["b"], amps["c"])}
        phase_volts = {"a": 0.0, "b": 0.0, "c": 0.0}
        currents = {"a": abs(amps["a"]), "b": abs(amps["a"] + amps["c"]), "c": abs(amps["c"])}
        present = "abc"
        zero_sequence = 0.0
        mean_volts = 0.0
    else:
        present = {1: "a", 4: "ab"}.get(mode, "abc")
        elements = {x: (volts[x], amps[x]) for x in present}
        phase_volts = {x: abs(volts[x]) for x in "abc"}
        currents = {x: abs(amps[x]) for x in "abc"}
        zero_sequence = abs(sum(amps[x] for x in present))
        mean_volts = sum(phase_volts[x] for x in present) / len(present)
    mean_current = sum(currents[x] for x in present) / len(present)

    p_total = q_total = s_sum = 0.0
    for x, base in GROUP.items():
        regs[base + 0] = word(phase_volts[x], 100, what=f"U{x}")
        regs[base + 1] = word(line[x], 100, what=f"line voltage in group {x}")
        regs[base + 2] = word(currents[x], 10000, what=f"I{x}")
        if x in elements:
            u, c = elements[x]
            s = u * c.conjugate()  # Q > 0 for an inductive (lagging) load
            apparent = abs(u) * abs(c)
            factor = s.real / apparent if apparent else 0.0
            regs[base + 4] = word(s.real, 10, True, f"P{x}")
            regs[base + 5] = word(factor, 10000, True, f"PF{x}")
            regs[base + 6] = word(s.imag, 10, True, f"Q{x}")
            regs[base + 7] = word(apparent, 5, what=f"S{x}")
            p_total += s.real
            q_total += s.imag
            s_sum += apparent
    s_total = math.hypot(p_total, q_total) if mode in THREE_WIRE else s_sum
    regs[0x18] = word(zero_sequence, 10000, what="zero-sequence current")
    regs[0x19] = word(mean_volts, 100, what="mean voltage")
    regs[0x1A] = word(mean_current, 10000, what="mean current")
    regs[0x1B] = word(freq / FREQUENCY_STEP, 1, what="frequency")
    regs[0x1C] = word(p_total, 10, True, "total P")
    regs[0x1D] = word(p_total / s_total if s_total else 0.0, 10000, True, "total PF")
    regs[0x1E] = word(q_total, 10, True, "total Q")
    regs[0x1F] = word(s_total, 5, what="total S")
    for n, counter in enumerate(energy):
        if not 0 <= counter <= 0xFFFFFFFF:
            raise ValueError(f"energy counter {n}: {counter} is not 32-bit")
        regs[0x21 + 2 * n] = counter & 0xFFFF  # low word first
        regs[0x22 + 2 * n] = counter >> 16
    return regs


def parameters(address, mode, pt=1, ct=1, baud=9600, parity="N", klass=1):
    """The parameter block 0x0300-0x0312 and the other settings a tool may read."""
    block = {r: 0 for r in list(range(0x0300, 0x0313)) + [0x0322] + list(range(0x0328, 0x032C))}
    block.update({0x0300: address, 0x0301: mode, 0x0302: PARITY_CODES[parity],
                  0x0303: BAUD_CODES[baud], 0x0305: 0, 0x0306: 0, 0x0307: pt, 0x0309: ct,
                  0x030A: 0, 0x0310: klass})
    return block


def s16(raw):
    return raw - 0x10000 if raw & 0x8000 else raw


def selftest():
    """The model against values worked out by hand from the physics."""
    checks = []

    def same(name, got, want):
        checks.append(name)
        assert got == want, f"{name}: {got} != {want}"

    # 230 V star, 2 A per phase in phase with its voltage: P = U I = 460 W, Q = 0,
    # S = 460 VA, line voltage 230 x sqrt(3) = 398.37 V, 50 Hz / 0.00106813 = 46810.96.
    r = registers(v=230.0, i=(2.0, 2.0, 2.0), pf=1.0)
    for x, base in GROUP.items():
        same(f"U{x}", r[base], 23000)
        same(f"line {x}", r[base + 1], 39837)
        same(f"I{x}", r[base + 2], 20000)
        same(f"P{x}", r[base + 4], 4600)
        same(f"PF{x}", r[base + 5], 10000)
        same(f"Q{x}", r[base + 6], 0)
        same(f"S{x}", r[base + 7], 2300)
    same("I0 balanced", r[0x18], 0)
    same("U mean", r[0x19], 23000)
    same("I mean", r[0x1A], 20000)
    same("f", r[0x1B], 46811)
    same("P total", r[0x1C], 13800)
    same("PF total", r[0x1D], 10000)
    same("S total", r[0x1F], 6900)

    # PF 0.95 lagging: P = 460 x 0.95 = 437 W; Q = 460 x sqrt(1 - 0.9025) = 143.64 var.
    r = registers(pf=0.95)
    same("P at 0.95", r[0x04], 4370)
    same("Q at 0.95", r[0x06], 1436)
    same("P total at 0.95", r[0x1C], 13110)
    same("Q total at 0.95", r[0x1E], 4309)
    same("PF total at 0.95", r[0x1D], 9500)
    # Leading: the same P, Q negative.
    same("Q leading", s16(registers(pf=-0.95)[0x06]), -1436)

    # CT B reversed at 0.95: B's P, Q and PF change sign; total P 437 W of 1380 VA;
    # Ia + Ic - Ib = -2 Ib: 4 A in the zero-sequence register.
    r = registers(pf=0.95, faults=("ct-reversed:b",))
    same("P b reversed", s16(r[0x0C]), -4370)
    same("PF b reversed", s16(r[0x0D]), -9500)
    same("Q b reversed", s16(r[0x0E]), -1436)
    same("P total b reversed", r[0x1C], 4370)
    same("PF total b reversed", r[0x1D], 3167)  # 437 / 1380
    same("I0 b reversed", r[0x18], 40000)

    # A and B crossed at PF 1: the A input carries Ib, 120 degrees behind Ua:
    # P = 460 cos 120 = -230 W, Q = 460 sin 120 = +398.37 var; B sees Ia 120 degrees ahead
    # of Ub: P = -230 W, Q = -398.37 var. The sum of the currents is still 0.
    r = registers(pf=1.0, faults=("ct-crossed:a,b",))
    same("P a crossed", s16(r[0x04]), -2300)
    same("Q a crossed", s16(r[0x06]), 3984)
    same("P b crossed", s16(r[0x0C]), -2300)
    same("Q b crossed", s16(r[0x0E]), -3984)
    same("P c crossed", s16(r[0x14]), 4600)
    same("P total crossed", s16(r[0x1C]), 0)
    same("I0 crossed", r[0x18], 0)

    # C's voltage missing at PF 1: nothing measured on C; Ubc = |Ub| and Uca = |Ua|,
    # 230 V; Uab stays 398.37 V; mean voltage 460 / 3 = 153.33 V; P total 920 W.
    r = registers(pf=1.0, faults=("voltage-missing:c",))
    same("Uc missing", r[0x10], 0)
    same("P c missing", r[0x14], 0)
    same("PF c missing", r[0x15], 0)
    same("S c missing", r[0x17], 0)
    same("Uca missing c", r[0x01], 23000)
    same("Uab missing c", r[0x09], 39837)
    same("Ubc missing c", r[0x11], 23000)
    same("U mean missing c", r[0x19], 15333)
    same("P total missing c", r[0x1C], 9200)

    # A's PT reversed at PF 1: Pa = -460 W; Uca = |Uc + Ua| = |Ub| = 230 V and
    # Uab = |-Ua - Ub| = |Uc| = 230 V; Ubc 398.37 V; P total 460 W of 1380 VA.
    r = registers(pf=1.0, faults=("pt-reversed:a",))
    same("P a pt reversed", s16(r[0x04]), -4600)
    same("Uca pt reversed", r[0x01], 23000)
    same("Uab pt reversed", r[0x09], 23000)
    same("Ubc pt reversed", r[0x11], 39837)
    same("PF total pt reversed", r[0x1D], 3333)

    # Three-wire, 100 V lines, 5 A, PF 0.5 lagging (60 degrees): Uab leads Ua by 30
    # degrees, so element 1 sees 90 degrees: P1 = 0, Q1 = 500 var; Ucb lags Uc by 30:
    # 30 degrees, P2 = 500 cos 30 = 433.01 W, Q2 = 250 var. Totals: P = sqrt(3) x 100 x 5
    # x 0.5 = 433.01 W, Q = 750 var, S = sqrt(P^2 + Q^2) = 866.03 VA, PF 0.5.
    r = registers(mode=2, v=100.0 / SQRT3, i=(5.0, 5.0, 5.0), pf=0.5)
    same("3w U phase", (r[0x00], r[0x08], r[0x10], r[0x19]), (0, 0, 0, 0))
    same("3w lines", (r[0x01], r[0x09], r[0x11]), (10000, 10000, 10000))
    same("3w P1", s16(r[0x04]), 0)
    same("3w Q1", r[0x06], 5000)
    same("3w P2", r[0x14], 4330)
    same("3w Q2", r[0x16], 2500)
    same("3w B powers", r[0x0C:0x10], [0, 0, 0, 0])
    same("3w Ib", r[0x0A], 50000)  # |Ia + Ic| = |Ib| when balanced
    same("3w P total", r[0x1C], 4330)
    same("3w Q total", r[0x1E], 7500)
    same("3w S total", r[0x1F], 4330)  # 866.03 x 5
    same("3w PF total", r[0x1D], 5000)
    # At PF 0.4 (66.42 degrees) element 1 sees 96.42 degrees: P1 = -500 sin 6.42 = -55.9 W;
    # P2 = 500 cos 36.42 = 402.3 W; the sum sqrt(3) x 500 x 0.4 = 346.41 W.
    r = registers(mode=2, v=100.0 / SQRT3, i=(5.0, 5.0, 5.0), pf=0.4)
    same("3w low-pf P1", s16(r[0x04]), -559)
    same("3w low-pf P2", r[0x14], 4023)
    same("3w low-pf P total", r[0x1C], 3464)
    same("3w low-pf PF total", r[0x1D], 4000)

    # Single-phase 2-wire: only A. Split phase: B at 180 degrees, Uab = 460 V.
    r = registers(mode=1, pf=1.0)
    same("1p A", (r[0x00], r[0x04], r[0x1C]), (23000, 4600, 4600))
    same("1p B and C", r[0x08:0x18], [0] * 16)
    r = registers(mode=4, pf=1.0)
    same("split Uab", r[0x09], 46000)
    same("split P b", r[0x0C], 4600)
    same("split C", r[0x10:0x18], [0] * 8)
    same("split P total", r[0x1C], 9200)
    same("split I0", r[0x18], 0)  # the halves' currents cancel in the neutral

    # No load: every power and PF 0.
    r = registers(i=(0.0, 0.0, 0.0))
    same("no load", [r[b + k] for b in GROUP.values() for k in (2, 4, 5, 6, 7)], [0] * 15)

    # Energy: 123456 = 0x0001E240, low word first.
    r = registers(energy=(123456, 0, 65536, 0xFFFFFFFF))
    same("energy", r[0x21:0x29], [0xE240, 1, 0, 0, 0, 1, 0xFFFF, 0xFFFF])

    # Out of range is refused, never wrapped: 230 V x 20 A x 3 = 13.8 kW is 138000 x 0.1 W.
    try:
        registers(i=(20.0, 20.0, 20.0), pf=1.0)
    except ValueError:
        checks.append("overflow")
    else:
        raise AssertionError("a total power past s16 was wrapped")
    for name in CASES:
        registers(**CASES[name])  # every case fits its registers
    print(f"selftest: {len(checks)} checks passed")


def case_parameters(name, args):
    if name not in CASES:
        sys.exit(f"unknown case {name!r}; cases: {', '.join(CASES)}")
    c = dict(CASES[name])
    if args.mode is not None:
        c["mode"] = args.mode
    if args.voltage is not None:
        c["v"] = args.voltage
    if args.current is not None:
        c["i"] = per_phase(args.current[0] if len(args.current) == 1 else args.current)
    if args.pf is not None:
        c["pf"] = args.pf[0] if len(args.pf) == 1 else tuple(args.pf)
    if args.fault:
        c["faults"] = tuple(args.fault)
    if args.frequency is not None:
        c["freq"] = args.frequency
    c["energy"] = (args.energy_steps[0],) + DEFAULT_ENERGY[1:] if args.energy_steps \
        else DEFAULT_ENERGY
    return c


def floats(text):
    return [float(x) for x in text.split(",")]


def options(argv, positional):
    parser = argparse.ArgumentParser(prog="phasor_meter.py", description=__doc__.split("\n")[0])
    for name in positional:
        parser.add_argument(name)
    parser.add_argument("--mode", type=int)
    parser.add_argument("--voltage", type=float)
    parser.add_argument("--current", type=floats)
    parser.add_argument("--pf", type=floats)
    parser.add_argument("--fault", action="append")
    parser.add_argument("--frequency", type=float)
    parser.add_argument("--pt", type=int, default=1)
    parser.add_argument("--ct", type=int, default=1)
    parser.add_argument("--class", dest="klass", type=int, default=1)
    parser.add_argument("--energy-steps", type=lambda t: [int(x) for x in t.split(",")])
    return parser.parse_args(argv)


def serve(argv):
    args = options(argv, ["device", "baud", "parity", "addresses", "cases"])
    parity = {"NONE": "N", "EVEN": "E", "ODD": "O"}.get(args.parity.upper(), args.parity.upper())
    baud = int(args.baud)
    if parity not in PARITY_CODES or baud not in BAUD_CODES:
        sys.exit(f"line {baud} {args.parity}: baud {sorted(BAUD_CODES)}, parity N, E or O")
    addresses = [int(a) for a in args.addresses.split(",")]
    names = args.cases.split(",")
    if len(names) == 1:
        names *= len(addresses)
    if len(names) != len(addresses):
        sys.exit("one case for every address, or one for all")

    from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                    ModbusSlaveContext)
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    from pymodbus.server import StartAsyncSerialServer
    logging.basicConfig(level=logging.ERROR)

    class Meter(ModbusSequentialDataBlock):
        """Holding registers; with --energy-steps, each read of the measurement block moves
        the forward active counter to its next value."""

        def __init__(self, values, steps):
            super().__init__(0, values)
            self.steps, self.step = steps or [], 0

        def getValues(self, address, count=1):  # pylint: disable=invalid-name
            if self.steps and address <= FORWARD_ACTIVE < address + count:
                counter = self.steps[min(self.step, len(self.steps) - 1)]
                self.step += 1
                super().setValues(FORWARD_ACTIVE, [counter & 0xFFFF, counter >> 16])
            return super().getValues(address, count)

    slaves = {}
    for address, name in zip(addresses, names):
        c = case_parameters(name, args)
        values = [0] * 0x400
        values[:MEASUREMENTS] = registers(**c)
        for reg, value in parameters(address, c["mode"], args.pt, args.ct, baud, parity,
                                     args.klass).items():
            values[reg] = value
        slaves[address] = ModbusSlaveContext(hr=Meter(values, args.energy_steps), zero_mode=True)
    context = ModbusServerContext(slaves=slaves, single=False)

    async def run():
        server = await StartAsyncSerialServer(
            context=context, framer=ModbusRtuFramer, port=args.device, baudrate=baud,
            parity=parity, stopbits=2 if parity == "N" else 1, bytesize=8, defer_start=True)
        await server.start()  # the terminal is open (and what came before it flushed)
        if server.transport is None:
            sys.exit(f"cannot open {args.device}")
        print("ready", flush=True)
        await server.serve_forever()

    asyncio.run(run())


def show(argv):
    args = options(argv, ["case"])
    c = case_parameters(args.case, args)
    for reg, value in enumerate(registers(**c)):
        print(f"0x{reg:04X} {value:5d} {s16(value):6d}")


if __name__ == "__main__":
    if sys.argv[1:2] == ["selftest"]:
        selftest()
    elif sys.argv[1:2] == ["show"]:
        show(sys.argv[2:])
    else:
        serve(sys.argv[1:])
