#!/usr/bin/python3
"""Independent Modbus RTU slaves on a pseudo-terminal, with no line timing: each reply is
written the moment its request has been read. pymodbus 3.0 serves every address itself;
libmodbus 3.1 (through ctypes) serves one address a context, so several of them hang on a
byte hub that copies every byte to every other end, as RS-485 does.
Usage: peer_slaves.py pymodbus|libmodbus DEVICE BAUD PARITY ADDR[,ADDR...] [ADDR:]REG=VALUE...
PARITY is N, E or O (2 stop bits with N). Prints "ready" once it serves.
"""
import ctypes
import logging
import os
import select
import sys
import threading
import time

kind, device, baud, parity = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
addresses = [int(a) for a in sys.argv[5].split(",")]
stop_bits = 2 if parity == "N" else 1
registers = {a: [0] * 0x400 for a in addresses}
for item in sys.argv[6:]:
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
    slaves = {a: ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, registers[a]),
                                    zero_mode=True) for a in addresses}
    print("ready", flush=True)
    StartSerialServer(context=ModbusServerContext(slaves=slaves, single=False),
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
        elif n < 0:
            time.sleep(0.01)  # a CRC error or the master gone: listen again


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
