{ The eight functions of Kavex.dll for Delphi and Free Pascal.

  Link the DLL of the program's word size: a 32-bit program (Delphi's
  default Win32 target) needs x86\Kavex.dll, a 64-bit one x64\Kavex.dll;
  put it beside the .exe. On 32-bit the functions are stdcall, as declared
  here; on 64-bit the directive changes nothing. Port names are 8-bit
  (ANSI) strings: pass a PAnsiChar, or nil for the configured port. A card
  code buffer holds the digits and a terminator (11 bytes for
  GetCardCode and GetOtherCardCode, codeLength + 1 for GetCardCodeEx). }
unit Kavex;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

interface

const
  KavexDll = 'Kavex.dll';

type
  TCardCode = array[0..10] of AnsiChar;

{ Ordinal 1. Opens the primary reader on PortName ('COM1' to 'COM9'; only the
  fourth character counts), or, with nil, on the port of the ipportconfig.ini
  beside the program (COM1 without one), and the configured further readers.
  1 when the primary reader opened. }
function OpenCom(PortName: PAnsiChar): Integer; stdcall; external KavexDll name 'OpenCom';
{ Ordinal 2. 1 with a ten-digit code in CardCode, 0 when none is waiting;
  returns at once, so poll it. }
function GetCardCode(CardCode: PAnsiChar): Integer; stdcall; external KavexDll name 'GetCardCode';
{ Ordinal 3. Closes the primary and the configured further readers. }
function CloseCom: Integer; stdcall; external KavexDll name 'CloseCom';
{ Ordinal 4. Always 20. }
function GetIDVersion: Integer; stdcall; external KavexDll name 'GetIDVersion';
{ Ordinal 5. Waits, without a time-out, until CodeLength digits (0 to 50) have
  come on the extended port and writes them with a terminator; returns
  CodeLength. Call it from a worker thread. }
function GetCardCodeEx(CardCode: PAnsiChar; CodeLength: Integer): Integer; stdcall;
  external KavexDll name 'GetCardCodeEx';
{ Ordinal 6. Closes the extended port. }
function CloseComEx: Integer; stdcall; external KavexDll name 'CloseComEx';
{ Ordinal 7. Opens the extended port on PortName; Reserved is ignored. }
function OpenComEx(PortName: PAnsiChar; Reserved: Integer): Integer; stdcall;
  external KavexDll name 'OpenComEx';
{ Ordinal 8. As GetCardCode, for further reader ReaderType (1 to 4). }
function GetOtherCardCode(CardCode: PAnsiChar; ReaderType: Integer): Integer; stdcall;
  external KavexDll name 'GetOtherCardCode';

implementation

end.
