// Reads card codes through Kavex.dll until Ctrl-C: the primary reader and the
// further readers of the port configuration, polled every 100 ms.
//
//   ReadCard [COMn]
using System;
using System.Threading;
using Kavex;

internal static class Program
{
    private static volatile bool s_stop;

    private static int Main(string[] args)
    {
        KavexDll.UseDllOfThisProcess();   // x86\ or x64\ beside the .exe (see Kavex.cs)
        Console.WriteLine("Kavex interface version {0}, {1}-bit process",
                          KavexDll.GetIDVersion(), Environment.Is64BitProcess ? 64 : 32);

        string port = args.Length > 0 ? args[0] : null;   // null: the configured port
        if (KavexDll.OpenCom(port) != 1)
        {
            Console.Error.WriteLine("cannot open the card reader");
            KavexDll.CloseCom();
            return 1;
        }

        Console.CancelKeyPress += (sender, e) => { e.Cancel = true; s_stop = true; };
        Console.WriteLine("Waiting for cards; Ctrl-C ends.");
        while (!s_stop)
        {
            byte[] code = new byte[11];   // zeroed: byte 10 is the terminator
            if (KavexDll.GetCardCode(code) == 1)
                Console.WriteLine("primary reader: " + KavexDll.CodeText(code));
            for (int reader = 1; reader <= 4; ++reader)
            {
                code = new byte[11];
                if (KavexDll.GetOtherCardCode(code, reader) == 1)
                    Console.WriteLine("reader {0}: {1}", reader, KavexDll.CodeText(code));
            }
            Thread.Sleep(100);
        }
        return KavexDll.CloseCom() == 1 ? 0 : 1;
    }
}
