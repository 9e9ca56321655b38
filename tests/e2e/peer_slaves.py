#!/usr/bin/python3
"""Independent Modbus RTU slaves on a pseudo-terminal, with no line timing: each reply is
written the moment its request has been read. pymodbus 3.0 serves every address itself;
libmodbus 3.1 (through ctypes) serves one address a context, so several of them hang on a
byte hub that copies every byte to every other end, as RS-485 does.
Usage: peer_slaves.py [--mirror] pymodbus|libmodbus DEVICE BAUD PARITY ADDR[,ADDR...]
                      [ADDR:]REG=VALUE...
PARITY is N, E or O (2 stop bits with N). Prints "ready" once it serves.
--refuse=REG (pymodbus): a write that touches REG gets exception 02, as a meter refusing it.
--mirror: a write (function 6 or 16) goes where the meter puts it, so that a tool reading its
settings back from the parameter block sees them: wiring code 0x0002 to 0x0301, PT 0x000E to
0x0307, CT 0x0012 to 0x0309, class 0x0022 to 0x0310, setting block A 0x0028-0x002B to
0x0328-0x032B, and the address 0x0000 to 0x0300, the slave moving to it (1-247) after its
reply. The baud-rate and parity codes (0x0008, 0x0006) are only stored: the line stays.
"""
import ctypes
import logging
import os
import select
import sys
import threading
import time

refuse = {int(a.split("=")[1], 0) for a in sys.argv[1:] if a.startswith("--refuse=")}
args = [a for a in sys.argv[1:] if a != "--mirror" and not a.startswith("--refuse=")]
mirror = "--mirror" in sys.argv
kind, device, baud, parity = args[0], args[1], int(args[2]), args[3]
addresses = [int(a) for a in args[4].split(",")]
stop_bits = 2 if parity == "N" else 1
registers = {a: [0] * 0x400 for a in addresses}
# Under --mirror: a written register and where the meter shows it in its parameter block.
MIRRORS = {0x0000: 0x0300, 0x0002: 0x0301, 0x000E: 0x0307, 0x0012: 0x0309, 0x0022: 0x0310,
           0x0028: 0x0328, 0x0029: 0x0329, 0x002A: 0x032A, 0x002B: 0x032B}
for item in args[5:]:
    where, value = item.split("=")
    owner, _, reg = where.rpartition(":")
    for a in ([int(owner)] if owner else addresses):
        registers[a][int(reg, 0)] = int(value, 0) & 0xFFFF


def serve_pymodbus():
    from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                    ModbusSlaveContext)
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    from pymodbus.server import StartSerialServer
    logging.basicConfig(level=logging.ERROR)

    class MeterBlock(ModbusSequentialDataBlock):
        """Holding registers that take a write as the meter does (--mirror)."""

        def setValues(self, address, values):  # pylint: disable=invalid-name
            super().setValues(address, values)
            for reg, value in enumerate(values if isinstance(values, list) else [values],
                                        address):
                if reg in MIRRORS:
                    super().setValues(MIRRORS[reg], [value])
                if reg == 0x0000:
                    move(self, value)

    def move(block, new):
        # The request has found its slave already and the reply goes out under the request's
        # address, so the slave answers at the new one from the next request on.
        old = next(a for a, slave in server if slave.store["h"] is block)
        if new != old and 1 <= new <= 247:
            server[new] = server[old]
            del server[old]

    class Slave(ModbusSlaveContext):
        def validate(self, fc_as_hex, address, count=1):
            if fc_as_hex in (6, 16) and refuse & set(range(address, address + count)):
                return False
            return super().validate(fc_as_hex, address, count)

    block = MeterBlock if mirror else ModbusSequentialDataBlock
    slaves = {a: Slave(hr=block(0, registers[a]), zero_mode=True) for a in addresses}
    server = ModbusServerContext(slaves=slaves, single=False)
    print("ready", flush=True)
    StartSerialServer(context=server,
                      framer=ModbusRtuFramer, port=device, baudrate=baud, parity=parity,
                      stopbits=stop_bits, bytesize=8)


