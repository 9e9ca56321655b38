#!/usr/bin/python3
"""An independent Modbus TCP server (pymodbus) holding the registers it is given.
Usage: modbus_tcp_server.py PORT UNIT REG=VALUE...   (registers 0-based, values 0-65535)
"""
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartTcpServer

logging.basicConfig(level=logging.ERROR)
port, unit = int(sys.argv[1]), int(sys.argv[2])
values = [0] * 0x400
for item in sys.argv[3:]:
    reg, value = item.split("=")
    values[int(reg, 0)] = int(value, 0)
# Address 0 of the block is register 0 with zero_mode.
store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, values), zero_mode=True)
print("ready", flush=True)
StartTcpServer(context=ModbusServerContext(slaves={unit: store}, single=False),
               address=("127.0.0.1", port), allow_reuse_address=True)
