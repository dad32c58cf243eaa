// Card code reading: the digits a reader sends over its serial line, taken
// from the reader port objects with immediate-return reads.
//
// GetCardCode (and GetOtherCardCode) poll: one read, and when it brought a
// partial code one more read 200 ms later. GetCardCodeEx waits, reading
// every 100 ms, for as many digits as the caller asks for, and keeps any
// digits beyond that number in g_CarryCode for its next call.
#pragma once

#include "serial/serial_port.h"

// The digits the last GetCardCodeEx call gathered beyond the length it was
// asked for (or, when it had to give up, every digit it had gathered), as a
// NUL-terminated string of at most 50 digits.
extern char g_CarryCode[51];

// Removes in place every byte among the first `count` that is not an ASCII
// digit; the digits stay at the front in their order. The buffer holds
// count + 1 bytes (byte `count` is moved and written). Always 1.
int FilterDigits(char* buffer, unsigned int count);

// One immediate read of up to `count` bytes from `port` into `buffer`
// (count + 1 zeroed bytes), keeping only the digits. Returns the number of
// digits now at the front of the buffer; 0 when the port is not open,
// nothing was waiting, only non-digits came or the read failed.
int ReadComDigits(CSerialPort& port, char* buffer, int count);

// Reads a card code of up to ten digits from `port` into `cardCode`
// (11 bytes). 1 with a code; 0, buffer untouched, when none was waiting.
// A null cardCode gives 0 and reads nothing. Nothing is thrown: any failure
// gives 0.
int ReadCardCode(CSerialPort& port, char* cardCode) noexcept;

// GetCardCodeEx: waits, reading the extended port every 100 ms, until
// `codeLength` digits (0 to 50) have been gathered, carried-over ones
// included; writes them with a terminator and keeps the surplus in
// g_CarryCode. Returns the length written. A closed or failing port ends
// the wait with 0 and an empty string, every digit kept for the next call;
// a length outside 0 to 50 gives 0 at once.
int ReadExtendedCardCode(char* cardCode, int codeLength);

// Random sixteen-digit decimal card number in out[0..15], no terminator.
// 0 when out is null or length is below 16.
int MakeCardNumber(char* out, int length);

// Random card number of `length` (1 to 15) lower-case hexadecimal digits,
// no terminator. 0 when out is null or length is out of range.
int MakeHexCardNumber(char* out, int length);
