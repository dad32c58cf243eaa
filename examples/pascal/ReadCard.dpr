{ Reads card codes through Kavex.dll: the primary reader and the further
  readers of the port configuration, polled every 100 ms, until Count codes
  (default 1) have come.

    ReadCard [COMn [Count]]

  Delphi: open this file as a project, or "dcc32 ReadCard.dpr".
  Free Pascal: "fpc -Twin32 ReadCard.dpr" (or -Twin64 with x64\Kavex.dll). }
program ReadCard;

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}
{$IFDEF MSWINDOWS}{$APPTYPE CONSOLE}{$ENDIF}

uses
  SysUtils, Kavex;

var
  Port: AnsiString;
  PortName: PAnsiChar;
  Code: TCardCode;
  Count, Read, Reader: Integer;
begin
  PortName := nil;  { nil: the configured port }
  if ParamCount >= 1 then
  begin
    Port := AnsiString(ParamStr(1));
    PortName := PAnsiChar(Port);
  end;
  Count := StrToIntDef(ParamStr(2), 1);

  WriteLn('Kavex interface version ', GetIDVersion);
  if OpenCom(PortName) <> 1 then
  begin
    WriteLn(ErrOutput, 'cannot open the card reader');
    CloseCom;
    Halt(1);
  end;
  WriteLn('Waiting for ', Count, ' card(s).');
  Read := 0;
  while Read < Count do
  begin
    FillChar(Code, SizeOf(Code), 0);
    if GetCardCode(@Code[0]) = 1 then
    begin
      WriteLn('primary reader: ', PAnsiChar(@Code[0]));
      Inc(Read);
    end;
    for Reader := 1 to 4 do
    begin
      FillChar(Code, SizeOf(Code), 0);
      if GetOtherCardCode(@Code[0], Reader) = 1 then
      begin
        WriteLn('reader ', Reader, ': ', PAnsiChar(@Code[0]));
        Inc(Read);
      end;
    end;
    Sleep(100);
  end;
  if CloseCom <> 1 then
    Halt(1);
end.