class Mapping(ctypes.Structure):
    _fields_ = [(n, ctypes.c_int) for n in ("nb_bits", "start_bits", "nb_input_bits",
                                            "start_input_bits", "nb_input_registers",
                                            "start_input_registers", "nb_registers",
                                            "start_registers")] + [
        ("tab_bits", ctypes.c_void_p), ("tab_input_bits", ctypes.c_void_p),
        ("tab_input_registers", ctypes.c_void_p),
        ("tab_registers", ctypes.POINTER(ctypes.c_uint16))]


def libmodbus_slave(lib, path, address):
    ctx = lib.modbus_new_rtu(path.encode(), baud, ctypes.c_char(parity.encode()), 8, stop_bits)
    mapping = ctypes.cast(lib.modbus_mapping_new(0, 0, 0x400, 0), ctypes.POINTER(Mapping))
    for reg, value in enumerate(registers[address]):
        mapping.contents.tab_registers[reg] = value
    lib.modbus_set_debug(ctypes.c_void_p(ctx), int(os.environ.get("LMDEBUG", "0")))
    if lib.modbus_set_slave(ctx, address) != 0 or lib.modbus_connect(ctx) != 0:
        sys.exit(f"libmodbus cannot serve {address} on {path}")
    query = ctypes.create_string_buffer(260)
    while True:
        n = lib.modbus_receive(ctx, query)
        if n > 0:
            lib.modbus_reply(ctx, query, n, mapping)
            if mirror:
                address = mirror_write(lib, ctx, query.raw[:n], mapping.contents, address)
        elif n < 0:
            time.sleep(0.01)  # a CRC error or the master gone: listen again


def written(q):
    """The registers a write request that libmodbus carries out sets, or none."""
    if q[1] == 6:
        start, count = q[2] << 8 | q[3], 1
    elif q[1] == 16 and len(q) >= 7:
        start, count = q[2] << 8 | q[3], q[4] << 8 | q[5]
        if not 1 <= count <= 123 or q[6] != 2 * count:
            return range(0)
    else:
        return range(0)
    return range(start, start + count) if start + count <= 0x400 else range(0)


def mirror_write(lib, ctx, query, mapping, address):
    """After the reply (--mirror): the parameter block follows the write, and a new address
    is the one the slave answers at from now on. The mapping is the registers themselves."""
    tab = mapping.tab_registers
    for reg in written(query):
        if reg in MIRRORS:
            tab[MIRRORS[reg]] = tab[reg]
        if reg == 0x0000 and tab[reg] != address and 1 <= tab[reg] <= 247:
            address = tab[reg]
            lib.modbus_set_slave(ctx, address)
    return address


def hub(bus_fd, slave_fds):
    """Every byte reaches every other end, as on RS-485: libmodbus also listens to the
    other slaves' replies to stay in step with the bus."""
    while True:
        ready, _, _ = select.select([bus_fd] + slave_fds, [], [])
        for fd in ready:
            try:
                data = os.read(fd, 4096)
            except OSError:
                time.sleep(0.01)
                continue
            for to in [f for f in [bus_fd] + slave_fds if f != fd]:
                os.write(to, data)


def serve_libmodbus():
    lib = ctypes.CDLL("libmodbus.so.5", use_errno=True)
    lib.modbus_new_rtu.restype = ctypes.c_void_p
    lib.modbus_new_rtu.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char, ctypes.c_int,
                                   ctypes.c_int]
    lib.modbus_mapping_new.restype = ctypes.c_void_p
    for f in ("modbus_set_slave", "modbus_connect", "modbus_receive", "modbus_reply"):
        getattr(lib, f).argtypes = [ctypes.c_void_p] + {
            "modbus_set_slave": [ctypes.c_int], "modbus_connect": [],
            "modbus_receive": [ctypes.c_char_p],
            "modbus_reply": [ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p]}[f]
    if len(addresses) == 1:
        paths = [device]
    else:
        import tty
        bus_fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(bus_fd)
        pairs = [os.openpty() for _ in addresses]
        for master, _ in pairs:
            tty.setraw(master)
        paths = [os.ttyname(s) for _, s in pairs]
        threading.Thread(target=hub, args=(bus_fd, [m for m, _ in pairs]), daemon=True).start()
    for path, address in zip(paths, addresses):
        threading.Thread(target=libmodbus_slave, args=(lib, path, address), daemon=True).start()
    time.sleep(0.2)
    print("ready", flush=True)
    threading.Event().wait()


serve_pymodbus() if kind == "pymodbus" else serve_libmodbus()
