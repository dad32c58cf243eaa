// The module's reader port set: six serial port objects shared by the
// exported functions for the life of the module, and the open and close
// sequences of one reader port.
#pragma once

#include <mutex>

#include "reader/kavex_app.h"
#include "reader/port_lock.h"
#include "serial/serial_port.h"

extern CKavexApp g_KavexApp;
extern CSerialPort g_ComPort;          // primary reader
extern CSerialPort g_FurtherComPort1;  // further readers 1 to 4
extern CSerialPort g_FurtherComPort2;
extern CSerialPort g_FurtherComPort3;
extern CSerialPort g_FurtherComPort4;
extern CSerialPort g_ComPortEx;  // extended port

// The further reader port object for reader type 1 to 4, else null.
CSerialPort* FurtherComPort(int readerType);

// Threads. Every use of a port object by the reader code holds the port's
// lock, so that a host may call CloseComEx or CloseCom from another thread
// while GetCardCodeEx or GetCardCode waits on that thread (a Cancel button,
// a service stopping): the close waits for a read in progress to end, and
// wakes the waiting read function, which then returns 0. Every other call is
// still made from one thread at a time.
std::unique_lock<PortLock> LockPort(const CSerialPort& port);
// Waits until at least `bytes` bytes are queued on the port, the port is
// closed (by another thread), or `ms` milliseconds have passed: a read
// made then takes what a read after the full wait would take first, only
// sooner. The queue is looked at every few milliseconds (ClearCommError's
// count, which every Windows serial driver and the POSIX layer give).
void WaitForQueuedBytes(CSerialPort& port, DWORD bytes, DWORD ms);

// The port number a caller's port name gives: its fourth character minus
// '0'. A name shorter than four characters gives its terminator minus '0'
// (-48), which names no port; a null name gives the same.
int PortNumberFromName(const char* portName);

// Opens COM<portNumber> as a reader port: 1200 baud, 8 data bits, no
// parity, one stop bit, XON/XOFF, 10000-byte queues, reads that return at
// once. 1 on success, 0 when a serial error ended the sequence (the port
// may then be open but not fully set up).
int OpenComPort(CSerialPort& port, int portNumber);

// Purges, flushes and closes a reader port. 1 when it was not open or
// closed without error, 0 when a serial error ended the close.
int CloseComPort(CSerialPort& port);
