#!/usr/bin/env python3
"""Holds a meter the way another program would, until killed.

usage: hold_meter.py usb RESOURCE   claims the USBTMC interface (pyusb)
       hold_meter.py serial PATH    opens the serial port exclusively (pyserial)
"""
import signal
import sys
import time

kind, where = sys.argv[1:3]
if kind == "usb":
    import usb.core
    import usb.util
    _, vendor, product, serial = where.split("::")[:4]
    device = usb.core.find(idVendor=int(vendor, 16), idProduct=int(product, 16))
    if device is None:
        sys.exit("hold_meter: no USB device %s" % where)
    device.set_configuration()
    usb.util.claim_interface(device, 0)
else:
    import serial
    port = serial.Serial(where, 115200, exclusive=True)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
while True:
    time.sleep(1)
